// bench/ka_clipboard_bench.cpp: what the clipboard service costs the main thread: starting it
// with a text on offer, and shutting it down (which every GUI rebuild does). Needs an X display.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>
#include <X11/Xlib.h>

#include "bench_stats.hpp"
#include "support/ka_clipboard.hpp"
#include "support/ka_log.hpp"

namespace {

void BM_ClipboardStartAndShutdown(benchmark::State &state) {
    // Xvfb resets when its last client leaves; one idle connection keeps it steady.
    Display *keeper = XOpenDisplay(nullptr);
    if (!keeper) {
        state.SkipWithError("needs an X display (set DISPLAY or run under xvfb-run)");
        return;
    }
    std::vector<double> start_ms, stop_ms;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, "CQ CQ DE LUMIKEY") != 0) {
            state.SkipWithError("the clipboard service did not start");
            break;
        }
        auto t_started = std::chrono::steady_clock::now();
        // Let the serving thread settle into its wait, as it is between a user's actions.
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        state.ResumeTiming();
        auto t1 = std::chrono::steady_clock::now();
        ka_clipboard_destroy();
        auto t2 = std::chrono::steady_clock::now();
        start_ms.push_back(std::chrono::duration<double, std::milli>(t_started - t0).count());
        stop_ms.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    XCloseDisplay(keeper);
    state.counters["median_start_ms"] = bench_median(start_ms);
    state.counters["median_shutdown_ms"] = bench_median(stop_ms);
    if (stop_ms.size() >= 50) {
        printf(
            "ka_clipboard: start with a text on offer %.2f ms, shutdown %.2f ms (medians of %zu)\n",
            bench_median(start_ms), bench_median(stop_ms), stop_ms.size());
    }
}
BENCHMARK(BM_ClipboardStartAndShutdown)->Unit(benchmark::kMillisecond)->Iterations(100);

} // namespace

int main(int argc, char **argv) {
    set_log_level(LOG_WARNING);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
