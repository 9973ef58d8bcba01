// bench/practice_bench.cpp: what a learner waits for on the practice screen. The delay from the
// key that completes a typed group to the frame that shows its score (one pass of the main loop
// with that key, which scores, and the frame it draws); the frame time of the progress view over
// a year of daily sessions; and the size of practice.json for that year and the time to read it
// back (the file read plus the parse into the log).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <benchmark/benchmark.h>
#include <allegro5/allegro.h>

#include "bench_rig.hpp"
#include "main/app.hpp"
#include "model/practice.hpp"
#include "phone/screen.hpp"
#include "platform/platform_desktop.hpp"
#include "support/app_rig.hpp"
#include "support/ka_log.hpp"
#include "ui/screen_practice.hpp"

namespace {

// A year of one session a day at a lesson that moves on every ten days, each character of the
// lesson sent and mostly right, with a few confusions.
void fill_year(PRACTICE_LOG *log) {
    const int64_t start = 1767225600; // 2026-01-01 18:00 UTC, give or take
    uint64_t rng = 12345;
    for (int day = 0; day < 365; day++) {
        PRACTICE_SESSION s{};
        s.when = start + 86400LL * day + 64800;
        s.mode = day % 7 == 6 ? PRACTICE_INSTANT : PRACTICE_COPY;
        s.lesson = 1 + day / 10 > KOCH_LESSONS ? KOCH_LESSONS : 1 + day / 10;
        s.wpm = 20;
        s.effective_wpm = 12;
        s.seconds = 300;
        for (int c = 0; c < koch_lesson_size(s.lesson); c++) {
            uint32_t sent = 5 + koch_random(&rng) % 10, right = sent - koch_random(&rng) % 3;
            s.char_sent[c] = sent;
            s.char_right[c] = right;
            s.total += sent;
            s.right += right;
            log->chars[c].sent += sent;
            log->chars[c].right += right;
            log->chars[c].taken_for[koch_random(&rng) % KOCH_CHARS] += sent - right;
        }
        practice_add_session(log, &s);
    }
    log->lesson = KOCH_LESSONS;
}

struct Rig {
    ALLEGRO_DISPLAY *display = nullptr;
    AppRig *app = nullptr;
};
Rig rig;

bool ready() {
    if (rig.app) return true;
    rig.app = bench_open_app_rig("lumikey-practice-bench", nullptr, &rig.display);
    return rig.app && rig.app->app->gui != nullptr;
}

ALLEGRO_EVENT key_char(char c) {
    ALLEGRO_EVENT ev{};
    ev.type = ALLEGRO_EVENT_KEY_CHAR;
    ev.keyboard.keycode = c >= 'A' && c <= 'Z' ? ALLEGRO_KEY_A + (c - 'A') : ALLEGRO_KEY_0;
    ev.keyboard.unichar = c;
    ev.any.timestamp = al_get_time();
    return ev;
}

void BM_KeyToScoredFrame(benchmark::State &state) {
    if (!ready()) return state.SkipWithError("no display");
    LUMIKEY_APP *a = rig.app->app;
    set_log_level(LOG_WARNING);
    a->practice_log->group_len = 5;
    a->practice_log->show_light = 0;
    screen_practice_start(a);
    app_loop_pass(a, nullptr);
    PRACTICE_SCREEN *p = &a->practice;
    int scored = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Back to a group waiting for its answer, all but its last key typed.
        p->phase = PRACTICE_LISTEN;
        size_t n = strlen(p->group);
        memcpy(p->answer, p->group, n - 1);
        p->answer[n - 1] = '\0';
        int before = p->groups;
        ALLEGRO_EVENT last = key_char(p->group[n - 1]);
        state.ResumeTiming();
        app_loop_pass(a, &last);
        // The pass draws only when the queue is empty; the score is seen in this frame.
        app_draw(a);
        benchmark::DoNotOptimize(p->score.right);
        scored += p->groups > before;
    }
    screen_practice_leave(a);
    app_loop_pass(a, nullptr);
    if (scored != (int)state.iterations()) state.SkipWithError("a key did not score its group");
}
BENCHMARK(BM_KeyToScoredFrame)->Unit(benchmark::kMillisecond);

void BM_ProgressFrameYear(benchmark::State &state) {
    if (!ready()) return state.SkipWithError("no display");
    LUMIKEY_APP *a = rig.app->app;
    set_log_level(LOG_WARNING);
    practice_free(&a->practice_log);
    a->practice_log = practice_new();
    fill_year(a->practice_log);
    app_set_screen(a, SCREEN_PROGRESS);
    app_loop_pass(a, nullptr);
    for (auto _ : state) app_draw(a);
    state.counters["sessions"] = (double)a->practice_log->count;
}
BENCHMARK(BM_ProgressFrameYear)->Unit(benchmark::kMillisecond);

void BM_PracticeYearLoad(benchmark::State &state) {
    PRACTICE_LOG *log = practice_new();
    fill_year(log);
    char *json = practice_to_json(log);
    std::string path = (std::filesystem::temp_directory_path() / "lumikey-practice-year.json");
    {
        std::ofstream out(path, std::ios::binary);
        out << json;
    }
    size_t bytes = strlen(json);
    free(json);
    practice_free(&log);
    set_log_level(LOG_WARNING);
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        PRACTICE_LOG *back = practice_new();
        if (!practice_from_json(back, text.str().c_str()) || back->count != 365)
            state.SkipWithError("the year did not read back");
        practice_free(&back);
    }
    state.counters["bytes"] = (double)bytes;
    std::filesystem::remove(path);
}
BENCHMARK(BM_PracticeYearLoad)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
