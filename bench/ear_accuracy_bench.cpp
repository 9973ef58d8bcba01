// bench/ear_accuracy_bench.cpp: how well sound is read by ear, from three generators written
// apart: the tests' own (a keyed sine with raised-cosine edges and Gaussian noise, timing from
// the sequencer and the seeded operators of the decoder's benchmark), sox (its synth, fade,
// whitenoise, tremolo and compand effects, timing from an operator model of its own below) and
// a plain Python one (ear_signal_gen.py: its own table, exponential key edges, a carrier off
// pitch, operators whose speed moves in steps, Farnsworth by the ARRL formula).
// Noise is set by the SNR key-down in a 500 Hz band around the tone; through a fade that is the
// tone's mean power over key-down time (3.4 dB under its peak for a fade 12 dB deep), the way a
// meter reading over a while would show it (EAR_BENCH_FADE_PEAK=1: from the fade's peak, as
// these rows once were). Every recording is read
// by the streaming tone detector and decoder the program used before (old) and by the ear
// (new), side by side; hand keying also shows the key decoder fed the same timing as edges.
// Then fading, a neighbour, a receiver's AGC and static crashes, and the cost.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/ear_bench_texts.hpp"
#include "morse/decoder.hpp"
#include "morse/ear.hpp"
#include "morse/morse_table.hpp"
#include "morse/tone_detect.hpp"
#include "support/ka_log.hpp"
#include "tests/support/morse_audio.hpp"
#include "tests/support/wav_reader.hpp"

namespace {

const auto &TEXTS = EAR_BENCH_TEXTS;
int MESSAGES = 4;
// A cell's i-th message: its text, and the seed of its timing and noise.
const char *cell_text(int i) {
    return TEXTS[(size_t)i % (sizeof TEXTS / sizeof *TEXTS)];
}
uint64_t cell_seed(int i, int wpm) {
    return 11 + (uint64_t)i * 31 + (uint64_t)wpm;
}
// The styles tabled (machine, hand, Farnsworth), fewer for a quick look.
int STYLES = 3;
std::vector<double> SNRS = {1000, 6, 3, 0, -3, -6};
const int SPEEDS[] = {15, 25, 35};
enum Style { MACHINE, HAND, FARNSWORTH };
const char *const STYLE_NAMES[] = {"machine", "hand", "farnsworth"};

struct Score {
    size_t errors = 0, chars = 0;
    void add(const std::string &ref, const std::string &got) {
        errors += morse_text_distance(ref, got);
        chars += morse_text_length(ref);
    }
    double cer() const { return chars ? 100.0 * errors / chars : 0.0; }
};

void join(std::string *t, const char *s) {
    if (!t->empty()) t->push_back(' ');
    t->append(s);
}

// What the ear reads, every message joined by a space.
std::string ear_read(const std::vector<float> &x, uint32_t rate) {
    EAR_CONFIG c;
    ear_config_default(&c);
    c.rate = rate;
    EAR *ear = ear_new(&c);
    std::string text;
    ear_feed(ear, x.data(), x.size());
    ear_finish(
        ear, [](const EAR_MESSAGE *m, void *user) { join((std::string *)user, m->text); }, &text);
    ear_free(&ear);
    return text;
}

// What the old path reads: the streaming detector with a file's lookahead and the decoder.
std::string old_read(const std::vector<float> &x, uint32_t rate) {
    return audio_decode(x, rate, 1500, 512).text;
}

// The key decoder fed the runs directly, as the key screen would be.
std::string key_read(const std::vector<RUN> &runs) {
    DECODER_CONFIG c;
    decoder_config_default(&c);
    c.human = 1;
    MORSE_DECODER *d = decoder_new(&c);
    DECODED_MESSAGE m{};
    std::string text;
    double end = 0;
    for (const KEY_EDGE_AT &e : runs_to_edges(runs, 1000)) {
        decoder_key(d, e.t, e.down);
        end = e.t;
        if (decoder_poll_message(d, &m)) join(&text, m.text);
    }
    decoder_tick(d, end + c.eom_timeout_ms);
    if (decoder_poll_message(d, &m) || decoder_finish(d, &m)) join(&text, m.text);
    decoder_free(&d);
    return text;
}

// ---- Generator A: the tests' own ----

// The runs of style at wpm for text, by the decoder benchmark's seeded operators.
std::vector<RUN> runs_a(const char *text, Style style, int wpm, uint64_t seed) {
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build(text, &t);
    HAND_MODEL m;
    m.unit_ms = 1200.0 / wpm;
    m.seed = seed;
    if (style == FARNSWORTH) farnsworth_gaps(wpm, wpm / 2.0, &m.letter_units, &m.word_units);
    if (style == HAND) {
        std::mt19937_64 rng(seed * 7919);
        std::uniform_real_distribution<double> u(0, 1);
        m.sigma = 0.12;
        m.dash_units = 2.6 + 1.2 * u(rng);
        m.sym_gap_units = 0.8 + 0.4 * u(rng);
        m.letter_units = 2.6 + 1.2 * u(rng);
        m.word_units = 5.5 + 3.0 * u(rng);
        m.drift = 0.1;
    }
    std::vector<RUN> runs = hand_runs(seq, m);
    morse_sequence_free(&seq);
    return runs;
}

// Where each generator's crashes fall: the first at first_ms, then one every every_ms, each of
// ms; the keying starts at 1 s.
struct CRASHES {
    double first_ms, every_ms, ms;
};
const CRASHES CRASHES_A{2500, 4000, 40}, CRASHES_B{1700, 3300, 30};

// How many letters of runs (keyed from 1 s) the crashes overlap: a crash may cost the letter it
// falls on and no more, so this share of the characters is the most the row may lose.
size_t letters_hit(const std::vector<RUN> &runs, double unit_ms, const CRASHES &c) {
    size_t hit = 0;
    double t = 1000, a = -1, b = -1;
    auto close = [&]() {
        if (a < 0) return;
        double k = std::max(0.0, ceil((a - c.ms - c.first_ms) / c.every_ms));
        if (c.first_ms + k * c.every_ms <= b) hit++;
        a = -1;
    };
    for (const RUN &r : runs) {
        if (r.on) {
            if (a < 0) a = t;
            b = t + r.ms;
        } else if (r.ms > 2 * unit_ms) {
            close();
        }
        t += r.ms;
    }
    close();
    return hit;
}

struct EFFECTS {
    double snr_db = 1000;
    double fade_db = 0;     // fading depth...
    double fade_hz = 0.3;   // ...and rate
    bool neighbour = false; // a station 200 Hz up, 6 dB weaker
    bool agc = false;       // a receiver's AGC lifting the noise in the gaps
    bool crashes = false;   // bursts above the signal (CRASHES_A, CRASHES_B)...
    double crash_db = 30;   // ...by this much in its 500 Hz band
    uint32_t rate = 8000;
};

// A fade of fade_db (the tone's gain running from 1 down to 10^(-fade_db/20) and back, as both
// generators shape it) leaves this share of the tone's power on average: the noise of a fading
// row is set from it, so that its SNR is the key-down SNR a meter shows over the fade.
// The main fading row's rate (EAR_BENCH_FADE_HZ: another); rows at 0.2 and 0.5 Hz follow it.
double FADE_HZ = 0.3;

double fade_power(double fade_db) {
    if (fade_db <= 0 || getenv("EAR_BENCH_FADE_PEAK")) return 1.0;
    double d = 1.0 - pow(10.0, -fade_db / 20.0);
    return (1.0 - d / 2) * (1.0 - d / 2) + d * d / 8;
}

void render_runs(std::vector<float> &x, uint32_t rate, const std::vector<RUN> &runs, double start,
                 double hz, double amp, double fade_db, double fade_hz = 0.3) {
    double t = start, w = 2.0 * M_PI * hz / rate, ramp = 4.0 * rate / 1000.0;
    double depth = 1.0 - pow(10.0, -fade_db / 20.0);
    for (const RUN &r : runs) {
        if (r.on) {
            size_t a = (size_t)(t * rate / 1000.0), b = (size_t)((t + r.ms) * rate / 1000.0);
            for (size_t k = a; k < b && k < x.size(); k++) {
                double env = 1.0, in = (double)(k - a), out = (double)(b - k);
                if (in < ramp) env = 0.5 - 0.5 * cos(M_PI * in / ramp);
                if (out < ramp) env = std::min(env, 0.5 - 0.5 * cos(M_PI * out / ramp));
                double g = 1.0 - depth * (0.5 - 0.5 * cos(2.0 * M_PI * fade_hz * k / rate));
                x[k] += (float)(amp * env * g * sin(w * (double)k));
            }
        }
        t += r.ms;
    }
}

double runs_ms(const std::vector<RUN> &runs) {
    double t = 0;
    for (const RUN &r : runs) t += r.ms;
    return t;
}

std::vector<float> scene_a(const std::vector<RUN> &runs, const EFFECTS &fx, uint64_t seed) {
    uint32_t rate = fx.rate;
    double amp = 0.3, len = runs_ms(runs) + 2000;
    std::vector<float> x((size_t)(len * rate / 1000.0), 0.0f);
    render_runs(x, rate, runs, 1000, 700, amp, fx.fade_db, fx.fade_hz);
    if (fx.neighbour) {
        std::vector<RUN> other = runs_a("QRL? QRL? DE W1AW", MACHINE, 22, seed + 99);
        while (runs_ms(other) < len) {
            std::vector<RUN> more = other;
            other.push_back(RUN{0, 600});
            other.insert(other.end(), more.begin(), more.end());
        }
        render_runs(x, rate, other, 300, 900, amp / 2, 0);
    }
    std::mt19937_64 rng(seed);
    double sigma = 0;
    if (fx.snr_db < 999) {
        double band = amp * amp / 2 * fade_power(fx.fade_db) / pow(10.0, fx.snr_db / 10.0);
        sigma = sqrt(band * (rate / 2.0) / 500.0);
        std::normal_distribution<double> g(0, sigma);
        for (float &v : x) v += (float)g(rng);
    }
    if (fx.crashes) {
        std::normal_distribution<double> g(0, 1);
        double burst = amp * pow(10.0, fx.crash_db / 20.0) / sqrt(2.0) * sqrt((rate / 2.0) / 500.0);
        for (double t = CRASHES_A.first_ms; t < len; t += CRASHES_A.every_ms) {
            size_t a = (size_t)(t * rate / 1000.0), b = a + (size_t)(CRASHES_A.ms / 1000 * rate);
            for (size_t k = a; k < b && k < x.size(); k++) x[k] += (float)(burst * g(rng));
        }
    }
    if (fx.agc) {
        // Fast attack, slow release, and a gain that rises up to 20 dB as the level falls.
        double env = amp, target = amp;
        double att = 1 - exp(-1.0 / (0.002 * rate)), rel = 1 - exp(-1.0 / (0.25 * rate));
        for (float &v : x) {
            double a = fabs(v);
            env += (a > env ? att : rel) * (a - env);
            double gain = std::min(10.0, target / std::max(env, 1e-9));
            v = (float)(v * gain);
        }
    }
    return x;
}

// ---- Generator B: sox, with its own timing ----

// The runs of text by an operator model written apart from the tests': lengths in units from
// the table's codes, Farnsworth by the PARIS formula worked out here, a hand operator with a
// log-normal jitter, a weight and a random walk of speed.
std::vector<RUN> runs_b(const char *text, Style style, int wpm, uint64_t seed) {
    std::vector<RUN> runs;
    double unit = 1200.0 / wpm, letter = 3, word = 7, dash = 3, sym = 1, jitter = 0;
    if (style == FARNSWORTH) {
        double eff = wpm / 2.0;
        // 50 units per PARIS word: 31 in the characters, 19 in the gaps.
        double gap_unit = (60000.0 / eff - 31 * unit) / 19.0;
        letter = 3 * gap_unit / unit;
        word = 7 * gap_unit / unit;
    }
    std::mt19937_64 rng(seed * 104729 + 3);
    std::normal_distribution<double> g(0, 1);
    std::uniform_real_distribution<double> u(0, 1);
    if (style == HAND) {
        dash = 2.7 + 1.0 * u(rng);
        sym = 0.75 + 0.5 * u(rng);
        letter = 2.5 + 1.3 * u(rng);
        word = 5.5 + 3.0 * u(rng);
        jitter = 0.12;
    }
    double speed = 1.0;
    auto add = [&](int on, double units) {
        if (style == HAND) speed = std::clamp(speed * exp(0.01 * g(rng)), 0.85, 1.15);
        double k = jitter > 0 ? exp(jitter * g(rng)) : 1.0;
        if (!runs.empty() && runs.back().on == on)
            runs.back().ms += units * unit * speed * k;
        else
            runs.push_back(RUN{on, units * unit * speed * k});
    };
    bool first = true;
    for (const char *p = text; *p;) {
        uint32_t cp = morse_utf8_next(&p);
        if (cp == ' ') {
            if (!runs.empty()) add(0, word - letter);
            continue;
        }
        const char *code = morse_code_of(cp);
        if (!code) continue;
        if (!first) add(0, letter);
        first = false;
        for (const char *c = code; *c; c++) {
            if (c != code) add(0, sym);
            add(1, *c == '-' ? dash : 1);
        }
    }
    return runs;
}

std::string g_dir;

int sh(const std::string &cmd) {
    return system((cmd + " 2>/dev/null").c_str());
}

std::string fmt(const char *f, double v) {
    char b[64];
    snprintf(b, sizeof b, f, v);
    return b;
}

// An element file, made once per kind and length (whole ms).
std::string element(int on, long ms, uint32_t rate, int hz = 700) {
    static std::map<std::string, bool> made;
    char name[128];
    snprintf(name, sizeof name, "%s/%c%ld_%u_%d.wav", g_dir.c_str(), on ? 'm' : 's', ms, rate, hz);
    if (!made[name]) {
        double s = ms / 1000.0;
        std::string cmd = "sox -n -r " + std::to_string(rate) + " -c 1 -e floating-point -b 32 " +
                          name + " synth " + fmt("%.3f", s) +
                          (on ? " sine " + std::to_string(hz) + " fade q 0.003 " + fmt("%.3f", s) +
                                    " 0.003 vol 0.025"
                              : " sine 700 vol 0");
        sh(cmd);
        made[name] = true;
    }
    return name;
}

// The keyed signal of runs, after a second of silence, as sox makes it.
std::string sox_signal(const std::vector<RUN> &runs, uint32_t rate, const std::string &out,
                       int hz = 700) {
    std::string list = element(0, 1000, rate);
    for (const RUN &r : runs)
        join(&list, element(r.on, std::max(1L, lround(r.ms)), rate, hz).c_str());
    join(&list, element(0, 1000, rate).c_str());
    sh("sox " + list + " " + out);
    return out;
}

// Noise of sox's whitenoise, variance per unit of vol measured once.
double g_noise_var = 0;

std::vector<float> scene_b(const std::vector<RUN> &runs, const EFFECTS &fx, uint64_t seed) {
    uint32_t rate = fx.rate;
    std::string sig = g_dir + "/sig.wav", mix = g_dir + "/mix.wav";
    sox_signal(runs, rate, sig);
    if (fx.fade_db > 0) {
        double depth = 100.0 * (1.0 - pow(10.0, -fx.fade_db / 20.0));
        sh("sox " + sig + " " + g_dir + "/fade.wav tremolo " + fmt("%.2f", fx.fade_hz) + " " +
           fmt("%.1f", depth));
        sh("mv " + g_dir + "/fade.wav " + sig);
    }
    double len = runs_ms(runs) / 1000.0 + 2.0;
    std::string inputs = "-v 1 " + sig;
    if (fx.neighbour) {
        std::vector<RUN> other = runs_b("QRL? QRL? DE W1AW QRL?", MACHINE, 22, seed + 5);
        std::string n = g_dir + "/neigh.wav";
        sox_signal(other, rate, n, 900);
        sh("sox " + n + " " + g_dir + "/neigh2.wav repeat 3 trim 0.3 " + fmt("%.3f", len));
        inputs += " -v 0.5 " + g_dir + "/neigh2.wav";
    }
    if (fx.snr_db < 999) {
        double amp = 0.025,
               band = amp * amp / 2 * fade_power(fx.fade_db) / pow(10.0, fx.snr_db / 10.0);
        double var = band * (rate / 2.0) / 500.0;
        double vol = sqrt(var / g_noise_var);
        // sox -R always draws the same noise: each message takes it from its own offset (with
        // seven offsets, as before, a machine's 32 messages held only 28 recordings, and moving
        // the signal half a millisecond against the noise moved -3 dB at 35 WPM by 4 points).
        std::string noise = g_dir + "/noise.wav";
        double skip = (double)(seed % 211) * 0.137;
        sh("sox -R -n -r " + std::to_string(rate) + " -c 1 -e floating-point -b 32 " + noise +
           " synth " + fmt("%.3f", len + skip) + " whitenoise trim " + fmt("%.3f", skip) + " " +
           fmt("%.3f", len));
        inputs += " -v " + fmt("%.5f", vol) + " " + noise;
    }
    if (fx.crashes) {
        // Crashes of sox's own making: 30 ms of white noise 30 dB (or less) above the signal in
        // the band, a sharp onset and a fading tail, every 3.3 s; at 8 kHz they clip at full scale.
        double amp = 0.025, band = amp * amp / 2 * pow(10.0, fx.crash_db / 10.0);
        double vol = sqrt(band * (rate / 2.0) / 500.0 / g_noise_var);
        std::string c = g_dir + "/crash.wav";
        sh("sox -R -n -r " + std::to_string(rate) + " -c 1 -e floating-point -b 32 " + c +
           " synth " + fmt("%.3f", CRASHES_B.ms / 1000) + " whitenoise vol " + fmt("%.4f", vol) +
           " fade 0 " + fmt("%.3f", CRASHES_B.ms / 1000) + " " +
           fmt("%.3f", 0.9 * CRASHES_B.ms / 1000) + " pad 0 " +
           fmt("%.3f", (CRASHES_B.every_ms - CRASHES_B.ms) / 1000) + " repeat " +
           std::to_string((int)(len * 1000 / CRASHES_B.every_ms) + 1) + " pad " +
           fmt("%.3f", CRASHES_B.first_ms / 1000) + " 0 trim 0 " + fmt("%.3f", len));
        inputs += " -v 1 " + c;
    }
    std::string effects =
        fx.agc ? " compand 0.002,0.25 -90,-70,-60,-40,-30,-30,0,-30 0 -90 0.002" : "";
    bool several = fx.neighbour || fx.crashes || fx.snr_db < 999;
    sh("sox " + std::string(several ? "-m " : "") + inputs + " -e floating-point -b 32 " + mix +
       effects);
    WavData w;
    if (!wav_read(mix, &w)) return {};
    return w.samples;
}

bool sox_ready() {
    if (g_noise_var > 0) return true;
    char tmpl[] = "/tmp/ear-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    g_dir = tmpl;
    std::string n = g_dir + "/n.wav";
    if (sh("sox -R -n -r 8000 -c 1 -e floating-point -b 32 " + n + " synth 10 whitenoise") != 0)
        return false;
    WavData w;
    if (!wav_read(n, &w) || w.samples.empty()) return false;
    double s = 0;
    for (float v : w.samples) s += (double)v * v;
    g_noise_var = s / (double)w.samples.size();
    return g_noise_var > 0;
}

// ---- Generator C: plain Python, with its own table, keying and operators ----

std::string g_python; // the generator script, beside this file

bool python_ready() {
    g_python = LUMIKEY_SOURCE_DIR "/bench/ear_signal_gen.py";
    if (g_dir.empty()) {
        char tmpl[] = "/tmp/ear-bench-XXXXXX";
        if (!mkdtemp(tmpl)) return false;
        g_dir = tmpl;
    }
    return access(g_python.c_str(), R_OK) == 0 && sh("python3 -c 'import wave'") == 0;
}

std::vector<float> scene_c(const char *text, Style style, int wpm, double snr, uint64_t seed) {
    std::string out = g_dir + "/py.wav";
    sh("python3 " + g_python + " '" + text + "' " + STYLE_NAMES[style] + " " + std::to_string(wpm) +
       " " + fmt("%.1f", snr) + " " + std::to_string(seed) + " 8000 " + out);
    WavData w;
    if (!wav_read(out, &w)) return {};
    return w.samples;
}

void python_table() {
    printf("\npython: character error rate %%, old -> new, by SNR in 500 Hz (clean first)\n");
    printf("%-16s", "style @ WPM");
    for (double s : SNRS) {
        if (s > 999)
            printf("%13s", "clean");
        else
            printf("%+11.0fdB", s);
    }
    printf("\n");
    for (int st = 0; st < STYLES; st++) {
        for (int wpm : SPEEDS) {
            printf("%-11s @ %2d", STYLE_NAMES[st], wpm);
            for (double snr : SNRS) {
                Score o, n;
                for (int i = 0; i < MESSAGES; i++) {
                    uint64_t seed = cell_seed(i, wpm);
                    const char *text = cell_text(i);
                    std::vector<float> x = scene_c(text, (Style)st, wpm, snr, seed);
                    o.add(text, old_read(x, 8000));
                    n.add(text, ear_read(x, 8000));
                }
                printf("%6.1f->%5.1f", o.cer(), n.cer());
                fflush(stdout);
            }
            printf("\n");
        }
    }
}

template <typename Scene, typename Runs>
void cell(Scene scene, Runs runs_of, Style style, int wpm, const EFFECTS &fx, Score *old_s,
          Score *new_s, Score *key_s) {
    for (int i = 0; i < MESSAGES; i++) {
        uint64_t seed = cell_seed(i, wpm);
        const char *text = cell_text(i);
        std::vector<RUN> runs = runs_of(text, style, wpm, seed);
        std::vector<float> x = scene(runs, fx, seed);
        if (old_s) old_s->add(text, old_read(x, fx.rate));
        new_s->add(text, ear_read(x, fx.rate));
        if (key_s) key_s->add(text, key_read(runs));
    }
}

template <typename Scene, typename Runs>
void snr_table(const char *name, Scene scene, Runs runs_of) {
    printf("\n%s: character error rate %%, old -> new, by SNR in 500 Hz (clean first)\n", name);
    printf("%-16s", "style @ WPM");
    for (double s : SNRS) {
        if (s > 999)
            printf("%13s", "clean");
        else
            printf("%+11.0fdB", s);
    }
    printf("%10s\n", "key dec.");
    for (int st = 0; st < STYLES; st++) {
        for (int wpm : SPEEDS) {
            printf("%-11s @ %2d", STYLE_NAMES[st], wpm);
            Score key;
            for (double snr : SNRS) {
                EFFECTS fx;
                fx.snr_db = snr;
                Score o, n;
                cell(scene, runs_of, (Style)st, wpm, fx, &o, &n,
                     snr > 999 && st == HAND ? &key : nullptr);
                printf("%6.1f->%5.1f", o.cer(), n.cer());
                fflush(stdout);
            }
            if (st == HAND) printf("%9.1f", key.cer());
            printf("\n");
        }
    }
}

template <typename Scene, typename Runs>
void effects_table(const char *name, Scene scene, Runs runs_of, int effects,
                   const CRASHES &crashes) {
    // Columns: EAR_BENCH_EFFECT_SNRS="3 0" for those alone.
    std::vector<double> snrs = {20.0, 6.0, 3.0, 0.0};
    if (const char *l = getenv("EAR_BENCH_EFFECT_SNRS")) {
        snrs.clear();
        for (char *e = nullptr;; l = e) {
            double v = strtod(l, &e);
            if (e == l) break;
            snrs.push_back(v);
        }
    }
    printf("\n%s: machine keying at 25 WPM with real-world effects, CER %%, old -> new\n", name);
    printf("%-22s", "effect");
    for (double s : snrs) printf("%10.0f dB", s);
    printf("\n");
    std::string fading = "fading 12 dB " + fmt("%.1f", FADE_HZ) + " Hz";
    const char *names[] = {
        "none",          fading.c_str(),       "neighbour 200 Hz -6 dB", "AGC",
        "crashes 30 dB", "weak crashes 10 dB", "fading 12 dB 0.2 Hz",    "fading 12 dB 0.5 Hz"};
    // EAR_BENCH_ROWS="1 5": those rows alone.
    const char *rows = getenv("EAR_BENCH_ROWS");
    for (int e = 0; e < effects; e++) {
        if (rows && !strchr(rows, '0' + e)) continue;
        printf("%-22s", names[e]);
        for (double snr : snrs) {
            EFFECTS fx;
            fx.snr_db = snr;
            fx.fade_db = e == 1 || e >= 6 ? 12 : 0;
            fx.fade_hz = e == 6 ? 0.2 : e == 7 ? 0.5 : FADE_HZ;
            fx.neighbour = e == 2;
            fx.agc = e == 3;
            fx.crashes = e == 4 || e == 5;
            fx.crash_db = e == 5 ? 10 : 30;
            Score o, n;
            cell(scene, runs_of, MACHINE, 25, fx, &o, &n, nullptr);
            printf("%6.1f->%5.1f", o.cer(), n.cer());
            fflush(stdout);
        }
        if (e == 4 || e == 5) {
            size_t hit = 0, chars = 0;
            for (int i = 0; i < MESSAGES; i++) {
                uint64_t seed = cell_seed(i, 25);
                const char *text = cell_text(i);
                hit += letters_hit(runs_of(text, MACHINE, 25, seed), 1200.0 / 25, crashes);
                chars += morse_text_length(text);
            }
            printf("   letters hit %.1f", 100.0 * (double)hit / (double)chars);
        }
        printf("\n");
    }
}

void speed_rows() {
    const char *speed = getenv("EAR_BENCH_SPEED");
    bool show = speed && strcmp(speed, "show") == 0;
    printf("\nmachine keying from 5 to 60 WPM, clean and +3 dB (tests' generator), CER %% old -> "
           "new\n");
    for (int wpm : {5, 8, 12, 20, 30, 40, 50, 60}) {
        printf("%2d WPM", wpm);
        for (double snr : {1000.0, 3.0}) {
            EFFECTS fx;
            fx.snr_db = snr;
            Score o, n;
            for (int i = 0; i < 2; i++) {
                uint64_t seed = 5 + (uint64_t)i;
                const char *text = TEXTS[i];
                std::vector<float> x = scene_a(runs_a(text, MACHINE, wpm, seed), fx, seed);
                o.add(text, old_read(x, 8000));
                std::string got = ear_read(x, 8000);
                // EAR_BENCH_SPEED=show: each reading too, to see which element went wrong.
                if (show) printf("\n  ref %s\n  new %s\n", text, got.c_str());
                n.add(text, got);
            }
            printf("%8.1f->%5.1f", o.cer(), n.cer());
        }
        printf("\n");
    }
}

void real_time(uint32_t rate) {
    EFFECTS fx;
    fx.snr_db = 3;
    fx.rate = rate;
    std::vector<RUN> runs;
    while (runs_ms(runs) < 60000) {
        std::vector<RUN> more = runs_a(TEXTS[1], MACHINE, 20, 3);
        if (!runs.empty()) runs.push_back(RUN{0, 420});
        runs.insert(runs.end(), more.begin(), more.end());
    }
    std::vector<float> x = scene_a(runs, fx, 3);
    auto t0 = std::chrono::steady_clock::now();
    std::string got = ear_read(x, rate);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    printf("real time factor at %u Hz: %.0fx (%.1f s of sound in %.3f s)\n", rate,
           (double)x.size() / rate / s, (double)x.size() / rate, s);
}

void BM_EarMinuteAt8k(benchmark::State &state) {
    EFFECTS fx;
    fx.snr_db = 3;
    std::vector<RUN> runs = runs_a(TEXTS[1], MACHINE, 20, 3);
    std::vector<float> x = scene_a(runs, fx, 3);
    for (auto _ : state) benchmark::DoNotOptimize(ear_read(x, 8000));
}
BENCHMARK(BM_EarMinuteAt8k)->Unit(benchmark::kMillisecond);

} // namespace

// The effects a look at one cell asks for: EAR_BENCH_FADE (12 dB at FADE_HZ),
// EAR_BENCH_NEIGHBOUR, EAR_BENCH_AGC, EAR_BENCH_CRASHES (=10: 10 dB over the signal, not 30).
EFFECTS effects_of_env(double snr) {
    EFFECTS fx;
    fx.snr_db = snr;
    fx.fade_db = getenv("EAR_BENCH_FADE") ? 12 : 0;
    fx.fade_hz = FADE_HZ;
    fx.neighbour = getenv("EAR_BENCH_NEIGHBOUR") != nullptr;
    fx.agc = getenv("EAR_BENCH_AGC") != nullptr;
    fx.crashes = getenv("EAR_BENCH_CRASHES") != nullptr;
    if (fx.crashes && atof(getenv("EAR_BENCH_CRASHES")) > 0)
        fx.crash_db = atof(getenv("EAR_BENCH_CRASHES"));
    return fx;
}

// EAR_BENCH_SHOW="STYLE WPM SNR": what each path reads of one cell (tests' generator), for a look.
void show(const char *spec) {
    int st = 0, wpm = 25;
    double snr = 0;
    if (sscanf(spec, "%d %d %lf", &st, &wpm, &snr) != 3) return;
    // EAR_BENCH_LOG: the ear's own account of each reading as well.
    if (getenv("EAR_BENCH_LOG")) set_log_level(LOG_DEBUG);
    for (int i = 0; i < MESSAGES; i++) {
        uint64_t seed = cell_seed(i, wpm);
        const char *text = cell_text(i);
        EFFECTS fx = effects_of_env(snr);
        // EAR_BENCH_SOX: sox's recording of the same cell instead.
        bool sox = getenv("EAR_BENCH_SOX") && sox_ready();
        std::vector<RUN> runs =
            sox ? runs_b(text, (Style)st, wpm, seed) : runs_a(text, (Style)st, wpm, seed);
        std::vector<float> x = sox ? scene_b(runs, fx, seed) : scene_a(runs, fx, seed);
        printf("ref %s\nold %s\nnew %s\n", text, old_read(x, 8000).c_str(),
               ear_read(x, 8000).c_str());
        if (st == HAND) printf("key %s\n", key_read(runs).c_str());
    }
}

// EAR_BENCH_SCAN="STYLE WPM SNR": the ear alone over EAR_BENCH_MESSAGES messages of one cell from
// each generator, with the readings that went wrong: cells of 4 messages are too coarse to tune
// by (one character is 0.8 %).
void scan(const char *spec) {
    int st = 0, wpm = 25;
    double snr = 0;
    if (sscanf(spec, "%d %d %lf", &st, &wpm, &snr) != 3) return;
    const char *const names[] = {"tests'", "sox", "python"};
    // The Python generator makes noise alone: with an effect asked for, the other two read.
    EFFECTS asked = effects_of_env(snr);
    bool plain = asked.fade_db == 0 && !asked.neighbour && !asked.agc && !asked.crashes;
    bool ready[] = {true, sox_ready(), plain && python_ready()};
    for (int gen = 0; gen < 3; gen++) {
        if (!ready[gen]) continue;
        Score n;
        for (int i = 0; i < MESSAGES; i++) {
            uint64_t seed = cell_seed(i, wpm);
            const char *text = cell_text(i);
            std::vector<float> x;
            if (gen == 0) x = scene_a(runs_a(text, (Style)st, wpm, seed), asked, seed);
            if (gen == 1) x = scene_b(runs_b(text, (Style)st, wpm, seed), asked, seed);
            if (gen == 2) x = scene_c(text, (Style)st, wpm, snr, seed);
            std::string got = ear_read(x, 8000);
            if (morse_text_distance(text, got) > 0) printf("  %s\n", got.c_str());
            n.add(text, got);
        }
        printf("%s: %zu of %zu wrong, %.2f %%\n", names[gen], n.errors, n.chars, n.cer());
        fflush(stdout);
    }
    if (!g_dir.empty()) sh("rm -rf " + g_dir);
}

int main(int argc, char **argv) {
    if (const char *f = getenv("EAR_BENCH_FADE_HZ")) FADE_HZ = std::clamp(atof(f), 0.05, 2.0);
    // EAR_BENCH_MESSAGES=1 for a quick look.
    if (const char *m = getenv("EAR_BENCH_MESSAGES")) MESSAGES = std::max(1, atoi(m));
    if (const char *spec = getenv("EAR_BENCH_SHOW")) {
        show(spec);
        return 0;
    }
    if (const char *spec = getenv("EAR_BENCH_SCAN")) {
        scan(spec);
        return 0;
    }
    // EAR_BENCH_SPEED: the speed rows alone (their cells hold one character in 64).
    if (getenv("EAR_BENCH_SPEED")) {
        speed_rows();
        return 0;
    }
    // EAR_BENCH_COST: the real-time factors alone.
    if (getenv("EAR_BENCH_COST")) {
        real_time(8000);
        real_time(48000);
        return 0;
    }
    // EAR_BENCH_EFFECTS: the effects rows alone, tests' generator and sox (with EAR_BENCH_QUICK,
    // the tests' generator's alone).
    if (getenv("EAR_BENCH_EFFECTS")) {
        effects_table("tests' generator", scene_a, runs_a, 8, CRASHES_A);
        if (!getenv("EAR_BENCH_QUICK") && sox_ready())
            effects_table("sox", scene_b, runs_b, 8, CRASHES_B);
        if (!g_dir.empty()) sh("rm -rf " + g_dir);
        return 0;
    }
    // EAR_BENCH_SNRS="0 -3": those columns alone; EAR_BENCH_STYLES=1: machine keying alone;
    // EAR_BENCH_SNR_ONLY: the SNR tables alone (no cost, effects or speed rows).
    if (const char *l = getenv("EAR_BENCH_SNRS")) {
        SNRS.clear();
        for (char *e = nullptr;; l = e) {
            double v = strtod(l, &e);
            if (e == l) break;
            SNRS.push_back(v);
        }
    }
    if (const char *st = getenv("EAR_BENCH_STYLES")) STYLES = std::clamp(atoi(st), 1, 3);
    bool extras = getenv("EAR_BENCH_SNR_ONLY") == nullptr;
    if (extras) {
        real_time(8000);
        real_time(48000);
    }
    snr_table("tests' generator", scene_a, runs_a);
    if (extras) effects_table("tests' generator", scene_a, runs_a, 8, CRASHES_A);
    // EAR_BENCH_QUICK: the tests' generator's tables alone, while tuning.
    if (getenv("EAR_BENCH_QUICK")) return 0;
    if (extras) speed_rows();
    if (sox_ready()) {
        snr_table("sox", scene_b, runs_b);
        if (extras) effects_table("sox", scene_b, runs_b, 8, CRASHES_B);
    } else {
        printf("\nsox is missing (tools/install-deps.sh installs it): its tables are left out\n");
    }
    if (python_ready())
        python_table();
    else
        printf("\npython3 is missing: the third generator's table is left out\n");
    if (!g_dir.empty()) sh("rm -rf " + g_dir);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
