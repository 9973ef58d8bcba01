// src/audio/sidetone_pulse.hpp: a playback stream of its own on the PulseAudio server, for the
// sidetone. The server asks for a few dozen samples at a time, and a key change is written
// over the queue just past where the server reads, so it is heard within a few ms instead of
// waiting behind the queue or the mixer's large buffers.
#pragma once
#include <cstddef>
#include <cstdint>

// Makes n mono samples starting at sample position at (counted from the stream's opening).
// at is usually where the last call ended; after a key change it may lie up to
// SIDETONE_PULSE_HISTORY samples earlier, on a multiple of SIDETONE_PULSE_ALIGN, and the
// samples from there are made again with the key as it is now. Runs on the stream's own
// thread, which must not block.
typedef void (*SIDETONE_PULSE_FILL)(int16_t *out, size_t n, uint64_t at, void *user);
constexpr uint32_t SIDETONE_PULSE_HISTORY = 8192;
constexpr uint32_t SIDETONE_PULSE_ALIGN = 32;

// How the stream's thread is scheduled.
enum SIDETONE_PULSE_PRIORITY {
    SIDETONE_PULSE_NORMAL = 0,  // as every other thread
    SIDETONE_PULSE_NICE = 1,    // a raised nice level (priority holds it, as a negative number)
    SIDETONE_PULSE_REALTIME = 2 // first-in first-out real-time scheduling at priority
};

// What the server granted: request size and target length in samples, and the rate; how far
// past the server's read position a key change is written (the device's buffer, about a
// request, comes on top); and what scheduling the stream's thread got.
struct SIDETONE_PULSE_INFO {
    uint32_t rate;
    uint32_t request_samples;
    uint32_t target_samples;
    uint32_t change_samples;
    int priority_kind; // SIDETONE_PULSE_PRIORITY
    int priority;
};

// How the server is asked to time the stream; a zero field keeps the default. For
// measurements: the defaults are what the sidetone needs.
enum SIDETONE_PULSE_TIMING {
    SIDETONE_PULSE_EARLY_REQUESTS = 0, // the device's buffer is cut into request-sized pieces
    SIDETONE_PULSE_ADJUST_LATENCY = 1, // the device's buffer is sized to the queue
    SIDETONE_PULSE_PLAIN = 2           // the server's own device buffer, whatever it is
};
struct SIDETONE_PULSE_TUNING {
    uint32_t request_samples;
    uint32_t target_samples;     // the queue kept while nothing goes wrong
    uint32_t max_target_samples; // how far underruns may grow it
    int timing;                  // SIDETONE_PULSE_TIMING
    int no_prefill;              // non-zero: let the server start before the queue is full
    int no_rewrite;              // non-zero: a key change waits behind the queue
    int rewrite_appended;        // non-zero: rewrites go after the queue, as with a server
                                 // that ignores where they are meant to go
};
// Applies to streams opened later; null restores the defaults.
void sidetone_pulse_set_tuning(const SIDETONE_PULSE_TUNING *tuning);

// Opens the stream at rate (mono, 16-bit) on the server the environment names, never starting
// one. 1 when it plays, with *info filled when given; 0 when no server answers or the stream
// cannot be made, leaving nothing behind. A running stream is closed first.
int sidetone_pulse_start(uint32_t rate, SIDETONE_PULSE_FILL fill, void *user,
                         SIDETONE_PULSE_INFO *info);
// Tells the stream that the key changed: what it has queued beyond the server's read position
// is made again, so the change is heard after a request's time rather than after the queue.
// Lock-free; harmless when nothing runs.
void sidetone_pulse_key_changed();
// Closes the stream; once it returns the fill function is not called again. Harmless when
// nothing runs.
void sidetone_pulse_stop();
// 1 while the stream is open.
int sidetone_pulse_running();
// 1 while key changes are written over the queue. A server that is found to put them after
// it instead, where they would be heard the whole queue late, turns this to 0: the stream then
// keeps a short queue (4 requests, growing with underruns to at most 11) and only appends.
int sidetone_pulse_rewriting();
// Times the server ran out of samples since the stream was opened.
uint32_t sidetone_pulse_underruns();
// The queue asked of the server now, and the longest asked since the stream was opened, in
// samples (0 when not running).
uint32_t sidetone_pulse_target_samples();
uint32_t sidetone_pulse_highest_target_samples();
// For measurements, read from inside the fill function: how many samples the server had still
// to read before the position the current call starts at, when it was made.
uint32_t sidetone_pulse_fill_lead_samples();
// The server's estimate of how long a sample it has read waits in the device before it is
// heard, in microseconds; -1 when unknown or not running.
int64_t sidetone_pulse_device_latency_us();
// The server's estimate of how long a sample handed over now waits before it is heard, in
// microseconds; -1 when unknown or not running.
int64_t sidetone_pulse_latency_us();
