// src/audio/sidetone.hpp: the live sidetone of hand keying, a stream fed by its own thread
// from a key flag that any thread may set.
#pragma once
#include <cstddef>
#include <cstdint>

// Starts the stream (5 fragments of 256 samples at the mixer's rate) and its fill thread with a
// tone of hz, silent until keyed. 1 when running; 0 without sound or on failure (nothing left
// behind). A running sidetone is stopped first.
int sidetone_start(uint32_t hz);
// Key down (non-zero) or up; lock-free, so the keyer thread may call it from its callback.
void sidetone_key(int down);
// Silences and tears down the stream and its thread; harmless when not running.
void sidetone_stop();

// Measurement hook: called on the fill thread after every fragment it fills, with the fragment.
// Null removes it. Set it only while the sidetone is stopped.
typedef void (*SIDETONE_FILL_HOOK)(const int16_t *fragment, size_t samples, void *user);
void sidetone_set_fill_hook(SIDETONE_FILL_HOOK hook, void *user);
