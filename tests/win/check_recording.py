#!/usr/bin/env python3
"""Checks the WAVE file a Windows recording test left, with readers that are not ours.

    check_recording.py RECORDING.wav

RECORDING.txt beside it names the recorded time ("recorded_seconds S") and the drain period
("drain_period_seconds P"). The file must open in Python's wave module and in soxi with the
same format and length; its length must match the recorded time within one drain period. When
WENDRIX_TONE_LEFT / WENDRIX_TONE_RIGHT ("FREQUENCY:PEAK") name the tone the device heard, each
channel must hold its tone at that level and frequency, as one continuous sine: no gap, no
repeated or lost block (each sample follows from the two before it).

Exits 0 when all holds, 1 on a failed check, 77 (skipped) when there is no file and no tone
was promised.
"""
import array
import math
import os
import shutil
import subprocess
import sys
import wave

failures = []


def check(ok, message):
    print(("ok    " if ok else "FAIL  ") + message)
    if not ok:
        failures.append(message)


def tone(variable):
    text = os.environ.get(variable)
    if not text:
        return None
    frequency, peak = text.split(":")
    return float(frequency), float(peak)


def main():
    path = sys.argv[1]
    tones = (tone("WENDRIX_TONE_LEFT"), tone("WENDRIX_TONE_RIGHT"))
    if not os.path.exists(path):
        if tones[0] is None:
            print("skipped: no recording (no recording device and no test tone)")
            return 77
        print("FAIL  no recording at " + path)
        return 1

    notes = {}
    with open(os.path.splitext(path)[0] + ".txt") as f:
        for line in f:
            key, value = line.split()
            notes[key] = float(value)

    with wave.open(path, "rb") as w:
        channels, width, rate, frames = (w.getnchannels(), w.getsampwidth(), w.getframerate(),
                                         w.getnframes())
        data = w.readframes(frames)
    check((channels, width, rate) == (2, 2, 44100),
          "wave: %d channels, %d bytes per sample, %d Hz" % (channels, width, rate))
    check(len(data) == frames * channels * width, "wave: %d frames, all readable" % frames)
    size = os.path.getsize(path)
    check(size == 46 + len(data), "file is the 46-byte header and the data, nothing after it")

    if shutil.which("soxi"):
        def soxi(option):
            return subprocess.run(["soxi", option, path], check=True, capture_output=True,
                                  text=True).stdout.strip()
        check((soxi("-c"), soxi("-r"), soxi("-b"), soxi("-s")) ==
              (str(channels), str(rate), "16", str(frames)),
              "soxi: %s channels, %s Hz, %s bits, %s samples" %
              (soxi("-c"), soxi("-r"), soxi("-b"), soxi("-s")))
    else:
        print("note  soxi not installed; sox's reading not checked")

    seconds = frames / rate
    recorded = notes["recorded_seconds"]
    period = notes["drain_period_seconds"]
    check(abs(seconds - recorded) <= period,
          "length %.3f s against %.3f s recorded (within one drain period, %.1f s)" %
          (seconds, recorded, period))

    if tones[0] is None:
        return 1 if failures else 0
    samples = array.array("h")
    samples.frombytes(data)
    if sys.byteorder != "little":
        samples.byteswap()
    for channel, (frequency, peak) in enumerate(tones):
        name = ("left", "right")[channel]
        x = samples[channel::2]
        top = max(abs(v) for v in x)
        level = 20 * math.log10(top / 32768) if top else -200
        expected = 20 * math.log10(peak)
        check(abs(level - expected) <= 0.5,
              "%s: peak %.2f dBFS (tone %.2f dBFS)" % (name, level, expected))
        rising = [i for i in range(1, len(x)) if x[i - 1] < 0 <= x[i]]
        measured = (len(rising) - 1) * rate / (rising[-1] - rising[0]) if len(rising) > 1 else 0
        check(abs(measured - frequency) <= frequency * 0.02,
              "%s: %.2f Hz (tone %.0f Hz)" % (name, measured, frequency))
        # A sampled sine obeys x[n+1] = 2 cos(w) x[n] - x[n-1]; rounding leaves a few units.
        # A gap, a lost or a repeated block breaks the phase and leaves a residue of the
        # order of the amplitude.
        c = 2 * math.cos(2 * math.pi * frequency / rate)
        worst, where = 0.0, 0
        for n in range(1, len(x) - 1):
            r = abs(x[n + 1] + x[n - 1] - c * x[n])
            if r > worst:
                worst, where = r, n
        limit = max(8.0, peak * 32768 * 0.01)
        check(worst <= limit, "%s: continuous sine (largest residue %.1f at frame %d, limit %.0f)"
              % (name, worst, where, limit))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
