#!/usr/bin/env python3
# Checks for the send end-to-end test: the light colours seen in screenshots against the timing
# of the message, and the tones OpenAL wrote to a WAV file as wav_marks_app lists them.
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


def check_marks(marks_path, hz):
    """Each line as wav_marks_app prints it: "mark START_MS LENGTH_MS HZ RISE_MS FALL_MS"."""
    segs = []
    for line in open(marks_path):
        f = line.split()
        if f and f[0] == "mark":
            segs.append((float(f[1]), float(f[2]), float(f[3])))
    ons = [(s, e, k) for (s, e, k) in schedule() if k in ("dot", "dash")]
    if len(segs) != len(ons):
        return "%d tone segments, expected %d: %s" % (len(segs), len(ons), segs)
    for (start, length, _), (a, b, kind) in zip(segs, ons):
        # The 5 ms ramps take a little off either end at the threshold.
        if abs(length - (b - a)) > 8:
            return "%s of %.1f ms, expected %d" % (kind, length, b - a)
        if abs(start - segs[0][0] - a) > 3:
            return "element at %.1f ms, expected %d" % (start - segs[0][0], a)
    if abs(segs[3][2] - hz) > 10:
        return "tone of %.0f Hz, expected %d" % (segs[3][2], hz)
    return None


if __name__ == "__main__":
    what, arg = sys.argv[1], sys.argv[2]  # "light" SAMPLES or "marks" MARKS HZ
    problem = check_light(arg) if what == "light" else check_marks(arg, int(sys.argv[3]))
    if problem:
        print(problem)
        sys.exit(1)
