#include "reminders/Chime.h"

#include "data/UntPublic.h"

#include <QApplication>
#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>

namespace {
TChimePlayer chimePlayer;

// Long enough for any chime; a sound effect that never reports its end is
// released after this anyway.
constexpr int kLongestChimeMs = 30000;

void PlayWithSoundEffect(const QUrl& source)
{
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull()) {
        QApplication::beep();
        return;
    }
    // One effect per chime, so that two alerts in one second chime twice.
    auto* effect = new QSoundEffect(output, qApp);
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
        if (effect->status() == QSoundEffect::Error) {
            QApplication::beep();
            effect->deleteLater();
        }
    });
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying() && effect->status() == QSoundEffect::Ready)
            effect->deleteLater();
    });
    QTimer::singleShot(kLongestChimeMs, effect, &QObject::deleteLater);
    effect->setSource(source);
    effect->play();
}
} // namespace

QUrl ChimeSource()
{
    const QString own = AppPath() + "chimes.wav";
    if (QFileInfo(own).isFile())
        return QUrl::fromLocalFile(own);
    return QUrl("qrc:/chime.wav");
}

void PlayChime()
{
    if (chimePlayer)
        chimePlayer(ChimeSource());
    else
        PlayWithSoundEffect(ChimeSource());
}

void SetChimePlayer(TChimePlayer player)
{
    chimePlayer = std::move(player);
}
