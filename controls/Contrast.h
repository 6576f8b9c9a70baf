#pragma once

#include <QColor>

// Text must stand out from its background by at least this contrast ratio
// (the usual accessibility rule for normal-sized text).
constexpr double kMinTextContrast = 4.5;

// The contrast ratio of two colours, from 1 (the same brightness) to 21
// (black on white), as accessibility guidelines compute it.
double ContrastRatio(const QColor& a, const QColor& b);

// `amount` of the way from one colour to the other (0 gives `from`).
QColor Blend(const QColor& from, const QColor& to, double amount);

// The colour to draw text of the wanted colour on the background: the wanted
// colour itself when it stands out enough, else the same colour darkened (on
// a light background) or lightened (on a dark one) just until it does. Red
// and blue thus stay red and blue under light and dark palettes alike.
QColor ReadableOn(const QColor& wanted, const QColor& background);

// The background to put under text of the given colour: the wanted one when
// the text stands out enough on it, else the fallback (the palette's own).
QColor BackgroundFor(const QColor& text, const QColor& wanted, const QColor& fallback);
