// src/morse/fist.hpp: a hand-keyed message's timing, measured from the elements the decoder
// read: speed and how steady it stays, the dash-to-dot ratio and the three gaps against the
// standard 3, 1, 3 and 7, and the largest fault among them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "morse/sequencer.hpp"

// What is most wrong with the timing; FIST_GOOD when everything is within FIST_TOLERANCE.
enum FIST_FAULT {
    FIST_GOOD = 0,
    FIST_DASH_SHORT = 1,
    FIST_DASH_LONG = 2,
    FIST_ELEMENT_GAP_SHORT = 3,
    FIST_ELEMENT_GAP_LONG = 4,
    FIST_LETTER_GAP_SHORT = 5,
    FIST_LETTER_GAP_LONG = 6,
    FIST_WORD_GAP_SHORT = 7,
    FIST_WORD_GAP_LONG = 8,
    FIST_SPEEDING_UP = 9,
    FIST_SLOWING_DOWN = 10,
    FIST_UNEVEN = 11,
    FIST_FAULT_COUNT = 12,
};

// A proportion this far from the standard (either way) is still good keying.
constexpr double FIST_TOLERANCE = 0.15;

struct FIST_REPORT {
    uint32_t dots, dashes, element_gaps, letter_gaps, word_gaps, letters;
    double unit_ms; // the dot (median); a third of the median dash when there are no dots
    double wpm;     // 1200 / unit_ms
    double start_wpm, end_wpm; // speed fitted over the letters, at the first and at the last
    double unevenness; // spread of the marks around their kind's length at that speed (0.1: 10 %)
    // Mean lengths, the dash against the mean dot, the gaps in units; 0 when none was keyed.
    double dash_ratio, element_gap, letter_gap, word_gap;
    FIST_FAULT fault;
    double measured, standard; // the fault's figure and what it should be (speeds: start, end)
};

// Measures n runs (kinds[i] is what run i was read as, ms[i] its length). 0 with *out zeroed
// when there is no mark to measure; 1 otherwise.
int fist_measure(const MORSE_STATE *kinds, const double *ms, size_t n, FIST_REPORT *out);
