#pragma once

#include "reminders/UntAlam.h"

class QTreeWidget;

// Clears and refills the reminder list under the filter; missed one-off
// rows show "错过的" and pending snoozes their moment (only on screen), a
// reminder whose alert is open is not missed. The time column sorts by when each row
// falls due next, past one-off rows after all others.
void FillAlamList(TAlam& store, QTreeWidget* list, AlamFilter filter);
