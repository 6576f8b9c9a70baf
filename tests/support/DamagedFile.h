#pragma once

#include <QByteArray>
#include <QString>

// The file's bytes as a hash, to tell whether anything wrote to it; empty
// when it cannot be read.
QByteArray FileHash(const QString& path);

// Overwrites the header of a leaf page of the bookmark table, in the
// middle of the file: the schema still reads, the table's pages do not.
void DamageBookmarkPage(const QString& path);

// Fills the data file's bookmark table over several pages, damages one of
// them and connects to the file again; returns the damaged file's hash.
QByteArray ConnectDamaged();
