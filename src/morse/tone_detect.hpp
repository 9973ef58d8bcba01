// src/morse/tone_detect.hpp: hears Morse in sound. Finds a keyed tone by itself (anywhere from
// 300 to 1200 Hz by default), follows its level against the noise around it, and turns it into
// key edges for the decoder (decoder_key) or for any other listener. It knows nothing of where
// the sound comes from (a file, a microphone) and nothing of the screens. One allocation per
// detector; nothing allocates while samples are processed. No lock: one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>

struct MORSE_DECODER;

// Called for every key edge found: the tone came on (down 1) or went off (down 0) at t_ms,
// in milliseconds of the stream (samples processed since creation or reset, at the input rate).
typedef void (*TONE_EDGE_FN)(double t_ms, int down, void *user);

// How a detector listens. tone_detect_config_default gives the defaults noted below.
struct TONE_DETECT_CONFIG {
    uint32_t rate;         // input sample rate in Hz (8000); any rate from 2000 Hz up
    float min_hz, max_hz;  // where the tone is looked for (300, 1200)
    uint32_t history_ms;   // sound kept for reading again once a tone is found (1500; at most 3500)
    uint32_t lookahead_ms; // how far the keying lags the search: a late decision to follow
                           // another tone still catches its start (0; at most history_ms)
    uint32_t unlock_ms;    // silence after which the tone is let go and looked for afresh (8000)
    TONE_EDGE_FN on_edge;  // receives the edges (may be null)
    void *user;            // handed to on_edge
};

// A snapshot for meters. Levels are in dB relative to a full-scale tone's power.
struct TONE_STATUS {
    float hz;        // the tone followed, 0 while none is
    int locked;      // a tone is being followed
    int on;          // the tone is on now
    int has_signal;  // the tone stands far enough above the noise to be read
    float level_db;  // the tone's current level
    float noise_db;  // the noise in the detector's band
    float signal_db; // the level of the tone's marks
    float th_on_db;  // switch-on level
    float th_off_db; // switch-off level
    double time_ms;  // how far the keying has been decided (see tone_detect_time_ms)
};

struct TONE_DETECT; // opaque: its record lives in tone_detect.cpp

// Writes the defaults listed with TONE_DETECT_CONFIG.
void tone_detect_config_default(TONE_DETECT_CONFIG *cfg);
// A detector using a copy of cfg (the defaults when null; out-of-range values are clamped), or
// null when out of memory or the rate is below 2000 Hz.
TONE_DETECT *tone_detect_new(const TONE_DETECT_CONFIG *cfg);
// Frees the detector and nulls the caller's pointer; null-safe.
void tone_detect_free(TONE_DETECT **td);
// Back to a fresh start at stream time 0, configuration kept.
void tone_detect_reset(TONE_DETECT *td);
// Processes n samples (full scale 1). Edges are reported through on_edge before it returns, in
// time order, each never earlier than the time returned by tone_detect_time_ms before the call.
void tone_detect_process(TONE_DETECT *td, const float *samples, size_t n);
// The stream time up to which the keying is decided: no later edge will be earlier. A listener
// may advance its clock (decoder_tick) to here. It trails the input while no tone is followed
// (by history_ms, so that a tone found later is read from its start), by lookahead_ms while
// one is, and further while the speed of a tone just found (or heard again after three seconds
// of silence) is learnt: from its first mark for 1.2 to 5 s, the longer the slower the Morse.
double tone_detect_time_ms(const TONE_DETECT *td);
// The end of the stream: decides the keying of everything processed so far.
void tone_detect_flush(TONE_DETECT *td);
// The unit of the Morse being read (the decoder's estimate; 0 when unknown). The detector
// learns the unit itself and smooths the level over a part of it, so that slow Morse gains the
// narrower band it allows; this one serves only while the detector's own is unknown.
void tone_detect_set_unit(TONE_DETECT *td, double unit_ms);
// Follows hz from now on instead of searching (0 searches again); the tone followed may still
// settle up to 40 Hz away, on the pitch heard.
void tone_detect_set_fixed_hz(TONE_DETECT *td, float hz);
// Fills out with the current tone, levels and thresholds.
void tone_detect_status(const TONE_DETECT *td, TONE_STATUS *out);

// Ready-made edge receiver for a decoder: user is the MORSE_DECODER, each edge is decoder_key.
void tone_detect_edge_to_decoder(double t_ms, int down, void *user);
// Brings a decoder fed by tone_detect_edge_to_decoder up to date after a tone_detect_process:
// advances its clock to tone_detect_time_ms (so silence can end a message) and passes its unit
// back to the detector.
void tone_detect_sync_decoder(TONE_DETECT *td, MORSE_DECODER *dec);
