// src/morse/sequencer.hpp: the timing settings of sent Morse and the timed on/off sequence that
// every output plays from, so that light, tone, flashlight and vibration keep one rhythm.
#pragma once
#include <cstddef>
#include <cstdint>

// Speed and proportions of sent Morse. A dot and the gap inside a letter are always one unit.
struct MORSE_TIMING {
    uint32_t unit_ms;          // 20 to 2000, default 100
    uint32_t dash_units;       // 2 to 6, default 3
    uint32_t letter_gap_units; // 2 to 10, default 3
    uint32_t word_gap_units;   // 4 to 20, default 7
};

// A state below MORSE_SYM_GAP means the signal is on.
enum MORSE_STATE {
    MORSE_DOT = 0,
    MORSE_DASH = 1,
    MORSE_SYM_GAP = 2,
    MORSE_LETTER_GAP = 3,
    MORSE_WORD_GAP = 4,
};

// One element of a sequence, tied to the source character it sends.
struct MORSE_EVENT {
    MORSE_STATE state;
    uint32_t units;
    uint32_t duration_ms; // units * the sequence's unit_ms (gaps longer under Farnsworth spacing)
    uint32_t start_ms;    // sum of the durations of all earlier events
    size_t text_offset;   // byte offset of the source character
    size_t text_len;      // byte length of the source character (0 for the closing gap)
};

// Alternating on/off events; the first is on, and the last is on until the sequence is closed.
struct MORSE_SEQUENCE {
    MORSE_EVENT *events;
    size_t count;
    uint32_t total_units;
    uint32_t total_ms;
    size_t skipped;      // characters of the text that could not be sent
    MORSE_TIMING timing; // sanitised copy the durations were computed from
};

// Writes the defaults: unit 100 ms, dash 3, letter gap 3, word gap 7.
void morse_timing_default(MORSE_TIMING *t);
// Clamps every field into its range; 1 when nothing changed, 0 when something was clamped.
int morse_timing_sanitize(MORSE_TIMING *t);
// Unit length in ms for a speed in words per minute (PARIS), rounded; 0 counts as 1.
uint32_t morse_wpm_to_unit_ms(uint32_t wpm);
// A new sequence for text, or null (null argument or out of memory). A text with nothing
// sendable gives an empty sequence, not null. Unsupported characters are counted in skipped.
MORSE_SEQUENCE *morse_sequence_build(const char *text, const MORSE_TIMING *timing);
// Farnsworth spacing: the length in ms of one unit of the gaps between characters and words
// that makes PARIS and its word gap last 60000 / effective_wpm ms while every character keeps
// t's speed. t's own unit when effective_wpm is 0 or no slower than t.
double morse_farnsworth_gap_unit_ms(const MORSE_TIMING *t, uint32_t effective_wpm);
// Stretches the letter and word gaps of seq to morse_farnsworth_gap_unit_ms of its timing and
// effective_wpm (each gap rounded to whole ms), moving every later event. Units are kept, so
// the dots and dashes and the gaps inside characters are unchanged. 1 on success; 0 when the
// stretched sequence would pass the 32-bit totals (seq unchanged).
int morse_sequence_spread(MORSE_SEQUENCE *seq, uint32_t effective_wpm);
// Ends the sequence with a word gap of units units (0 allowed) unless it already ends on a gap.
// 1 when the sequence now ends on a gap; 0 for an empty sequence or a failed growth (unchanged).
int morse_sequence_close(MORSE_SEQUENCE *seq, uint32_t units);
// Frees the sequence and nulls the caller's pointer; null-safe.
void morse_sequence_free(MORSE_SEQUENCE **seq);
// Index of the event running at t_ms; count at or after the end, 0 for an empty sequence.
size_t morse_sequence_event_at(const MORSE_SEQUENCE *seq, uint32_t t_ms);
// Writes the dot-dash form ("... --- ...", " / " between words), never cutting a piece;
// always NUL-terminated when out_size > 0. Returns the length written.
size_t morse_sequence_to_symbols(const MORSE_SEQUENCE *seq, char *out, size_t out_size);
// Vibration pattern: 0, then every event's duration (off, on, off, ...). Writes at most max
// values to out (which may be null) and returns the full length count + 1 (0 when empty).
size_t morse_sequence_on_off_ms(const MORSE_SEQUENCE *seq, uint32_t *out, size_t max);
