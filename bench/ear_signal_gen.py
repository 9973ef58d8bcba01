#!/usr/bin/env python3
"""bench/ear_signal_gen.py: a third maker of Morse recordings for the ear's accuracy benchmark,
written apart from the tests' generator and from the sox one, in plain Python: its own code
table, its own keying (a carrier switched through a first-order filter, so every edge has an
exponential rise and fall of its own length, and a carrier off the nominal pitch with a phase of
its own), its own operators (a weight and spacing of their own, Gaussian jitter, speed moving in
steps between words) and Farnsworth spacing from the ARRL formula.

    ear_signal_gen.py TEXT STYLE WPM SNR_DB SEED RATE OUT.wav
STYLE is machine, hand or farnsworth; SNR_DB is key-down, in a 500 Hz band (1000: no noise).
"""
import math
import random
import struct
import sys
import wave

CODE = {
    "A": ".-", "B": "-...", "C": "-.-.", "D": "-..", "E": ".", "F": "..-.", "G": "--.",
    "H": "....", "I": "..", "J": ".---", "K": "-.-", "L": ".-..", "M": "--", "N": "-.",
    "O": "---", "P": ".--.", "Q": "--.-", "R": ".-.", "S": "...", "T": "-", "U": "..-",
    "V": "...-", "W": ".--", "X": "-..-", "Y": "-.--", "Z": "--..", "0": "-----",
    "1": ".----", "2": "..---", "3": "...--", "4": "....-", "5": ".....", "6": "-....",
    "7": "--...", "8": "---..", "9": "----.", "?": "..--..", "/": "-..-.", "=": "-...-",
    ".": ".-.-.-", ",": "--..--",
}


def keying(text, style, wpm, rng):
    """(on, seconds) pairs, first mark first."""
    dot = 1.2 / wpm
    dash, sym, letter, word, jitter = 3.0, 1.0, 3.0, 7.0, 0.0
    gap_unit = dot
    if style == "farnsworth":
        eff = wpm / 2.0
        t_a = (60.0 * wpm - 37.2 * eff) / (wpm * eff)  # seconds of gaps per PARIS word
        gap_unit = t_a / 19.0
        letter, word = 3.0, 7.0
    if style == "hand":
        dash = rng.uniform(2.6, 3.8)
        sym = rng.uniform(0.8, 1.25)
        letter = rng.uniform(2.4, 3.8)
        word = rng.uniform(5.5, 8.5)
        jitter = 0.1
    runs = []
    speed = 1.0

    def add(on, seconds):
        k = max(0.3, 1.0 + jitter * rng.gauss(0, 1)) if jitter else 1.0
        runs.append((on, seconds * speed * k))

    words = text.split()
    for w_i, w in enumerate(words):
        if w_i:
            add(0, word * gap_unit)
            if style == "hand" and rng.random() < 0.3:
                speed = min(1.15, max(0.87, speed * rng.uniform(0.92, 1.08)))
        for c_i, ch in enumerate(w):
            if c_i:
                add(0, letter * gap_unit)
            code = CODE.get(ch)
            if not code:
                continue
            for e_i, e in enumerate(code):
                if e_i:
                    add(0, sym * dot)
                add(1, (dash if e == "-" else 1.0) * dot)
    return runs


def main():
    text, style, wpm, snr, seed, rate, out = sys.argv[1:8]
    wpm, snr, seed, rate = float(wpm), float(snr), int(seed), int(rate)
    rng = random.Random(seed * 7717 + 13)
    runs = keying(text, style, wpm, rng)
    # Low enough that noise at -6 dB (a standard deviation 4 amp) stays far from full scale:
    # clipped, it would lose power and read cleaner than its SNR.
    amp = 0.05
    hz = 700.0 + rng.uniform(-20.0, 20.0)
    phase = rng.uniform(0.0, 2.0 * math.pi)
    tau = rng.uniform(0.0008, 0.004)  # edge time constant
    lead = 1.0
    total = lead + sum(s for _, s in runs) + 1.0
    n = int(total * rate)
    keyed = [0] * n
    t = lead
    for on, s in runs:
        a, b = int(t * rate), int((t + s) * rate)
        if on:
            for k in range(a, min(b, n)):
                keyed[k] = 1
        t += s
    sigma = 0.0
    if snr < 999:
        sigma = math.sqrt(amp * amp / 2.0 / 10.0 ** (snr / 10.0) * (rate / 2.0) / 500.0)
    alpha = 1.0 - math.exp(-1.0 / (tau * rate))
    w = 2.0 * math.pi * hz / rate
    env = 0.0
    frames = bytearray()
    for k in range(n):
        env += alpha * (keyed[k] - env)
        v = amp * env * math.sin(w * k + phase)
        if sigma:
            v += rng.gauss(0.0, sigma)
        frames += struct.pack("<h", int(max(-1.0, min(1.0, v)) * 32767))
    with wave.open(out, "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(rate)
        f.writeframes(bytes(frames))


if __name__ == "__main__":
    main()
