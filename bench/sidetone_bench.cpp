// bench/sidetone_bench.cpp: the sidetone's key-to-sound delay, on both of its paths in one run,
// against a PulseAudio server of the bench's own whose sink plays in real time like a card:
// - mixer: the stream of Allegro's mixer, as used where no server answers. Timed from
//   sidetone_key(1) until the first non-silent sample leaves the stream for the mixer (the
//   fill of the same buffer one stream length later); the mixer and Allegro's own output
//   buffers come on top, unseen, so this is its best case.
// - direct: the sidetone's own PulseAudio stream. Timed until the first non-silent sample is
//   handed to the server; the server's queue, which it reports, comes on top.
// Then the processor time the sidetone costs while it runs with the key up, and a 60 s run of
// fast keying recorded from the sink and searched for clicks, gaps and underruns.
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

// Written by the thread that makes the samples, read after the count has been seen.
struct FillLog {
    std::atomic<size_t> count{0};
    std::vector<Clock::time_point> when = std::vector<Clock::time_point>(RING);
    std::vector<int> first_sound = std::vector<int>(RING); // -1 for a silent block
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

void key_to_sound(benchmark::State &state, bool direct) {
    if (!start(direct)) {
        state.SkipWithError("the sidetone did not start on this path");
        return;
    }
    uint32_t rate = tone_mixer_rate();
    size_t later = direct ? 0 : MIXER_FRAGMENTS;
    std::vector<double> total, queue_ms;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pause_us(30000, 70000);
    for (auto _ : state) {
        for (int trial = 0; trial < 100; trial++) {
            std::this_thread::sleep_for(std::chrono::microseconds(pause_us(rng)));
            size_t n = fills.count.load(std::memory_order_acquire);
            Clock::time_point key = Clock::now();
            sidetone_key(1);
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
            if (direct) queue_ms.push_back(sidetone_pulse_latency_us() / 1000.0);
            std::this_thread::sleep_for(20ms);
            sidetone_key(0);
        }
    }
    sidetone_stop();
    sidetone_set_fill_hook(nullptr, nullptr);
    state.counters["median_ms"] = median(total);
    state.counters["worst_ms"] = worst(total);
    printf("%s: key to the first sound handed on, %zu presses at %u Hz: median %.2f ms, worst "
           "%.2f ms\n",
           direct ? "direct PulseAudio stream" : "mixer stream (today's path)", total.size(), rate,
           median(total), worst(total));
    if (direct)
        printf("  then queued at the server: median %.2f ms, worst %.2f ms; underruns %u\n",
               median(queue_ms), worst(queue_ms), sidetone_pulse_underruns());
}

void BM_KeyToSoundMixer(benchmark::State &state) {
    key_to_sound(state, false);
}
void BM_KeyToSoundDirect(benchmark::State &state) {
    key_to_sound(state, true);
}
BENCHMARK(BM_KeyToSoundMixer)->Iterations(1)->Unit(benchmark::kMillisecond);
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

// 60 s of random fast keying (dots and dashes of 20 to 30 WPM) on the direct stream, recorded
// from the sink: every press must come out as one unbroken tone.
void BM_SixtySecondsOfKeying(benchmark::State &state) {
    std::string why;
    if (!sidetone_start(HZ) || !sidetone_direct() || !server->record_start(&why)) {
        state.SkipWithError(("no recording: " + why).c_str());
        return;
    }
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> dot_ms(40, 60);
    std::uniform_int_distribution<int> dash(0, 1);
    size_t presses = 0;
    for (auto _ : state) {
        auto t = Clock::now() + 100ms, end = t + 60s;
        while (t < end) {
            int dot = dot_ms(rng);
            std::this_thread::sleep_until(t);
            sidetone_key(1);
            presses++;
            t += std::chrono::milliseconds(dash(rng) ? 3 * dot : dot);
            std::this_thread::sleep_until(t);
            sidetone_key(0);
            t += std::chrono::milliseconds(dot);
        }
        std::this_thread::sleep_until(t + 200ms);
    }
    uint32_t underruns = sidetone_pulse_underruns();
    sidetone_stop();
    WavData wav;
    if (!wav_read(server->record_stop(), &wav, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    float peak = wav_peak(wav.samples, 0, wav.samples.size());
    std::vector<WavSegment> seg = wav_segments(wav.samples, 0.02f * peak, wav.rate / 100);
    size_t breaks = 0;
    for (const WavSegment &s : seg)
        breaks += wav_sine_breaks(wav.samples, s.start, s.end, HZ, wav.rate, 0.01f);
    state.counters["presses"] = (double)presses;
    state.counters["tones_heard"] = (double)seg.size();
    state.counters["sample_breaks"] = (double)breaks;
    state.counters["underruns"] = underruns;
    printf("60 s of keying: %zu presses, %zu tones heard, %zu broken samples, %u underruns\n",
           presses, seg.size(), breaks, underruns);
}
BENCHMARK(BM_SixtySecondsOfKeying)->Iterations(1)->Unit(benchmark::kMillisecond);

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
