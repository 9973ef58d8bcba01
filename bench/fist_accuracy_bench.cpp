// bench/fist_accuracy_bench.cpp: how closely the fist measured from the hand-keying decoder's
// reading matches the operator's scripted proportions, and how often the scripted fault is the
// one named. Two independently written operators key the same scripts: the tests' HAND_MODEL
// (Gaussian jitter, linear drift, contact chatter) and the one below, which builds its timing
// from the code table itself with log-normal jitter, a drift that follows the elapsed time, and
// a key that bounces on closing.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#include <benchmark/benchmark.h>

#include "morse/decoder.hpp"
#include "morse/fist.hpp"
#include "morse/morse_table.hpp"
#include "support/morse_signal.hpp"

namespace {

const char *const kTexts[] = {"CQ CQ DE PARIS TEST 73 KM5 QRL", "THE QUICK BROWN FOX JUMPS OVER",
                              "73 ES GL OM HW CPY 599 TU", "KMRSU EANPT LWI JZ FOYVG"};

struct Script {
    double dash = 3, sym = 1, letter = 3, word = 7, drift = 0, sigma = 0.05;
    FIST_FAULT fault = FIST_GOOD;
};

// The second operator: each element's length from the table, scaled by the unit of the moment
// (drifting with elapsed time) and by a log-normal factor; closings bounce for 2 to 6 ms.
std::vector<RUN> table_operator(const char *text, const Script &s, double unit, uint64_t seed) {
    std::mt19937 rng((uint32_t)seed * 7919u + 3);
    std::normal_distribution<double> n01(0, 1);
    std::uniform_real_distribution<double> bounce(2, 6);
    std::vector<RUN> runs;
    double total_est = 0;
    for (const char *p = text; *p; p++) total_est += *p == ' ' ? s.word : 10;
    double t = 0;
    auto push = [&](int on, double units) {
        double u = unit * (1 + s.drift * (2 * std::min(1.0, t / total_est) - 1));
        double ms = units * u * std::exp(s.sigma * n01(rng));
        if (on && ms > 20) {
            double b = bounce(rng);
            runs.push_back(RUN{1, b / 2});
            runs.push_back(RUN{0, b / 2});
            ms -= b;
        }
        if (!runs.empty() && runs.back().on == on)
            runs.back().ms += ms;
        else
            runs.push_back(RUN{on, ms});
        t += units;
    };
    bool first = true;
    for (const char *p = text; *p; p++) {
        if (*p == ' ') continue;
        const char *code = morse_code_of((uint32_t)(unsigned char)*p);
        if (!code) continue;
        if (!first) push(0, p > text && p[-1] == ' ' ? s.word : s.letter);
        first = false;
        for (const char *c = code; *c; c++) {
            if (c != code) push(0, s.sym);
            push(1, *c == '-' ? s.dash : 1);
        }
    }
    return runs;
}

std::vector<RUN> model_operator(const char *text, const Script &s, double unit, uint64_t seed) {
    MORSE_TIMING t;
    morse_timing_default(&t);
    t.unit_ms = (uint32_t)unit;
    MORSE_SEQUENCE *seq = morse_sequence_build(text, &t);
    HAND_MODEL m;
    m.unit_ms = unit;
    m.sigma = s.sigma;
    m.dash_units = s.dash;
    m.sym_gap_units = s.sym;
    m.letter_units = s.letter;
    m.word_units = s.word;
    m.drift = s.drift;
    m.chatter_ms = 3;
    m.seed = seed;
    std::vector<RUN> runs = hand_runs(seq, m);
    morse_sequence_free(&seq);
    return runs;
}

bool measure(const std::vector<RUN> &runs, FIST_REPORT *f) {
    DECODER_CONFIG cfg;
    decoder_config_default(&cfg);
    cfg.human = 1;
    MORSE_DECODER *d = decoder_new(&cfg);
    double t = 1000;
    for (const KEY_EDGE_AT &e : runs_to_edges(runs, t)) {
        decoder_key(d, e.t, e.down);
        t = e.t;
    }
    DECODED_MESSAGE msg;
    bool ok = decoder_finish(d, &msg) == 1;
    static MORSE_STATE kinds[8192];
    static double ms[8192];
    size_t n = decoder_last_elements(d, kinds, ms, 8192);
    ok = ok && fist_measure(kinds, ms, n, f);
    decoder_free(&d);
    return ok;
}

void BM_FistAccuracy(benchmark::State &state) {
    int which = (int)state.range(0);
    std::vector<Script> scripts;
    // Each fault well clear of the tolerance (or well inside it), so the expected name is sure.
    for (double dash : {2.2, 2.5, 2.85, 3.0, 3.8, 4.2}) scripts.push_back(Script{dash});
    for (double letter : {2.0, 2.4, 3.2, 4.0, 5.0}) scripts.push_back(Script{3, 1, letter});
    for (double word : {4.5, 5.5, 9.5}) scripts.push_back(Script{3, 1, 3, word});
    for (double drift : {0.15, 0.25}) scripts.push_back(Script{3, 1, 3, 7, drift});
    for (Script &s : scripts) {
        auto off = [](double m, double st) {
            return std::fabs(std::log(m / st)) > std::log(1 + FIST_TOLERANCE);
        };
        s.fault = off(s.dash, 3)     ? (s.dash < 3 ? FIST_DASH_SHORT : FIST_DASH_LONG)
                  : off(s.letter, 3) ? (s.letter < 3 ? FIST_LETTER_GAP_SHORT : FIST_LETTER_GAP_LONG)
                  : off(s.word, 7)   ? (s.word < 7 ? FIST_WORD_GAP_SHORT : FIST_WORD_GAP_LONG)
                  : s.drift > 0      ? FIST_SLOWING_DOWN
                                     : FIST_GOOD;
    }
    double err_dash = 0, err_letter = 0, err_word = 0, err_sym = 0, err_wpm = 0;
    int cases = 0, named = 0, failed = 0;
    for (auto _ : state) {
        err_dash = err_letter = err_word = err_sym = err_wpm = 0;
        cases = named = failed = 0;
        for (const Script &s : scripts) {
            for (const char *text : kTexts) {
                for (uint64_t seed = 1; seed <= 5; seed++) {
                    for (double unit : {50.0, 80.0, 120.0}) {
                        std::vector<RUN> runs = which == 0 ? model_operator(text, s, unit, seed)
                                                           : table_operator(text, s, unit, seed);
                        FIST_REPORT f;
                        if (!measure(runs, &f)) {
                            failed++;
                            continue;
                        }
                        cases++;
                        named += f.fault == s.fault;
                        if (getenv("FIST_BENCH_MISSES") && f.fault != s.fault)
                            fprintf(stderr,
                                    "script %.1f/%.1f/%.1f/%.1f drift %.2f: wanted %d, named %d "
                                    "(%.2f) op %d wpm %.1f to %.1f\n",
                                    s.dash, s.sym, s.letter, s.word, s.drift, s.fault, f.fault,
                                    f.measured, which, f.start_wpm, f.end_wpm);
                        err_dash += std::fabs(f.dash_ratio - s.dash) / s.dash;
                        err_sym += std::fabs(f.element_gap - s.sym) / s.sym;
                        err_letter += std::fabs(f.letter_gap - s.letter) / s.letter;
                        err_word += std::fabs(f.word_gap - s.word) / s.word;
                        if (s.drift == 0) err_wpm += std::fabs(f.wpm - 1200 / unit) / (1200 / unit);
                    }
                }
            }
        }
    }
    state.SetLabel(which == 0 ? "HAND_MODEL operator" : "code-table operator");
    double n = cases ? cases : 1;
    state.counters["cases"] = cases;
    state.counters["unmeasured"] = failed;
    state.counters["fault_named_pct"] = 100.0 * named / n;
    state.counters["dash_err_pct"] = 100 * err_dash / n;
    state.counters["elem_gap_err_pct"] = 100 * err_sym / n;
    state.counters["letter_gap_err_pct"] = 100 * err_letter / n;
    state.counters["word_gap_err_pct"] = 100 * err_word / n;
    state.counters["wpm_err_pct"] = 100 * err_wpm / n;
}
BENCHMARK(BM_FistAccuracy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
