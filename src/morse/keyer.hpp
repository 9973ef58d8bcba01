// src/morse/keyer.hpp: the iambic keyer, a pure state machine that turns the state of two
// paddles into exactly timed key edges over the caller's millisecond clock. No thread, no lock.
#pragma once
#include <cstddef>
#include <cstdint>

// One key edge at a scheduled time of the caller's clock.
struct KEYER_EDGE {
    double t; // milliseconds
    int down; // 1 key down, 0 key up
};

// Most transitions one keyer_step makes; a caller that is further behind steps again.
constexpr int KEYER_MAX_TRANSITIONS = 64;

// The keyer. A dit is 1 unit, a dah 3 units, the space after every element 1 unit.
struct KEYER {
    double unit;  // unit in milliseconds
    int mode_b;   // 1 iambic mode B, 0 mode A
    int dit, dah; // paddle states last reported
    int dit_mem;  // a dit is still to be sent
    int dah_mem;  // a dah is still to be sent
    int squeezed; // both paddles were held during the current element (informative only)
    int phase;    // 0 idle, 1 element sounding (key down), 2 space after it (key up)
    int elem;     // current or last element: 0 dit, 1 dah
    double t_end; // when the current phase ends
};

// Idle keyer with unit_ms (100 when 0) and mode B when mode_b is non-zero.
void keyer_init(KEYER *k, uint32_t unit_ms, int mode_b);
// Reports both paddles (non-zero = pressed) as of time t. Step the keyer to t first: a report
// applies to the state the machine is in, which must not lag behind the paddles.
void keyer_paddles(KEYER *k, double t, int dit, int dah);
// Advances to now and writes the edges that fell due, in time order and at their scheduled
// times, to out. Returns the number of edges written (at most max). Stops early, losing
// nothing, after max edges or KEYER_MAX_TRANSITIONS transitions: a further call goes on.
size_t keyer_step(KEYER *k, double now, KEYER_EDGE *out, size_t max);
// When the next step has work: the end of the current phase; 0 when idle with an element to
// start at once; -1 when idle with nothing pending.
double keyer_next_deadline(const KEYER *k);
