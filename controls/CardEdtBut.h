#pragma once

#include <QLineEdit>
#include <QObject>
#include <QPixmap>

class QToolButton;

namespace CardGlyphs {
Q_NAMESPACE

// The pictures the edit's button can show. Each value names the glyph resource of the same name
// (":/glyphs/<name>.png").
enum TBmpCount { CardDown, CardOK, CardLookup, CardFolder, CardFind };
Q_ENUM_NS(TBmpCount)

} // namespace CardGlyphs

using CardGlyphs::TBmpCount;
using enum CardGlyphs::TBmpCount;

// The two-image glyph of a value: the normal image on the left half, the disabled one on the right, the cyan
// background already transparent. Read from the resources on first use and shared by every control for the rest of
// the process; never freed. A value outside the enumeration gives a null pixmap.
const QPixmap& LoadCardGlyph(TBmpCount value);

// How many times the glyph of a value has been read from the resources in this process.
int CardGlyphLoadCount(TBmpCount value);

// A one-line edit with a small square flat button inside its right end, for fields whose value is picked in a
// dialog rather than typed. The button works even when the edit is read-only. Usable in Designer forms as a
// promoted QLineEdit (header "controls/CardEdtBut.h"); the dynamic properties ButtonBmp (e.g. "CardFind") and
// ButVisible set the two properties below.
class TCardEdtBut : public QLineEdit
{
    Q_OBJECT
    Q_PROPERTY(CardGlyphs::TBmpCount ButtonBmp READ ButtonBmp WRITE SetButtonBmp)
    Q_PROPERTY(bool ButVisible READ ButVisible WRITE SetButVisible)

public:
    explicit TCardEdtBut(QWidget* parent = nullptr);

    TBmpCount ButtonBmp() const { return m_ButtonBmp; }
    void SetButtonBmp(TBmpCount value);

    bool ButVisible() const { return m_ButVisible; }
    void SetButVisible(bool value);

    QToolButton* Button() const { return m_Button; }
    QWidget* ButtonPanel() const { return m_ButtonPanel; }

    // Places the button as a square filling the height inside the frame, flush with the right inner edge, and
    // keeps the text clear of it; a hidden button takes no room.
    virtual void LayoutButton();

    // The button's click: focus moves into the edit first, so the handler's dialog returns focus here.
    virtual void ButClick();

signals:
    void OnButClick(QObject* sender);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void ApplyGlyph();

    QWidget* m_ButtonPanel;
    QToolButton* m_Button;
    bool m_ButVisible = false;
    TBmpCount m_ButtonBmp = CardDown;
};
