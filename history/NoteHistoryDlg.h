#pragma once

#include "groups/BaseDlg.h"
#include "history/NoteHistory.h"

#include <functional>

namespace Ui {
class TFormNoteHistory;
}

// Of a note's versions (newest first), those worth listing against the
// current text: none whose text is the current one, and one per second, the
// newest of it. A text is read (textOf) only where its size is the current
// text's.
QList<TNoteVersion> ListedVersions(const QList<TNoteVersion>& versions, const QString& current,
                                   const std::function<QString(qint64 id)>& textOf);

// 历史版本: a note's kept versions with their time and size; the chosen one
// is shown read-only with the lines that differ from the current text
// marked. "恢复此版本" closes with OK and the version's text.
class TFormNoteHistory : public TFormBaseDlg
{
    Q_OBJECT
public:
    TFormNoteHistory(TNoteHistory& history, int typeId, QString current, QWidget* parent = nullptr);
    ~TFormNoteHistory() override;

    // The chosen version's text (after OK).
    QString ChosenText() const { return m_chosen; }
    bool HasVersions() const;

protected:
    void changeEvent(QEvent* event) override;
    void btnOKClick() override;

private:
    void ShowVersion();

    TNoteHistory& m_history;
    QString m_current;
    QString m_chosen;
    std::unique_ptr<Ui::TFormNoteHistory> ui;
};
