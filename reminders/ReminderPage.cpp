#include "app/Main.h"

#include "ui_Main.h"

void TFormMain::WireReminderPage() {}

void TFormMain::ShowStartupReminders() {}
