// bench/ear_bound_bench.cpp: how well machine keying could be read by a reader told what the
// ear must find for itself, at the SNRs and speeds of the accuracy benchmark.
//
// The reader is told the unit, where each unit begins, the tone's level and the noise's, and
// which letters the messages use and how often (or, as the ear, the whole table at the ear's
// odds: those that are not in the messages then cost it too); not where the letters are. It reads
// each whole message as the likeliest chain of letters, each followed by a letter gap or a word gap
// (a dynamic programme over the units), and is scored as the ear is, by edit distance with spaces.
// Keying is square (no edges) unless a table says otherwise. It is no strict floor (the chain is
// the likeliest whole, not each letter the likeliest), but it is what a reader that holds machine
// keying to its grid of units could reach once it had found that grid. Square keying carries
// the whole of its key-down SNR: the generators shape their edges inside each mark and so carry
// less (the tests' 4 ms ramps cost a dot at 35 WPM about 1 dB), and the table with their edges is
// the one to hold the ear against. (Told the unit and where the letters may start, the ear itself
// reads 35 WPM at -3 dB no better: the timing is not where it loses.) (A reader told each
// letter's start as well, with the other letters taken out, is no floor either: it errs more,
// since where the next letter starts tells how long this one is.)
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
#include "morse/ear_letters.hpp"
#include "morse/morse_table.hpp"
#include "tests/support/morse_signal.hpp"

namespace {

// A letter: its share of the messages' letters and its marks' lengths in units (a unit's gap
// after each, the letter's gap after the last).
struct CODE {
    uint32_t c;
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
        CODE k{(uint32_t)c, log((double)count[c] / total), {}};
        for (const char *e = morse_code_of((uint32_t)c); e && *e; e++)
            k.marks.push_back(*e == '-' ? 3 : 1);
        codes.push_back(k);
    }
    return codes;
}

// Every letter of the table at the ear's own odds (ear_letter_tree): what the ear knows of
// the letters, not what the messages hold.
std::vector<CODE> codes_of_ear() {
    std::vector<CODE> codes;
    const std::vector<EAR_LETTER_NODE> &tree = ear_letter_tree();
    std::vector<std::pair<int, std::vector<int>>> todo = {{0, {}}};
    while (!todo.empty()) {
        auto [n, marks] = todo.back();
        todo.pop_back();
        if (tree[(size_t)n].end > -HUGE_VAL)
            codes.push_back(CODE{tree[(size_t)n].cp, tree[(size_t)n].end, marks});
        for (int k = 0; k < 2; k++)
            if (tree[(size_t)n].next[k] >= 0) {
                std::vector<int> m = marks;
                m.push_back(k ? 3 : 1);
                todo.push_back({tree[(size_t)n].next[k], m});
            }
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

// A mark's sound in its unit i of m, against square keying, when each edge inside the mark
// takes edge units' worth of its amplitude (a raised cosine ramp half its length, a quarter
// sine 0.36 of it): the marks a generator shapes carry less than their key-down SNR says.
double shape(size_t i, int m, double edge) {
    return 1.0 - (i == 0 ? edge : 0.0) - (i + 1 == (size_t)m ? edge : 0.0);
}

// How much likelier the sums y (one per unit, noise of unit power) are with code k keyed at
// amplitudes a (one per unit, as y) than with no tone at all; with the tone's phase known (0) or
// each mark's its own.
double log_odds(const CODE &k, const std::complex<double> *y, const double *a, bool coherent,
                double edge) {
    double v = 0;
    size_t at = 0;
    for (int m : k.marks) {
        std::complex<double> sum = 0;
        double energy = 0;
        for (size_t u = at; u < at + (size_t)m; u++) {
            double au = a[u] * shape(u - at, m, edge);
            sum += au * y[u];
            energy += au * au;
        }
        v += (coherent ? 2 * sum.real() : ln_i0(2 * std::abs(sum))) - energy;
        at += (size_t)m + 1;
    }
    return v;
}

// The sums of one unit each for code k keyed from unit at on, added into y, at amplitudes a.
void key_code(const CODE &k, std::vector<std::complex<double>> &y, size_t at,
              const std::vector<double> &a, bool coherent, double edge, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> turn(0.0, 2 * M_PI);
    for (int m : k.marks) {
        std::complex<double> tone = coherent ? 1.0 : std::polar(1.0, turn(rng));
        for (size_t u = at; u < at + (size_t)m; u++) y[u] += a[u] * shape(u - at, m, edge) * tone;
        at += (size_t)m + 1;
    }
}

// Noise of unit power in every sum of y.
void add_noise(std::vector<std::complex<double>> &y, std::mt19937_64 &rng) {
    std::normal_distribution<double> noise(0.0, sqrt(0.5));
    for (auto &v : y) v = {noise(rng), noise(rng)};
}

const CODE *code_of(const std::vector<CODE> &codes, char c) {
    for (const CODE &k : codes)
        if (k.c == (uint32_t)(unsigned char)c) return &k;
    return nullptr;
}

// The likeliest text of the sums y: a chain of letters, each starting where the last one's gap
// ends (a letter gap of three units, or a word gap of seven), anywhere in y; the letters and the
// word gaps at their shares in the messages.
std::string read_message(const std::vector<CODE> &codes, const std::vector<std::complex<double>> &y,
                         const std::vector<double> &a, bool coherent, double edge, double log_word,
                         double log_letter) {
    size_t n = y.size();
    // best[t]: the likeliest reading whose last gap ends at t (0 there: nothing read before t).
    struct STEP {
        double v = 0;
        long from = -1; // where the last letter started; -1: the reading starts here
        const CODE *k = nullptr;
        bool word = false;
    };
    std::vector<STEP> best(n + 8);
    STEP end;
    for (size_t t = 0; t < n; t++)
        for (const CODE &k : codes) {
            size_t len = (size_t)units_of(k) - 3;
            if (t + len > n) continue;
            double v = best[t].v + k.log_prior + log_odds(k, &y[t], &a[t], coherent, edge);
            if (v > end.v) end = STEP{v, (long)t, &k, false};
            for (int word = 0; word < 2; word++) {
                size_t to = t + len + (word ? 7 : 3);
                double w = v + (word ? log_word : log_letter);
                if (to < best.size() && w > best[to].v) best[to] = STEP{w, (long)t, &k, word == 1};
            }
        }
    // Back from the last letter: each step's gap is the one before its letter.
    std::string text;
    for (STEP s = end; s.k;) {
        char c[8];
        morse_utf8_encode(s.k->c, c);
        text.insert(0, c);
        s = best[(size_t)s.from];
        if (s.k && s.word) text.insert(text.begin(), ' ');
    }
    return text;
}

// The character error rate of read_message over rounds of the messages, each with ten units of
// silence around; with a fade of fade_db at FADE_HZ as the accuracy benchmark's (its trough
// fade_db under its crest, the SNR that of its mean power), known to the reader as the levels are.
constexpr double FADE_HZ = 0.3;

double message_cer(const std::vector<CODE> &codes, double snr_db, int wpm, bool coherent,
                   int rounds, std::mt19937_64 &rng, double fade_db = 0, double edge_ms = 0) {
    double unit_s = 1.2 / wpm, a = sqrt(pow(10.0, snr_db / 10.0) * 500.0 * unit_s);
    double depth = 1.0 - pow(10.0, -fade_db / 20.0);
    double mean = sqrt((1.0 - depth / 2) * (1.0 - depth / 2) + depth * depth / 8);
    std::uniform_real_distribution<double> turn(0.0, 2 * M_PI);
    double edge = edge_ms / (1000.0 * unit_s);
    int gaps = 0, words = 0;
    for (const char *text : EAR_BENCH_TEXTS)
        for (const char *p = text + 1; *p; p++) {
            gaps += *p != ' ';
            words += *p == ' ';
        }
    double log_word = log((double)words / gaps), log_letter = log(1.0 - (double)words / gaps);
    size_t wrong = 0, all = 0;
    for (int r = 0; r < rounds; r++)
        for (const char *text : EAR_BENCH_TEXTS) {
            std::vector<size_t> starts;
            size_t at = 10;
            for (const char *p = text; *p; p++) {
                if (*p == ' ') {
                    at += 4;
                    continue;
                }
                starts.push_back(at);
                at += (size_t)units_of(*code_of(codes, *p));
            }
            std::vector<std::complex<double>> y(at + 10);
            add_noise(y, rng);
            std::vector<double> amp(y.size(), a);
            double phase = depth > 0 ? turn(rng) : 0.0;
            for (size_t u = 0; u < amp.size() && depth > 0; u++)
                amp[u] = a / mean *
                         (1.0 - depth * (0.5 - 0.5 * cos(2 * M_PI * FADE_HZ * u * unit_s + phase)));
            size_t i = 0;
            for (const char *p = text; *p; p++)
                if (*p != ' ')
                    key_code(*code_of(codes, *p), y, starts[i++], amp, coherent, edge, rng);
            wrong += morse_text_distance(
                text, read_message(codes, y, amp, coherent, edge, log_word, log_letter));
            all += morse_text_length(text);
        }
    return 100.0 * (double)wrong / (double)all;
}

} // namespace

int main() {
    std::mt19937_64 rng(7);
    const double SNRS[] = {3, 0, -3, -6};
    const int SPEEDS[] = {15, 25, 35};
    std::vector<CODE> of_texts = codes_of_texts(), of_ear = codes_of_ear();
    printf("Machine keying read by a reader told the unit, its grid and the levels, not where the "
           "letters start: CER %%, spaces counted, square keying\n");
    for (int ear = 0; ear < 2; ear++) {
        const std::vector<CODE> &codes = ear ? of_ear : of_texts;
        printf("\n%s (%zu letters)\n",
               ear ? "with what the ear knows of letters: the whole table at its odds"
                   : "with the messages' letters at their shares",
               codes.size());
        for (int coherent = 1; coherent >= 0; coherent--) {
            printf("\n%s\n  WPM", coherent ? "phase running on from mark to mark, known"
                                           : "each element at a phase of its own (sox)");
            for (double snr : SNRS) printf("  %+5.0f dB", snr);
            printf("\n");
            for (int wpm : SPEEDS) {
                printf("  %3d", wpm);
                for (double snr : SNRS)
                    printf("  %8.2f", message_cer(codes, snr, wpm, coherent, 100, rng));
                printf("\n");
            }
        }
    }
    // The marks as the accuracy benchmark's generators shape them: the tests' a raised cosine of
    // 4 ms inside each end (2 ms of amplitude lost an edge), with the phase running on; sox's a
    // quarter sine of 3 ms (1.09 ms lost), each element at a phase of its own.
    printf("\nthe generators' edges, with what the ear knows of letters\n            ");
    const double EDGE_SNRS[] = {0, -3};
    for (int wpm : {25, 35})
        for (double snr : EDGE_SNRS) printf("  %2d %+3.0f dB", wpm, snr);
    printf("\n");
    for (int sox = 0; sox < 2; sox++) {
        printf("  %-10s", sox ? "sox" : "tests'");
        for (int wpm : {25, 35})
            for (double snr : EDGE_SNRS)
                printf("  %9.2f", message_cer(of_ear, snr, wpm, !sox, 100, rng, 0,
                                              sox ? 3.0 * (1.0 - 2.0 / M_PI) : 2.0));
        printf("\n");
    }
    // The accuracy benchmark's fading row: what any reader could reach through the troughs.
    printf("\nfading 12 dB at %.1f Hz, 25 WPM, with what the ear knows of letters\n       ",
           FADE_HZ);
    const double FADE_SNRS[] = {6, 3, 0};
    for (double snr : FADE_SNRS) printf("  %+5.0f dB", snr);
    printf("\n");
    for (int coherent = 1; coherent >= 0; coherent--) {
        printf("  %s", coherent ? "known " : "own   ");
        for (double snr : FADE_SNRS)
            printf("  %8.2f", message_cer(of_ear, snr, 25, coherent, 100, rng, 12));
        printf("\n");
    }
    return 0;
}
