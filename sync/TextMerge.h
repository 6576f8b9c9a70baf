#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A text as lines that join back into it exactly: each line after the first
// begins with its line break ("\r\n" or "\n"), so that a line added at the
// end of a text changes none before it.
QStringList SplitLines(const QString& text);

// Where two lists of lines differ: From lines at Old replaced by To lines at
// New (either count may be 0), in order.
struct THunk
{
    qsizetype Old = 0;
    qsizetype From = 0;
    qsizetype New = 0;
    qsizetype To = 0;
};
// The fewest lines removed and added (Myers' algorithm). A text changed in
// more than a few thousand places is taken as its changed middle replaced
// whole, which is right, if not the smallest.
QList<THunk> DiffLines(const QStringList& before, const QStringList& after);

// One replacement in a text: Length characters at Position become Text.
struct TTextEdit
{
    qsizetype Position = 0;
    qsizetype Length = 0;
    QString Text;
};
// The replacements, in order and each as small as it can be, that make the
// second text of the first: applied one after another from the last, the
// rest of the text, and whatever marks a place in it, stays where it is.
QList<TTextEdit> TextEdits(const QString& before, const QString& after);

// Both texts' changes since the base in one text. Changes to different lines
// are both taken, an insertion at the same place by both in the order mine,
// theirs; the same lines changed differently by both keep both versions,
// mine first, so nothing either side wrote is lost.
QString MergeTexts(const QString& base, const QString& mine, const QString& theirs);
