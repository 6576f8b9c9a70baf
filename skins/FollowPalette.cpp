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

namespace {
constexpr QPalette::ColorGroup kGroups[] = {QPalette::Active, QPalette::Inactive, QPalette::Disabled};

// Sets the role's colour in each group, leaving the others to follow the
// application's; nothing when it has those colours already.
void SetOwnColours(QWidget* widget, QPalette::ColorRole role, const std::function<QColor(QPalette::ColorGroup)>& colour)
{
    QPalette palette = widget->palette();
    bool same = true;
    for (QPalette::ColorGroup group : kGroups)
        same = same && palette.color(group, role) == colour(group);
    if (same)
        return;
    for (QPalette::ColorGroup group : kGroups)
        palette.setColor(group, role, colour(group));
    widget->setPalette(palette);
}
} // namespace

void SetOwnColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    SetOwnColours(widget, role, [&colour](QPalette::ColorGroup) { return colour; });
}

void KeepReadable(QWidget* widget, QPalette::ColorRole text, const QColor& wanted, QPalette::ColorRole ground)
{
    FollowPalette(widget, [=] {
        const QPalette natural = QApplication::palette(widget);
        SetOwnColours(widget, text,
                      [&](QPalette::ColorGroup group) { return ReadableOn(wanted, natural.color(group, ground)); });
    });
}
