#pragma once

#include "reminders/UntAlam.h"

#include <QWidget>
#include <functional>

#include <memory>

namespace Ui {
class TFormMissedAlam;
}

// How the user answers missed reminders.
enum class TMissedAnswer { Seen, Delete, Snooze, Later };
// Carries the answer out (the main window's part); throws when it fails,
// and the rows then stay in the window.
using TMissedHandler = std::function<void(TMissedAnswer answer, const QList<TDueAlam>& rows, int minutes)>;

// "错过的提醒": one always-on-top window that lists the reminders that fell
// due while nothing could show them, oldest first, with their time and text.
// The selected rows (the first is selected from the start), or all of them,
// are marked seen, deleted or snoozed; answered rows leave the list, and the
// window closes once it is empty. Closing it otherwise (稍后处理 or its
// close box) leaves the rows for later: the one-off reminders stay missed
// and come back at the next start; should that fail, the window stays.
class TFormMissedAlam : public QWidget
{
    Q_OBJECT
public:
    explicit TFormMissedAlam(TMissedHandler handler, QWidget* parent = nullptr);
    ~TFormMissedAlam() override;

    // Adds the firings; a reminder listed already keeps one row, at its
    // latest moment.
    void AddMissed(const QList<TDueAlam>& missed);
    const QList<TDueAlam>& Rows() const { return m_rows; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void btnAllClick();
    void btnSeenClick();
    void btnDelClick();
    void Answer(TMissedAnswer answer, int minutes);
    void ShowRows();
    void UpdateButtons();

    TMissedHandler m_handler;
    QList<TDueAlam> m_rows; // oldest first, as listed
    std::unique_ptr<Ui::TFormMissedAlam> ui;
};

// Closes the missed window as 稍后处理 when one is open (the program ends).
void CloseMissedAlams();

// Shows the missed firings in the one window, opening it when none is open,
// and chimes once; returns the window.
TFormMissedAlam* ShowMissedAlams(const QList<TDueAlam>& missed, TMissedHandler handler);
