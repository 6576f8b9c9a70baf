#include "controls/FollowPalette.h"

#include "controls/Contrast.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QSet>
#include <QWidget>

namespace {
class TPaletteFollower;
// Every follower of an open widget.
QSet<TPaletteFollower*> g_followers;

class TPaletteFollower : public QObject
{
public:
    TPaletteFollower(QWidget* widget, std::function<void()> apply) : QObject(widget), m_apply(std::move(apply))
    {
        widget->installEventFilter(this);
        g_followers.insert(this);
        Apply();
    }
    ~TPaletteFollower() override { g_followers.remove(this); }

    // Setting a colour inside `apply` changes the palette once more.
    void Apply()
    {
        if (m_applying)
            return;
        m_applying = true;
        m_apply();
        m_applying = false;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            Apply();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_apply;
    bool m_applying = false;
};
} // namespace

void FollowPalette(QWidget* widget, std::function<void()> apply)
{
    new TPaletteFollower(widget, std::move(apply));
}

void RefreshPaletteFollowers()
{
    for (TPaletteFollower* follower : QSet<TPaletteFollower*>(g_followers))
        follower->Apply();
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
        const auto colour = [&](QPalette::ColorGroup group) {
            return ReadableOn(wanted, natural.color(group, ground));
        };
        SetOwnColours(widget, text, colour);
        // Under a style sheet a palette no longer passes to the children:
        // a field's viewport is given the colour itself.
        if (auto* area = qobject_cast<QAbstractScrollArea*>(widget))
            SetOwnColours(area->viewport(), text, colour);
    });
}
