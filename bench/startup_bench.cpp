// bench/startup_bench.cpp: how long the real program takes from being started to its first
// frame on screen, the wait a user has after choosing it in the menu. Timed from just before
// fork() until the home screen's background colour is read back from the window through X;
// the time until the window is mapped is reported beside it. Two cases: a first run (a fresh
// save directory, so the default presets are read and written) and a run over saved files.
//
// The program measured is LUMIKEY_STARTUP_BIN, or the build's own ./lumikey; the package
// measuring script points it at the installed copy. It starts in an empty folder, so it can
// only find its assets the way an installed program does. Both include taking the save folder's
// lock; a third case times a second start that finds the lock held and hands over.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>

#include "bench_program.hpp"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
}

void BM_StartToFirstFrame(benchmark::State &state) {
    bool first_run = state.range(0) == 1;
    Display *dpy;
    std::string bin, home;
    if (!bench_prepare(state, "startup", &dpy, &bin, &home)) return;
    if (!first_run) { // one run beforehand leaves the saved files the measured runs read
        pid_t pid = bench_start_program(bin, home);
        bench_wait_home(dpy, pid);
        stop(pid);
    }
    double window_ms_sum = 0;
    for (auto _ : state) {
        if (first_run) std::filesystem::remove_all(home + "/.local");
        auto t0 = Clock::now();
        pid_t pid = bench_start_program(bin, home);
        Window win = 0;
        double window_ms = -1;
        bool seen = false;
        auto limit = t0 + 20s;
        while (Clock::now() < limit) {
            if (!win) {
                win = bench_find_window(dpy, pid);
                if (win)
                    window_ms =
                        std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            }
            if (win && bench_shows_home(dpy, win)) {
                seen = true;
                break;
            }
            std::this_thread::sleep_for(1ms);
        }
        auto t1 = Clock::now();
        stop(pid);
        if (!seen) {
            state.SkipWithError("no first frame within 20 s");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        window_ms_sum += window_ms;
    }
    if (state.iterations() > 0)
        state.counters["window_ms"] = window_ms_sum / (double)state.iterations();
    std::filesystem::remove_all(home);
    XCloseDisplay(dpy);
}
BENCHMARK(BM_StartToFirstFrame)
    ->ArgName("first_run")
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// A second start on the save folder a running copy holds: from fork() until it has brought
// the first window forward and ended. It must end with status 0 for the figure to count.
void BM_SecondStartHandsOver(benchmark::State &state) {
    Display *dpy;
    std::string bin, home;
    if (!bench_prepare(state, "startup", &dpy, &bin, &home)) return;
    pid_t first = bench_start_program(bin, home);
    Window win = bench_wait_home(dpy, first);
    for (auto _ : state) {
        if (!win) {
            state.SkipWithError("the first copy showed no window");
            break;
        }
        auto t0 = Clock::now();
        pid_t second = bench_start_program(bin, home);
        int status = -1;
        waitpid(second, &status, 0);
        auto t1 = Clock::now();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the second copy did not hand over");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    stop(first);
    std::filesystem::remove_all(home);
    XCloseDisplay(dpy);
}
BENCHMARK(BM_SecondStartHandsOver)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
