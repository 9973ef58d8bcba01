#!/usr/bin/env python3
# Checks for the send end-to-end test: the light colours seen in screenshots against the timing
# of the message, and the tone segments OpenAL wrote to a WAV file.
import struct
import sys

UNIT = 150
# "SOS": element kind and length in units; the light shows each kind in its own colour.
SOS = [("dot", 1), ("gap", 1), ("dot", 1), ("gap", 1), ("dot", 1), ("letter", 3),
       ("dash", 3), ("gap", 1), ("dash", 3), ("gap", 1), ("dash", 3), ("letter", 3),
       ("dot", 1), ("gap", 1), ("dot", 1), ("gap", 1), ("dot", 1)]
COLOURS = {"255,0,0": "dot", "0,255,0": "dash", "0,0,255": "gap", "255,255,0": "letter"}


def schedule():
    out, t = [], 0
    for kind, units in SOS:
        out.append((t, t + units * UNIT, kind))
        t += units * UNIT
    return out


def kinds_between(sched, a, b):
    return {k for (s, e, k) in sched if s < b and e > a}


def check_light(samples_path):
    """Each sample line: start_ms end_ms r,g,b. Some single start time of the message must
    explain every sample whose colour is a light colour."""
    samples = []
    for line in open(samples_path):
        a, b, colour = line.split()
        if colour in COLOURS:
            samples.append((int(a), int(b), COLOURS[colour]))
    seen = {k for (_, _, k) in samples}
    if len(samples) < 8 or not {"dot", "dash"} <= seen or not seen & {"gap", "letter"}:
        return "too few light samples to judge: %d, kinds %s" % (len(samples), sorted(seen))
    sched = schedule()
    # A frame reaches the screen up to a frame (33 ms) late, plus the drawing itself.
    slack = 60
    first = min(a for a, _, _ in samples)
    for start in range(first - 4500, first + 200, 2):
        if all(k in kinds_between(sched, a - start - slack, b - start + slack)
               for a, b, k in samples):
            return None
    return "no start time explains the colours seen: %s" % samples


def read_wav(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("not a WAV file")
    pos, fmt, pcm = 12, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack("<HHIIHH", body[:16])
            if fmt[0] == 0xFFFE:
                fmt = (struct.unpack("<H", body[24:26])[0],) + fmt[1:]
        elif cid == b"data":
            pcm = body
        pos += 8 + size + (size & 1)
    tag, channels, rate, _, _, bits = fmt
    step = channels * bits // 8
    if tag == 3 and bits == 32:
        x = [struct.unpack_from("<f", pcm, i)[0] for i in range(0, len(pcm) - step + 1, step)]
    elif tag == 1 and bits == 16:
        x = [struct.unpack_from("<h", pcm, i)[0] / 32768.0
             for i in range(0, len(pcm) - step + 1, step)]
    else:
        raise ValueError("unsupported WAV format %s/%s" % (tag, bits))
    return rate, x


def segments(x, threshold, bridge):
    out, start, last = [], None, None
    for i, v in enumerate(x):
        if abs(v) > threshold:
            if start is None:
                start = i
            elif i - last > bridge:
                out.append((start, last + 1))
                start = i
            last = i
    if start is not None:
        out.append((start, last + 1))
    return out


def check_wav(path, hz):
    rate, x = read_wav(path)
    segs = segments(x, 0.05, rate // 500)
    ons = [(s, e, k) for (s, e, k) in schedule() if k in ("dot", "dash")]
    if len(segs) != len(ons):
        return "%d tone segments, expected %d: %s" % (len(segs), len(ons), segs)
    ms = lambda n: n * 1000.0 / rate
    for (s, e), (a, b, kind) in zip(segs, ons):
        # The 5 ms ramps take a little off either end at the threshold.
        if abs(ms(e - s) - (b - a)) > 8:
            return "%s of %.1f ms, expected %d" % (kind, ms(e - s), b - a)
        if abs(ms(s - segs[0][0]) - a) > 3:
            return "element at %.1f ms, expected %d" % (ms(s - segs[0][0]), a)
    s, e = segs[3]
    crossings = sum(1 for i in range(s + 1, e) if (x[i - 1] < 0) != (x[i] < 0))
    freq = crossings / 2 / ((e - s) / rate)
    if abs(freq - hz) > 10:
        return "tone of %.0f Hz, expected %d" % (freq, hz)
    return None


if __name__ == "__main__":
    what, arg = sys.argv[1], sys.argv[2]
    problem = check_light(arg) if what == "light" else check_wav(arg, int(sys.argv[3]))
    if problem:
        print(problem)
        sys.exit(1)
