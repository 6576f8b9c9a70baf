#pragma once

#include "reminders/BaseAlam.h"

class TAlam;

// "新建提醒": proposes the current time plus one hour, today.
class TFormAddAlam : public TFormBaseAlam
{
    Q_OBJECT
public:
    explicit TFormAddAlam(TAlam& store, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void btnOKClick() override;

private:
    void FormShow();
    TAlam& Alam;
};

// Creates, shows and frees the add dialog; mrOk after the reminder was stored.
int ShowAddAlam(TAlam& store);
