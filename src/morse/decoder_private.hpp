// src/morse/decoder_private.hpp: the decoder's record, shared by the run recorder
// (decoder.cpp) and the timing estimation (decoder_estimate.cpp). Not for other modules.
#pragma once
#include "morse/decoder.hpp"

// A message holds at most this many runs; later runs are dropped until it is taken.
constexpr size_t DECODER_MAX_RUNS = 4096;
// Runs alternate from a mark on, so a message holds at most this many marks.
constexpr size_t DECODER_MAX_MARKS = DECODER_MAX_RUNS / 2 + 1;
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
    float noise;        // sample noise, measured on settled dark frames
    float diffs[DECODER_NOISE_RING];
    size_t ndiffs;
    int cand;         // state a pending transition goes to
    double cand_edge; // time of the pending edge
    int cand_frames;  // frames that voted for it (0: nothing pending)
    double frame_ms;  // smoothed interval between samples

    // Light input: where edges fall and which frames measure the noise.
    float luma_before;   // the sample before luma
    double t_up, t_down; // latest crossings of the middle level, rising and falling
    int quiet;           // settled dark samples in a row up to luma (fit for the noise figure)

    int on;         // current state
    double t_state; // time at which it began

    RUN runs[DECODER_MAX_RUNS]; // the runs of the current message
    size_t nruns;
    int merge_next; // the next run belongs to the last one (a glitch came between)
    // Hand keying: the glitch's time lent to the last run, taken back when the next run is short
    // too (a bounce at an edge), and a bounce's time owed to the run that follows it.
    double lent, carry;

    double unit, bias; // estimated unit and mark/space bias
    double last_run;   // duration of the latest run given to the recorder
    double th_dash, th_letter, th_word, th_letter_dash, th_word_dash;
    double prev_dot; // unit of the previous hand-keyed message

    double scratch_on[DECODER_MAX_RUNS];
    double scratch_off[DECODER_MAX_RUNS];
    double scratch_off_dot[DECODER_MAX_RUNS];
    double scratch_off_dash[DECODER_MAX_RUNS];
    double scratch_gap[2 * (DECODER_MAX_CLUSTER + 1)];

    // Following a hand-keying operator whose speed changes within a message (decoder_follow.cpp).
    int follow_off;               // 1: one set of thresholds, fixed bounce limit (benchmarks)
    int following;                // the estimation and the decoding read `scaled`
    int uneven;                   // the thresholds come from the fitted model of very uneven keying
    RUN scaled[DECODER_MAX_RUNS]; // the runs brought to the speed of the latest mark
    double follow_mark[DECODER_MAX_MARKS];   // per mark: log duration
    double follow_th[DECODER_MAX_MARKS];     // per mark: local log dot/dash threshold
    double follow_ratio[DECODER_MAX_MARKS];  // per mark: local log dash/dot ratio
    double follow_unit[DECODER_MAX_MARKS];   // per mark: log of the local unit
    double follow_sample[DECODER_MAX_MARKS]; // per mark: log of its unit sample
    size_t follow_final;      // leading marks whose follow_th and follow_ratio are final
    size_t follow_unit_final; // leading marks whose follow_unit is final
    size_t follow_first;      // the first mark whose window held dots and dashes

    // The message last handed out, as read: each run's duration and element (MORSE_STATE).
    double last_ms[DECODER_MAX_RUNS];
    unsigned char last_kind[DECODER_MAX_RUNS];
    size_t nlast;
};

// The runs the estimation and the decoding read: the recorded ones, or their rescaled copy
// while the decoder follows a change of speed.
inline const RUN *_view(const MORSE_DECODER *d) {
    return d->following ? d->scaled : d->runs;
}

// Sets unit, bias and the five thresholds from the runs of the current message.
void _estimate(MORSE_DECODER *d);
// Hand keying: decides whether the speed changes within the message and, when it does, fills
// `scaled` with the runs brought to one speed and sets `following`.
void _follow(MORSE_DECODER *d);
// Hand keying: when the marks vary too much for the gap classes to be told apart by their
// spread alone, sets the unit and the thresholds from a model of Morse timing fitted to the
// message and returns 1; else changes nothing and returns 0.
int _estimate_uneven(MORSE_DECODER *d);
