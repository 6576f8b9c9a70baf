#include "reminders/HolidaySettings.h"

#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "reminders/Holidays.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

TFormHolidaySettings::TFormHolidaySettings(QWidget* parent)
    : TFormBaseDlg(parent), m_years(new QTreeWidget), m_remove(new QPushButton("删除导入的安排"))
{
    setWindowTitle("节假日安排");
    resize(460, 360);
    auto* text = new QLabel("“法定工作日”和“法定休息日”的提醒按国务院办公厅每年公布的节假日安排（含调休）。"
                            "新的一年公布后，可以导入那一年的安排文件（与程序自带的格式相同，每年一个 JSON "
                            "文件，如 2027.json）；没有安排的年份按周一至周五算工作日。");
    text->setWordWrap(true);
    m_years->setObjectName("lvHolidayYears");
    m_years->setAccessibleName("各年的节假日安排");
    m_years->setRootIsDecorated(false);
    m_years->setHeaderLabels({"年份", "安排"});
    m_years->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    auto* layout = new QVBoxLayout(ClientArea());
    layout->addWidget(text);
    layout->addWidget(m_years, 1);

    auto* import = new QPushButton("导入…");
    import->setObjectName("btnImportHolidays");
    import->setAccessibleName("导入节假日安排");
    m_remove->setObjectName("btnRemoveHolidays");
    m_remove->setAccessibleName(m_remove->text());
    BottomLayout()->insertWidget(0, import);
    BottomLayout()->insertWidget(1, m_remove);
    // What is imported or removed is kept at once: there is nothing to cancel.
    CancelButton()->hide();
    ConnectHandler(import, &QPushButton::clicked, this, &TFormHolidaySettings::btnImportClick);
    ConnectHandler(m_remove, &QPushButton::clicked, this, &TFormHolidaySettings::btnRemoveClick);
    connect(m_years, &QTreeWidget::currentItemChanged, this,
            [this] { m_remove->setEnabled(ImportedHolidayYears().contains(SelectedYear())); });
    ShowYears();
}

// Every year from the first bundled one to the next, newest first.
void TFormHolidaySettings::ShowYears()
{
    const THolidayCalendar& calendar = THolidayCalendar::Current();
    const QList<int> bundled = BundledHolidayYears();
    const QList<int> imported = ImportedHolidayYears();
    int last = TClock::Today().year() + 1;
    for (const int year : bundled + imported)
        last = std::max(last, year);
    m_years->clear();
    for (int year = last; year >= bundled.value(0, last); --year) {
        QString state = imported.contains(year) ? "已导入" : bundled.contains(year) ? "程序自带" : "";
        if (imported.contains(year) && bundled.contains(year))
            state += "（替换了程序自带的安排）";
        if (!calendar.HasSchedule(year))
            state = "未导入，按周一至周五";
        auto* item = new QTreeWidgetItem(m_years, {QString("%1 年").arg(year), state});
        item->setData(0, Qt::UserRole, year);
    }
    m_years->setCurrentItem(m_years->topLevelItem(0));
    m_remove->setEnabled(imported.contains(SelectedYear()));
}

int TFormHolidaySettings::SelectedYear() const
{
    const QTreeWidgetItem* item = m_years->currentItem();
    return item ? item->data(0, Qt::UserRole).toInt() : 0;
}

void TFormHolidaySettings::btnImportClick()
{
    DbAccess->CheckWritable();
    const QString path = AskOpenFileName(this, "节假日安排|*.json");
    if (path.isEmpty())
        return;
    const int year = ImportHolidayYear(path);
    ShowYears();
    ShowInfo(QString("已导入 %1 年的节假日安排。").arg(year));
}

void TFormHolidaySettings::btnRemoveClick()
{
    const int year = SelectedYear();
    if (!ImportedHolidayYears().contains(year))
        return;
    const bool bundled = BundledHolidayYears().contains(year);
    if (!AskYesNo(QString("删除导入的 %1 年安排吗？").arg(year) +
                  (bundled ? "删除后按程序自带的安排。" : "删除后这一年按周一至周五算工作日。")))
        return;
    RemoveImportedHolidayYear(year);
    ShowYears();
}
