#pragma once

#include <QColor>
#include <QPalette>
#include <functional>

class QWidget;

// Runs `apply` now and again whenever the widget's palette changes (a skin
// chosen, the desktop's colours changed), so that colours worked out from
// the palette follow it in windows that stay open.
void FollowPalette(QWidget* widget, std::function<void()> apply);

// Runs every follower's `apply` again: after a style sheet is set, which
// gives each widget a palette of its own in an order of its own, and
// restores ones it kept from earlier, a palette change alone does not reach
// every control.
void RefreshPaletteFollowers();

// Gives the widget's text role the wanted colour, darkened or lightened as
// far as the ground role of its own class's palette needs for the text to be
// read, in each colour group (a disabled field may have another ground);
// follows the palette.
void KeepReadable(QWidget* widget, QPalette::ColorRole text, const QColor& wanted, QPalette::ColorRole ground);

// Sets one role of the widget's palette, leaving the others to follow the
// application's; does nothing when the role has that colour in every group.
void SetOwnColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour);
