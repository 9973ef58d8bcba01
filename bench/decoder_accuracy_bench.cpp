// bench/decoder_accuracy_bench.cpp: how well the decoder reads imperfect Morse. Texts are keyed
// by seeded random operators (jitter, personal style, Farnsworth spacing, changes of speed,
// drift) or shown to a simulated camera at 15, 30 and 60 fps in a real room (sensor noise, a
// drifting background, a blooming lamp), decoded, and compared with the reference by edit
// distance. Prints the character error rate per model and speed. Hand keying is shown side by
// side from the same keyed messages, with one set of thresholds per message (before) and
// following the operator (after); the light tables put the first light front end (kept below,
// frozen, for comparison) beside the program's (light_front before the decoder).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "morse/decoder.hpp"
#include "morse/decoder_private.hpp"
#include "morse/light_front.hpp"
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

// Every message the decoder hands out for these key edges, joined by spaces. With follow 0 the
// decoder keeps one set of thresholds for the whole message, as it did before it learnt to
// follow the operator: the "before" column of every table.
std::string decode_keyed(const std::vector<RUN> &runs, int human, int follow = 1) {
    DECODER_CONFIG c;
    decoder_config_default(&c);
    c.human = human;
    MORSE_DECODER *d = decoder_new(&c);
    d->follow_off = !follow;
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

// The decoder's first light front end, frozen here as the reference of the light tables: two
// baselines that jump to new extremes and relax to every sample with the baseline time
// constant, a transition confirmed by a second frame at 60 % / 40 % of their range, and a noise
// figure taken only before the first mark. Its edges go to the decoder as key edges, with the
// frame interval set as the light input would set it, so runs, glitch rule and estimation are
// the decoder's own.
struct ClassicLight {
    MORSE_DECODER *d;
    bool primed = false;
    double t_last = 0;
    float luma = 0, lo = 0, hi = 0, noise = 0;
    float diffs[32] = {};
    size_t ndiffs = 0;
    int cand = 0, cand_frames = 0;
    double cand_edge = 0, frame_ms = 0;

    // The state changes at t; the decoder's clock is set back to the previous frame first, as
    // the light input records its edges between frames.
    void edge(double t, int on) {
        d->t_last = std::min(d->t_last, t);
        decoder_key(d, t, on);
    }
    void feed(double t_ms, float s) {
        if (!primed) {
            primed = true;
            luma = lo = hi = s;
            t_last = t_ms;
            decoder_key(d, t_ms, 0);
            return;
        }
        double dt = t_ms - t_last;
        if (dt <= 0) return;
        if (dt < 500) frame_ms = frame_ms == 0 ? dt : frame_ms + 0.05 * (dt - frame_ms);
        d->frame_ms = frame_ms;
        if (d->nruns == 0 && !d->on && cand_frames == 0) {
            diffs[ndiffs % 32] = std::fabs(s - luma);
            ndiffs++;
            if (ndiffs >= 8) {
                size_t count = std::min<size_t>(ndiffs, 32);
                float v[32];
                std::copy(diffs, diffs + 32, v);
                std::nth_element(v, v + count / 2, v + count);
                noise = v[count / 2] / 0.954f;
            }
        }
        double k = std::exp(-dt / 2000.0);
        double h = s > hi ? s : hi + (1 - k) * (s - hi);
        double l = s < lo ? s : lo + (1 - k) * (s - lo);
        hi = (float)h;
        lo = (float)l;
        double range = h - l, on_level = l + 0.6 * range, off_level = l + 0.4 * range;
        bool strong = range >= 12 && ndiffs >= 16;
        int target = -1;
        if (!d->on) {
            if (d->nruns == 0) {
                if (range >= std::max(8.0 * noise, 12.0) && ndiffs >= 16 && s > on_level)
                    target = 1;
            } else if (strong && s > on_level) {
                target = 1;
            }
        } else if (!(strong && s >= off_level)) {
            if (s < l + 0.3 * range)
                edge((t_last + t_ms) / 2, 0);
            else
                target = 0;
        }
        if (target >= 0) {
            if (cand_frames == 0 || cand != target) {
                cand = target;
                cand_frames = 1;
                cand_edge = (t_last + t_ms) / 2;
                t_last = t_ms;
                luma = s;
                decoder_tick(d, t_ms);
                return;
            }
            edge(cand_edge, cand);
        }
        cand_frames = 0;
        t_last = t_ms;
        luma = s;
        decoder_tick(d, t_ms);
    }
};

// Every message the decoder (or the frozen front end, when classic) hands out for these
// samples, joined by spaces.
std::string decode_light(const std::vector<LIGHT_SAMPLE> &samples, bool classic = false) {
    MORSE_DECODER *d = decoder_new(nullptr);
    ClassicLight old{d};
    LIGHT_FRONT front{};
    DECODED_MESSAGE m{};
    std::string text;
    for (const LIGHT_SAMPLE &s : samples) {
        if (classic)
            old.feed(s.t, s.luma);
        else
            light_front_feed(&front, d, s.t, s.luma);
        if (decoder_poll_message(d, &m)) text += (text.empty() ? "" : " ") + std::string(m.text);
    }
    if (!classic) light_front_flush(&front, d);
    if (decoder_finish(d, &m)) text += (text.empty() ? "" : " ") + std::string(m.text);
    decoder_free(&d);
    return text;
}

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

// An operator drawn by the seed: dash 2.5 to 4, symbol gaps 0.7 to 1.3, letter gaps 2.2 to 4,
// word gaps from 5 (and at least 1.5 letter gaps, or words would be letters) to 9 units.
HAND_MODEL operator_style(uint32_t wpm, uint64_t seed, double sigma, double drift) {
    HAND_MODEL h = jitter(wpm, seed, sigma);
    std::mt19937_64 rng(seed * 104729);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    h.dash_units = 2.5 + 1.5 * u(rng);
    h.sym_gap_units = 0.7 + 0.6 * u(rng);
    h.letter_units = 2.2 + 1.8 * u(rng);
    double word_lo = std::max(5.0, 1.5 * h.letter_units);
    h.word_units = word_lo + (9.0 - word_lo) * u(rng);
    h.drift = (seed % 2 ? 1 : -1) * drift;
    return h;
}

HAND_MODEL fixed_style(uint32_t wpm, uint64_t seed, double dash, double sym, double letter,
                       double word) {
    HAND_MODEL h = jitter(wpm, seed, 0.05);
    h.dash_units = dash;
    h.sym_gap_units = sym;
    h.letter_units = letter;
    h.word_units = word;
    return h;
}

HAND_MODEL drifting(uint32_t wpm, uint64_t seed, double sigma, double drift) {
    HAND_MODEL h = jitter(wpm, seed, sigma);
    h.drift = drift;
    return h;
}

// A key whose contact chatters for up to 4 ms at every edge.
HAND_MODEL chattering(uint32_t wpm, uint64_t seed, double sigma) {
    HAND_MODEL h = jitter(wpm, seed, sigma);
    h.chatter_ms = 4;
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
    {"sigma 0.12", [](uint32_t w, uint64_t s) { return jitter(w, s, 0.12); }, 1},
    {"sigma 0.20", [](uint32_t w, uint64_t s) { return jitter(w, s, 0.20); }, 1},
    {"sigma 0.30", [](uint32_t w, uint64_t s) { return jitter(w, s, 0.30); }, 1},
    {"sigma 0.10, chatter 4 ms", [](uint32_t w, uint64_t s) { return chattering(w, s, 0.10); }, 1},
    {"sigma 0.20, chatter 4 ms", [](uint32_t w, uint64_t s) { return chattering(w, s, 0.20); }, 1},
    {"slowing 15 %, s.05", [](uint32_t w, uint64_t s) { return drifting(w, s, 0.05, 0.15); }, 1},
    {"speeding 15 %, s.05", [](uint32_t w, uint64_t s) { return drifting(w, s, 0.05, -0.15); }, 1},
    {"slowing 15 %, s.10", [](uint32_t w, uint64_t s) { return drifting(w, s, 0.10, 0.15); }, 1},
    {"speeding 15 %, s.12", [](uint32_t w, uint64_t s) { return drifting(w, s, 0.12, -0.15); }, 1},
    {"style dash 2.5 +gaps s.05", [](uint32_t w, uint64_t s) { return style(w, s, 2.5); }, 1},
    {"style dash 3.5 +gaps s.05", [](uint32_t w, uint64_t s) { return style(w, s, 3.5); }, 1},
    {"style dash 4.0 +gaps s.05", [](uint32_t w, uint64_t s) { return style(w, s, 4.0); }, 1},
    {"tight 4/.7/2.2/5, s.05",
     [](uint32_t w, uint64_t s) { return fixed_style(w, s, 4, 0.7, 2.2, 5); }, 1},
    {"loose 2.5/1.3/4/9, s.05",
     [](uint32_t w, uint64_t s) { return fixed_style(w, s, 2.5, 1.3, 4, 9); }, 1},
    {"operators, s.05", [](uint32_t w, uint64_t s) { return operator_style(w, s, 0.05, 0); }, 1},
    {"operators, s.12", [](uint32_t w, uint64_t s) { return operator_style(w, s, 0.12, 0); }, 1},
    {"operators, drift 15 %, s.05",
     [](uint32_t w, uint64_t s) { return operator_style(w, s, 0.05, 0.15); }, 1},
    {"operators, drift 15 %, s.12",
     [](uint32_t w, uint64_t s) { return operator_style(w, s, 0.12, 0.15); }, 1},
};

// The error rate before (one set of thresholds per message) and after (following the
// operator), from the same keyed messages, and how many messages read differently.
struct Pair {
    Score before, after;
    size_t changed = 0;
    std::string worst; // the first message the follower still misreads
    void add(const char *text, const std::vector<RUN> &runs, int human) {
        std::string b = decode_keyed(runs, human, 0), a = decode_keyed(runs, human, 1);
        before.add(text, b);
        after.add(text, a);
        changed += a != b;
        if (worst.empty() && a != text) worst = std::string(text) + " -> " + a;
    }
};

Pair score_keyed(HAND_MODEL (*make)(uint32_t, uint64_t), uint32_t wpm, int human) {
    Pair p;
    for (const char *text : TEXTS) {
        MORSE_SEQUENCE *seq = build(text);
        for (uint64_t seed = 1; seed <= SEEDS; seed++)
            p.add(text, hand_runs(seq, make(wpm, seed)), human);
        morse_sequence_free(&seq);
    }
    return p;
}

void print_key_table() {
    printf("\nHand keying (key edges), character error rate %% over %zu texts x %d seeds "
           "(%s chars per cell), before -> after following the operator\n",
           sizeof TEXTS / sizeof *TEXTS, SEEDS, "~1300");
    printf("%-28s", "model \\ WPM");
    for (uint32_t w : KEY_SPEEDS) printf("%14u", w);
    printf("   exact after, changed\n");
    for (const Row &r : KEY_ROWS) {
        printf("%-28s", r.name);
        size_t exact = 0, messages = 0, changed = 0;
        std::string worst;
        for (uint32_t w : KEY_SPEEDS) {
            Pair p = score_keyed(r.make, w, r.human);
            exact += p.after.exact;
            messages += p.after.messages;
            changed += p.changed;
            if (worst.empty()) worst = p.worst;
            printf(" %6.2f>%6.2f", p.before.cer(), p.after.cer());
        }
        printf("   %zu/%zu, %zu\n", exact, messages, changed);
        if (!worst.empty()) printf("      e.g. %s\n", worst.c_str());
    }
}

void print_special_rows() {
    printf("\nFarnsworth spacing and changes of speed halfway through the message, human "
           "decoder, before -> after\n");
    for (double sigma : {0.0, 0.05, 0.10}) {
        struct {
            const char *name;
            double wpm, wpm2, eff;
        } rows[] = {
            {"Farnsworth 20 WPM chars at 8 WPM", 20, 0, 8}, {"speed step 15 -> 30 WPM", 15, 30, 0},
            {"speed step 30 -> 15 WPM", 30, 15, 0},         {"speed step 12 -> 18 WPM", 12, 18, 0},
            {"speed step 15 -> 20 WPM", 15, 20, 0},
        };
        for (const auto &r : rows) {
            Pair p;
            for (const char *text : TEXTS) {
                MORSE_SEQUENCE *seq = build(text);
                for (uint64_t seed = 1; seed <= SEEDS; seed++) {
                    HAND_MODEL h = jitter((uint32_t)r.wpm, seed, sigma);
                    if (r.wpm2 > 0) h.unit2_ms = 1200.0 / r.wpm2;
                    if (r.eff > 0) farnsworth_gaps(r.wpm, r.eff, &h.letter_units, &h.word_units);
                    p.add(text, hand_runs(seq, h), 1);
                }
                morse_sequence_free(&seq);
            }
            printf("  sigma %.2f  %-34s CER %7.2f -> %6.2f %%  (%zu/%zu exact after, %zu "
                   "changed)\n",
                   sigma, r.name, p.before.cer(), p.after.cer(), p.after.exact, p.after.messages,
                   p.changed);
            if (!p.worst.empty()) printf("      e.g. %s\n", p.worst.c_str());
        }
    }
}

void print_short_rows() {
    printf("\nShort messages (%zu texts of 1 to 7 characters x %d seeds), human decoder, 15 WPM, "
           "before -> after\n",
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
        Pair p;
        std::string example;
        for (const char *text : SHORT_TEXTS) {
            MORSE_SEQUENCE *seq = build(text);
            for (uint64_t seed = 1; seed <= SEEDS; seed++) {
                HAND_MODEL h = jitter(15, seed, r.sigma);
                h.sym_gap_units = r.sym_gap;
                h.dash_units = r.dash;
                h.letter_units = r.letter;
                std::vector<RUN> runs = hand_runs(seq, h);
                std::string got = decode_keyed(runs, 1);
                if (morse_text_distance(text, got) && seed == 1)
                    example += std::string(example.empty() ? "" : ", ") + text + " -> " + got;
                p.add(text, runs, 1);
            }
            morse_sequence_free(&seq);
        }
        printf("  %-30s CER %6.2f -> %6.2f %%  (%zu/%zu exact after, %zu changed)\n", r.name,
               p.before.cer(), p.after.cer(), p.after.exact, p.after.messages, p.changed);
        if (!example.empty()) printf("      seed 1: %s\n", example.c_str());
    }
}

// One condition of the room and the lamp, at a frame rate.
struct LightRow {
    const char *name;
    double sigma; // operator jitter (0: machine-exact timing)
    double noise; // sensor noise, levels
    double drift; // background rising and falling by this much, 30 s each way
    double bloom; // afterglow fading to half in this many frame intervals
};

const LightRow LIGHT_ROWS[] = {
    {"clean", 0, 0, 0, 0},
    {"noise 2", 0, 2, 0, 0},
    {"noise 4", 0, 4, 0, 0},
    {"noise 8", 0, 8, 0, 0},
    {"drift 40/30 s, noise 2", 0, 2, 40, 0},
    {"drift 40/30 s, noise 8", 0, 8, 40, 0},
    {"bloom 33 ms, noise 2", 0, 2, 0, 33},
    {"bloom 33 ms, noise 8", 0, 8, 0, 33},
    {"sigma 0.05, noise 2", 0.05, 2, 0, 0},
    {"all: noise 8, drift, bloom", 0, 8, 40, 33},
};

LIGHT_MODEL light_model(const LightRow &r, double fps, uint64_t seed) {
    LIGHT_MODEL lm;
    lm.fps = fps;
    lm.noise = r.noise;
    lm.jitter_ms = 2;
    lm.seed = seed * 7919;
    lm.drift = r.drift;
    // The glow is half gone after bloom ms: the half-level edge of every mark comes that late.
    lm.afterglow_ms = r.bloom / std::log(2.0);
    return lm;
}

Score score_light(const LightRow &r, double fps, uint32_t wpm, bool classic, std::string *worst) {
    Score sc;
    size_t worst_e = 0;
    for (const char *text : TEXTS) {
        MORSE_SEQUENCE *seq = build(text);
        for (uint64_t seed = 1; seed <= SEEDS; seed++) {
            std::vector<RUN> runs = hand_runs(seq, jitter(wpm, seed, r.sigma));
            std::string got = decode_light(runs_to_light(runs, light_model(r, fps, seed)), classic);
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

void print_light_table(double fps) {
    printf("\nLight at %.0f fps (full-frame exposure, levels 40/200, 2 ms frame-time jitter), "
           "machine decoder, character error rate %%: first front end | current\n",
           fps);
    printf("%-27s", "model \\ WPM");
    for (int side = 0; side < 2; side++) {
        for (uint32_t w : LIGHT_SPEEDS) printf("%6u", w);
        printf(side ? "\n" : "  |");
    }
    for (const LightRow &r : LIGHT_ROWS) {
        printf("%-27s", r.name);
        std::string worst;
        for (int side = 0; side < 2; side++) {
            for (uint32_t w : LIGHT_SPEEDS) {
                bool classic = side == 0;
                Score sc = score_light(r, fps, w, classic, classic ? nullptr : &worst);
                printf("%6.1f", sc.cer());
            }
            printf(side ? "\n" : "  |");
        }
        if (!worst.empty()) printf("      worst now: %s\n", worst.c_str());
    }
}

// A minute of a camera looking at nothing but noise: every character is made up, and so is
// every frame after the first two seconds on which the meter shows a signal.
void print_noise_only() {
    const double levels[] = {1, 2, 4, 8, 16, 32, 64};
    printf("\n60 s of pure sensor noise around level 40, %d seeds: characters produced / frames "
           "showing a signal after the first 2 s (first front end | current)\n",
           SEEDS);
    printf("%-10s", "fps\\noise");
    for (int side = 0; side < 2; side++) {
        for (double n : levels) printf("%10.0f", n);
        printf(side ? "\n" : "  |");
    }
    for (double fps : {15.0, 30.0, 60.0}) {
        printf("%-10.0f", fps);
        for (int side = 0; side < 2; side++) {
            for (double n : levels) {
                size_t chars = 0, signal = 0;
                for (uint64_t seed = 1; seed <= SEEDS; seed++) {
                    LIGHT_MODEL lm;
                    lm.fps = fps;
                    lm.noise = n;
                    lm.jitter_ms = 2;
                    lm.lead_ms = 60000;
                    lm.tail_ms = 0;
                    lm.seed = seed;
                    MORSE_DECODER *d = decoder_new(nullptr);
                    ClassicLight old{d};
                    LIGHT_FRONT front{};
                    DECODED_MESSAGE m{};
                    for (const LIGHT_SAMPLE &smp : runs_to_light({}, lm)) {
                        DECODER_STATUS st;
                        if (side == 0) {
                            old.feed(smp.t, smp.luma);
                            st.has_signal = old.hi - old.lo >= std::max(8.0f * old.noise, 12.0f);
                        } else {
                            light_front_feed(&front, d, smp.t, smp.luma);
                            decoder_status(d, &st);
                        }
                        signal += smp.t > 2000 && st.has_signal;
                        if (decoder_poll_message(d, &m)) chars += morse_text_length(m.text);
                    }
                    if (decoder_finish(d, &m)) chars += morse_text_length(m.text);
                    decoder_free(&d);
                }
                printf("%5zu/%-4zu", chars, signal);
            }
            printf(side ? "\n" : "  |");
        }
    }
}

// The failure that matters most in a room: the lamp sends one message and goes, the camera
// keeps looking at the dark for a minute. Errors (edit distance to the message, summed over
// the seeds) count both a misread message and text made out of the noise that follows.
void print_noise_after_message() {
    const double levels[] = {1, 2, 4, 8};
    const char *text = TEXTS[1];
    printf("\n\"%s\" at 8 WPM (drifting room, blooming lamp), then 60 s of the dark: errors over "
           "%d seeds (first front end | current)\n",
           text, SEEDS);
    printf("%-10s", "fps\\noise");
    for (int side = 0; side < 2; side++) {
        for (double n : levels) printf("%6.0f", n);
        printf(side ? "\n" : "  |");
    }
    MORSE_SEQUENCE *seq = build(text);
    for (double fps : {15.0, 30.0, 60.0}) {
        printf("%-10.0f", fps);
        for (int side = 0; side < 2; side++) {
            for (double n : levels) {
                size_t errors = 0;
                for (uint64_t seed = 1; seed <= SEEDS; seed++) {
                    LightRow r{"", 0, n, 40, 33};
                    LIGHT_MODEL lm = light_model(r, fps, seed);
                    lm.tail_ms = 60000;
                    std::vector<RUN> runs = hand_runs(seq, jitter(8, seed, 0));
                    errors +=
                        morse_text_distance(text, decode_light(runs_to_light(runs, lm), side == 0));
                }
                printf("%6zu", errors);
            }
            printf(side ? "\n" : "  |");
        }
    }
    morse_sequence_free(&seq);
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
    for (double fps : {15.0, 30.0, 60.0}) print_light_table(fps);
    print_noise_only();
    print_noise_after_message();
    printf("\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
