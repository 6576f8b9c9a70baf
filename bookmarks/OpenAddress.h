#pragma once

#include <QString>

class QWidget;

// Opens a bookmark's address with the desktop. An address that is not a web
// page or a mail (a script, inline data, a file, a program) is named in a
// question first; an address that no program takes is said so.
void OpenBookmarkAddress(QWidget* owner, const QString& address);
