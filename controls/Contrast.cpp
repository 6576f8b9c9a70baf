#include "controls/Contrast.h"

#include <cmath>

namespace {
double Linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) + 0.0722 * Linear(rgb.blueF());
}
} // namespace

double ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Blend(const QColor& from, const QColor& to, double amount)
{
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    const auto mix = [amount](int x, int y) { return int(std::lround(x + (y - x) * amount)); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

QColor ReadableOn(const QColor& wanted, const QColor& background)
{
    if (ContrastRatio(wanted, background) >= kMinTextContrast)
        return wanted;
    // Black and white contrast equally with a luminance of about 0.18: on
    // anything brighter, black is the far end, else white.
    const QColor end = Luminance(background) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 1; step < 40; ++step) {
        const QColor candidate = Blend(wanted, end, step / 40.0);
        if (ContrastRatio(candidate, background) >= kMinTextContrast)
            return candidate;
    }
    return end;
}

QColor BackgroundFor(const QColor& text, const QColor& wanted, const QColor& fallback)
{
    return ContrastRatio(text, wanted) >= kMinTextContrast ? wanted : fallback;
}
