#include "app/Main.h"

#include "ui_Main.h"

void TFormMain::WireShell() {}

void TFormMain::LoadConfigAndLogin() {}

void TFormMain::ShowAutoRunState() {}
