// src/morse/decoder_private.hpp: the decoder's record, shared by the run recorder
// (decoder.cpp) and the timing estimation (decoder_estimate.cpp). Not for other modules.
#pragma once
#include "morse/decoder.hpp"

// A message holds at most this many runs; later runs are dropped until it is taken.
constexpr size_t DECODER_MAX_RUNS = 4096;
// At most this many spaces take part in one clustering (the most recent ones).
constexpr size_t DECODER_MAX_CLUSTER = 256;
// Samples whose differences give the noise estimate.
constexpr size_t DECODER_NOISE_RING = 32;

// Everything a decoder works with lives in this one zero-filled block, the scratch arrays of
// the estimation included, so decoding never allocates.
struct MORSE_DECODER {
    DECODER_CONFIG cfg;
    int primed;    // the first sample or edge has been seen
    double t_last; // time of the latest sample or edge (caller's ms)

    // Light input.
    float luma, lo, hi; // latest sample and the two baselines
    float noise;        // sample noise estimated before the first mark
    float diffs[DECODER_NOISE_RING];
    size_t ndiffs;
    int cand;            // state a pending transition goes to
    double cand_edge;    // time of the pending edge
    int cand_frames;     // frames that voted for it (0: nothing pending)
    double frame_ms;     // smoothed interval between samples
    float luma_before;   // the sample before luma
    double t_up, t_down; // latest crossings of the middle level, rising and falling
    int quiet;           // settled dark samples in a row up to luma (fit for the noise figure)

    int on;         // current state
    double t_state; // time at which it began

    RUN runs[DECODER_MAX_RUNS]; // the runs of the current message
    size_t nruns;
    int merge_next; // the next run belongs to the last one (a glitch came between)

    double unit, bias; // estimated unit and mark/space bias
    double last_run;   // duration of the latest run given to the recorder
    double th_dash, th_letter, th_word, th_letter_dash, th_word_dash;
    double prev_dot; // unit of the previous hand-keyed message

    double scratch_on[DECODER_MAX_RUNS];
    double scratch_off[DECODER_MAX_RUNS];
    double scratch_off_dot[DECODER_MAX_RUNS];
    double scratch_off_dash[DECODER_MAX_RUNS];
    double scratch_gap[2 * (DECODER_MAX_CLUSTER + 1)];
};

// Sets unit, bias and the five thresholds from the runs of the current message.
void _estimate(MORSE_DECODER *d);
