#include "skins/FollowPalette.h"

#include "controls/Contrast.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace {
class TPaletteFollower : public QObject
{
public:
    TPaletteFollower(QWidget* widget, std::function<void()> apply) : QObject(widget), m_apply(std::move(apply))
    {
        widget->installEventFilter(this);
        Apply();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            Apply();
        return QObject::eventFilter(watched, event);
    }

private:
    // Setting a colour inside `apply` changes the palette once more.
    void Apply()
    {
        if (m_applying)
            return;
        m_applying = true;
        m_apply();
        m_applying = false;
    }

    std::function<void()> m_apply;
    bool m_applying = false;
};
} // namespace

void FollowPalette(QWidget* widget, std::function<void()> apply)
{
    new TPaletteFollower(widget, std::move(apply));
}

void SetOwnColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    bool same = true;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        same = same && palette.color(group, role) == colour;
    if (same)
        return;
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

void KeepReadable(QWidget* widget, QPalette::ColorRole text, const QColor& wanted, QPalette::ColorRole ground)
{
    FollowPalette(widget, [=] {
        const QColor background = QApplication::palette(widget).color(QPalette::Active, ground);
        SetOwnColour(widget, text, ReadableOn(wanted, background));
    });
}
