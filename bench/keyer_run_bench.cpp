// bench/keyer_run_bench.cpp: how late the keyer thread switches the output. A squeeze is held
// at 30 WPM (unit 40 ms) for 10 s; for every edge the delay from its scheduled time to the
// moment the output callback ran is recorded, and the scheduled times are checked for drift.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <vector>

#include "bench_stats.hpp"
#include "morse/keyer_run.hpp"

namespace {

// Written only by the output callback (under the keyer's lock), read after the stop.
struct Calls {
    double at[4096];
    size_t n = 0;
};

void record(int, void *user) {
    Calls *c = static_cast<Calls *>(user);
    if (c->n < 4096) c->at[c->n++] = keyrun_now_ms();
}

// Whether a thread of this process may take real-time priority, as the keyer thread asks to.
bool realtime_allowed() {
    bool ok = false;
    std::thread probe([&] {
        sched_param param = {};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        ok = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    });
    probe.join();
    return ok;
}

void BM_KeyrunHeldSqueeze30Wpm(benchmark::State &state) {
    const double unit = 40;
    const double run_ms = 10000;
    // Held squeeze from idle: dit, space, dah, space; edge offsets in units within 6 units.
    const double offset[4] = {0, 1, 2, 5};
    for (auto _ : state) {
        static Calls calls;
        calls.n = 0;
        std::vector<KEYER_EDGE> edges;
        if (!keyrun_start((uint32_t)unit, 0, record, &calls)) {
            state.SkipWithError("could not start the keyer thread");
            return;
        }
        keyrun_paddles(1, 1);
        const double t_begin = keyrun_now_ms();
        KEYER_EDGE buf[64];
        while (keyrun_now_ms() - t_begin < run_ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            size_t n = keyrun_take_edges(buf, 64);
            edges.insert(edges.end(), buf, buf + n);
        }
        const double t_stop = keyrun_now_ms();
        keyrun_stop();
        for (size_t n; (n = keyrun_take_edges(buf, 64)) > 0;)
            edges.insert(edges.end(), buf, buf + n);

        // Only the scheduled edges; the release at the stop is not one.
        size_t count = std::min(edges.size(), calls.n);
        while (count > 0 && edges[count - 1].t >= t_stop) count--;
        std::vector<double> delays_ms;
        for (size_t i = 0; i < count; i++) delays_ms.push_back(calls.at[i] - edges[i].t);

        const double t0 = edges.empty() ? 0 : edges[0].t;
        double drift_ms = 0;
        for (size_t i = 0; i < count; i++) {
            const double expected = t0 + unit * (6.0 * (double)(i / 4) + offset[i % 4]);
            drift_ms = std::max(drift_ms, std::abs(edges[i].t - expected));
        }
        // The last whole period: its down edge against the count of units that preceded it.
        const size_t last_start = count >= 1 ? (count - 1) / 4 * 4 : 0;
        const double units = 6.0 * (double)(last_start / 4);
        const double span = count ? edges[last_start].t - t0 : 0;

        const double p50 = bench_percentile(delays_ms, 0.50) * 1000;
        const double p99 = bench_percentile(delays_ms, 0.99) * 1000;
        const double max =
            delays_ms.empty() ? 0 : *std::max_element(delays_ms.begin(), delays_ms.end()) * 1000;
        const double min =
            delays_ms.empty() ? 0 : *std::min_element(delays_ms.begin(), delays_ms.end()) * 1000;
        const size_t over_1ms = (size_t)std::count_if(delays_ms.begin(), delays_ms.end(),
                                                      [](double d) { return d > 1; });
        state.counters["edges"] = (double)count;
        state.counters["p50_us"] = p50;
        state.counters["p99_us"] = p99;
        state.counters["max_us"] = max;
        state.counters["drift_ms"] = drift_ms;
        double load[3] = {0, 0, 0};
        if (getloadavg(load, 3) < 1) load[0] = -1;
        printf("keyer thread, held squeeze at unit %.0f ms for %.0f s: %zu edges (load average "
               "%.2f, real-time priority %s)\n",
               unit, run_ms / 1000, count, load[0], realtime_allowed() ? "granted" : "refused");
        printf("  output delay after the scheduled time: p50 %.1f us, p99 %.1f us, max %.1f us, "
               "min %.1f us; %zu over 1 ms\n",
               p50, p99, max, min, over_1ms);
        printf("  schedule: %.0f units took %.6f ms (exactly %.0f expected), largest deviation "
               "from the ideal schedule %.9f ms\n",
               units, span, units * unit, drift_ms);
        printf("  wall clock: the last edge's output ran %.3f ms after its scheduled time\n",
               count ? calls.at[count - 1] - edges[count - 1].t : 0.0);
    }
}

} // namespace

BENCHMARK(BM_KeyrunHeldSqueeze30Wpm)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
