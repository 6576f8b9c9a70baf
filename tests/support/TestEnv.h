#pragma once

#include "controls/UiPublic.h"
#include "data/UException.h"
#include "support/StoreTest.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

class QTreeWidget;
class QTreeWidgetItem;
#include <memory>

class QWidget;

// Answers message boxes and file dialogs instead of a user, and records
// what was shown and what the desktop was asked to open.
class TPresetResponder : public IDialogResponder
{
public:
    struct TShown
    {
        Kind kind;
        QString caption;
        QString text;
    };
    QList<TShown> Shown;
    QList<bool> Answers;    // for questions, in order; No once they run out
    QStringList FileNames;  // for file dialogs, in order; cancelled once they run out
    QStringList Opened_;    // what ShellOpen was given
    bool OpenFails = false; // no program takes what ShellOpen is given

    bool Message(Kind kind, const QString& caption, const QString& text) override;
    QString FileName(bool save, const QString& filter) override;
    bool Opened(const QString& target) override
    {
        Opened_ << target;
        return !OpenFails;
    }

    QString LastText() const { return Shown.isEmpty() ? QString() : Shown.last().text; }
    QStringList Texts() const;
};

// One test's world: a fresh temporary AppPath with a new, connected
// database, the responder and the trash installed and the clock released.
class TTestEnv
{
public:
    TTestEnv();
    ~TTestEnv();
    QString Path(const QString& name) const { return Dir.filePath(name); }

    QTemporaryDir Dir;
    TPresetResponder Responder;
};

// A named control; the test stops when it is missing.
template <typename T> T* Find(QObject* parent, const char* name)
{
    T* child = parent->findChild<T*>(name);
    if (!child)
        qFatal("no control %s", name);
    return child;
}

// Shows the page of the window's tabs that holds the control, as a user
// looking at it would (a page's list is filled when it first shows).
void ShowPageOf(QWidget* control);

// Shows the window's pages in turn until the named control is there (a
// page's controls are made when it is first shown), as a user clicking
// through the tabs would; null when no page has it.
QWidget* ShowPagesUntil(QObject* window, const char* name);

// A named control on a page of the window, its page shown.
template <typename T> T* OnShownPage(QObject* window, const char* name)
{
    if (!window->findChild<T*>(name))
        ShowPagesUntil(window, name);
    T* control = Find<T>(window, name);
    ShowPageOf(control);
    return control;
}

// The node labelled so, opening closed branches as a user looking for it would
// (a tree makes a branch's nodes when it is shown); null when there is none.
QTreeWidgetItem* FindNode(QTreeWidget* tree, const QString& label);

// Clicks the named push button of a window.
void Click(QWidget* window, const char* button);

// Runs the action on the next modal dialog; whatever the action leaves open
// is cancelled, so a failed check never leaves a test waiting.
void Drive(std::function<void(QWidget*)> action);

// Runs the given action on the next modal dialog that opens (polling the
// event loop), so a test can drive a real modal window.
void OnNextModal(std::function<void(QWidget*)> action);

// Fails the test when a modal dialog (other than the one open when the guard
// was made) opens before control returns to it; such a dialog is cancelled.
class TNoModalGuard
{
public:
    TNoModalGuard();
    bool Opened() const;

private:
    std::shared_ptr<bool> m_opened = std::make_shared<bool>(false);
};
