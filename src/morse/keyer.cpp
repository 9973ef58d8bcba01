// src/morse/keyer.cpp: the iambic keyer. Every edge time is taken from the schedule (the end of
// the previous phase), never from the moment keyer_step runs, so a late caller still gets exact
// element lengths and the keying never drifts.
#include "morse/keyer.hpp"

#include "support/ka_common.hpp"

enum { _IDLE = 0, _SOUNDING = 1, _SPACE = 2 };
enum { _DIT = 0, _DAH = 1 };

void keyer_init(KEYER *k, uint32_t unit_ms, int mode_b) {
    __ka_assert(k, return );
    *k = KEYER{};
    k->unit = unit_ms ? (double)unit_ms : 100.0;
    k->mode_b = mode_b ? 1 : 0;
}

void keyer_paddles(KEYER *k, double t, int dit, int dah) {
    __ka_assert(k, return );
    (void)t; // the memories depend on the order of reports, not on their times
    dit = dit ? 1 : 0;
    dah = dah ? 1 : 0;
    const int dit_pressed = dit && !k->dit;
    const int dah_pressed = dah && !k->dah;
    const int was_squeezed = k->dit && k->dah;
    k->dit = dit;
    k->dah = dah;

    if (k->phase == _IDLE) return; // the next step starts an element from the paddles
    if (k->phase == _SPACE) {
        if (dit_pressed) k->dit_mem = 1;
        if (dah_pressed) k->dah_mem = 1;
        if (dit && dah) k->squeezed = 1;
        return;
    }
    if (was_squeezed) {
        if (dit && dah) {
            k->squeezed = 1;
        } else if (k->mode_b) {
            // Mode B: letting go of a squeeze still owes the opposite element.
            if (k->elem == _DAH)
                k->dit_mem = 1;
            else
                k->dah_mem = 1;
        }
        return;
    }
    // Only the opposite paddle is remembered: the sounding element's own paddle repeats it
    // by being held, not by a memory.
    if (dit_pressed && k->elem == _DAH) k->dit_mem = 1;
    if (dah_pressed && k->elem == _DIT) k->dah_mem = 1;
    if (dit && dah) k->squeezed = 1;
}

// Starts elem at t: key down, its memory spent.
static void _start(KEYER *k, int elem, double t, KEYER_EDGE *edge) {
    if (elem == _DIT)
        k->dit_mem = 0;
    else
        k->dah_mem = 0;
    k->phase = _SOUNDING;
    k->elem = elem;
    k->t_end = t + (elem == _DIT ? 1.0 : 3.0) * k->unit;
    *edge = KEYER_EDGE{t, 1};
}

// The element that follows a space, preferring the opposite of the last one (that preference
// is the iambic alternation); -1 for none.
static int _next_after_space(const KEYER *k) {
    const int want_dit = k->dit_mem || k->dit;
    const int want_dah = k->dah_mem || k->dah;
    if (k->elem == _DIT) return want_dah ? _DAH : want_dit ? _DIT : -1;
    return want_dit ? _DIT : want_dah ? _DAH : -1;
}

size_t keyer_step(KEYER *k, double now, KEYER_EDGE *out, size_t max) {
    __ka_assert(k, return 0);
    __ka_assert(out || max == 0, return 0);
    __ka_assert(now == now, return 0); // NaN would make every phase look ended
    size_t n = 0;
    for (int transitions = 0; transitions < KEYER_MAX_TRANSITIONS; transitions++) {
        if (k->phase == _IDLE) {
            int elem;
            int squeezed = 0;
            if (k->dit)
                elem = _DIT, squeezed = k->dah;
            else if (k->dit_mem)
                elem = _DIT;
            else if (k->dah || k->dah_mem)
                elem = _DAH;
            else
                break;
            // A transition whose edge has no room waits for the next call, so that the key
            // state seen by the caller never loses an edge.
            if (n == max) break;
            _start(k, elem, now, &out[n++]);
            k->squeezed = squeezed;
            continue;
        }
        if (now < k->t_end) break;
        if (k->phase == _SOUNDING) {
            if (n == max) break;
            out[n++] = KEYER_EDGE{k->t_end, 0};
            k->phase = _SPACE;
            k->t_end += k->unit;
            continue;
        }
        const int elem = _next_after_space(k);
        if (elem < 0) {
            k->phase = _IDLE;
            break;
        }
        if (n == max) break;
        const int last = k->elem;
        _start(k, elem, k->t_end, &out[n++]);
        k->squeezed = (elem == _DAH && last == _DAH) ? 0 : (k->dit && k->dah);
    }
    return n;
}

double keyer_next_deadline(const KEYER *k) {
    __ka_assert(k, return -1);
    if (k->phase != _IDLE) return k->t_end;
    if (k->dit || k->dah || k->dit_mem || k->dah_mem) return 0;
    return -1;
}
