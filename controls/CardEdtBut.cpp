#include "controls/CardEdtBut.h"

#include "controls/CardIcons.h"

#include <QIcon>
#include <QImage>
#include <QMetaEnum>
#include <QToolButton>

#include <array>

namespace {

constexpr int GlyphCount = 5;
// A framed edit draws a 3-D border of this width on each side.
constexpr int FrameWidth = 2;

bool IsGlyph(TBmpCount value)
{
    return value >= 0 && value < GlyphCount;
}

std::array<int, GlyphCount>& LoadCounts()
{
    static std::array<int, GlyphCount> counts{};
    return counts;
}

// The glyph files paint their background cyan; that colour, and only that colour, becomes transparent.
QPixmap ReadGlyph(TBmpCount value)
{
    InitCardResources();
    const char* name = QMetaEnum::fromType<TBmpCount>().valueToKey(value);
    QImage image(QStringLiteral(":/glyphs/%1.png").arg(QLatin1String(name)));
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb cyan = qRgb(0, 255, 255);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] == cyan)
                line[x] = qRgba(0, 0, 0, 0);
        }
    }
    ++LoadCounts()[value];
    return QPixmap::fromImage(image);
}

// The glyph holds its two images side by side: normal left, disabled right.
QIcon GlyphIcon(const QPixmap& glyph)
{
    const int half = glyph.width() / 2;
    QIcon icon;
    icon.addPixmap(glyph.copy(0, 0, half, glyph.height()), QIcon::Normal);
    icon.addPixmap(glyph.copy(half, 0, half, glyph.height()), QIcon::Disabled);
    return icon;
}

} // namespace

const QPixmap& LoadCardGlyph(TBmpCount value)
{
    // Kept for the whole process on purpose: every control shares them, and none may outlive its picture.
    static std::array<QPixmap*, GlyphCount> glyphs{};
    static const QPixmap* none = new QPixmap;
    if (!IsGlyph(value))
        return *none;
    if (!glyphs[value])
        glyphs[value] = new QPixmap(ReadGlyph(value));
    return *glyphs[value];
}

int CardGlyphLoadCount(TBmpCount value)
{
    return IsGlyph(value) ? LoadCounts()[value] : 0;
}

TCardEdtBut::TCardEdtBut(QWidget* parent)
    : QLineEdit(parent), m_ButtonPanel(new QWidget(this)), m_Button(new QToolButton(m_ButtonPanel))
{
    // Whatever cursor the edit shows (the bookmark dialog forbids typing), the button is plainly clickable.
    m_ButtonPanel->setCursor(Qt::ArrowCursor);
    m_Button->setCursor(Qt::ArrowCursor);
    m_Button->setAutoRaise(true);
    m_Button->setFocusPolicy(Qt::NoFocus);
    m_Button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ApplyGlyph();
    connect(m_Button, &QToolButton::clicked, this, &TCardEdtBut::ButClick);
    SetButVisible(true);
}

void TCardEdtBut::SetButtonBmp(TBmpCount value)
{
    if (value == m_ButtonBmp || !IsGlyph(value))
        return;
    m_ButtonBmp = value;
    ApplyGlyph();
}

void TCardEdtBut::ApplyGlyph()
{
    const QPixmap& glyph = LoadCardGlyph(m_ButtonBmp);
    m_Button->setIconSize(QSize(glyph.width() / 2, glyph.height()));
    m_Button->setIcon(GlyphIcon(glyph));
}

void TCardEdtBut::SetButVisible(bool value)
{
    if (value == m_ButVisible)
        return;
    m_ButVisible = value;
    LayoutButton();
}

void TCardEdtBut::LayoutButton()
{
    QMargins margins = textMargins();
    if (m_ButVisible) {
        const int border = hasFrame() ? FrameWidth : 0;
        const int side = qMax(0, height() - 2 * border);
        m_ButtonPanel->setGeometry(width() - border - side, border, side, side);
        m_Button->setGeometry(0, 0, side, side);
        margins.setRight(side);
    } else {
        m_ButtonPanel->setGeometry(0, 0, 0, 0);
        m_Button->setGeometry(0, 0, 0, 0);
        margins.setRight(0);
    }
    m_ButtonPanel->setVisible(m_ButVisible);
    // Only a real change: setting margins asks the layout again, which resizes, which lays out again.
    if (margins != textMargins())
        setTextMargins(margins);
}

void TCardEdtBut::ButClick()
{
    setFocus(Qt::OtherFocusReason);
    emit OnButClick(this);
}

void TCardEdtBut::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    LayoutButton();
}

// A form may switch the frame off after construction without resizing; the first show places the button anew.
void TCardEdtBut::showEvent(QShowEvent* event)
{
    QLineEdit::showEvent(event);
    LayoutButton();
}
