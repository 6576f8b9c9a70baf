#pragma once

#include "groups/BaseDlg.h"

#include <functional>

namespace Ui {
class TFormBackupList;
}
class QPushButton;

// What a restore starts from: the data as they were before the last restore
// (its safety copy, while there is one), then the automatic backups, the
// newest first, with their day, size and what they hold; "其他文件…" leaves
// the choice to a file dialog.
class TFormBackupList : public TFormBaseDlg
{
    Q_OBJECT
public:
    TFormBackupList(const QString& folder, const QString& safetyCopy, QWidget* parent = nullptr);
    ~TFormBackupList() override;

    // The chosen backup's path; empty when the user asked for another file.
    QString Chosen() const { return m_chosen; }
    bool HasBackups() const;

protected:
    void btnOKClick() override;

private:
    std::unique_ptr<Ui::TFormBackupList> ui;
    QPushButton* m_otherFile;
    QString m_chosen;
};

// Asks where a restore takes its data from: one of the automatic backups of
// the folder when there are any, else (or at the user's wish) the file the
// file dialog gives. Empty when the user cancelled.
QString ChooseRestoreSource(const QString& folder, const QString& safetyCopy, const std::function<QString()>& askFile);
