#!/usr/bin/env python3
"""Writes resources/chime.wav, the reminder chime: two soft bell strikes
(E6, then C6) with a few inharmonic partials and an exponential decay.
16-bit mono PCM at 22050 Hz, about 1.4 s, so that any audio output plays it."""
import math
import struct
import sys
import wave
from pathlib import Path

RATE = 22050
LENGTH = 1.4  # seconds
# (start in seconds, fundamental in Hz)
STRIKES = [(0.0, 1318.51), (0.32, 1046.50)]
# Bell-like partials: (ratio to the fundamental, relative level, decay rate per second)
PARTIALS = [(1.0, 1.0, 3.2), (2.0, 0.45, 5.0), (2.76, 0.25, 7.5), (5.40, 0.08, 11.0)]
PEAK = 0.55  # of full scale: a chime, not an alarm


def sample(t: float) -> float:
    value = 0.0
    for start, fundamental in STRIKES:
        u = t - start
        if u < 0:
            continue
        attack = min(1.0, u / 0.004)  # 4 ms attack avoids a click
        for ratio, level, decay in PARTIALS:
            value += attack * level * math.exp(-decay * u) * math.sin(2 * math.pi * fundamental * ratio * u)
    return value


def main() -> None:
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources/chime.wav"
    samples = [sample(i / RATE) for i in range(int(LENGTH * RATE))]
    # Fade the last 50 ms to silence, then scale to the peak level.
    fade = int(0.05 * RATE)
    for i in range(fade):
        samples[-1 - i] *= i / fade
    scale = PEAK * 32767 / max(abs(s) for s in samples)
    frames = b"".join(struct.pack("<h", round(s * scale)) for s in samples)
    with wave.open(str(target), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(frames)


if __name__ == "__main__":
    main()
