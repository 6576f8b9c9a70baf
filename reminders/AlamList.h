#pragma once

#include "reminders/UntAlam.h"

class QTreeWidget;

// Clears and refills the reminder list under the filter; past one-off rows
// show "错过的" (only on screen).
void FillAlamList(TAlam& store, QTreeWidget* list, AlamFilter filter);
