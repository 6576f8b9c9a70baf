#pragma once

#include <QByteArray>
#include <QList>

// A text told by its differences from another (the base): pieces copied
// from the base and bytes of its own, in order. The notes' earlier texts are
// kept so, each against the next newer one, which holds a year of edits of a
// large note in a few times the note's size.
struct TDeltaOp
{
    qint64 From = -1; // where the piece starts in the base; -1: Bytes are the piece
    qint64 Length = 0;
    QByteArray Bytes;
};
using TDelta = QList<TDeltaOp>;

// The delta that makes target from base. Pieces the two share are found
// wherever they stand (a paragraph moved stays a copy), in time in
// proportion to the texts.
TDelta MakeDelta(const QByteArray& base, const QByteArray& target);
// The text the delta makes from the base; throws EError when it does not
// fit the base (a damaged version).
QByteArray ApplyDelta(const TDelta& delta, const QByteArray& base);
// first makes a text from a middle one, second the middle one from a base:
// the delta that makes the text from the base, without the middle text.
TDelta ComposeDeltas(const TDelta& first, const TDelta& second);
// The delta as bytes (compressed) and back; Unpack throws EError for bytes
// that are no delta.
QByteArray PackDelta(const TDelta& delta);
TDelta UnpackDelta(const QByteArray& bytes);
// How long the text is that the delta makes.
qint64 DeltaLength(const TDelta& delta);
