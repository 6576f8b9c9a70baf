#pragma once

#include "history/NoteHistory.h"

#include <QObject>

class QAction;
class QMenu;
class QPlainTextEdit;
class TNotepadPage;

// Gives the notepad page its history: keeps the versions the page reports
// (asking every ten minutes for the text from before an editing spell), and
// offers 历史版本 in the note groups' menu and as Ctrl+H in the memo. A
// version that cannot be written is logged, never in the user's way.
class TNoteHistoryWiring : public QObject
{
public:
    TNoteHistoryWiring(TNotepadPage& page, QPlainTextEdit* memo, QMenu* groupMenu);

    // Thins the old versions (once a start, once the data file is known sound).
    void ThinOld();
    QAction* Action() const { return m_action; }

private:
    void NNoteHistoryClick();
    void Keep(int group, const QByteArray& stored);

    TNotepadPage& m_page;
    TNoteHistory m_history;
    QAction* m_action;
};
