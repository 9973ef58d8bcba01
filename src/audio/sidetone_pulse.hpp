// src/audio/sidetone_pulse.hpp: a small playback stream of its own on the PulseAudio server, for
// the sidetone. The server asks for a few hundred samples at a time and they are made at the
// moment it asks, so a key change reaches the server within one small request instead of
// waiting behind the mixer's large buffers.
#pragma once
#include <cstddef>
#include <cstdint>

// Makes n mono samples; runs on the stream's own thread, which must not block.
typedef void (*SIDETONE_PULSE_FILL)(int16_t *out, size_t n, void *user);

// What the server granted: request size and target length in samples, and the rate.
struct SIDETONE_PULSE_INFO {
    uint32_t rate;
    uint32_t request_samples;
    uint32_t target_samples;
};

// Opens the stream at rate (mono, 16-bit) on the server the environment names, never starting
// one. 1 when it plays, with *info filled when given; 0 when no server answers or the stream
// cannot be made, leaving nothing behind. A running stream is closed first.
int sidetone_pulse_start(uint32_t rate, SIDETONE_PULSE_FILL fill, void *user,
                         SIDETONE_PULSE_INFO *info);
// Closes the stream; once it returns the fill function is not called again. Harmless when
// nothing runs.
void sidetone_pulse_stop();
// 1 while the stream is open.
int sidetone_pulse_running();
// Times the server ran out of samples since the stream was opened.
uint32_t sidetone_pulse_underruns();
// The server's estimate of how long a sample handed over now waits before it is heard, in
// microseconds; -1 when unknown or not running.
int64_t sidetone_pulse_latency_us();
