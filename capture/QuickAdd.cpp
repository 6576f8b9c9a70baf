#include "capture/QuickAdd.h"

#include "capture/QuickTime.h"
#include "controls/Contrast.h"
#include "controls/UiException.h"
#include "data/Clock.h"
#include "data/MD.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>

TQuickAdd::TQuickAdd(std::function<void()> added, QWidget* parent)
    : QWidget(parent), m_field(new QLineEdit(this)), m_reading(new QLabel(this)), m_added(std::move(added))
{
    setObjectName("pnlQuickAdd");
    m_field->setObjectName("edtQuickAdd");
    m_field->setPlaceholderText("快速添加：明天下午3点 交报告");
    m_field->setAccessibleName("快速添加");
    m_field->setClearButtonEnabled(true);
    m_reading->setObjectName("labQuickAdd");
    m_reading->setAccessibleName("快速添加的提醒时间");
    m_reading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long refusal is cut at the window's edge (whole in its tip) rather
    // than widening the window.
    m_reading->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 4, 4, 4);
    row->addWidget(m_field, 2);
    row->addWidget(m_reading, 3);
    connect(m_field, &QLineEdit::textChanged, this, [this] { RunHandler([this] { ShowReading(); }); });
    connect(m_field, &QLineEdit::returnPressed, this, [this] { RunHandler([this] { Add(); }); });
}

// What the words would add, read against the clock at each key.
void TQuickAdd::ShowReading()
{
    if (m_field->text().trimmed().isEmpty()) {
        ShowLine(QString(), false);
        return;
    }
    const TQuickReminder reminder = ParseReminder(m_field->text(), TClock::Now());
    ShowLine(reminder.Understood() ? reminder.Description() : reminder.Refusal, !reminder.Understood());
}

void TQuickAdd::Add()
{
    if (m_field->text().trimmed().isEmpty())
        return;
    // A refusal is shown beside the words, which stay to be corrected.
    const TQuickReminder reminder = ParseReminder(m_field->text(), TClock::Now());
    if (!reminder.Understood()) {
        ShowLine(reminder.Refusal, true);
        return;
    }
    DbAccess->CheckWritable();
    const QString added = AddReminderFromWords(m_field->text());
    m_field->clear();
    ShowLine("已添加：" + added, false);
    m_added();
}

// Refusals in red, as dark or light as the ground needs.
void TQuickAdd::ShowLine(const QString& text, bool refused)
{
    QPalette palette = m_reading->palette();
    const QColor ground = palette.color(QPalette::Active, QPalette::Window);
    palette.setColor(QPalette::WindowText,
                     refused ? ReadableOn(QColor(Qt::red), ground) : m_field->palette().color(QPalette::Text));
    m_reading->setPalette(palette);
    m_reading->setText(text);
    m_reading->setToolTip(text);
}
