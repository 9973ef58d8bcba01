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
    Display *dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        state.SkipWithError("no X display");
        return;
    }
    XSetErrorHandler(bench_ignore_x_error);
    std::string bin = bench_program();
    char tmpl[] = "/tmp/lumikey-quit-XXXXXX";
    std::string home = mkdtemp(tmpl) ? tmpl : "";
    if (home.empty() || access(bin.c_str(), X_OK) != 0) {
        state.SkipWithError(("cannot run " + bin).c_str());
        XCloseDisplay(dpy);
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        pid_t pid = bench_start_program(bin, home);
        auto limit = Clock::now() + 20s;
        Window win = 0;
        while (Clock::now() < limit && !(win && bench_shows_home(dpy, win))) {
            win = win ? win : bench_find_window(dpy, pid);
            std::this_thread::sleep_for(5ms);
        }
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
