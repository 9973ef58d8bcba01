// src/morse/ear_live.hpp: the ear for sound that keeps coming (a microphone). It keeps the sound
// of the message under way and reads it whole, with hindsight, each time it is asked: the
// first letters are read with the speed and tone that the later ones taught, so they may show
// late but are never lost. Until the message has lasted long enough for its speed to be
// known, its reading is held back. At the message's end the whole of it is read once more and
// handed out, and the kept sound is let go. Built on the ear; it knows nothing of threads or
// of where the sound comes from. No lock: one thread at a time per reader.
#pragma once
#include <cstddef>
#include <cstdint>

#include "morse/ear.hpp"

// How a live reader listens. ear_live_config_default gives the defaults noted below.
struct EAR_LIVE_CONFIG {
    uint32_t rate;    // input sample rate in Hz (8000)
    uint32_t hold_ms; // keying heard before a reading is shown: the speed is learnt (2500)
    uint32_t lead_ms; // sound kept before a message's first tone, for a tone found late (8000)
    uint32_t max_ms;  // the longest message kept; a longer one is read in parts (180000)
    // A live reading covers at most about twice this: a longer message's start is read once
    // and kept (cut at a word gap), so that a reading's cost, and with it the delay of the
    // letters shown, stays under two letters at 35 WPM (8000).
    uint32_t window_ms;
};

struct EAR_LIVE; // opaque: its record lives in ear_live.cpp

// Writes the defaults listed with EAR_LIVE_CONFIG.
void ear_live_config_default(EAR_LIVE_CONFIG *cfg);
// A reader using a copy of cfg (the defaults when null), or null when out of memory or the
// rate is below 2000 Hz.
EAR_LIVE *ear_live_new(const EAR_LIVE_CONFIG *cfg);
// Frees the reader and nulls the caller's pointer; null-safe.
void ear_live_free(EAR_LIVE **el);
// Adds n samples (mono, full scale 1) to the stream. 1 when the message has reached max_ms and
// should be ended now (ear_live_end), 0 otherwise, -1 when out of memory (what was kept stays).
int ear_live_feed(EAR_LIVE *el, const float *samples, size_t n);
// A tone was heard at t_ms of the stream (milliseconds of samples fed): a message is under
// way. Until then only the last lead_ms of sound is kept.
void ear_live_heard(EAR_LIVE *el, double t_ms);
// A silence was heard between two tones, from from_ms to to_ms of the stream: where a long
// message's live reading may be cut (at a word gap).
void ear_live_gap(EAR_LIVE *el, double from_ms, double to_ms);
// The stream time fed so far, in ms.
double ear_live_time_ms(const EAR_LIVE *el);
// Reads the message so far into text (size bytes, messages joined by a space) and its dot-dash
// form into symbols (may be null); *unit_ms gets the unit of its last part (may be null).
// 1 when the reading is shown; 0 while it is held back (nothing heard, or not for hold_ms),
// with empty texts; -1 when out of memory.
int ear_live_read(EAR_LIVE *el, char *text, size_t size, char *symbols, size_t symbols_size,
                  double *unit_ms);
// Ends the message under way: reads all of its sound and hands every message found in it to
// fn in time order, then starts afresh (the stream's clock goes on). The number of messages
// (0 for a message that was noise only), or -1 when out of memory.
int ear_live_end(EAR_LIVE *el, EAR_MESSAGE_FN fn, void *user);
