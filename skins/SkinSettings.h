#pragma once

#include "groups/BaseDlg.h"

class QComboBox;

// 外观: the skin, chosen from 跟随系统, 浅色, 深色 and the user's own.
// OK shows it at once in every window and keeps the choice.
class TFormSkinSettings : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormSkinSettings(QWidget* parent = nullptr);

protected:
    void btnOKClick() override;

private:
    QComboBox* m_skins;
};
