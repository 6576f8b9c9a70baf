#pragma once

#include <QString>

struct sqlite3;

// The program's statements are written in the Jet (Access) dialect. The
// bridge turns one such statement into SQLite's dialect and registers the Jet
// functions the statements call on a connection.
namespace JetBridge {
// Rewrites one statement text (or one "@#@" piece). Works on the token
// stream, never inside string literals:
//  - '+' with a string operand (a literal or a format(...) call) becomes '||';
//  - a quoted date or time text inserted into, or assigned to, a Date/Time
//    column (AlamTime, AlamDate) becomes its OLE date number.
QString Translate(const QString& jetSql);

// The text with every string literal replaced by the count of its
// characters, "'<42 个字符>'", for the log, which must hold no text the user
// typed. An empty literal stays as it is; an unclosed one is counted to the end.
QString MaskLiterals(const QString& text);

// Registers Date(), Time(), Now() (the program clock as OLE dates),
// format(value, pattern) with Jet's pattern letters, and CDate(text), the
// date-text reader. Returns false when SQLite refused a registration.
bool Install(sqlite3* db);
} // namespace JetBridge
