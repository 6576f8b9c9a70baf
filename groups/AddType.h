#pragma once

#include "groups/BaseDlg.h"

namespace Ui {
class TFormAddType;
}

// The group name dialog: shows where the new group goes and asks its name.
class TFormAddType : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormAddType(QWidget* parent = nullptr);
    ~TFormAddType() override;

    void SetPosition(const QString& position);
    QString Name() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void btnOKClick() override;

private:
    void FormShow();
    bool edtNameKeyDown(QKeyEvent* event);

    std::unique_ptr<Ui::TFormAddType> ui;
};

// Asks for a group's name; on OK the name is the text as typed, untrimmed,
// its line breaks made blanks.
int AskGroupName(const QString& position, QString& name);
