// src/audio/sidetone_queue.cpp: the sidetone queue's growth and shrinking.
#include "audio/sidetone_queue.hpp"

#include "support/ka_common.hpp"

void sidetone_queue_init(SIDETONE_QUEUE *q, uint32_t base, uint32_t step, uint32_t cap,
                         int64_t now_ms) {
    __ka_assert(q, return );
    q->step = step ? step : 1;
    q->base = base > q->step ? base : q->step;
    q->cap = cap > q->base ? cap : q->base;
    q->target = q->base;
    q->highest = q->base;
    q->changed_ms = now_ms;
}

int sidetone_queue_underrun(SIDETONE_QUEUE *q, int64_t now_ms) {
    __ka_assert(q, return 0);
    // One step at a time: doubling overshoots what the machine needs, and every sample queued
    // is heard as delay.
    if (q->target >= q->cap || now_ms - q->changed_ms < SIDETONE_QUEUE_SETTLE_MS) return 0;
    q->target = q->cap - q->target < q->step ? q->cap : q->target + q->step;
    if (q->target > q->highest) q->highest = q->target;
    q->changed_ms = now_ms;
    return 1;
}

int sidetone_queue_tick(SIDETONE_QUEUE *q, int64_t now_ms) {
    __ka_assert(q, return 0);
    if (q->target <= q->base || now_ms - q->changed_ms < SIDETONE_QUEUE_CALM_MS) return 0;
    q->target = q->target - q->base < q->step ? q->base : q->target - q->step;
    q->changed_ms = now_ms;
    return 1;
}
