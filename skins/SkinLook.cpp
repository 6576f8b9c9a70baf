#include "skins/SkinLook.h"

#include "controls/Contrast.h"
#include "controls/FollowPalette.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "skins/Skins.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QProxyStyle>
#include <QRadioButton>
#include <QSet>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

// Q_INIT_RESOURCE declares the registration function, which must happen at global scope.
static void RegisterSkinResources()
{
    Q_INIT_RESOURCE(skins);
}

namespace {
// The style of the bundled skins: Fusion, whose check and radio boxes are a
// field's ground in a frame a shade darker than the window, hard to see on
// a dark window; here the frame is drawn again in a colour that stands out
// from the window as text does, in either state.
class TSkinStyle : public QProxyStyle
{
public:
    static constexpr const char* kName = "jotterel-fusion";

    TSkinStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element != PE_IndicatorCheckBox && element != PE_IndicatorRadioButton)
            return;
        const QPalette& palette = option->palette;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(ReadableOn(palette.color(QPalette::Mid), palette.color(QPalette::Window)));
        painter->setBrush(Qt::NoBrush);
        const QRectF frame = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        element == PE_IndicatorCheckBox ? painter->drawRect(frame) : painter->drawEllipse(frame);
        painter->restore();
    }
};

// The style's name as a look names it.
QString StyleName(const QStyle* style)
{
    return dynamic_cast<const TSkinStyle*>(style) ? QString(TSkinStyle::kName) : style->name();
}

// What a skin sets on the application.
struct TLook
{
    TSkin Skin;
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
    static TLook look{{kSystemSkin, {}}, StartStyle(), QPalette(), QString()};
    return look;
}

struct TColours
{
    QColor Window, WindowText, Base, AlternateBase, Text, Button, ButtonText, Highlight, HighlightedText;
    QColor ToolTipBase, ToolTipText, Placeholder, Link, LinkVisited, Light, Midlight, Mid, Dark, Shadow;
    // Disabled controls: greyer text, still readable on their ground. The
    // ground of a disabled field stays that of a field, so the red and blue
    // texts worked out for it stay readable when it is disabled.
    QColor DisabledText, DisabledButton, DisabledBase;
};

const TColours kLight = {"#f0f0f0", "#1b1b1b", "#ffffff", "#f4f6f9", "#1b1b1b", "#e6e6e6", "#1b1b1b", "#1c5bb5",
                         "#ffffff", "#fffbe0", "#1b1b1b", "#5e5e5e", "#0b57d0", "#6a1b9a", "#ffffff", "#f7f7f7",
                         "#b4b4b4", "#8c8c8c", "#4a4a4a", "#646464", "#ececec", "#ffffff"};
// The fields darker and the window lighter than a plain dark grey, so that
// Fusion's check and radio boxes (the field's ground inside a frame a shade
// darker than the window) stand out.
const TColours kDark = {"#333333", "#e8e8e8", "#1a1a1a", "#232323", "#e8e8e8", "#3c3c3c", "#e8e8e8", "#2a5d9f",
                        "#ffffff", "#404040", "#f0f0f0", "#adadad", "#8ab4f8", "#c58af9", "#585858", "#484848",
                        "#2a2a2a", "#1a1a1a", "#000000", "#b0b0b0", "#383838", "#1a1a1a"};

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

// Qt skips what it cannot parse of the application's sheet and says so only
// as a warning, when a widget is first polished with it.
bool g_parseFailed = false;
QtMessageHandler g_previousHandler = nullptr;

void CatchParseWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains("Could not parse"))
        g_parseFailed = true;
    else if (g_previousHandler)
        g_previousHandler(type, context, message);
}

// Sets the application's sheet; false when Qt could not parse it.
bool SetSheetParsed(const QString& sheet)
{
    g_parseFailed = false;
    g_previousHandler = qInstallMessageHandler(CatchParseWarning);
    qApp->setStyleSheet(sheet);
    {
        QWidget probe; // polished with the sheet also when no window is open yet
        probe.ensurePolished();
    }
    qInstallMessageHandler(g_previousHandler);
    return !g_parseFailed;
}

TLook LookOf(const TSkin& skin)
{
    if (skin.Name == kLightSkin || skin.Name == kDarkSkin)
        return {skin, TSkinStyle::kName, BundledSkinPalette(skin.Name), BundledSheet(skin.Name)};
    if (!skin.IsUserSkin())
        return {skin, StartStyle(), QPalette(), QString()};
    return {skin, StartStyle(), QPalette(), ReadSkinSheet(skin)};
}

// False when Qt could not parse the look's sheet.
bool Show(const TLook& look)
{
    // The sheet goes last, so the style is wrapped in it once.
    qApp->setStyleSheet(QString());
    if (StyleName(QApplication::style()).compare(look.Style, Qt::CaseInsensitive) != 0) {
        if (look.Style == TSkinStyle::kName)
            QApplication::setStyle(new TSkinStyle);
        else
            QApplication::setStyle(look.Style);
    }
    QApplication::setPalette(look.Palette);
    Shown() = look;
    const bool parsed = look.Sheet.isEmpty() || SetSheetParsed(look.Sheet);
    RefreshPaletteFollowers();
    return parsed;
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
        return label->wordWrap() || label->textFormat() == Qt::RichText || Qt::mightBeRichText(label->text())
                   ? QString()
                   : label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    return QString();
}

// The width the text and what stands beside it (an indicator, an icon, a
// button's margins) take in the control as its style draws it.
int WidthNeeded(const QWidget* widget, const QString& text)
{
    const QStyle* style = widget->style();
    int width = widget->fontMetrics().size(Qt::TextShowMnemonic, text).width();
    if (qobject_cast<const QCheckBox*>(widget))
        width += style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget) +
                 style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, widget);
    else if (qobject_cast<const QRadioButton*>(widget))
        width += style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget) +
                 style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget);
    else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        width += (button->icon().isNull() ? 0 : button->iconSize().width() + 4) +
                 style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget);
    return width;
}

bool TextIsCut(const QWidget* widget, const QString& text)
{
    const QRect room = widget->contentsRect();
    return room.width() < WidthNeeded(widget, text) ||
           room.height() < widget->fontMetrics().size(Qt::TextShowMnemonic, text).height();
}

// The controls cut now that were not before.
QStringList CutSince(const QStringList& before)
{
    SettleLayouts();
    QStringList cut;
    for (const QString& control : ControlsWithCutText())
        if (!before.contains(control))
            cut << control;
    return cut;
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
            if (!text.isEmpty() && TextIsCut(widget, text))
                cut << "“" + QString(text).remove('&') + "”";
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
    const bool parsed = Show(look);
    const QStringList cut = parsed ? CutSince(cutBefore) : QStringList();
    if (parsed && cut.isEmpty())
        return;
    Show(previous);
    SettleLayouts();
    if (!parsed)
        RaiseError(QString("皮肤文件 %1 不是 Qt 能读懂的样式表。").arg(QDir::toNativeSeparators(look.Skin.Path)));
    RaiseError(QString("皮肤“%1”让控件太小，文字显示不全：%2。").arg(look.Skin.Name, cut.join("、")));
}

void ApplyStoredSkin()
{
    try {
        // The desktop's look is there already: a start without a skin stays as it was.
        if (const QString chosen = LoadSkinChoice(); chosen != kSystemSkin)
            ApplySkin(chosen);
    } catch (const EError& e) {
        WriteLog("皮肤没有使用：" + e.Message());
    }
}

QString CurrentSkin()
{
    return Shown().Skin.Name;
}

void ChooseSkin(const QString& name)
{
    const QString previous = CurrentSkin();
    try {
        ApplySkin(name);
    } catch (const EError& e) {
        RaiseError(e.Message() + "\n外观保持不变。");
    }
    try {
        SaveSkinChoice(name);
    } catch (...) {
        // Not kept, so not shown: the next start would not show it either.
        ApplySkin(previous);
        throw;
    }
}

TRunningCommands SkinRunningCommands()
{
    return {{"skin", [](const QStringList& arguments) {
                 try {
                     ChooseSkin(arguments.value(0));
                     return TRunningAnswer{true, QString("皮肤已设为“%1”。").arg(CurrentSkin())};
                 } catch (const std::exception& e) {
                     return TRunningAnswer{false, ErrorText(e)};
                 }
             }}};
}
