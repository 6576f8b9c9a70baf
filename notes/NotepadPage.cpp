#include "app/Main.h"

#include "groups/UntTree.h"
#include "ui_Main.h"

void TFormMain::WireNotepadPage() {}

void TFormMain::ShowStartupNote()
{
    ui->tvNote->setCurrentItem(NoteTree->RootNode);
}
