// bench/sidetone_bench.cpp: the sidetone's key-to-sound delay, on both of its paths in one run,
// against a PulseAudio server of the bench's own whose sink plays in real time like a card:
// - mixer: the stream of Allegro's mixer, as used where no server answers. Timed from
//   sidetone_key(1) until the first non-silent sample leaves the stream for the mixer (the
//   fill of the same buffer one stream length later); the mixer and Allegro's own output
//   buffers come on top, unseen, so this is its best case.
// - direct: the sidetone's own PulseAudio stream. Timed until the server's read position
//   reaches the first non-silent sample: when it is handed over, plus how far ahead of that
//   position it was written (over the queue, or at its end). The device's buffer, which the
//   server reports, comes on top; the short queue of the stream before key changes were
//   written over it is measured alongside.
// Then the processor time the sidetone costs while it runs with the key up, the server's timing
// settings compared, and 60 s runs of fast keying recorded from the sink and searched for
// clicks, gaps and underruns.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>
#include <allegro5/allegro.h>
#include <allegro5/allegro_audio.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include "audio/sidetone.hpp"
#include "audio/sidetone_pulse.hpp"
#include "audio/tone.hpp"
#include "support/pulse_server.hpp"
#include "support/test_env.hpp"
#include "support/wav_reader.hpp"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr size_t MIXER_FRAGMENTS = 5; // the mixer stream's length in fragments
constexpr size_t RING = 1 << 16;
constexpr uint32_t HZ = 700;

PulseServer *server = nullptr;

// The stream as it was before key changes were written over its queue: a 4-request queue
// (5.7 ms at 44.1 kHz) sized with the device's buffer, grown to at most 11 requests.
const SIDETONE_PULSE_TUNING BEFORE = {0, 4 * 63, 11 * 63, SIDETONE_PULSE_ADJUST_LATENCY, 0, 1, 0};

// Written by the thread that makes the samples, read after the count has been seen.
struct FillLog {
    std::atomic<size_t> count{0};
    std::vector<Clock::time_point> when = std::vector<Clock::time_point>(RING);
    std::vector<int> first_sound = std::vector<int>(RING);    // -1 for a silent block
    std::vector<uint32_t> lead = std::vector<uint32_t>(RING); // samples the server had yet to read
} fills;

void on_fill(const int16_t *frag, size_t n, void *) {
    size_t i = fills.count.load(std::memory_order_relaxed);
    int first = -1;
    for (size_t k = 0; k < n; k++)
        if (frag[k] != 0) {
            first = (int)k;
            break;
        }
    fills.when[i % RING] = Clock::now();
    fills.first_sound[i % RING] = first;
    fills.lead[i % RING] = sidetone_pulse_fill_lead_samples();
    fills.count.store(i + 1, std::memory_order_release);
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

bool wait_fills(size_t n) {
    auto limit = Clock::now() + 2s;
    while (fills.count.load(std::memory_order_acquire) < n)
        if (Clock::now() > limit)
            return false;
        else
            std::this_thread::sleep_for(200us);
    return true;
}

// When a key-down at key is first heard, in ms after it, judged from the blocks made from
// index first on until until: a block appended at the end of the queue may be made before the
// one written over the queue, and the earlier sound wins. -1 when none sounds.
double first_heard_ms(size_t first, Clock::time_point key, Clock::time_point until, uint32_t rate) {
    double best = -1;
    for (size_t i = first; i < fills.count.load(std::memory_order_acquire); i++) {
        Clock::time_point when = fills.when[i % RING];
        if (when >= until) break;
        if (when < key || fills.first_sound[i % RING] < 0) continue;
        double at =
            ms(when - key) + (fills.first_sound[i % RING] + fills.lead[i % RING]) * 1000.0 / rate;
        if (best < 0 || at < best) best = at;
    }
    return best;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}
double worst(const std::vector<double> &v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

// Starts the sidetone on the mixer (no server reachable for it) or on its own stream.
bool start(bool direct) {
    sidetone_set_fill_hook(on_fill, nullptr);
    int ok;
    if (direct) {
        ok = sidetone_start(HZ);
    } else {
        ScopedEnv none("PULSE_SERVER", "unix:/nonexistent/lumikey");
        ok = sidetone_start(HZ);
    }
    return ok && sidetone_direct() == (direct ? 1 : 0);
}

void key_to_sound(benchmark::State &state, bool direct, const SIDETONE_PULSE_TUNING *tuning,
                  const char *what) {
    sidetone_pulse_set_tuning(tuning);
    bool started = start(direct);
    sidetone_pulse_set_tuning(nullptr);
    if (!started) {
        state.SkipWithError("the sidetone did not start on this path");
        return;
    }
    uint32_t rate = tone_mixer_rate();
    size_t later = MIXER_FRAGMENTS;
    std::vector<double> total, queue_ms;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pause_us(30000, 70000);
    for (auto _ : state) {
        for (int trial = 0; trial < 100; trial++) {
            std::this_thread::sleep_for(std::chrono::microseconds(pause_us(rng)));
            size_t n = fills.count.load(std::memory_order_acquire);
            Clock::time_point key = Clock::now();
            sidetone_key(1);
            if (direct) {
                std::this_thread::sleep_for(20ms);
                double heard = first_heard_ms(n, key, Clock::now(), rate);
                sidetone_key(0);
                if (heard < 0) {
                    state.SkipWithError("no sound followed a key-down");
                    break;
                }
                total.push_back(heard);
                queue_ms.push_back(sidetone_pulse_device_latency_us() / 1000.0);
                continue;
            }
            for (;; n++) {
                if (!wait_fills(n + 1)) break;
                if (fills.first_sound[n % RING] >= 0 && fills.when[n % RING] >= key) break;
            }
            if (!wait_fills(n + later + 1)) {
                state.SkipWithError("the stream stopped asking for samples");
                break;
            }
            double sound_at = fills.first_sound[n % RING] * 1000.0 / rate;
            total.push_back(ms(fills.when[(n + later) % RING] - key) + sound_at);
            std::this_thread::sleep_for(20ms);
            sidetone_key(0);
        }
    }
    sidetone_stop();
    sidetone_set_fill_hook(nullptr, nullptr);
    state.counters["median_ms"] = median(total);
    state.counters["worst_ms"] = worst(total);
    printf("%s: key to the first sound at the server's read position, %zu presses at %u Hz: median "
           "%.2f ms, worst "
           "%.2f ms\n",
           what, total.size(), rate, median(total), worst(total));
    if (direct)
        printf("  then in the device: median %.2f ms, worst %.2f ms; underruns %u\n",
               median(queue_ms), worst(queue_ms), sidetone_pulse_underruns());
}

void BM_KeyToSoundMixer(benchmark::State &state) {
    key_to_sound(state, false, nullptr, "mixer stream (where no server answers)");
}
void BM_KeyToSoundDirectBefore(benchmark::State &state) {
    key_to_sound(state, true, &BEFORE, "direct stream, short queue, no rewrite (before)");
}
void BM_KeyToSoundDirect(benchmark::State &state) {
    key_to_sound(state, true, nullptr, "direct stream, long queue written over (as shipped)");
}
BENCHMARK(BM_KeyToSoundMixer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyToSoundDirectBefore)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyToSoundDirect)->Iterations(1)->Unit(benchmark::kMillisecond);

// Processor time of a process in ms (utime + stime from /proc).
double proc_cpu_ms(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(in)), {});
    size_t p = s.rfind(')');
    if (p == std::string::npos) return 0;
    std::vector<std::string> f;
    size_t i = p + 2;
    while (i < s.size()) {
        size_t j = s.find(' ', i);
        if (j == std::string::npos) j = s.size();
        f.push_back(s.substr(i, j - i));
        i = j + 1;
    }
    if (f.size() < 13) return 0;
    return (std::stod(f[11]) + std::stod(f[12])) * 1000.0 / (double)sysconf(_SC_CLK_TCK);
}

// Percent of one core used by this process and by the server over a few quiet seconds.
void idle_cpu(benchmark::State &state, int path) {
    if (path >= 0 && !start(path == 1)) {
        state.SkipWithError("the sidetone did not start on this path");
        return;
    }
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(300ms);
        timespec a{}, b{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
        double sa = proc_cpu_ms(server->pid());
        auto t0 = Clock::now();
        std::this_thread::sleep_for(4s);
        double wall = ms(Clock::now() - t0);
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
        double used = (b.tv_sec - a.tv_sec) * 1000.0 + (b.tv_nsec - a.tv_nsec) / 1e6;
        ours = 100.0 * used / wall;
        theirs = 100.0 * (proc_cpu_ms(server->pid()) - sa) / wall;
    }
    sidetone_stop();
    sidetone_set_fill_hook(nullptr, nullptr);
    state.counters["program_cpu_pct"] = ours;
    state.counters["server_cpu_pct"] = theirs;
    const char *what[] = {"sidetone stopped", "mixer stream idle", "direct stream idle"};
    printf("%s: program %.2f %% of a core, server %.2f %%\n", what[path + 1], ours, theirs);
}
void BM_IdleCpuStopped(benchmark::State &state) {
    idle_cpu(state, -1);
}
void BM_IdleCpuMixer(benchmark::State &state) {
    idle_cpu(state, 0);
}
void BM_IdleCpuDirect(benchmark::State &state) {
    idle_cpu(state, 1);
}
BENCHMARK(BM_IdleCpuStopped)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCpuMixer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCpuDirect)->Iterations(1)->Unit(benchmark::kMillisecond);

// Random fast keying (dots of 40 to 60 ms, 30 to 20 WPM, dashes of three, one-dot gaps) on the
// direct stream, recorded from the sink. Reports the delay from each key-down to the first
// sound handed to the server, the underruns, the samples that break the sine within a tone
// (a click or gap), the longest queue the stream grew to and the server's own estimate of the
// queue's delay.
struct RunResult {
    size_t presses = 0, tones = 0, breaks = 0;
    uint32_t underruns = 0, base_queue = 0, highest_queue = 0, rate = 0;
    std::vector<double> handover_ms, server_ms;
    // From each key-down to its tone leaving the sink, as the sink's reader saw it: a rewrite
    // the server ignores shows here, and in no estimate of the stream's own.
    std::vector<double> heard_ms;
    std::string error;
};

RunResult keying_run(int seconds, unsigned seed, PulseServer *srv) {
    RunResult r;
    std::string why;
    if (!start(true) || !srv->record_start(&why)) {
        sidetone_stop();
        sidetone_set_fill_hook(nullptr, nullptr);
        r.error = "no direct stream or no recording: " + why;
        return r;
    }
    r.rate = tone_mixer_rate();
    r.base_queue = sidetone_pulse_target_samples();
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dot_ms(40, 60), dash(0, 1);
    std::vector<Clock::time_point> downs;
    size_t first_fill = fills.count.load(std::memory_order_acquire);
    // A keying thread that wakes late would shorten the gap after a press until two tones
    // merge; a real keyer's timing is not what is measured here.
    ScopedRealtime keyer_priority;
    auto t = Clock::now() + 100ms, end = t + std::chrono::seconds(seconds);
    while (t < end) {
        int dot = dot_ms(rng);
        std::this_thread::sleep_until(t);
        downs.push_back(Clock::now());
        sidetone_key(1);
        t += std::chrono::milliseconds(dash(rng) ? 3 * dot : dot);
        std::this_thread::sleep_until(t);
        sidetone_key(0);
        // Read while the key is up, where the lock it takes cannot delay a key-down's sound.
        r.server_ms.push_back(sidetone_pulse_device_latency_us() / 1000.0);
        t += std::chrono::milliseconds(dot);
    }
    std::this_thread::sleep_until(t + 200ms);
    r.presses = downs.size();
    r.underruns = sidetone_pulse_underruns();
    r.highest_queue = sidetone_pulse_highest_target_samples();
    size_t last_fill = fills.count.load(std::memory_order_acquire);
    sidetone_stop();
    sidetone_set_fill_hook(nullptr, nullptr);
    if (last_fill - first_fill > RING) {
        r.error = "the fill log overflowed";
        return r;
    }
    // A key-down's sound is in what was made before the key went up again, 40 ms or more later.
    size_t f = first_fill;
    for (Clock::time_point key : downs) {
        while (f < last_fill && fills.when[f % RING] < key) f++;
        double heard = first_heard_ms(f, key, key + 35ms, r.rate);
        if (heard >= 0) r.handover_ms.push_back(heard);
    }
    WavData wav;
    if (!wav_read(srv->record_stop(), &wav, &why)) {
        r.error = why;
        return r;
    }
    float peak = wav_peak(wav.samples, 0, wav.samples.size());
    std::vector<WavSegment> seg = wav_segments(wav.samples, 0.02f * peak, wav.rate / 100);
    r.tones = seg.size();
    for (const WavSegment &s : seg)
        r.breaks += wav_sine_breaks(wav.samples, s.start, s.end, HZ, wav.rate, 0.01f);
    size_t k = 0;
    for (Clock::time_point key : downs) {
        Clock::time_point at;
        while (k < seg.size() && srv->sample_time(seg[k].start, &at) && at < key - 2ms) k++;
        if (k < seg.size() && srv->sample_time(seg[k].start, &at) && at < key + 150ms)
            r.heard_ms.push_back(ms(at - key));
    }
    return r;
}

void report(benchmark::State &state, const char *what, const RunResult &r) {
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    double per_ms = r.rate / 1000.0;
    state.counters["underruns"] = r.underruns;
    state.counters["sample_breaks"] = (double)r.breaks;
    state.counters["median_ms"] = median(r.handover_ms);
    state.counters["worst_ms"] = worst(r.handover_ms);
    state.counters["queue_max_ms"] = r.highest_queue / per_ms;
    printf("%s: %zu presses, %zu tones heard, %u underruns, %zu broken samples; key to server "
           "median %.2f ms, worst %.2f ms; queue %.1f ms, grew to %.1f ms; then in the device "
           "median %.2f ms, worst %.2f ms; key to the sink's output median %.2f ms, worst %.2f "
           "ms (%zu tones matched)\n",
           what, r.presses, r.tones, r.underruns, r.breaks, median(r.handover_ms),
           worst(r.handover_ms), r.base_queue / per_ms, r.highest_queue / per_ms,
           median(r.server_ms), worst(r.server_ms), median(r.heard_ms), worst(r.heard_ms),
           r.heard_ms.size());
    state.counters["heard_median_ms"] = median(r.heard_ms);
}

// The server's timing settings compared, 20 s of keying each, on a private server whose
// threads are real-time where allowed so that the machine's load weighs less than the settings.
struct Timing {
    const char *name;
    SIDETONE_PULSE_TUNING tuning;
};
const Timing TIMINGS[] = {
    {"short queue, device buffer sized to it, no rewrite (before)", BEFORE},
    {"long queue written over, early requests (as shipped)", {}},
    {"long queue written over, device buffer sized to it",
     {0, 0, 0, SIDETONE_PULSE_ADJUST_LATENCY, 0, 0, 0}},
    {"long queue written over, server's own device buffer",
     {0, 0, 0, SIDETONE_PULSE_PLAIN, 0, 0, 0}},
    {"short queue written over, early requests", {0, 4 * 63, 11 * 63, 0, 0, 0, 0}},
    {"long queue, early requests, no rewrite", {0, 0, 0, 0, 0, 1, 0}},
    {"long queue written over, queue filled as the server starts", {0, 0, 0, 0, 1, 0, 0}},
};

void BM_ServerTiming(benchmark::State &state) {
    const Timing &t = TIMINGS[state.range(0)];
    PulseServer own;
    std::string why;
    bool rt = own.ok() && own.make_realtime(&why);
    RunResult r;
    for (auto _ : state) {
        sidetone_pulse_set_tuning(&t.tuning);
        r = keying_run(20, 3, &own);
        sidetone_pulse_set_tuning(nullptr);
    }
    std::string what = std::string(t.name) + (rt ? "" : " (server not real-time: " + why + ")");
    report(state, what.c_str(), r);
}
BENCHMARK(BM_ServerTiming)->DenseRange(0, 6)->Iterations(1)->Unit(benchmark::kMillisecond);

// Does the stream run dry as it starts? 30 starts, each followed by 300 ms of keying-free
// playing, with the queue filled before playing starts (as shipped) and without, on the server
// as the daemon sets itself up.
void BM_StartUnderruns(benchmark::State &state) {
    bool prefill = state.range(0) == 0;
    SIDETONE_PULSE_TUNING tuning{};
    tuning.no_prefill = prefill ? 0 : 1;
    int starts = 0, dry = 0, failed = 0;
    for (auto _ : state) {
        sidetone_pulse_set_tuning(&tuning);
        for (int i = 0; i < 30; i++) {
            if (!sidetone_start(HZ) || !sidetone_direct()) {
                failed++;
                continue;
            }
            starts++;
            std::this_thread::sleep_for(300ms);
            dry += sidetone_pulse_underruns() > 0;
            sidetone_stop();
        }
        sidetone_pulse_set_tuning(nullptr);
    }
    state.counters["starts_run_dry"] = dry;
    printf("%s: %d of %d starts ran dry within 300 ms (%d failed to start)\n",
           prefill ? "queue filled before playing" : "playing from the server's threshold", dry,
           starts, failed);
}
BENCHMARK(BM_StartUnderruns)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// 60 s on the server as the daemon sets itself up (device threads real-time, the thread that
// serves clients at nice -11, as on a desktop), as shipped and as before; then as shipped on a
// server made real-time throughout.
void BM_SixtySecondsOfKeying(benchmark::State &state) {
    bool make_rt = state.range(0) == 1, before = state.range(0) == 2;
    PulseServer own;
    std::string why;
    if (make_rt && !own.make_realtime(&why)) {
        state.SkipWithError(("the server cannot be made real-time: " + why).c_str());
        return;
    }
    RunResult r;
    for (auto _ : state) {
        sidetone_pulse_set_tuning(before ? &BEFORE : nullptr);
        r = keying_run(60, 11, &own);
        sidetone_pulse_set_tuning(nullptr);
    }
    const char *what[] = {"60 s, server as it sets up (as shipped)",
                          "60 s, server real-time throughout (as shipped)",
                          "60 s, server as it sets up (before)"};
    report(state, what[state.range(0)], r);
}
BENCHMARK(BM_SixtySecondsOfKeying)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    PulseServer own;
    if (!own.ok()) {
        fprintf(stderr, "no PulseAudio server can start here: %s\n", own.why().c_str());
        return 0;
    }
    server = &own;
    if (!al_init() || !tone_audio_init()) {
        fprintf(stderr, "no audio system: nothing to measure\n");
        return 0;
    }
    benchmark::RunSpecifiedBenchmarks();
    sidetone_stop();
    tone_audio_shutdown();
    benchmark::Shutdown();
    return 0;
}
