#pragma once

#include "groups/BaseDlg.h"

class QPushButton;
class QTreeWidget;

// 节假日安排: the official schedules the reminders of 法定工作日 and
// 法定休息日 follow, year by year (bundled, imported or missing), with the
// import of a year's file and the removal of an imported one. Each acts at
// once; the dialog only closes.
class TFormHolidaySettings : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormHolidaySettings(QWidget* parent = nullptr);

protected:
    void btnOKClick() override { CloseOk(); }

private:
    void ShowYears();
    void btnImportClick();
    void btnRemoveClick();
    int SelectedYear() const;

    QTreeWidget* m_years;
    QPushButton* m_remove;
};
