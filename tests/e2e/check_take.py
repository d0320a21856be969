#!/usr/bin/env python3
"""Checks what one run of wendrix-host left, with tools and arithmetic that are not the control's.

    check_take.py --log HOST.log --wav TAKE.wav --rate R --channels C --bits B [--bmp SHOT.bmp]
                  [--meter-hidden] [--silent-gap SECONDS] [--length-slack SECONDS]
                  [--ends-early-by SECONDS]

HOST.log is what the host printed: the recorded time ("recorded_seconds S"), the drain period
("drain_period_seconds P"), the levels the control read ("levels dBLeft X dB dBRight Y dB") and
where the control sits in the screenshot ("control at X,Y size W x H").

The file must open in Python's wave module and in sox with the asked format; its header must
hold the true sizes; its length must match the recorded time within one drain period (or the
slack given: a host that blocked before the device started cannot tell its start delay). The tone
the device hears is WENDRIX_TONE_LEFT / WENDRIX_TONE_RIGHT ("FREQUENCY:PEAK"); a mono recording
hears their mix, (L + R) / 2. Each channel must hold its tone(s) at the right frequency and
level, as one continuous signal: no gap, lost or repeated block. dBLeft/dBRight must read the
channels' peak levels, and the LEDs in the screenshot must be lit as those levels light them.

With --silent-gap (a host that stalled for longer than the ring lasts) the take must hold
exactly one run of digital silence, at least SECONDS long, and the tone around it must be one
tone, phase-continuous across the gap: the audio after the gap is where it belongs in time.

With --ends-early-by (the recording device went away during the take) the take must be at least
that much shorter than the recorded time, and hold at least a second of the tone: what came
before, and no time that never happened.

With --killed (the host was ended hard mid-take, so it printed no levels) the header must still
agree with the file, and the take must hold all but at most --length-slack seconds of the
recorded time at its end, and no more than was recorded.
"""
import argparse
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import wave

failures = []


def check(ok, message):
    print(("ok    " if ok else "FAIL  ") + message)
    if not ok:
        failures.append(message)
    return ok


def tone(variable):
    frequency, peak = os.environ[variable].split(":")
    return float(frequency), float(peak)


def samples_of(data, channels, width):
    """Each channel's samples as floats in [-1, 1)."""
    if width == 1:  # unsigned, centred on 128
        values = [(b - 128) / 128.0 for b in data]
    else:
        count = len(data) // 2
        values = [v / 32768.0 for v in struct.unpack("<%dh" % count, data[:count * 2])]
    return [values[c::channels] for c in range(channels)]


def sine_terms(rate, frequencies):
    """The terms of an offset plus sines at the given frequencies, at sample index n."""
    steps = [2 * math.pi * f / rate for f in frequencies]

    def row(n):
        r = [1.0]
        for w in steps:
            r.append(math.cos(w * n))
            r.append(math.sin(w * n))
        return r
    return row


def least_squares(x, row, k, indices):
    """The k coefficients of the terms `row` that fit x at the given indices best."""
    ata = [[0.0] * k for _ in range(k)]
    atb = [0.0] * k
    for n in indices:
        r, v = row(n), x[n]
        for i in range(k):
            ri = r[i]
            atb[i] += ri * v
            a = ata[i]
            for j in range(i, k):
                a[j] += ri * r[j]
    for i in range(k):
        for j in range(i):
            ata[i][j] = ata[j][i]
    # Gaussian elimination; the system is small and well conditioned over whole seconds.
    m = [ata[i] + [atb[i]] for i in range(k)]
    for col in range(k):
        pivot = max(range(col, k), key=lambda r: abs(m[r][col]))
        m[col], m[pivot] = m[pivot], m[col]
        for r in range(k):
            if r != col:
                factor = m[r][col] / m[col][col]
                m[r] = [a - factor * b for a, b in zip(m[r], m[col])]
    return [m[i][k] / m[i][i] for i in range(k)]


def fit(x, rate, frequencies):
    """Least-squares amplitudes of sines at the given frequencies (and an offset) in x."""
    c = least_squares(x, sine_terms(rate, frequencies), 2 * len(frequencies) + 1, range(len(x)))
    return [math.hypot(c[1 + 2 * i], c[2 + 2 * i]) for i in range(len(frequencies))]


def sines_through(x, rate, frequencies, indices):
    """The offset and sines at the given frequencies that fit x at the given sample indices
    best, as a function of the sample index."""
    row = sine_terms(rate, frequencies)
    c = least_squares(x, row, 2 * len(frequencies) + 1, indices)
    return lambda n: sum(a * b for a, b in zip(c, row(n)))


def silent_runs(channels_x, shortest):
    """(start, length) of every run of at least `shortest` frames in which every channel is 0."""
    runs, start = [], None
    count = len(channels_x[0])
    for n in range(count + 1):
        silent = n < count and all(x[n] == 0.0 for x in channels_x)
        if silent and start is None:
            start = n
        elif not silent and start is not None:
            if n - start >= shortest:
                runs.append((start, n - start))
            start = None
    return runs


def residue(x, rate, frequencies):
    """The largest amount by which x breaks the recurrence every sum of these sines obeys.

    A sampled sine of frequency f satisfies x[n+1] - 2cos(w)x[n] + x[n-1] = 0; a sum of sines
    satisfies the product of these filters. Rounding leaves a few quanta; a gap, a lost or a
    repeated block breaks the phase and leaves a residue of the order of the amplitude."""
    h = [1.0]
    for f in frequencies:
        c = 2 * math.cos(2 * math.pi * f / rate)
        taps = [1.0, -c, 1.0]
        h = [sum(h[i] * taps[j - i] for i in range(len(h)) if 0 <= j - i < 3)
             for j in range(len(h) + 2)]
    worst, where = 0.0, 0
    for n in range(len(x) - len(h) + 1):
        r = abs(sum(h[i] * x[n + i] for i in range(len(h))))
        if r > worst:
            worst, where = r, n
    return worst, where, sum(abs(v) for v in h)


def rising_frequency(x, rate):
    rising = [i for i in range(1, len(x)) if x[i - 1] < 0 <= x[i]]
    if len(rising) < 2:
        return 0.0
    return (len(rising) - 1) * rate / (rising[-1] - rising[0])


def lit_leds(level):
    """How many LEDs of a row a level lights: 5 dB a LED, all 13 above -0.5, none below -60."""
    if level < -60:
        return 0
    if level > -0.5:
        return 13
    return min(13, abs(math.floor(abs(level) / 5) - 11) + 1)


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    if bits != 24:
        raise ValueError("%d bits per pixel" % bits)
    stride = (width * 3 + 3) & ~3
    bottom_up = height > 0
    height = abs(height)

    def pixel(x, y):
        row = height - 1 - y if bottom_up else y
        b, g, r = data[offset + row * stride + x * 3: offset + row * stride + x * 3 + 3]
        return r, g, b
    return width, height, pixel


GREEN_ON, GREEN_OFF = (0, 255, 0), (0, 64, 64)
ORANGE_ON, ORANGE_OFF = (255, 128, 0), (192, 64, 0)


def check_leds(bmp, log, levels, channels):
    m = re.search(r"control at (\d+),(\d+) size (\d+) x (\d+)", log)
    if not check(m is not None, "the host says where the control is in the screenshot"):
        return
    left, top, width, height = map(int, m.groups())
    _, _, pixel = read_bmp(bmp)
    # The control's twips at 15 a pixel: LED i spans x 120i..120i+135; the left row y 0..255,
    # the right row y 240..495. The middle of each cell is read.
    rows = [("left", 0)] + ([("right", 240)] if channels == 2 else [])
    for (name, row_top), level in zip(rows, levels):
        expected = lit_leds(level)
        y = top + (row_top + 127) // 15
        seen = []
        for i in range(13):
            colour = pixel(left + (120 * i + 67) // 15, y)
            on, off = (GREEN_ON, GREEN_OFF) if i < 10 else (ORANGE_ON, ORANGE_OFF)
            seen.append("#" if colour == on else "." if colour == off else "?")
        want = "#" * expected + "." * (13 - expected)
        check("".join(seen) == want, "screenshot: %s row %s (%.2f dB lights %d LEDs: %s)" %
              (name, "".join(seen), level, expected, want))


def check_no_leds(bmp, log):
    m = re.search(r"control at (\d+),(\d+) size (\d+) x (\d+)", log)
    if not check(m is not None, "the host says where the control is in the screenshot"):
        return
    left, top, width, height = map(int, m.groups())
    _, _, pixel = read_bmp(bmp)
    colours = {pixel(x, y) for x in range(left, left + width) for y in range(top, top + height)}
    check(not colours & {GREEN_ON, ORANGE_ON}, "screenshot: the meter is hidden, no LED is lit")
    greys = {c for c in colours if c[0] == c[1] == c[2]}
    check(len(greys) >= 10, "screenshot: the panel's grey gradient shows (%d greys)" % len(greys))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--wav", required=True)
    parser.add_argument("--rate", type=int, required=True)
    parser.add_argument("--channels", type=int, required=True)
    parser.add_argument("--bits", type=int, required=True)
    parser.add_argument("--bmp")
    parser.add_argument("--meter-hidden", action="store_true")
    parser.add_argument("--silent-gap", type=float, default=0)
    parser.add_argument("--length-slack", type=float, default=0)
    parser.add_argument("--ends-early-by", type=float, default=0)
    parser.add_argument("--killed", action="store_true")
    args = parser.parse_args()

    with open(args.log, encoding="utf-8", errors="replace") as f:
        log = f.read()
    notes = dict(re.findall(r"^(recorded_seconds|drain_period_seconds|capture_delay_seconds) ([0-9.]+)", log, re.M))

    with wave.open(args.wav, "rb") as w:
        channels, width, rate, frames = (w.getnchannels(), w.getsampwidth(), w.getframerate(),
                                         w.getnframes())
        data = w.readframes(frames)
    check((rate, channels, width * 8) == (args.rate, args.channels, args.bits),
          "wave: %d Hz, %d channels, %d bits" % (rate, channels, width * 8))
    check(len(data) == frames * channels * width, "wave: %d frames, all readable" % frames)
    with open(args.wav, "rb") as f:
        header = f.read(46)
    size = os.path.getsize(args.wav)
    riff, = struct.unpack_from("<I", header, 4)
    fmt_size, = struct.unpack_from("<I", header, 16)
    data_size, = struct.unpack_from("<I", header, 42)
    check((riff, fmt_size, data_size) == (size - 8, 18, size - 46),
          "header: RIFF size %d, fmt size %d, data size %d for a %d-byte file" %
          (riff, fmt_size, data_size, size))

    if shutil.which("soxi"):
        def soxi(option):
            return subprocess.run(["soxi", option, args.wav], check=True, capture_output=True,
                                  text=True).stdout.strip()
        got = (soxi("-r"), soxi("-c"), soxi("-b"), soxi("-s"))
        check(got == (str(rate), str(channels), str(args.bits), str(frames)),
              "soxi: %s Hz, %s channels, %s bits, %s samples" % got)
        sox = subprocess.run(["sox", args.wav, "-n", "stat"], capture_output=True, text=True)
        check(sox.returncode == 0, "sox reads every sample")
    else:
        check(False, "soxi is not installed")

    seconds = frames / rate
    # The device records from the moment its position first moves; under Wine a new capture
    # stream may take a while to deliver its first bytes after the start.
    recorded = (float(notes.get("recorded_seconds", "nan")) -
                float(notes.get("capture_delay_seconds", "nan")))
    period = float(notes.get("drain_period_seconds", "nan"))
    if args.killed:
        check(recorded - args.length_slack <= seconds <= recorded + period,
              "length %.3f s: all but at most the last %.3f s of the %.3f s recorded" %
              (seconds, args.length_slack, recorded))
    elif args.ends_early_by:
        check(1.0 <= seconds <= recorded - args.ends_early_by + period,
              "length %.3f s: at least 1 s, and %.3f s or more short of the %.3f s recorded" %
              (seconds, args.ends_early_by, recorded))
    else:
        slack = max(period, args.length_slack)
        check(abs(seconds - recorded) <= slack,
              "length %.3f s against %.3f s recorded (within %.3f s)" % (seconds, recorded, slack))

    left, right = tone("WENDRIX_TONE_LEFT"), tone("WENDRIX_TONE_RIGHT")
    heard = [[left], [right]] if channels == 2 else [[(left[0], left[1] / 2),
                                                      (right[0], right[1] / 2)]]
    quantum = 1.0 / (128 if width == 1 else 32768)
    # The first half second may hold the device's start; the rest is the steady tone.
    skip = rate // 2
    xs = samples_of(data, channels, width)
    if args.silent_gap:
        runs = silent_runs(xs, int(args.silent_gap * rate))
        check(len(runs) == 1, "one silent gap of %.3f s or more (runs of silence: %s)" %
              (args.silent_gap, runs))
        if runs:
            start, length = runs[0]
            # The gap is filled with the one tone that fits both sides; should the audio after
            # the gap have moved in time, no tone fits both and the residue below finds it.
            gap = range(start, start + length)
            for channel, tones in enumerate(heard):
                x = xs[channel]
                kept = [n for n in range(skip, len(x)) if n not in gap]
                tone_at = sines_through(x, rate, [f for f, _ in tones], kept)
                for n in gap:
                    x[n] = tone_at(n)
    peaks = []
    for channel, tones in enumerate(heard):
        name = ("left", "right")[channel] if channels == 2 else "mono"
        x = xs[channel]
        steady = x[skip:]
        peak = max(abs(v) for v in steady) if steady else 0
        peaks.append(20 * math.log10(peak) if peak else -200)
        if not check(len(steady) > rate, "%s: more than a second of steady signal" % name):
            continue
        amplitudes = fit(steady, rate, [f for f, _ in tones])
        for (frequency, amplitude), got in zip(tones, amplitudes):
            check(abs(20 * math.log10(max(got, 1e-9) / amplitude)) <= 0.5,
                  "%s: %.0f Hz at %.2f dBFS (tone %.2f dBFS)" %
                  (name, frequency, 20 * math.log10(max(got, 1e-9)), 20 * math.log10(amplitude)))
        if len(tones) == 1:
            measured = rising_frequency(steady, rate)
            check(abs(measured - tones[0][0]) <= tones[0][0] * 0.01,
                  "%s: %.2f Hz by zero crossings (tone %.0f Hz)" % (name, measured, tones[0][0]))
            expected_peak = 20 * math.log10(tones[0][1])
            check(abs(peaks[-1] - expected_peak) <= 0.5,
                  "%s: peak %.2f dBFS (tone %.2f dBFS)" % (name, peaks[-1], expected_peak))
        worst, where, gain = residue(x[skip // 2:], rate, [f for f, _ in tones])
        total = sum(a for _, a in tones)
        # Rounding of each sample, and the resampling of the sound server, stay far below this.
        limit = max(gain * quantum, 0.02 * total)
        check(worst <= limit, "%s: continuous (largest residue %.5f at frame %d, limit %.5f)" %
              (name, worst, where + skip // 2, limit))

    if args.killed:
        return 1 if failures else 0
    m = re.search(r"^levels dBLeft (.*?) dBRight (.*)$", log, re.M)
    if not check(m is not None, "the host printed the levels"):
        return 1
    read = [t.strip().removesuffix(" dB") for t in m.groups()][:channels]
    if args.meter_hidden:
        # The meter does not run while it is hidden: no level is ever measured.
        check(read == ["No Sound"] * channels, "the levels read %s with the meter hidden" % read)
        if args.bmp:
            check_no_leds(args.bmp, log)
        return 1 if failures else 0
    levels = []
    for channel, (text, expected) in enumerate(zip(read, peaks)):
        name = ("dBLeft", "dBRight")[channel]
        try:
            level = float(text)
        except ValueError:
            level = float("nan")
        levels.append(level)
        check(abs(level - expected) <= 1.0,
              "%s reads %s dB (the channel's peak: %.2f dBFS)" % (name, text, expected))
    if args.bmp and all(not math.isnan(v) for v in levels):
        check_leds(args.bmp, log, levels, channels)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
