// bench/lifecycle_bench.cpp: how long the program takes to let the display go when a phone
// takes it away (the halt event to its acknowledgement), and to show itself again (the resume
// event to the first frame drawn), on the home screen and during a send, with the real fonts
// and audio as the program loads them. On the desktop the acknowledgement itself costs nothing,
// so the halt is timed to the moment the platform hears of it, just before.
#include <chrono>
#include <cstdlib>
#include <string>
#include <benchmark/benchmark.h>
#include <allegro5/allegro.h>

#include "bench_rig.hpp"
#include "main/app.hpp"
#include "phone/screen.hpp"
#include "platform/platform_desktop.hpp"
#include "support/app_rig.hpp"
#include "support/ka_log.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct Rig {
    ALLEGRO_DISPLAY *display = nullptr;
    AppRig *app = nullptr;
    Clock::time_point halted;
};
Rig rig;

void on_halt(void *) {
    rig.halted = Clock::now();
}

bool ready() {
    if (rig.app) return true;
    static PLATFORM_SYSTEM system = {nullptr, nullptr, nullptr, nullptr, on_halt, nullptr, nullptr};
    rig.app = bench_open_app_rig("lumikey-life-bench", &system, &rig.display);
    return rig.app && rig.app->app->gui != nullptr;
}

void pass(unsigned type) {
    ALLEGRO_EVENT ev = rig.app->display_event(type);
    app_loop_pass(rig.app->app, &ev);
}

// Brings the program back to what the case starts from: shown, and sending when asked to.
void prepare(int sending, int kept) {
    LUMIKEY_APP *a = rig.app->app;
    if (a->display_halted) pass(ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING);
    a->settings.run_locked = kept;
    a->settings.loop = 1;
    if (sending && !player_is_playing(a->player)) {
        app_request_play(a, "PARIS PARIS");
        app_loop_pass(a, nullptr);
    } else if (!sending && player_is_playing(a->player)) {
        app_request_stop(a);
        app_loop_pass(a, nullptr);
    }
}

// range(0): 0 home screen, 1 a send that stops, 2 a send announced as background work.
void BM_HaltToAcknowledge(benchmark::State &state) {
    if (!ready()) return state.SkipWithError("no display");
    int sending = state.range(0) > 0, kept = state.range(0) == 2;
    set_log_level(LOG_WARNING);
    for (auto _ : state) {
        state.PauseTiming();
        prepare(sending, kept);
        if (sending && !player_is_playing(rig.app->app->player))
            return state.SkipWithError("the send did not start");
        state.ResumeTiming();
        Clock::time_point start = Clock::now();
        pass(ALLEGRO_EVENT_DISPLAY_HALT_DRAWING);
        state.SetIterationTime(std::chrono::duration<double>(rig.halted - start).count());
    }
    prepare(0, 1);
    set_log_level(LOG_INFO);
}
BENCHMARK(BM_HaltToAcknowledge)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// The resume's pass reloads the fonts, brings audio back, rebuilds the screen and draws it.
void BM_ResumeToFirstFrame(benchmark::State &state) {
    if (!ready()) return state.SkipWithError("no display");
    int sending = state.range(0) > 0;
    LUMIKEY_APP *a = rig.app->app;
    set_log_level(LOG_WARNING);
    for (auto _ : state) {
        state.PauseTiming();
        prepare(sending, 1);
        pass(ALLEGRO_EVENT_DISPLAY_HALT_DRAWING);
        state.ResumeTiming();
        Clock::time_point start = Clock::now();
        pass(ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING);
        Clock::time_point end = Clock::now();
        if (a->redraw || a->display_halted) return state.SkipWithError("no frame was drawn");
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    prepare(0, 1);
    set_log_level(LOG_INFO);
}
BENCHMARK(BM_ResumeToFirstFrame)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

} // namespace

BENCHMARK_MAIN();
