// bench/ear_bound_bench.cpp: how many characters even a reader told far more than the ear is
// could not help getting wrong, at the SNRs and speeds of the accuracy benchmark.
//
// The reader is told where each letter starts, the unit to the sample, the tone's level and the
// noise's, and which letters the messages use and how often; the rest of the recording (the
// letters before and after) is taken out for it, so it weighs each letter's possible codes
// against the sound alone. Of the ways to read a letter, it takes the likeliest (maximum a
// posteriori), which no reader that knows less can beat on average. Its character errors are
// therefore a floor under any reading of these messages: the ear, which must also find the
// letters' starts, the unit and the levels, and tell letter gaps from word gaps, errs at least
// this often. Keying is square (no edges), which makes it easier still.
//
// Two kinds of tone: one whose phase runs on from mark to mark, known to the reader (the tests'
// and the Python generator keep one oscillator; the ear learns its phase across marks), and one
// that starts each element at a phase of its own (sox's synth restarts per element), where the
// reader can only weigh each mark's energy. SNR is key-down, in a 500 Hz band, as the accuracy
// benchmark sets it: a unit's energy over the noise's density is SNR x 500 Hz x the unit.
#include <cmath>
#include <complex>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/ear_bench_texts.hpp"
#include "morse/morse_table.hpp"

namespace {

// A letter's way of being keyed, in units: on or off for each, its letter gap after.
struct CODE {
    char c;
    double log_prior;
    std::vector<int> marks; // the length of each mark, in units
};

// Every letter the messages use, with its share of them.
std::vector<CODE> codes_of_texts() {
    int count[128] = {}, total = 0;
    for (const char *text : EAR_BENCH_TEXTS)
        for (const char *p = text; *p; p++)
            if (*p != ' ') {
                count[(unsigned char)*p]++;
                total++;
            }
    std::vector<CODE> codes;
    for (int c = 0; c < 128; c++) {
        if (!count[c]) continue;
        CODE k{(char)c, log((double)count[c] / total), {}};
        for (const char *e = morse_code_of((uint32_t)c); e && *e; e++)
            k.marks.push_back(*e == '-' ? 3 : 1);
        codes.push_back(k);
    }
    return codes;
}

// The units a code takes, its letter gap of three included.
int units_of(const CODE &k) {
    int n = 0;
    for (int m : k.marks) n += m + 1;
    return n + 2;
}

// ln I0(x), past where the Bessel function overflows by its asymptote.
double ln_i0(double x) {
    return x < 500 ? log(std::cyl_bessel_i(0.0, x)) : x - 0.5 * log(2 * M_PI * x);
}

// How much likelier the sums y (one per unit, noise of unit power) are with code k keyed at
// amplitude a than with no tone at all; with the tone's phase known (0) or each mark's its own.
double log_odds(const CODE &k, const std::vector<std::complex<double>> &y, double a,
                bool coherent) {
    double v = 0;
    size_t at = 0;
    for (int m : k.marks) {
        std::complex<double> sum = 0;
        for (int u = 0; u < m; u++) sum += y[at + (size_t)u];
        v += (coherent ? 2 * a * sum.real() : ln_i0(2 * a * std::abs(sum))) - m * a * a;
        at += (size_t)m + 1;
    }
    return v;
}

// The share of letters the best reader gets wrong, over rounds of every letter of the messages.
double floor_cer(const std::vector<CODE> &codes, double snr_db, int wpm, bool coherent, int rounds,
                 std::mt19937_64 &rng) {
    double unit_s = 1.2 / wpm, es = pow(10.0, snr_db / 10.0) * 500.0 * unit_s, a = sqrt(es);
    int window = 0;
    for (const CODE &k : codes) window = std::max(window, units_of(k));
    std::normal_distribution<double> noise(0.0, sqrt(0.5));
    std::uniform_real_distribution<double> turn(0.0, 2 * M_PI);
    std::vector<std::complex<double>> y((size_t)window);
    long wrong = 0, all = 0;
    for (int r = 0; r < rounds; r++)
        for (const char *text : EAR_BENCH_TEXTS)
            for (const char *p = text; *p; p++) {
                if (*p == ' ') continue;
                const CODE *sent = nullptr;
                for (const CODE &k : codes)
                    if (k.c == *p) sent = &k;
                for (auto &v : y) v = {noise(rng), noise(rng)};
                size_t at = 0;
                for (int m : sent->marks) {
                    std::complex<double> tone = coherent ? a : std::polar(a, turn(rng));
                    for (int u = 0; u < m; u++) y[at + (size_t)u] += tone;
                    at += (size_t)m + 1;
                }
                const CODE *best = nullptr;
                double best_v = -HUGE_VAL;
                for (const CODE &k : codes) {
                    double v = k.log_prior + log_odds(k, y, a, coherent);
                    if (v > best_v) {
                        best_v = v;
                        best = &k;
                    }
                }
                wrong += best != sent;
                all++;
            }
    return 100.0 * (double)wrong / (double)all;
}

} // namespace

int main() {
    std::vector<CODE> codes = codes_of_texts();
    std::mt19937_64 rng(7);
    const double SNRS[] = {3, 0, -3, -6};
    const int SPEEDS[] = {15, 25, 35};
    printf("Floor of the character error rate (%%) of any reading: letter starts, unit and levels "
           "known, the messages' own letters and shares (%zu letters), square keying\n",
           codes.size());
    for (int coherent = 1; coherent >= 0; coherent--) {
        printf("\n%s\n  WPM", coherent ? "phase running on from mark to mark, known"
                                       : "each element at a phase of its own (sox)");
        for (double snr : SNRS) printf("  %+5.0f dB", snr);
        printf("\n");
        for (int wpm : SPEEDS) {
            printf("  %3d", wpm);
            for (double snr : SNRS)
                printf("  %8.2f", floor_cer(codes, snr, wpm, coherent, 200, rng));
            printf("\n");
        }
    }
    return 0;
}
