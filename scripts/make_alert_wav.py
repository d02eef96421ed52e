#!/usr/bin/env python3
"""Writes resources/alert.wav: a short two-tone siren (1.6 s, 22050 Hz, mono, 16 bit)."""
import math
import os
import struct
import wave

RATE = 22050
SECONDS = 1.6
OUT = os.path.join(os.path.dirname(__file__), "..", "resources", "alert.wav")


def main():
    frames = bytearray()
    phase = 0.0
    n = int(RATE * SECONDS)
    for i in range(n):
        t = i / RATE
        # The pitch sweeps between 650 and 1250 Hz twice a second, like a siren's wail.
        freq = 950 + 300 * math.sin(2 * math.pi * 2.0 * t)
        phase += 2 * math.pi * freq / RATE
        # A touch of the third harmonic for a horn-like edge; short fades avoid clicks.
        sample = math.sin(phase) + 0.25 * math.sin(3 * phase)
        fade = min(1.0, t / 0.02, (SECONDS - t) / 0.08)
        frames += struct.pack("<h", int(0.55 * 32767 * sample / 1.25 * fade))
    with wave.open(OUT, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    main()
