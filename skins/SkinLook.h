#pragma once

#include "data/CommandLineRun.h"

#include <QPalette>
#include <QString>
#include <QStringList>

// Gives the whole program the look of the named skin at once: every open
// window, dialog, alert and menu follows, and so does every one opened
// later. 跟随系统 brings back the desktop's style and colours as they were
// at the start. A user's skin that is refused (unreadable, faulty, or making
// a shown control too small for its text) raises, and the look stays.
void ApplySkin(const QString& name);

// Applies the skin and keeps it for the next start: a skin that is refused
// raises with "外观保持不变", one that cannot be kept goes again.
void ChooseSkin(const QString& name);
// What a later start's `--skin NAME` asks of this running program: the
// skin chosen at once.
TRunningCommands SkinRunningCommands();

// At the start: the skin the settings hold. One that is gone or refused
// leaves the desktop's look, and the log says why.
void ApplyStoredSkin();

// The name of the skin shown now.
QString CurrentSkin();

// The palette of a bundled skin (浅色 or 深色).
QPalette BundledSkinPalette(const QString& name);

// The shown buttons and labels of the open windows that are smaller than
// their text needs, each by its text in quotes.
QStringList ControlsWithCutText();
