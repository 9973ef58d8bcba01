// src/morse/ear.hpp: reads Morse in a whole recording with hindsight. The sound is gathered
// first; then the tones keyed in it are found, each station's stretch of keying is measured as
// a whole (tone, levels, speed) and only then read, so its first letter is read with what its
// last one taught. Several stations in one recording come out as separate messages in order,
// each with its own speed, tone and level. It knows nothing of where the sound comes from.
// No lock: one thread at a time per reader.
#pragma once
#include <cstddef>
#include <cstdint>

// One message heard. The texts live until the callback returns.
struct EAR_MESSAGE {
    double start_ms;     // its first mark, in ms of the stream
    double end_ms;       // the end of its last mark
    double unit_ms;      // the unit its letters were keyed at
    float tone_hz;       // the tone it was keyed on
    float level_db;      // its marks' level, dB relative to a full-scale tone
    const char *text;    // what it says
    const char *symbols; // its dot-dash form (" " between letters, " / " between words)
};

typedef void (*EAR_MESSAGE_FN)(const EAR_MESSAGE *m, void *user);

// How a reader listens. ear_config_default gives the defaults noted below.
struct EAR_CONFIG {
    uint32_t rate;        // input sample rate in Hz (8000); any rate from 2000 Hz up
    float min_hz, max_hz; // where tones are looked for (300, 1200)
    float fixed_hz;       // non-zero: only this tone is read (0)
};

struct EAR; // opaque: its record lives in ear.cpp

// Writes the defaults listed with EAR_CONFIG.
void ear_config_default(EAR_CONFIG *cfg);
// A reader using a copy of cfg (the defaults when null), or null when out of memory or the
// rate is below 2000 Hz.
EAR *ear_new(const EAR_CONFIG *cfg);
// Frees the reader and nulls the caller's pointer; null-safe.
void ear_free(EAR **ear);
// Adds n samples (mono, full scale 1) to the recording. 0, or -1 when out of memory (what
// was added before is kept).
int ear_feed(EAR *ear, const float *samples, size_t n);
// Reads everything fed so far and hands every message to fn in time order; the recording is
// then forgotten, ready for the next. The number of messages, or -1 when out of memory.
int ear_finish(EAR *ear, EAR_MESSAGE_FN fn, void *user);
