#include "skins/SkinSettings.h"

#include "controls/UiException.h"
#include "data/UException.h"
#include "skins/SkinLook.h"
#include "skins/Skins.h"

#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>

TFormSkinSettings::TFormSkinSettings(QWidget* parent) : TFormBaseDlg(parent), m_skins(new QComboBox)
{
    setWindowTitle("外观");
    m_skins->setObjectName("cmbSkin");
    m_skins->setAccessibleName("皮肤");
    for (const TSkin& skin : ListSkins())
        m_skins->addItem(skin.Name);
    m_skins->setCurrentText(CurrentSkin());
    auto* note = new QLabel(QString("自己的皮肤是 Qt 样式表（.qss 文件），放在 %1 或程序旁边的 skins 文件夹里，"
                                    "文件名就是皮肤的名字。")
                                .arg(QDir::toNativeSeparators(SkinFolders().first())));
    note->setObjectName("lblSkinFolder");
    note->setWordWrap(true);
    auto* layout = new QFormLayout(ClientArea());
    layout->setContentsMargins(20, 20, 20, 12);
    layout->addRow("皮肤：", m_skins);
    layout->addRow(note);
    resize(380, 170);
}

void TFormSkinSettings::btnOKClick()
{
    ChooseSkin(m_skins->currentText());
    CloseOk();
}
