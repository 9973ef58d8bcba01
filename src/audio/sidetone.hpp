// src/audio/sidetone.hpp: the live sidetone of hand keying, a stream fed by its own thread
// from a key flag that any thread may set.
#pragma once
#include <cstddef>
#include <cstdint>

// Starts a tone of hz at the mixer's rate, silent until keyed: on a small PulseAudio stream of
// its own when a server answers and the audio system is not tied to another driver, else on a
// stream of the mixer (5 fragments of 256 samples) fed by a fill thread. 1 when running; 0
// without sound or on failure (nothing left behind). A running sidetone is stopped first.
int sidetone_start(uint32_t hz);
// Key down (non-zero) or up; lock-free, so the keyer thread may call it from its callback.
void sidetone_key(int down);
// Silences and tears down the stream and its thread; harmless when not running.
void sidetone_stop();
// 1 while the sidetone plays through its own PulseAudio stream; 0 on the mixer or stopped.
int sidetone_direct();

// Measurement hook: called with every block of samples just before it is handed on (to the
// mixer's stream, or to PulseAudio), on the thread that makes them. Null removes it. Set it
// only while the sidetone is stopped.
typedef void (*SIDETONE_FILL_HOOK)(const int16_t *fragment, size_t samples, void *user);
void sidetone_set_fill_hook(SIDETONE_FILL_HOOK hook, void *user);
