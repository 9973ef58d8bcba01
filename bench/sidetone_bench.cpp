// bench/sidetone_bench.cpp: the sidetone's key-to-sound delay inside the program: from
// sidetone_key(1) until the first non-silent sample leaves the stream for the mixer. Timed on
// the fill thread: a fragment leaves the stream when its buffer comes back to be filled again,
// which is the fill one stream length (5 fragments) later. The output device adds its own delay
// after that, which no program can see.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>
#include <allegro5/allegro.h>
#include <allegro5/allegro_audio.h>
#include <benchmark/benchmark.h>

#include "audio/sidetone.hpp"
#include "audio/tone.hpp"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr size_t FRAGMENTS = 5; // the stream's length in fragments
constexpr size_t FRAGMENT_SAMPLES = 256;
constexpr size_t RING = 1 << 16;

// Written by the fill thread only, read after the count has been seen.
struct FillLog {
    std::atomic<size_t> count{0};
    std::vector<Clock::time_point> when = std::vector<Clock::time_point>(RING);
    std::vector<int> first_sound = std::vector<int>(RING); // -1 for a silent fragment
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

void BM_SidetoneKeyToStream(benchmark::State &state) {
    uint32_t rate = al_get_mixer_frequency(al_get_default_mixer());
    std::vector<double> to_fill, queued, total;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pause_us(30000, 70000);
    for (auto _ : state) {
        for (int trial = 0; trial < 60; trial++) {
            std::this_thread::sleep_for(std::chrono::microseconds(pause_us(rng)));
            size_t before = fills.count.load(std::memory_order_acquire);
            Clock::time_point key = Clock::now();
            sidetone_key(1);
            size_t n = before;
            for (;; n++) {
                if (!wait_fills(n + 1)) break;
                if (fills.first_sound[n % RING] >= 0 && fills.when[n % RING] >= key) break;
            }
            if (!wait_fills(n + FRAGMENTS + 1)) {
                state.SkipWithError("the stream stopped asking for fragments");
                break;
            }
            double sound_at = fills.first_sound[n % RING] * 1000.0 / rate;
            Clock::time_point filled = fills.when[n % RING];
            Clock::time_point left = fills.when[(n + FRAGMENTS) % RING];
            to_fill.push_back(ms(filled - key));
            queued.push_back(ms(left - filled) + sound_at);
            total.push_back(ms(left - key) + sound_at);
            sidetone_key(0);
        }
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    auto worst = [](const std::vector<double> &v) {
        return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
    };
    state.counters["total_median_ms"] = median(total);
    state.counters["total_worst_ms"] = worst(total);
    state.counters["queued_median_ms"] = median(queued);
    state.counters["wait_fill_median_ms"] = median(to_fill);
    printf("key to first sound leaving the stream, %zu presses at %u Hz:\n", total.size(), rate);
    printf("  total                         median %6.2f ms, worst %6.2f ms\n", median(total),
           worst(total));
    printf("  key until a fragment is free  median %6.2f ms, worst %6.2f ms\n", median(to_fill),
           worst(to_fill));
    printf("  filled fragment queued        median %6.2f ms, worst %6.2f ms\n", median(queued),
           worst(queued));
    printf("  stream length %zu x %zu samples = %.2f ms; one fragment %.2f ms\n", FRAGMENTS,
           FRAGMENT_SAMPLES, FRAGMENTS * FRAGMENT_SAMPLES * 1000.0 / rate,
           FRAGMENT_SAMPLES * 1000.0 / rate);
}
BENCHMARK(BM_SidetoneKeyToStream)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (!al_init() || !tone_audio_init()) {
        fprintf(stderr, "no audio system: nothing to measure\n");
        return 0;
    }
    sidetone_set_fill_hook(on_fill, nullptr);
    if (!sidetone_start(700)) {
        fprintf(stderr, "the sidetone did not start\n");
        return 0;
    }
    benchmark::RunSpecifiedBenchmarks();
    sidetone_stop();
    tone_audio_shutdown();
    benchmark::Shutdown();
    return 0;
}
