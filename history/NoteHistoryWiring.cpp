#include "history/NoteHistoryWiring.h"

#include "controls/UiException.h"
#include "data/Clock.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "history/NoteHistoryDlg.h"
#include "notes/NotepadPage.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>

TNoteHistoryWiring::TNoteHistoryWiring(TNotepadPage& page, QPlainTextEdit* memo, QMenu* groupMenu)
    : QObject(memo), m_page(page), m_action(new QAction("历史版本", memo))
{
    m_action->setObjectName("NNoteHistory");
    m_action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    m_action->setShortcutContext(Qt::WidgetShortcut);
    memo->addAction(m_action);
    groupMenu->addSeparator();
    groupMenu->addAction(m_action);
    ConnectHandler(m_action, &QAction::triggered, this, &TNoteHistoryWiring::NNoteHistoryClick);
    connect(&m_page, &TNotepadPage::KeepVersion, this, &TNoteHistoryWiring::Keep);
    auto* spell = new QTimer(this);
    spell->setObjectName("tmrNoteVersion");
    spell->setInterval(TNoteHistory::kEditingGapSecs * 1000);
    connect(spell, &QTimer::timeout, this, [this] { m_page.KeepEditedVersion(); });
    spell->start();
}

void TNoteHistoryWiring::Keep(int group, const QByteArray& stored)
{
    try {
        m_history.Keep(group, stored, TClock::Now());
    } catch (const EError& e) {
        WriteLog("历史版本未能保存：" + e.Message());
    }
}

void TNoteHistoryWiring::ThinOld()
{
    m_history.Thin(TClock::Now());
}

void TNoteHistoryWiring::NNoteHistoryClick()
{
    const int group = m_page.MemoGroup();
    if (group < 0)
        return;
    const QString current = m_page.MemoText();
    TFormNoteHistory dialog(m_history, group, current);
    if (dialog.ShowModal() != mrOk)
        return;
    // The text replaced becomes a version first, so bringing one back can
    // itself be undone.
    m_page.KeepEditedVersion();
    m_history.Keep(group, current.toUtf8(), TClock::Now());
    m_page.ReplaceMemoText(dialog.ChosenText());
}
