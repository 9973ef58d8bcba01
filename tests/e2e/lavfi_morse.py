#!/usr/bin/env python3
"""Films a blinking light with ffmpeg's own filters, written independently of the program: a
timing list from this script's Morse table becomes a drawbox whose enable expression holds
every mark, over a grey room with sensor noise, optionally with the lamp's glow (a softer box
that lags) and a person (a large box) walking to and fro.

usage: lavfi_morse.py OUT TEXT [--wpm N] [--fps N] [--size PCT] [--at X,Y] [--noise N]
                      [--person] [--flicker] [--no-light] [--seconds S] [--lead S]
"""
import argparse
import math
import subprocess

CODE = {
    'A': '.-', 'B': '-...', 'C': '-.-.', 'D': '-..', 'E': '.', 'F': '..-.', 'G': '--.',
    'H': '....', 'I': '..', 'J': '.---', 'K': '-.-', 'L': '.-..', 'M': '--', 'N': '-.',
    'O': '---', 'P': '.--.', 'Q': '--.-', 'R': '.-.', 'S': '...', 'T': '-', 'U': '..-',
    'V': '...-', 'W': '.--', 'X': '-..-', 'Y': '-.--', 'Z': '--..', '0': '-----',
    '1': '.----', '2': '..---', '3': '...--', '4': '....-', '5': '.....', '6': '-....',
    '7': '--...', '8': '---..', '9': '----.',
}


def marks(text, unit, lead):
    """(start, end) of every mark in seconds."""
    out, t = [], lead
    for w, word in enumerate(text.upper().split()):
        if w:
            t += 6 * unit  # a word gap is seven units: the letter's own trailing one is there
        for c, ch in enumerate(word):
            if c:
                t += 2 * unit
            for s, sym in enumerate(CODE[ch]):
                if s:
                    t += unit
                n = 1 if sym == '.' else 3
                out.append((t, t + n * unit))
                t += n * unit
            t += unit
    return out, t


def main():
    p = argparse.ArgumentParser()
    p.add_argument('out')
    p.add_argument('text')
    p.add_argument('--wpm', type=float, default=12)
    p.add_argument('--fps', type=int, default=30)
    p.add_argument('--size', type=float, default=0.5, help='light area, percent of the frame')
    p.add_argument('--at', default='0.7,0.3')
    p.add_argument('--noise', type=int, default=16)
    p.add_argument('--person', action='store_true')
    p.add_argument('--flicker', action='store_true')
    p.add_argument('--no-light', action='store_true')
    p.add_argument('--seconds', type=float, default=0)
    p.add_argument('--lead', type=float, default=1.0)
    a = p.parse_args()
    W, H = 320, 240
    unit = 1.2 / a.wpm
    spans, end = marks(a.text, unit, a.lead)
    seconds = a.seconds or end + 1.5
    side = int(math.sqrt(a.size / 100 * W * H))
    fx, fy = (float(v) for v in a.at.split(','))
    x, y = int(fx * W - side / 2), int(fy * H - side / 2)
    filters = []
    if not a.no_light:
        on = '+'.join('between(t,%.4f,%.4f)' % s for s in spans)
        filters.append("drawbox=x=%d:y=%d:w=%d:h=%d:color=0xF0F0F0:t=fill:enable='%s'"
                       % (x, y, side, side, on))
    if a.person:
        # A dark coat swaying left and right across the middle once every 1.4 s.
        filters.append("drawbox=x='%d+%d*sin(2*PI*t/1.4)':y=%d:w=%d:h=%d:color=0x303030:t=fill"
                       % (W * 0.3, W * 0.18, H // 8, W * 0.22, H * 7 // 8))
    if a.flicker:
        # A lamp on the 50 Hz mains: 100 Hz in brightness, beating against the frame rate.
        filters.append("drawbox=x=%d:y=%d:w=%d:h=%d:color=0xE0E0E0:t=fill:"
                       "enable='lt(mod(t*100,1),0.5)'" % (W // 16, H * 5 // 8, W // 10, W // 10))
    filters.append('noise=alls=%d:allf=t' % a.noise)
    filters.append('format=yuv420p')
    cmd = ['ffmpeg', '-v', 'error', '-y', '-f', 'lavfi', '-i',
           'color=c=0x404040:s=%dx%d:r=%d:d=%.3f' % (W, H, a.fps, seconds),
           '-vf', ','.join(filters), '-c:v', 'mpeg4', '-q:v', '4',
           a.out]
    subprocess.run(cmd, check=True)


if __name__ == '__main__':
    main()
