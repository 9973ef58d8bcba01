// bench/decoder_accuracy_bench.cpp: how well the decoder reads imperfect Morse. Texts are keyed
// by seeded random operators (jitter, personal style, Farnsworth spacing, a change of speed) or
// shown to a simulated 30 fps camera with noise, decoded, and compared with the reference by
// edit distance. Prints the character error rate per model and speed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "morse/decoder.hpp"
#include "tests/support/morse_signal.hpp"

namespace {

const char *const TEXTS[] = {
    "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG",
    "CQ CQ DE F4LKY PSE K",
    "MEET AT 1930 NEAR THE OLD BRIDGE, BRING 2 LAMPS",
    "SOS SOS WE NEED WATER AND A DOCTOR",
    "RST 599 QTH PARIS NAME JEAN HW? BK",
    "IS IT 5 OR 50? I SAID: COME AT 7 / 8",
    "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS",
    "HELLO WORLD, THIS IS LUMIKEY TESTING 73",
};
// Short messages, where a family of gaps may hold only one or two values.
const char *const SHORT_TEXTS[] = {
    "E",    "I",  "S",   "A",   "N",  "M",   "O",    "AI",    "ME", "OK", "SOS", "TEST",
    "HI",   "NO", "YES", "CQ",  "K",  "73",  "QRZ?", "HELLO", "ET", "EE", "MO",  "GO HOME",
    "HELP", "AT", "TA",  "MAN", "TO", "QTH", "R",    "PSE",   "TU", "WX",
};
constexpr int SEEDS = 4;
constexpr uint32_t KEY_SPEEDS[] = {5, 10, 15, 20, 25, 30, 40, 50};
constexpr uint32_t LIGHT_SPEEDS[] = {5, 8, 10, 12, 15, 20};

struct Score {
    size_t errors = 0, chars = 0, messages = 0, exact = 0;
    void add(const std::string &ref, const std::string &got) {
        size_t e = morse_text_distance(ref, got);
        errors += e;
        chars += morse_text_length(ref);
        messages++;
        exact += e == 0;
    }
    double cer() const { return chars ? 100.0 * errors / chars : 0.0; }
};

MORSE_SEQUENCE *build(const char *text) {
    MORSE_TIMING t{100, 3, 3, 7};
    return morse_sequence_build(text, &t);
}

// Every message the decoder hands out for these key edges, joined by spaces.
std::string decode_keyed(const std::vector<RUN> &runs, int human) {
    DECODER_CONFIG c;
    decoder_config_default(&c);
    c.human = human;
    MORSE_DECODER *d = decoder_new(&c);
    DECODED_MESSAGE m{};
    std::string text;
    double end = 0;
    for (const KEY_EDGE_AT &e : runs_to_edges(runs, 1000)) {
        decoder_key(d, e.t, e.down);
        end = e.t;
        if (decoder_poll_message(d, &m)) text += (text.empty() ? "" : " ") + std::string(m.text);
    }
    decoder_tick(d, end + c.eom_timeout_ms);
    if (decoder_poll_message(d, &m) || decoder_finish(d, &m))
        text += (text.empty() ? "" : " ") + std::string(m.text);
    decoder_free(&d);
    return text;
}

std::string decode_light(const std::vector<LIGHT_SAMPLE> &samples) {
    MORSE_DECODER *d = decoder_new(nullptr);
    DECODED_MESSAGE m{};
    std::string text;
    for (const LIGHT_SAMPLE &s : samples) {
        decoder_feed(d, s.t, s.luma);
        if (decoder_poll_message(d, &m)) text += (text.empty() ? "" : " ") + std::string(m.text);
    }
    if (decoder_finish(d, &m)) text += (text.empty() ? "" : " ") + std::string(m.text);
    decoder_free(&d);
    return text;
}

// An operator model for one text and seed at a speed.
using Model = HAND_MODEL (*)(uint32_t wpm, uint64_t seed);

HAND_MODEL jitter(uint32_t wpm, uint64_t seed, double sigma) {
    HAND_MODEL h;
    h.unit_ms = 1200.0 / wpm;
    h.sigma = sigma;
    h.seed = seed;
    return h;
}

// A personal style: dash ratio from 2.5 to 4 and stretched gaps, chosen by the seed.
HAND_MODEL style(uint32_t wpm, uint64_t seed, double dash) {
    HAND_MODEL h = jitter(wpm, seed, 0.05);
    h.dash_units = dash;
    h.letter_units = 3.0 + 0.5 * (double)(seed % 4);     // 3 to 4.5
    h.word_units = 7.0 + 1.5 * (double)((seed / 2) % 4); // 7 to 11.5
    return h;
}

struct Row {
    const char *name;
    HAND_MODEL (*make)(uint32_t wpm, uint64_t seed);
    int human;
};

const Row KEY_ROWS[] = {
    {"exact, machine decoder", [](uint32_t w, uint64_t s) { return jitter(w, s, 0); }, 0},
    {"exact", [](uint32_t w, uint64_t s) { return jitter(w, s, 0); }, 1},
    {"sigma 0.05", [](uint32_t w, uint64_t s) { return jitter(w, s, 0.05); }, 1},
    {"sigma 0.10", [](uint32_t w, uint64_t s) { return jitter(w, s, 0.10); }, 1},
    {"sigma 0.20", [](uint32_t w, uint64_t s) { return jitter(w, s, 0.20); }, 1},
    {"style dash 2.5 +gaps s.05", [](uint32_t w, uint64_t s) { return style(w, s, 2.5); }, 1},
    {"style dash 3.5 +gaps s.05", [](uint32_t w, uint64_t s) { return style(w, s, 3.5); }, 1},
    {"style dash 4.0 +gaps s.05", [](uint32_t w, uint64_t s) { return style(w, s, 4.0); }, 1},
};

Score score_keyed(HAND_MODEL (*make)(uint32_t, uint64_t), uint32_t wpm, int human,
                  std::string *worst = nullptr) {
    Score sc;
    size_t worst_e = 0;
    for (const char *text : TEXTS) {
        MORSE_SEQUENCE *seq = build(text);
        for (uint64_t seed = 1; seed <= SEEDS; seed++) {
            std::string got = decode_keyed(hand_runs(seq, make(wpm, seed)), human);
            size_t e = morse_text_distance(text, got);
            if (worst && e > worst_e) {
                worst_e = e;
                *worst = std::string(text) + " -> " + got;
            }
            sc.add(text, got);
        }
        morse_sequence_free(&seq);
    }
    return sc;
}

void print_key_table() {
    printf("\nHand keying (key edges), character error rate %% over %zu texts x %d seeds "
           "(%s chars per cell)\n",
           sizeof TEXTS / sizeof *TEXTS, SEEDS, "~1300");
    printf("%-27s", "model \\ WPM");
    for (uint32_t w : KEY_SPEEDS) printf("%7u", w);
    printf("\n");
    for (const Row &r : KEY_ROWS) {
        printf("%-27s", r.name);
        size_t exact = 0, messages = 0;
        std::string worst;
        for (uint32_t w : KEY_SPEEDS) {
            Score sc = score_keyed(r.make, w, r.human, worst.empty() ? &worst : nullptr);
            exact += sc.exact;
            messages += sc.messages;
            printf("%7.2f", sc.cer());
        }
        printf("   %zu/%zu exact\n", exact, messages);
        if (!worst.empty()) printf("      e.g. %s\n", worst.c_str());
    }
}

// Decodes every text and seed with one operator model; notes the first wrong message.
Score score_model(const std::function<HAND_MODEL(uint64_t)> &make, std::string *example) {
    Score sc;
    for (const char *text : TEXTS) {
        MORSE_SEQUENCE *seq = build(text);
        for (uint64_t seed = 1; seed <= SEEDS; seed++) {
            std::string got = decode_keyed(hand_runs(seq, make(seed)), 1);
            if (morse_text_distance(text, got) && example->empty())
                *example = std::string(text) + " -> " + got;
            sc.add(text, got);
        }
        morse_sequence_free(&seq);
    }
    return sc;
}

void print_special_rows() {
    printf("\nFarnsworth spacing and a change of speed halfway through the message, human "
           "decoder\n");
    for (double sigma : {0.0, 0.05, 0.10}) {
        struct {
            const char *name;
            std::function<HAND_MODEL(uint64_t)> make;
        } rows[] = {
            {"Farnsworth 20 WPM chars at 8 WPM",
             [&](uint64_t seed) {
                 HAND_MODEL h = jitter(20, seed, sigma);
                 farnsworth_gaps(20, 8, &h.letter_units, &h.word_units);
                 return h;
             }},
            {"speed step 15 -> 30 WPM",
             [&](uint64_t seed) {
                 HAND_MODEL h = jitter(15, seed, sigma);
                 h.unit2_ms = 1200.0 / 30;
                 return h;
             }},
            {"speed step 15 -> 20 WPM",
             [&](uint64_t seed) {
                 HAND_MODEL h = jitter(15, seed, sigma);
                 h.unit2_ms = 1200.0 / 20;
                 return h;
             }},
        };
        for (const auto &r : rows) {
            std::string example;
            Score sc = score_model(r.make, &example);
            printf("  sigma %.2f  %-34s CER %7.2f %%  (%zu/%zu messages exact)\n", sigma, r.name,
                   sc.cer(), sc.exact, sc.messages);
            if (!example.empty()) printf("      e.g. %s\n", example.c_str());
        }
    }
}

void print_short_rows() {
    printf("\nShort messages (%zu texts of 1 to 7 characters x %d seeds), human decoder, 15 WPM\n",
           sizeof SHORT_TEXTS / sizeof *SHORT_TEXTS, SEEDS);
    struct {
        const char *name;
        double sigma, sym_gap, dash, letter;
    } rows[] = {
        {"exact", 0, 1, 3, 3},
        {"sigma 0.10", 0.10, 1, 3, 3},
        {"symbol gaps 1.5 units, s.05", 0.05, 1.5, 3, 3},
        {"dash 4, letter gaps 2.5, s.05", 0.05, 1, 4, 2.5},
        {"dash 4, letter gaps 2.2, s.05", 0.05, 1, 4, 2.2},
    };
    for (const auto &r : rows) {
        Score sc;
        std::string example;
        for (const char *text : SHORT_TEXTS) {
            MORSE_SEQUENCE *seq = build(text);
            for (uint64_t seed = 1; seed <= SEEDS; seed++) {
                HAND_MODEL h = jitter(15, seed, r.sigma);
                h.sym_gap_units = r.sym_gap;
                h.dash_units = r.dash;
                h.letter_units = r.letter;
                std::string got = decode_keyed(hand_runs(seq, h), 1);
                if (morse_text_distance(text, got) && seed == 1)
                    example += std::string(example.empty() ? "" : ", ") + text + " -> " + got;
                sc.add(text, got);
            }
            morse_sequence_free(&seq);
        }
        printf("  %-30s CER %6.2f %%  (%zu/%zu messages exact)\n", r.name, sc.cer(), sc.exact,
               sc.messages);
        if (!example.empty()) printf("      seed 1: %s\n", example.c_str());
    }
}

void print_light_table() {
    printf("\nLight at 30 fps (full-frame exposure, levels 40/200, 2 ms frame-time jitter), "
           "machine decoder, character error rate %%\n");
    printf("%-27s", "model \\ WPM");
    for (uint32_t w : LIGHT_SPEEDS) printf("%7u", w);
    printf("\n");
    struct LightRow {
        const char *name;
        double sigma, noise;
    } rows[] = {
        {"exact, noise 0", 0, 0},         {"exact, noise 1", 0, 1},
        {"exact, noise 2", 0, 2},         {"exact, noise 4", 0, 4},
        {"exact, noise 8", 0, 8},         {"sigma 0.05, noise 2", 0.05, 2},
        {"sigma 0.10, noise 2", 0.10, 2},
    };
    for (const LightRow &r : rows) {
        printf("%-27s", r.name);
        for (uint32_t w : LIGHT_SPEEDS) {
            Score sc;
            for (const char *text : TEXTS) {
                MORSE_SEQUENCE *seq = build(text);
                for (uint64_t seed = 1; seed <= SEEDS; seed++) {
                    LIGHT_MODEL lm;
                    lm.noise = r.noise;
                    lm.jitter_ms = 2;
                    lm.seed = seed * 7919;
                    std::vector<RUN> runs = hand_runs(seq, jitter(w, seed, r.sigma));
                    sc.add(text, decode_light(runs_to_light(runs, lm)));
                }
                morse_sequence_free(&seq);
            }
            printf("%7.2f", sc.cer());
        }
        printf("\n");
    }
}

// One whole decode of a keyed sentence, for the benchmark framework's own timing.
void BM_DecodeKeyedSentence(benchmark::State &state) {
    MORSE_SEQUENCE *seq = build(TEXTS[0]);
    std::vector<RUN> runs = hand_runs(seq, jitter(20, 1, 0.1));
    morse_sequence_free(&seq);
    for (auto _ : state) benchmark::DoNotOptimize(decode_keyed(runs, 1));
    state.counters["runs"] = (double)runs.size();
}
BENCHMARK(BM_DecodeKeyedSentence)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    print_key_table();
    print_special_rows();
    print_short_rows();
    print_light_table();
    printf("\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
