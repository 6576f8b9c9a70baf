#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

// The program's own pictures, embedded as resources. Each accessor loads its pictures on first use and keeps them
// for the rest of the process, so every tree, dialog and window shares one copy.

// Registers the embedded resources. They live in the core static library, whose registration the linker would
// otherwise leave out of a program that never names it; every accessor here calls this, and a second call is free.
void InitCardResources();

// The pictures of a group tree, in image-list order: root, group, selected group.
const QList<QIcon>& TreeImages();

// A group node's icon: the closed folder, shown as the open folder while the node is selected (item views draw a
// selected item's icon in QIcon::Selected mode), so a tree needs no selection handler to switch pictures.
const QIcon& GroupNodeIcon();

// The 16 x 16 picture beside an address that opens it in the browser.
const QPixmap& OpenUrlPicture();

// The program's icon in all its sizes (16 to 256), for the windows and the tray.
const QIcon& AppIcon();

// Starts decoding the program's icon on another thread; AppIcon then only waits for what is left. Building the
// main window takes longer than the decoding, so started first, the decoding costs the start nothing.
void PreloadAppIcon();
