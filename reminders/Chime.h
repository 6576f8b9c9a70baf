#pragma once

#include <QUrl>
#include <functional>

// The reminder chime: a chimes.wav in AppPath when present, else the one
// embedded in the program.
QUrl ChimeSource();

// Plays the chime once in the background and returns at once. Where no audio
// output exists, or the sound cannot be played, the desktop beeps instead.
void PlayChime();

// Tests put a recorder in place of the real player; an empty one restores it.
using TChimePlayer = std::function<void(const QUrl& source)>;
void SetChimePlayer(TChimePlayer player);
