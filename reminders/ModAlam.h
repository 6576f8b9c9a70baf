#pragma once

#include "reminders/BaseAlam.h"

// "修改提醒": shows one stored reminder and writes the changes back.
class TFormModAlam : public TFormBaseAlam
{
    Q_OBJECT
public:
    explicit TFormModAlam(QWidget* parent = nullptr);

    // Reads the reminder into the controls.
    void LoadReminder(const QString& id);

    QString AlamID;

protected:
    void btnOKClick() override;
};

// Creates the modify dialog for the reminder, shows and frees it; mrOk after
// the change was stored.
int ShowModAlam(const QString& id);
