#pragma once

#include <QString>
#include <QStringView>

// The longest name of a named character reference ("CounterClockwiseContourIntegral").
inline constexpr qsizetype kLongestEntityName = 31;

// The text a named character reference of HTML stands for ("copy" → "©",
// "hellip" → "…", "NotNestedLessLess" → "⪡̸"), the name as written between
// "&" and ";", letters' case counting; empty for a name HTML does not know.
QString HtmlEntityText(QStringView name);
