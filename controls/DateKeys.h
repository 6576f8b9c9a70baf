#pragma once

#include <QString>

class QKeyEvent;

// Ctrl+D gives today's date, Ctrl+T the date and time (other modifiers may
// be held too); any other key gives an empty text. The text is inserted at
// the caret in place of the selection.
QString DateTimeKeyText(const QKeyEvent* event);
