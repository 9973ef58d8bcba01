// bench/quit_bench.cpp: how long the real program takes to end after a SIGTERM (what a logout
// or `kill` sends), from the signal to the exit status: the loop is woken, the normal shutdown
// runs and saves what is unsaved, and the window, sound and threads are let go. The program
// waits on its home screen, idle, with its saved files in place; the exit status must be 0.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>

#include "bench_program.hpp"
#include "bench_stats.hpp"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

void BM_SigtermToExit(benchmark::State &state) {
    Display *dpy;
    std::string bin, home;
    if (!bench_prepare(state, "quit", &dpy, &bin, &home)) return;
    std::vector<double> ms;
    for (auto _ : state) {
        pid_t pid = bench_start_program(bin, home);
        Window win = bench_wait_home(dpy, pid);
        // Idle, as a program is when the session ends.
        std::this_thread::sleep_for(300ms);
        auto t0 = Clock::now();
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        auto t1 = Clock::now();
        if (!win || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the program did not start, or did not end with status 0");
            break;
        }
        double d = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(d);
        ms.push_back(d * 1000);
    }
    if (!ms.empty()) {
        state.counters["median_ms"] = bench_median(ms);
        state.counters["max_ms"] = bench_percentile(ms, 1.0);
        printf("SIGTERM to exit: median %.0f ms, longest %.0f ms (%zu runs)\n", bench_median(ms),
               bench_percentile(ms, 1.0), ms.size());
    }
    std::filesystem::remove_all(home);
    XCloseDisplay(dpy);
}
BENCHMARK(BM_SigtermToExit)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
