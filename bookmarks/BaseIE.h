#pragma once

#include "groups/BaseDlg.h"

class TIE;

namespace Ui {
class TFormBaseIE;
}

// What the add and modify bookmark dialogs share: the group field (picked
// in the choose-group dialog, never typed), the address with the picture
// that opens it, the title and the remark.
class TFormBaseIE : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormBaseIE(TIE& store, QWidget* parent = nullptr);
    ~TFormBaseIE() override;

    // The group of the bookmark being edited, 0 for the root.
    int TypeID = 0;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    void FormCreate();
    void FormShow();
    void EdtGoupButClick();
    void img3Click();
    // Refuses an address that is empty once blanks are trimmed.
    void CheckInput();
    // Copies the dialog's values, unchanged, into the bookmark store's fields.
    void WriteFields();
    // For an address already stored (under another ID than exceptId): asks,
    // naming its group, whether to save it anyway. False: not saved, the
    // dialog stays open.
    bool SaveDuplicate(int exceptId);

    // The bookmark store the dialog reads and writes.
    TIE& IE;
    std::unique_ptr<Ui::TFormBaseIE> ui;
};
