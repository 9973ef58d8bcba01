// tests/support/morse_signal.hpp: synthetic Morse signals for decoder tests and benchmarks.
// Turns a built sequence into the on/off runs of a (seeded, randomly imperfect) operator, the
// key edges of those runs, and the brightness samples a camera would see of them. Header-only,
// so that the benchmarks (which do not link the test helpers) can use it too.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "morse/decoder.hpp"
#include "morse/morse_table.hpp"
#include "morse/sequencer.hpp"

// How an operator times the elements of a sequence. All lengths are in units of the current
// speed; each element and gap is scaled by 1 + N(0, sigma) (never below a quarter).
struct HAND_MODEL {
    double unit_ms = 100;     // dot length
    double sigma = 0;         // relative jitter of every element and gap
    double dash_units = 3;    // personal dash ratio
    double sym_gap_units = 1; // gap inside a letter
    double letter_units = 3;  // gap between letters
    double word_units = 7;    // gap between words
    double unit2_ms = 0;      // non-zero: the speed changes to this unit halfway through
    double drift = 0;         // the unit goes steadily from (1 - drift) to (1 + drift) times itself
    uint64_t seed = 1;
};

// Timing of the two gaps for Farnsworth spacing: characters at char_wpm, the whole text at
// eff_wpm (PARIS), the extra time spread over the gaps in the proportion 3 : 7.
inline void farnsworth_gaps(double char_wpm, double eff_wpm, double *letter_units,
                            double *word_units) {
    double unit = 1200.0 / char_wpm;
    double delay_ms = (60.0 * char_wpm - 37.2 * eff_wpm) / (char_wpm * eff_wpm) * 1000.0;
    *letter_units = 3.0 * delay_ms / 19.0 / unit;
    *word_units = 7.0 * delay_ms / 19.0 / unit;
}

// The runs (mark first, alternating, no trailing space) an operator of model m keys for seq.
inline std::vector<RUN> hand_runs(const MORSE_SEQUENCE *seq, const HAND_MODEL &m) {
    std::vector<RUN> runs;
    if (!seq) return runs;
    std::mt19937_64 rng(m.seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    // The speed step falls on the first gap between characters past the middle.
    size_t step_at = seq->count;
    if (m.unit2_ms > 0) {
        for (size_t i = seq->count / 2; i < seq->count; i++) {
            if (seq->events[i].state >= MORSE_LETTER_GAP) {
                step_at = i;
                break;
            }
        }
    }
    for (size_t i = 0; i < seq->count; i++) {
        double units = 1;
        switch (seq->events[i].state) {
        case MORSE_DOT:
            units = 1;
            break;
        case MORSE_DASH:
            units = m.dash_units;
            break;
        case MORSE_SYM_GAP:
            units = m.sym_gap_units;
            break;
        case MORSE_LETTER_GAP:
            units = m.letter_units;
            break;
        case MORSE_WORD_GAP:
            units = m.word_units;
            break;
        }
        double unit = i >= step_at ? m.unit2_ms : m.unit_ms;
        if (m.drift != 0 && seq->count > 1)
            unit *= 1 - m.drift + 2 * m.drift * (double)i / (double)(seq->count - 1);
        double scale = m.sigma > 0 ? std::max(0.25, 1.0 + m.sigma * gauss(rng)) : 1.0;
        runs.push_back(RUN{seq->events[i].state < MORSE_SYM_GAP ? 1 : 0, units * unit * scale});
    }
    return runs;
}

// Exact machine timing of a sequence: its own event durations.
inline std::vector<RUN> sequence_runs(const MORSE_SEQUENCE *seq) {
    std::vector<RUN> runs;
    if (!seq) return runs;
    for (size_t i = 0; i < seq->count; i++) {
        runs.push_back(
            RUN{seq->events[i].state < MORSE_SYM_GAP ? 1 : 0, (double)seq->events[i].duration_ms});
    }
    return runs;
}

// One key edge: the key went down (1) or up (0) at t ms.
struct KEY_EDGE_AT {
    double t;
    int down;
};

// The edges of runs keyed from t0 on: one edge at the start of every run and one after the end.
inline std::vector<KEY_EDGE_AT> runs_to_edges(const std::vector<RUN> &runs, double t0) {
    std::vector<KEY_EDGE_AT> edges;
    double t = t0;
    for (const RUN &r : runs) {
        edges.push_back(KEY_EDGE_AT{t, r.on});
        t += r.ms;
    }
    if (!runs.empty()) edges.push_back(KEY_EDGE_AT{t, 0});
    return edges;
}

// A camera watching a light: frames at fps, each integrating the light over the exposure before
// its time stamp, between the levels dark and bright, plus Gaussian noise and time-stamp jitter.
// A real room adds two slow troubles: the background light drifts (a cloud, a lamp switched on:
// the ambient level adds to dark and bright alike), and a lamp that blooms keeps glowing after
// it is switched off, fading exponentially, so the camera sees every mark longer, with a soft
// trailing edge. Values are clipped to the 0-255 range of a camera.
struct LIGHT_MODEL {
    double fps = 30;
    double exposure = 1.0; // fraction of the frame interval the shutter is open
    float dark = 40, bright = 200;
    double noise = 0;     // standard deviation of the brightness, in levels
    double jitter_ms = 0; // standard deviation of the frame times
    double lead_ms = 2000;
    double tail_ms = 6000;
    double drift = 0;               // levels the background rises and falls by
    double drift_period_ms = 60000; // one rise and fall (the phase follows the seed)
    double afterglow_ms = 0;        // time constant of the lamp's fading after a mark
    uint64_t seed = 1;
};

struct LIGHT_SAMPLE {
    double t;
    float luma;
};

// The light a lamp gives off over [a, b], in full-light milliseconds: the marks themselves plus
// the fading glow after each, which lasts until the next mark starts (the lamp is then full on
// again). Marks and their glow wholly before a are skipped from *first on, which only grows.
inline double lamp_light(const std::vector<double> &starts, const std::vector<double> &ends,
                         double afterglow_ms, double a, double b, size_t *first) {
    auto glow_end = [&](size_t i) {
        double next = i + 1 < starts.size() ? starts[i + 1] : 1e300;
        return afterglow_ms > 0 ? std::min(next, ends[i] + 20 * afterglow_ms) : ends[i];
    };
    while (*first < ends.size() && glow_end(*first) <= a) (*first)++;
    double lit = 0;
    for (size_t i = *first; i < starts.size() && starts[i] < b; i++) {
        lit += std::max(0.0, std::min(ends[i], b) - std::max(starts[i], a));
        if (afterglow_ms <= 0) continue;
        double g0 = std::max(ends[i], a), g1 = std::min(glow_end(i), b);
        if (g1 > g0) {
            lit += afterglow_ms * (std::exp(-(g0 - ends[i]) / afterglow_ms) -
                                   std::exp(-(g1 - ends[i]) / afterglow_ms));
        }
    }
    return lit;
}

inline std::vector<LIGHT_SAMPLE> runs_to_light(const std::vector<RUN> &runs, const LIGHT_MODEL &m) {
    std::vector<double> starts, ends; // the marks, in ms from the first frame
    double t = m.lead_ms;
    for (const RUN &r : runs) {
        if (r.on) {
            starts.push_back(t);
            ends.push_back(t + r.ms);
        }
        t += r.ms;
    }
    double total = t + m.tail_ms, frame = 1000.0 / m.fps, open = frame * m.exposure;
    std::mt19937_64 rng(m.seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    // Its own stream, so that a drift leaves the noise of a case unchanged.
    std::mt19937_64 phase_rng(m.seed ^ 0x9e3779b97f4a7c15ull);
    double phase = std::uniform_real_distribution<double>(0.0, 2 * M_PI)(phase_rng);
    std::vector<LIGHT_SAMPLE> samples;
    size_t first = 0;
    double prev = -1e9;
    for (size_t k = 0; k * frame <= total; k++) {
        double tk = k * frame + (m.jitter_ms > 0 ? m.jitter_ms * gauss(rng) : 0.0);
        tk = std::max(tk, prev + 1.0); // a camera never stamps frames out of order
        prev = tk;
        double lit = lamp_light(starts, ends, m.afterglow_ms, tk - open, tk, &first);
        double v = m.dark + (m.bright - m.dark) * (open > 0 ? lit / open : 0.0);
        if (m.drift != 0) {
            v += m.drift * 0.5 * (1 - std::cos(2 * M_PI * tk / m.drift_period_ms + phase));
        }
        if (m.noise > 0) v += m.noise * gauss(rng);
        samples.push_back(LIGHT_SAMPLE{tk, (float)std::clamp(v, 0.0, 255.0)});
    }
    return samples;
}

// What a receiver makes of camera samples: the messages the decoder hands out (the last one
// taken at the end), and what its meter showed.
struct LIGHT_READING {
    std::vector<std::string> messages;
    size_t signal_frames = 0; // frames from skip_ms on that showed a signal
    bool signal_at_end = false;
};

inline LIGHT_READING read_light(const std::vector<LIGHT_SAMPLE> &samples, double skip_ms = 0) {
    LIGHT_READING r;
    MORSE_DECODER *d = decoder_new(nullptr);
    if (!d) return r;
    DECODED_MESSAGE m{};
    DECODER_STATUS st{};
    for (const LIGHT_SAMPLE &s : samples) {
        decoder_feed(d, s.t, s.luma);
        decoder_status(d, &st);
        r.signal_frames += s.t >= skip_ms && st.has_signal;
        if (decoder_poll_message(d, &m)) r.messages.push_back(m.text);
    }
    r.signal_at_end = st.has_signal;
    if (decoder_finish(d, &m)) r.messages.push_back(m.text);
    decoder_free(&d);
    return r;
}

// Edit distance between two UTF-8 texts, counted in code points.
inline size_t morse_text_distance(const std::string &a, const std::string &b) {
    auto points = [](const std::string &s) {
        std::vector<uint32_t> cps;
        const char *p = s.c_str();
        for (uint32_t cp; (cp = morse_utf8_next(&p)) != 0;) cps.push_back(cp);
        return cps;
    };
    std::vector<uint32_t> x = points(a), y = points(b);
    std::vector<size_t> row(y.size() + 1), next(y.size() + 1);
    for (size_t j = 0; j <= y.size(); j++) row[j] = j;
    for (size_t i = 1; i <= x.size(); i++) {
        next[0] = i;
        for (size_t j = 1; j <= y.size(); j++) {
            size_t sub = row[j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1);
            next[j] = std::min({sub, row[j] + 1, next[j - 1] + 1});
        }
        std::swap(row, next);
    }
    return row[y.size()];
}

// Code points in a UTF-8 text.
inline size_t morse_text_length(const std::string &s) {
    size_t n = 0;
    const char *p = s.c_str();
    while (morse_utf8_next(&p) != 0) n++;
    return n;
}
