// bench/mic_live_bench.cpp: what the microphone's reader with hindsight costs in time. Each
// recording starts at its first tone and is heard as the microphone hears it: 10 ms blocks,
// the live tone detector's first edge telling the reader that a message is under way, and a
// live reading whenever the reader is free again (at most every 250 ms of sound), each one
// showing only once it has been computed (its measured cost added to the stream's time).
// Two generators written apart make the sound: the tests' own (raised-cosine edges, the
// sequencer's timing) and the plain Python one of the ear's benchmark (its own table, keying
// through a first-order filter, a carrier off pitch). A letter's end is found in the clean
// sound itself, so both are measured the same way.
//
// Printed: the delay from a letter's last tone to the reading that first shows it right, once
// the speed is known (held back no more), in letter lengths (a letter of PARIS, ten units);
// the delay of the first letter, which waits for the speed; whether the saved reading is the
// whole text; and the ear's cost at the message's end, in ms per second of sound.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/mic.hpp"
#include "morse/ear_live.hpp"
#include "morse/tone_detect.hpp"
#include "tests/support/morse_audio.hpp"
#include "tests/support/wav_reader.hpp"

namespace {

const char *const TEXTS[] = {
    "CQ CQ DE F4LKY F4LKY K",
    "RST 579 QTH NEAR LYON NAME ANNE",
    "THE QUICK BROWN FOX JUMPS OVER 5 LAZY DOGS",
};
const int SPEEDS[] = {15, 25, 35};

double now_ms() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---- The two generators, each cut to start at its first tone ----

// Where the first tone starts in clean sound, in samples.
size_t first_tone(const std::vector<float> &clean) {
    size_t k = 0;
    while (k < clean.size() && fabsf(clean[k]) < 0.01f) k++;
    return k > 8 ? k - 8 : 0;
}

void cut(std::vector<float> *x, size_t at) {
    x->erase(x->begin(), x->begin() + (ptrdiff_t)std::min(at, x->size()));
}

std::vector<float> gen_tests(const char *text, int wpm, double snr, uint64_t seed) {
    AUDIO_STATION st;
    st.text = text;
    st.wpm = wpm;
    st.hz = 650;
    st.amplitude = 0.3;
    st.start_ms = 0;
    AUDIO_SCENE sc;
    sc.snr_db = snr;
    sc.seed = seed;
    sc.tail_ms = 6000;
    return audio_render(sc, {st});
}

std::string g_python, g_dir;

bool python_ready() {
    g_python = LUMIKEY_SOURCE_DIR "/bench/ear_signal_gen.py";
    char tmpl[] = "/tmp/mic-live-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    g_dir = tmpl;
    return access(g_python.c_str(), R_OK) == 0 &&
           system("python3 -c 'import wave' 2>/dev/null") == 0;
}

std::vector<float> gen_python(const char *text, int wpm, double snr, uint64_t seed) {
    std::string out = g_dir + "/py.wav";
    std::string cmd = "python3 " + g_python + " '" + text + "' machine " + std::to_string(wpm) +
                      " " + std::to_string(snr) + " " + std::to_string(seed) + " 8000 " + out +
                      " 2>/dev/null";
    if (system(cmd.c_str()) != 0) return {};
    WavData w;
    if (!wav_read(out, &w)) return {};
    w.samples.resize(w.samples.size() + 5 * 8000, 0.0f); // the end-of-message silence
    return w.samples;
}

// The end of every letter's last mark, in ms, from clean sound: marks closer than two units
// belong to one letter.
std::vector<double> letter_ends(const std::vector<float> &clean, int wpm) {
    float peak = 0;
    for (float v : clean) peak = std::max(peak, fabsf(v));
    std::vector<WavSegment> marks = wav_segments(clean, 0.3f * peak, 8000 / 500);
    std::vector<double> ends;
    double unit = 1200.0 / wpm;
    for (size_t i = 0; i < marks.size(); i++) {
        bool last =
            i + 1 == marks.size() || (double)(marks[i + 1].start - marks[i].end) / 8.0 > 2.0 * unit;
        if (last) ends.push_back((double)marks[i].end / 8.0);
    }
    return ends;
}

std::string letters_of(const std::string &s) {
    std::string out;
    for (char c : s)
        if (c != ' ') out.push_back(c);
    return out;
}

// ---- The live reader, as the receiver's thread runs it ----

struct LIVE_RUN {
    std::vector<double> delay_ms; // per letter; -1 if never shown right
    std::string saved;
    double end_cost_ms = 0, sound_ms = 0, heard_ms = -1;
};

// The detector's edges as the receiver's sink hands them on: the first tone, then silences.
struct EDGES {
    double first = -1, last_up = -1;
    std::vector<std::pair<double, double>> gaps;
};

void on_edge(double t_ms, int down, void *user) {
    EDGES *e = (EDGES *)user;
    if (!down) {
        e->last_up = t_ms;
    } else if (e->first < 0) {
        e->first = t_ms;
    } else if (e->last_up >= 0 && t_ms - e->last_up >= 100) {
        e->gaps.emplace_back(e->last_up, t_ms);
    }
}

LIVE_RUN live_run(const std::vector<float> &x, const std::string &ref,
                  const std::vector<double> &ends) {
    LIVE_RUN r;
    EAR_LIVE_CONFIG lc;
    ear_live_config_default(&lc);
    // MIC_BENCH_WINDOW=ms: the live window another length, to see what it costs in delay.
    if (const char *w = getenv("MIC_BENCH_WINDOW")) lc.window_ms = (uint32_t)atoi(w);
    EAR_LIVE *el = ear_live_new(&lc);
    TONE_DETECT_CONFIG tc;
    mic_tone_config(&tc, 8000);
    EDGES edges;
    tc.on_edge = on_edge;
    tc.user = &edges;
    TONE_DETECT *td = tone_detect_new(&tc);
    std::string want = letters_of(ref);
    r.delay_ms.assign(want.size(), -1);
    double next_read = 0;
    static char text[1024];
    for (size_t i = 0; i + 80 <= x.size(); i += 80) {
        tone_detect_process(td, &x[i], 80);
        ear_live_feed(el, &x[i], 80);
        if (edges.first >= 0 && r.heard_ms < 0) {
            r.heard_ms = edges.first;
            ear_live_heard(el, edges.first);
        }
        for (const auto &g : edges.gaps) ear_live_gap(el, g.first, g.second);
        edges.gaps.clear();
        double t = ear_live_time_ms(el);
        if (t < next_read) continue;
        double c0 = now_ms();
        int shown = ear_live_read(el, text, sizeof text, nullptr, 0, nullptr);
        double cost = now_ms() - c0;
        next_read = t + std::max(250.0, cost);
        if (shown != 1) continue;
        std::string got = letters_of(text);
        for (size_t k = 0; k < want.size() && k < got.size() && got[k] == want[k]; k++)
            if (r.delay_ms[k] < 0 && k < ends.size()) r.delay_ms[k] = t + cost - ends[k];
    }
    double c0 = now_ms();
    ear_live_end(
        el,
        [](const EAR_MESSAGE *m, void *u) {
            std::string *s = (std::string *)u;
            if (!s->empty()) s->push_back(' ');
            s->append(m->text);
        },
        &r.saved);
    r.end_cost_ms = now_ms() - c0;
    r.sound_ms = (double)x.size() / 8.0;
    tone_detect_free(&td);
    ear_live_free(&el);
    return r;
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[(size_t)(q * (double)(v.size() - 1) + 0.5)];
}

void table(const char *name, std::vector<float> (*gen)(const char *, int, double, uint64_t)) {
    printf("\n%s generator, from the first tone:\n", name);
    printf("%-5s %-6s %22s %22s %14s %10s %12s\n", "WPM", "SNR", "delay median/max (L)",
           "first letter ms (L)", "never shown", "saved ok", "end ms/s");
    const double snrs[] = {1000, 6};
    for (int wpm : SPEEDS) {
        for (double snr : snrs) {
            std::vector<double> known, firsts;
            size_t missing = 0, ok = 0, n = 0;
            double cost = 0, sound = 0;
            double letter_ms = 12000.0 / wpm;
            for (size_t i = 0; i < sizeof TEXTS / sizeof *TEXTS; i++) {
                uint64_t seed = 3 + i * 17 + (uint64_t)wpm;
                // A noisy copy keys as its clean twin does: both are cut at its first tone.
                std::vector<float> clean = gen(TEXTS[i], wpm, 1000, seed);
                std::vector<float> x = snr > 999 ? clean : gen(TEXTS[i], wpm, snr, seed);
                if (x.empty() || x.size() != clean.size()) continue;
                size_t at = first_tone(clean);
                cut(&clean, at);
                cut(&x, at);
                std::vector<double> ends = letter_ends(clean, wpm);
                LIVE_RUN r = live_run(x, TEXTS[i], ends);
                n++;
                ok += r.saved == TEXTS[i];
                if (r.saved != TEXTS[i])
                    printf("  saved \"%s\" for \"%s\"\n", r.saved.c_str(), TEXTS[i]);
                cost += r.end_cost_ms;
                sound += r.sound_ms;
                if (!r.delay_ms.empty() && r.delay_ms[0] >= 0) firsts.push_back(r.delay_ms[0]);
                double hold_end = r.heard_ms + 2500;
                for (size_t k = 0; k < r.delay_ms.size() && k < ends.size(); k++) {
                    if (r.delay_ms[k] < 0) {
                        missing++;
                    } else if (ends[k] > hold_end) {
                        known.push_back(r.delay_ms[k] / letter_ms);
                    }
                }
            }
            double f = quantile(firsts, 0.5);
            printf("%-5d %-6s %10.2f / %-9.2f %12.0f (%5.1f) %14zu %7zu/%zu %12.2f\n", wpm,
                   snr > 999 ? "clean" : "+6 dB", quantile(known, 0.5), quantile(known, 1.0), f,
                   f / letter_ms, missing, ok, n, sound > 0 ? cost / (sound / 1000.0) : 0);
        }
    }
}

// A long message: the live reading's cost would grow with it, but the start is frozen once
// read, so the delay stays that of a short one.
void long_table(const char *name, std::vector<float> (*gen)(const char *, int, double, uint64_t)) {
    std::string text;
    while (text.size() < 420)
        text += (text.empty() ? "" : " ") + std::string(TEXTS[text.size() % 3]);
    printf("\n%s generator, one long message (%zu characters) at 35 WPM:\n", name, text.size());
    std::vector<float> x = gen(text.c_str(), 35, 1000, 5);
    cut(&x, first_tone(x));
    std::vector<double> ends = letter_ends(x, 35);
    LIVE_RUN r = live_run(x, text, ends);
    double letter_ms = 12000.0 / 35;
    std::vector<double> known;
    size_t missing = 0;
    double worst_late = 0; // over the last quarter of the message, the costliest readings
    for (size_t k = 0; k < r.delay_ms.size() && k < ends.size(); k++) {
        if (r.delay_ms[k] < 0) {
            missing++;
            continue;
        }
        if (ends[k] > r.heard_ms + 2500) known.push_back(r.delay_ms[k] / letter_ms);
        if (k > 3 * ends.size() / 4) worst_late = std::max(worst_late, r.delay_ms[k] / letter_ms);
    }
    printf("%.0f s of sound: delay median %.2f L, max %.2f L (last quarter %.2f L), never shown "
           "%zu, saved %s, end %.2f ms/s\n",
           r.sound_ms / 1000, quantile(known, 0.5), quantile(known, 1.0), worst_late, missing,
           r.saved == text ? "whole" : "NOT whole", r.end_cost_ms / (r.sound_ms / 1000.0));
}

void BM_LiveReading(benchmark::State &state) {
    std::vector<float> x = gen_tests(TEXTS[2], 25, 6, 1);
    EAR_LIVE *el = ear_live_new(nullptr);
    ear_live_feed(el, x.data(), x.size());
    ear_live_heard(el, 0);
    static char text[1024];
    for (auto _ : state)
        benchmark::DoNotOptimize(ear_live_read(el, text, sizeof text, nullptr, 0, nullptr));
    state.counters["sound_s"] = (double)x.size() / 8000.0;
    ear_live_free(&el);
}
BENCHMARK(BM_LiveReading)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    // Line by line, so a run piped to a file shows its rows as they come.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    printf("Microphone reader with hindsight (L = one letter length, ten units; the first letters "
           "are held back 2.5 s while the speed is learnt)\n");
    table("tests'", gen_tests);
    long_table("tests'", gen_tests);
    if (python_ready()) {
        table("python", gen_python);
        long_table("python", gen_python);
    } else {
        printf("\npython3 is missing: the second generator's table is left out\n");
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
