#include "skins/SkinLook.h"

#include "data/UException.h"
#include "data/UntPublic.h"
#include "skins/Skins.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QSet>
#include <QStyle>
#include <QWidget>

// Q_INIT_RESOURCE declares the registration function, which must happen at global scope.
static void RegisterSkinResources()
{
    Q_INIT_RESOURCE(skins);
}

namespace {
// What a skin sets on the application.
struct TLook
{
    QString Name;
    QString Style;
    QPalette Palette; // no role set: the desktop's colours
    QString Sheet;
};

// The desktop's style, as the program found it before any skin.
const QString& StartStyle()
{
    static const QString style = QApplication::style()->name();
    return style;
}

TLook& Shown()
{
    static TLook look{kSystemSkin, StartStyle(), QPalette(), QString()};
    return look;
}

struct TColours
{
    QColor Window, WindowText, Base, AlternateBase, Text, Button, ButtonText, Highlight, HighlightedText;
    QColor ToolTipBase, ToolTipText, Placeholder, Link, LinkVisited, Light, Midlight, Mid, Dark, Shadow;
    // Disabled controls: greyer text, still readable on their ground.
    QColor DisabledText, DisabledButton, DisabledBase;
};

const TColours kLight = {"#f0f0f0", "#1b1b1b", "#ffffff", "#f4f6f9", "#1b1b1b", "#e6e6e6", "#1b1b1b",
                         "#1c5bb5", "#ffffff", "#fffbe0", "#1b1b1b", "#5e5e5e", "#0b57d0", "#6a1b9a",
                         "#ffffff", "#f7f7f7", "#b4b4b4", "#8c8c8c", "#4a4a4a", "#646464", "#ececec",
                         "#f0f0f0"};
const TColours kDark = {"#2b2b2b", "#e8e8e8", "#1f1f1f", "#272727", "#e8e8e8", "#3a3a3a", "#e8e8e8",
                        "#2a5d9f", "#ffffff", "#3a3a3a", "#f0f0f0", "#a6a6a6", "#8ab4f8", "#c58af9",
                        "#505050", "#404040", "#2a2a2a", "#1a1a1a", "#000000", "#a8a8a8", "#333333",
                        "#262626"};

QPalette PaletteOf(const TColours& c)
{
    QPalette palette;
    const auto set = [&palette](QPalette::ColorRole role, const QColor& colour) { palette.setColor(role, colour); };
    set(QPalette::Window, c.Window);
    set(QPalette::WindowText, c.WindowText);
    set(QPalette::Base, c.Base);
    set(QPalette::AlternateBase, c.AlternateBase);
    set(QPalette::Text, c.Text);
    set(QPalette::Button, c.Button);
    set(QPalette::ButtonText, c.ButtonText);
    set(QPalette::BrightText, Qt::white);
    set(QPalette::Highlight, c.Highlight);
    set(QPalette::HighlightedText, c.HighlightedText);
    set(QPalette::ToolTipBase, c.ToolTipBase);
    set(QPalette::ToolTipText, c.ToolTipText);
    set(QPalette::PlaceholderText, c.Placeholder);
    set(QPalette::Link, c.Link);
    set(QPalette::LinkVisited, c.LinkVisited);
    set(QPalette::Light, c.Light);
    set(QPalette::Midlight, c.Midlight);
    set(QPalette::Mid, c.Mid);
    set(QPalette::Dark, c.Dark);
    set(QPalette::Shadow, c.Shadow);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, c.DisabledText);
    palette.setColor(QPalette::Disabled, QPalette::Button, c.DisabledButton);
    palette.setColor(QPalette::Disabled, QPalette::Base, c.DisabledBase);
    return palette;
}

QString BundledSheet(const QString& name)
{
    static const bool registered = (RegisterSkinResources(), true);
    Q_UNUSED(registered);
    QFile file(name == kDarkSkin ? ":/skins/dark.qss" : ":/skins/light.qss");
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}

// Qt skips what it cannot parse and says so only as a warning: a widget of
// its own, polished with the sheet, shows whether there is one.
QString g_parseWarning;
QtMessageHandler g_previousHandler = nullptr;

void CatchParseWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains("Could not parse"))
        g_parseWarning = message;
    else if (g_previousHandler)
        g_previousHandler(type, context, message);
}

void CheckQtParses(const QString& sheet, const QString& path)
{
    g_parseWarning.clear();
    g_previousHandler = qInstallMessageHandler(CatchParseWarning);
    {
        QWidget probe;
        probe.setStyleSheet(sheet);
        probe.ensurePolished();
    }
    qInstallMessageHandler(g_previousHandler);
    if (!g_parseWarning.isEmpty())
        RaiseError(QString("皮肤文件 %1 不是 Qt 能读懂的样式表。").arg(path));
}

TLook LookOf(const TSkin& skin)
{
    if (skin.Name == kLightSkin || skin.Name == kDarkSkin)
        return {skin.Name, "Fusion", BundledSkinPalette(skin.Name), BundledSheet(skin.Name)};
    if (!skin.IsUserSkin())
        return {skin.Name, StartStyle(), QPalette(), QString()};
    const QString sheet = ReadSkinSheet(skin);
    CheckQtParses(sheet, skin.Path);
    return {skin.Name, StartStyle(), QPalette(), sheet};
}

void Show(const TLook& look)
{
    // The sheet goes last, so the style is wrapped in it once.
    qApp->setStyleSheet(QString());
    if (QApplication::style()->name().compare(look.Style, Qt::CaseInsensitive) != 0)
        QApplication::setStyle(look.Style);
    QApplication::setPalette(look.Palette);
    qApp->setStyleSheet(look.Sheet);
    Shown() = look;
}

// Layouts follow the new sizes in events of their own.
void SettleLayouts()
{
    for (int round = 0; round < 3; ++round)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

// The text of a shown label or button, as the user reads it; empty for
// any other control.
QString ShownText(const QWidget* widget)
{
    if (!widget->isVisible())
        return QString();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->wordWrap() || label->textFormat() == Qt::RichText ? QString() : label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return QString(button->text()).remove('&');
    return QString();
}

bool TextIsCut(const QWidget* widget)
{
    const QSize needed = widget->minimumSizeHint();
    return widget->width() < needed.width() || widget->height() < needed.height();
}
} // namespace

QPalette BundledSkinPalette(const QString& name)
{
    return PaletteOf(name == kDarkSkin ? kDark : kLight);
}

QStringList ControlsWithCutText()
{
    QStringList cut;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible())
            continue;
        for (QWidget* widget : window->findChildren<QWidget*>()) {
            const QString text = ShownText(widget);
            if (!text.isEmpty() && TextIsCut(widget))
                cut << "“" + text + "”";
        }
    }
    return cut;
}

void ApplySkin(const QString& name)
{
    const TLook previous = Shown(); // before the first skin: the desktop's look
    const TLook look = LookOf(SkinNamed(name));
    SettleLayouts();
    const QStringList cutBefore = ControlsWithCutText();
    Show(look);
    SettleLayouts();
    QStringList cutNow;
    for (const QString& control : ControlsWithCutText())
        if (!cutBefore.contains(control))
            cutNow << control;
    if (cutNow.isEmpty())
        return;
    Show(previous);
    RaiseError(QString("皮肤“%1”让控件太小，文字显示不全：%2。").arg(look.Name, cutNow.join("、")));
}

void ApplyStoredSkin()
{
    try {
        ApplySkin(LoadSkinChoice());
    } catch (const EError& e) {
        WriteLog("皮肤没有使用：" + e.Message());
    }
}

QString CurrentSkin()
{
    return Shown().Name;
}
