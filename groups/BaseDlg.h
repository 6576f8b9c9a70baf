#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TFormBaseDlg;
}
class QHBoxLayout;
class QPushButton;

// Modal results of the program's dialogs; callers act only on OK.
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

// The window the program's dialogs belong to when they are not opened from
// another dialog: the main window registers itself.
void SetDialogOwner(QWidget* window);

// The base of every OK/Cancel dialog: a top and a bottom line and a bottom
// row with "确定(&O)" (the default button, without a result of its own) and
// "取消(&C)" (Esc, result Cancel). The close box gives Cancel.
class TFormBaseDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TFormBaseDlg(QWidget* parent = nullptr);
    ~TFormBaseDlg() override;

    // Shows the dialog modally and returns mrOk or mrCancel.
    int ShowModal();
    // Closes the dialog with OK (derived OK handlers call it).
    void CloseOk() { accept(); }

    QWidget* ClientArea() const;
    QWidget* BottomPanel() const;
    // The bottom row's layout: derived dialogs put their extra controls at its left.
    QHBoxLayout* BottomLayout() const;
    QPushButton* OkButton() const;
    QPushButton* CancelButton() const;

protected:
    // What OK does; the base does nothing, so the dialog stays open.
    virtual void btnOKClick() {}

private:
    std::unique_ptr<Ui::TFormBaseDlg> ui;
};
