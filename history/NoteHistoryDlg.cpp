#include "history/NoteHistoryDlg.h"

#include "controls/Contrast.h"
#include "data/Formats.h"
#include "history/NoteHistory.h"
#include "ui_NoteHistoryDlg.h"

#include <QPushButton>
#include <QTextCursor>

QList<TNoteVersion> ListedVersions(const QList<TNoteVersion>& versions, const QString& current,
                                   const std::function<QString(qint64 id)>& textOf)
{
    const qint64 currentSize = current.toUtf8().size();
    QList<TNoteVersion> listed;
    for (const TNoteVersion& version : versions) {
        if (version.Size == currentSize && textOf(version.Id) == current)
            continue;
        if (!listed.isEmpty() && listed.last().SavedAt.toSecsSinceEpoch() == version.SavedAt.toSecsSinceEpoch())
            continue;
        listed.append(version);
    }
    return listed;
}

TFormNoteHistory::TFormNoteHistory(TNoteHistory& history, int typeId, QString current, QWidget* parent)
    : TFormBaseDlg(parent), m_history(history), m_current(std::move(current)),
      ui(std::make_unique<Ui::TFormNoteHistory>())
{
    ui->setupUi(ClientArea());
    setWindowTitle("历史版本");
    resize(760, 460);
    OkButton()->setText("恢复此版本(&R)");
    OkButton()->setAccessibleName("恢复此版本");
    OkButton()->setMinimumWidth(OkButton()->sizeHint().width());
    CancelButton()->setText("关闭");
    CancelButton()->setAccessibleName("关闭");
    const QList<TNoteVersion> kept = m_history.Versions(typeId);
    const auto textOf = [this](qint64 id) { return m_history.Text(id); };
    for (const TNoteVersion& version : ListedVersions(kept, m_current, textOf)) {
        auto* item = new QTreeWidgetItem(ui->lvVersions,
                                         {version.SavedAt.toString("yyyy-MM-dd HH:mm:ss"), SizeText(version.Size)});
        item->setData(0, Qt::UserRole, version.Id);
    }
    ui->lvVersions->setColumnWidth(0, 140);
    connect(ui->lvVersions, &QTreeWidget::currentItemChanged, this, &TFormNoteHistory::ShowVersion);
    if (HasVersions())
        ui->lvVersions->setCurrentItem(ui->lvVersions->topLevelItem(0));
    else
        ui->mmoVersion->setPlainText(kept.isEmpty() ? "这篇记事还没有历史版本。"
                                                    : "这篇记事没有和现在不同的历史版本。");
    OkButton()->setEnabled(HasVersions());
}

TFormNoteHistory::~TFormNoteHistory() = default;

bool TFormNoteHistory::HasVersions() const
{
    return ui->lvVersions->topLevelItemCount() > 0;
}

void TFormNoteHistory::ShowVersion()
{
    QTreeWidgetItem* item = ui->lvVersions->currentItem();
    ui->mmoVersion->clear();
    if (!item)
        return;
    const QString text = m_history.Text(item->data(0, Qt::UserRole).toLongLong());
    // Red and green tinges of the memo's own ground: pale on a light one,
    // dark on a dark one, under the memo's text.
    const QPalette palette = ui->mmoVersion->palette();
    const auto mark = [&palette](const QColor& tinge) {
        QTextCharFormat format;
        const QColor ground = Blend(palette.color(QPalette::Base), tinge, 0.2);
        format.setBackground(ground);
        format.setForeground(ReadableOn(palette.color(QPalette::Text), ground));
        return format;
    };
    const QTextCharFormat removed = mark(QColor(255, 0, 0));
    const QTextCharFormat added = mark(QColor(0, 255, 0));
    QTextCursor cursor(ui->mmoVersion->document());
    bool first = true;
    for (const TDiffLine& line : DiffLines(text, m_current)) {
        if (!first)
            cursor.insertBlock();
        first = false;
        cursor.insertText(line.Text, line.kind == TDiffLine::OnlyInVersion   ? removed
                                     : line.kind == TDiffLine::OnlyInCurrent ? added
                                                                             : QTextCharFormat());
    }
    ui->mmoVersion->moveCursor(QTextCursor::Start);
}

// A skin chosen while the window is open: the marks follow its colours.
void TFormNoteHistory::changeEvent(QEvent* event)
{
    TFormBaseDlg::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && ui && HasVersions())
        ShowVersion();
}

void TFormNoteHistory::btnOKClick()
{
    if (QTreeWidgetItem* item = ui->lvVersions->currentItem()) {
        m_chosen = m_history.Text(item->data(0, Qt::UserRole).toLongLong());
        CloseOk();
    }
}
