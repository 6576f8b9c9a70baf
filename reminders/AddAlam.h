#pragma once

#include "reminders/BaseAlam.h"

// "新建提醒": proposes the current time plus one hour, today.
class TFormAddAlam : public TFormBaseAlam
{
    Q_OBJECT
public:
    explicit TFormAddAlam(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void btnOKClick() override;

private:
    void FormShow();
};

// Creates, shows and frees the add dialog; mrOk after the reminder was stored.
int ShowAddAlam();
