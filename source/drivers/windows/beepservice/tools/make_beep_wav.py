#!/usr/bin/env python3
"""Writes beep.wav, the sound KavSvc plays for a touch: a short, soft 1 kHz tone.

Usage: make_beep_wav.py OUTPUT
"""
import math
import struct
import sys
import wave

RATE = 22050          # samples per second; plenty for a 1 kHz tone
FREQUENCY = 1000.0    # Hz, near the PC speaker's usual touch beep
DURATION = 0.08       # s: short enough for quick taps not to run together
FADE = 0.005          # s of fade at each end, so the tone does not click
AMPLITUDE = 0.5       # of full scale


def samples():
    count = int(RATE * DURATION)
    fade = int(RATE * FADE)
    for i in range(count):
        envelope = min(1.0, i / fade, (count - 1 - i) / fade)
        value = AMPLITUDE * envelope * math.sin(2 * math.pi * FREQUENCY * i / RATE)
        yield int(round(value * 32767))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with wave.open(argv[1], "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", s) for s in samples()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
