#pragma once

#include "groups/BaseDlg.h"

class TNoteHistory;

namespace Ui {
class TFormNoteHistory;
}

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
    void btnOKClick() override;

private:
    void ShowVersion();

    TNoteHistory& m_history;
    QString m_current;
    QString m_chosen;
    std::unique_ptr<Ui::TFormNoteHistory> ui;
};
