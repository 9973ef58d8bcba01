// Timing accuracy of the send thread: a looping sequence at 20 ms per unit on four channels with
// different leads, played for 10 s; every callback's lateness against its due time is recorded.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <thread>
#include <vector>

#include "morse/player.hpp"

namespace {

uint64_t now_ns() {
    return (uint64_t)std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One channel's view: when its current repetition starts, and where its samples go. Only the
// player thread touches it while playing; the samples are read after the join.
struct Probe {
    uint32_t lead_ms = 0;
    uint64_t rep_start_ns = 0;
    std::vector<int64_t> *late_ns = nullptr;
};

void on_rep(const MORSE_SEQUENCE *, uint32_t, uint64_t start_ns, void *user) {
    ((Probe *)user)->rep_start_ns = start_ns;
}

void on_event(const MORSE_SEQUENCE *seq, size_t index, uint32_t, void *user) {
    uint64_t now = now_ns();
    Probe *p = (Probe *)user;
    uint64_t due = p->rep_start_ns + (uint64_t)seq->events[index].start_ms * 1'000'000 -
                   (uint64_t)p->lead_ms * 1'000'000;
    p->late_ns->push_back((int64_t)(now - due));
}

double percentile_us(const std::vector<int64_t> &sorted, double q) {
    size_t i = (size_t)(q * (double)(sorted.size() - 1) + 0.5);
    return (double)sorted[i] / 1000.0;
}

} // namespace

static void BM_PlayerLateness(benchmark::State &state) {
    const uint32_t leads[4] = {0, 35, 120, 250};
    std::vector<int64_t> late;
    for (auto _ : state) {
        late.clear();
        late.reserve(1 << 16);
        Probe probes[4];
        PLAYER_CHANNEL channels[4];
        for (int c = 0; c < 4; c++) {
            probes[c].lead_ms = leads[c];
            probes[c].late_ns = &late;
            channels[c] = PLAYER_CHANNEL{"bench", leads[c], on_rep, on_event, nullptr, &probes[c]};
        }
        MORSE_TIMING timing{20, 3, 3, 7};
        MORSE_PLAYER *player = player_new();
        player_start(player, morse_sequence_build("PARIS CQ 73", &timing), 1, channels, 4);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        player_free(&player);
    }
    std::sort(late.begin(), late.end());
    if (late.empty()) {
        state.SkipWithError("no callbacks recorded");
        return;
    }
    double p50 = percentile_us(late, 0.50), p99 = percentile_us(late, 0.99);
    double max = (double)late.back() / 1000.0, min = (double)late.front() / 1000.0;
    printf("player lateness over %zu callbacks (4 channels, unit 20 ms, 10 s): p50 %.1f us, "
           "p99 %.1f us, max %.1f us, min %.1f us\n",
           late.size(), p50, p99, max, min);
    state.counters["callbacks"] = (double)late.size();
    state.counters["p50_us"] = p50;
    state.counters["p99_us"] = p99;
    state.counters["max_us"] = max;
}
BENCHMARK(BM_PlayerLateness)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// The same wake-ups without the player: a bare thread sleeping on a condition variable to
// absolute deadlines every 10 ms for 5 s. Tells the machine's own wake-up latency (scheduler,
// load from other processes) apart from what the player adds.
static void BM_BareDeadlineWakeups(benchmark::State &state) {
    std::vector<int64_t> late;
    for (auto _ : state) {
        late.clear();
        late.reserve(1024);
        std::thread sleeper([&late] {
            std::mutex m;
            std::condition_variable cv;
            std::unique_lock<std::mutex> lk(m);
            uint64_t due = now_ns() + 30'000'000;
            for (int i = 0; i < 500; i++, due += 10'000'000) {
                std::chrono::steady_clock::time_point at{std::chrono::nanoseconds(due)};
                while (cv.wait_until(lk, at) != std::cv_status::timeout) {
                }
                late.push_back((int64_t)(now_ns() - due));
            }
        });
        sleeper.join();
    }
    std::sort(late.begin(), late.end());
    double p50 = percentile_us(late, 0.50), p99 = percentile_us(late, 0.99);
    double max = (double)late.back() / 1000.0;
    printf("bare condition-variable wake-ups over %zu deadlines (10 ms apart, 5 s): p50 %.1f us, "
           "p99 %.1f us, max %.1f us\n",
           late.size(), p50, p99, max);
    state.counters["p50_us"] = p50;
    state.counters["p99_us"] = p99;
    state.counters["max_us"] = max;
}
BENCHMARK(BM_BareDeadlineWakeups)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
