// src/morse/keyer_run.hpp: the keyer thread. It runs one iambic keyer in real time on the
// monotonic clock, hands every key edge at once to an output callback and queues it, with its
// scheduled time, for the caller to feed a decoder. One keyer thread per process.
#pragma once
#include <cstddef>
#include <cstdint>

#include "morse/keyer.hpp"

// Called with 1 when the key goes down and 0 when it goes up, on the keyer thread or on the
// thread calling keyrun_paddles or keyrun_stop, always with the keyer's lock held: it must be
// short and must not call any keyrun_ function (such a call is refused and logged).
typedef void (*KEYRUN_OUTPUT)(int down, void *user);

// Most edges the queue holds; later edges skip the queue (the callback still gets them).
constexpr size_t KEYRUN_QUEUE_SIZE = 256;

// Stops any running keyer, then starts a fresh one (unit_ms, 100 when 0; mode B when mode_b is
// non-zero) with an empty queue. 1 when the thread runs.
int keyrun_start(uint32_t unit_ms, int mode_b, KEYRUN_OUTPUT out, void *user);
// The paddles changed (non-zero = pressed). An element due now starts before this returns.
// Ignored when not running.
void keyrun_paddles(int dit, int dah);
// Moves up to max queued edges, oldest first, into out; returns how many. Their times are on
// the keyrun_now_ms clock.
size_t keyrun_take_edges(KEYER_EDGE *out, size_t max);
// The time base of the edges: the monotonic clock (CLOCK_MONOTONIC) in milliseconds, what a
// decoder fed with the edges must be ticked with.
double keyrun_now_ms();
// Stops and joins the thread. A key still down is released: the callback gets 0 and a key-up
// edge at the stop time is queued, so no tone keeps sounding and the queue stays balanced.
void keyrun_stop();
// 1 between a successful keyrun_start and keyrun_stop.
int keyrun_running();
