#include "app/Main.h"

#include "ui_Main.h"

void TFormMain::WireBookmarkPage() {}

void TFormMain::ShowStartupBookmarks() {}
