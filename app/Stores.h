#pragma once

#include "app/UntConfig.h"
#include "bookmarks/UntIE.h"
#include "notes/UntNote.h"
#include "reminders/UntAlam.h"

// The program's stores, made once with the main window and handed to the
// pages and dialogs that read or write them.
struct TStores
{
    TNote Note;
    TIE IE;
    TAlam Alam;
    TConfig Config;
};
