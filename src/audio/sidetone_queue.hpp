// src/audio/sidetone_queue.hpp: how long a queue the sidetone keeps at the sound server. It
// starts short, grows a little at each underrun and comes back down after a calm spell, so one
// busy moment costs a little delay for a while instead of a long one for the rest of the run.
// Pure: no clock of its own, no audio system.
#pragma once
#include <cstdint>

struct SIDETONE_QUEUE {
    uint32_t base;      // samples kept while nothing goes wrong
    uint32_t step;      // samples added at an underrun, taken off after a calm spell
    uint32_t cap;       // never more than this
    uint32_t target;    // samples to keep now
    uint32_t highest;   // the longest target since init
    int64_t changed_ms; // when target last changed (or init)
};

// Underruns this soon after a change belong to the stall that caused it.
constexpr int64_t SIDETONE_QUEUE_SETTLE_MS = 100;
// A queue that ran clean this long is shortened by one step.
constexpr int64_t SIDETONE_QUEUE_CALM_MS = 10000;

// Starts at base (raised to at least one step; cap raised to at least base).
void sidetone_queue_init(SIDETONE_QUEUE *q, uint32_t base, uint32_t step, uint32_t cap,
                         int64_t now_ms);
// The server ran dry at now_ms. 1 when target grew and must be asked of the server.
int sidetone_queue_underrun(SIDETONE_QUEUE *q, int64_t now_ms);
// Called as time passes without an underrun. 1 when target shrank.
int sidetone_queue_tick(SIDETONE_QUEUE *q, int64_t now_ms);
