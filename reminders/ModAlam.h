#pragma once

#include "reminders/BaseAlam.h"

class TAlam;

// "修改提醒": shows one stored reminder and writes the changes back.
class TFormModAlam : public TFormBaseAlam
{
    Q_OBJECT
public:
    explicit TFormModAlam(TAlam& store, QWidget* parent = nullptr);

    // Reads the reminder into the controls.
    void LoadReminder(const QString& id);

    QString AlamID;

protected:
    void btnOKClick() override;

private:
    TAlam& Alam;
};

// Creates the modify dialog for the reminder, shows and frees it; mrOk after
// the change was stored.
int ShowModAlam(TAlam& store, const QString& id);
