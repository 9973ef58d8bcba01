// src/morse/decoder.hpp: the adaptive Morse decoder. Brightness samples (camera) or key edges
// (hand keying) become runs of on and off time; after every run the timing is estimated again
// from the whole message and the message is decoded anew, so early letters are re-read once the
// speed is known. One allocation per decoder; nothing allocates while decoding. No lock: one
// thread at a time per decoder.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "morse/sequencer.hpp"

// How a decoder reads its input. decoder_config_default gives the defaults noted below.
struct DECODER_CONFIG {
    uint32_t eom_timeout_ms; // off time after the last mark that ends a message (5000)
    uint32_t min_unit_ms;    // lowest unit; shortest first mark before a unit is known (20)
    uint32_t max_unit_ms;    // highest unit of light input (2000)
    float min_contrast;      // smallest brightness range that counts as a signal (12)
    float baseline_tau_ms;   // time constant of the brightness baselines (2000)
    int human;               // 1 for hand keying: human timing and the bounce filter (0)
    uint32_t fixed_unit_ms;  // non-zero: the unit is fixed and nothing is estimated (0)
    uint32_t bounce_ms;      // contact bounce of a hand key (15)
};

// One stretch of constant signal: a mark (on 1) or a space (on 0), in milliseconds.
struct RUN {
    int on;
    double ms;
};

// A decoded message: text, its dot-dash form (" " between letters, " / " between words) and
// the unit it was read with (0 when nothing could be read).
struct DECODED_MESSAGE {
    char text[1024];
    char symbols[4096];
    uint32_t unit_ms;
};

// A snapshot for meters and overlays.
struct DECODER_STATUS {
    float luma, lo, hi;   // latest sample and the two baselines
    float th_on, th_off;  // switch-on and switch-off levels
    int on;               // current signal state
    int has_signal;       // the brightness range is large enough to trust
    uint32_t unit_ms;     // estimated unit, rounded
    uint32_t last_run_ms; // duration of the latest run, rounded
    int receiving;        // a message is under way
};

// The classes found among one family of spaces (those after a dot, or after a dash).
struct GAP_CLASSES {
    double th_letter, th_word; // proposed thresholds of this family
    double sym;                // typical gap inside a letter, 0 when none was identified
    size_t n;                  // spaces used
    int classes;               // 0 (no data) to 3
    int word;                  // 1 when the upper class holds word gaps
    double lo, hi;             // shortest and longest space used
    double mean;               // geometric mean of the spaces used
};

struct MORSE_DECODER; // opaque: its record lives in decoder_private.hpp

// Writes the defaults listed with DECODER_CONFIG.
void decoder_config_default(DECODER_CONFIG *cfg);
// A new decoder using a copy of cfg (the defaults when cfg is null), or null when out of memory.
MORSE_DECODER *decoder_new(const DECODER_CONFIG *cfg);
// Frees the decoder and nulls the caller's pointer; null-safe.
void decoder_free(MORSE_DECODER **dec);
// Forgets everything but the configuration, the learnt speed included.
void decoder_reset(MORSE_DECODER *dec);
// One brightness sample at t_ms; samples that do not move time forward are ignored.
void decoder_feed(MORSE_DECODER *dec, double t_ms, float luma);
// The key went down (down non-zero) or up at t_ms; time never runs backwards.
void decoder_key(MORSE_DECODER *dec, double t_ms, int down);
// Time has advanced to t_ms without an edge (lets a keyed message end on silence).
void decoder_tick(MORSE_DECODER *dec, double t_ms);
// Decodes the message so far into out without consuming it.
void decoder_live(const MORSE_DECODER *dec, DECODED_MESSAGE *out);
// 1 and the finished message in out once the end-of-message silence has passed; else 0 and out
// is left untouched.
int decoder_poll_message(MORSE_DECODER *dec, DECODED_MESSAGE *out);
// Ends the current message now (closing a mark still held); 1 when its text is not empty.
int decoder_finish(MORSE_DECODER *dec, DECODED_MESSAGE *out);
// The runs of the message last handed out by decoder_poll_message or decoder_finish, as keyed
// (the recorded durations, before any rescaling to one speed), each with what the decoder read
// it as (MORSE_DOT to MORSE_WORD_GAP); silence before the first and after the last mark is left
// out. Writes at most max of each (either array may be null when max is 0) and returns how many
// there are.
size_t decoder_last_elements(const MORSE_DECODER *dec, MORSE_STATE *kinds, double *ms, size_t max);
// Fills out with the current levels, state and timing.
void decoder_status(const MORSE_DECODER *dec, DECODER_STATUS *out);
// Writes one line with the unit, the bias and every run of the current message to f.
void decoder_dump(const MORSE_DECODER *dec, FILE *f);
