// bench/touch_list_bench.cpp: what a long touch list costs. Wrapped rows with subtitles, as the
// received list shows them, at 200 rows (the most it keeps) and at 2,000: one full frame drawn
// into a real display, and one tap (press and release: two hit tests). The aim is under 2 ms for
// each. Then the home screen's frame with 50,000 presets, which must stay usable. Needs an X
// display (Xvfb with software OpenGL for the figures).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include "main/app.hpp"
#include "support/ka_log.hpp"
#include "support/screen_kit.hpp"
#include "support/test_display.hpp"
#include "ui/touch_list.hpp"

namespace {

struct Rows {
    std::vector<std::string> titles, subtitles;
    int taps = 0;
};

size_t _count(const void *user) {
    return ((const Rows *)user)->titles.size();
}
void _row(const void *user, size_t i, TOUCH_ROW *out) {
    const Rows *r = (const Rows *)user;
    out->id = (int)i;
    out->title = r->titles[i].c_str();
    out->subtitle = r->subtitles[i].c_str();
}
void _tap(void *user, int) {
    ((Rows *)user)->taps++;
}

struct Bench {
    ALLEGRO_DISPLAY *display = nullptr;
    LUMIKEY_APP app{};
    Rows rows;
    int win = -1;
};
Bench *g = nullptr;

// The list of the bench at rows rows (kept from one benchmark to the next at the same size).
bool _setup(size_t rows) {
    if (g && g->rows.titles.size() == rows) return g->display != nullptr;
    if (g) {
        if (g->app.gui) ka_gui_destroy_ctx(&g->app.gui);
        g->rows = Rows{};
    } else {
        g = new Bench;
        g->display = ScreenKit::display ? ScreenKit::display : test_display_open();
    }
    if (!g->display) return false;
    al_install_mouse();
    LUMIKEY_APP &app = g->app;
    app.display = g->display;
    app.ui_scale = 1;
    app.disp_w = 480;
    app.disp_h = 800;
    if (!app.font) app.font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 18, 0);
    if (!app.font) app.font = al_create_builtin_font();
    app.gui = ka_gui_new_ctx(app.font);
    ka_gui_set_display(app.gui, g->display);
    ka_gui_set_display_size(app.gui, 480, 800);
    for (size_t i = 0; i < rows; i++) {
        char t[160], s[160];
        snprintf(t, sizeof t, "Message %zu: Grüße aus Köln, ¿qué tal? All is well here, over", i);
        snprintf(s, sizeof s, "08/12 12:%02d   --. .-. ..-- ... ... . / .- ..- ... / -.- ---.",
                 (int)(i % 60));
        g->rows.titles.push_back(t);
        g->rows.subtitles.push_back(s);
    }
    g->win = ka_gui_add_window(app.gui, "Received", 0, 0, 480, 800);
    ka_gui_window_set_flags(app.gui, g->win, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    app.recv_list.src = {_count, _row, _tap, _tap, &g->rows};
    app.recv_list.wrap = 1;
    touch_list_add(&app, &app.recv_list, g->win, 0, 76, 480, 696);
    ka_gui_open_window(app.gui, g->win);
    ka_gui_draw(app.gui); // lays out once, so the scroll range is known
    app.recv_list.scroll = app.recv_list.content_h / 2;
    return true;
}

void BM_FrameWrappedRows(benchmark::State &state) {
    if (!_setup((size_t)state.range(0))) {
        state.SkipWithError("needs an X display (set DISPLAY or run under xvfb-run)");
        return;
    }
    // The clear and the flip are the display's cost whatever is drawn; the timing is the GUI's.
    for (auto _ : state) {
        state.PauseTiming();
        al_clear_to_color(al_map_rgb(16, 18, 24));
        state.ResumeTiming();
        ka_gui_draw(g->app.gui);
        state.PauseTiming();
        al_flip_display();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FrameWrappedRows)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

ALLEGRO_EVENT _button(bool down) {
    ALLEGRO_EVENT ev{};
    ev.type = down ? ALLEGRO_EVENT_MOUSE_BUTTON_DOWN : ALLEGRO_EVENT_MOUSE_BUTTON_UP;
    ev.mouse.x = 240;
    ev.mouse.y = 300;
    ev.mouse.button = 1;
    return ev;
}

void BM_TapWrappedRows(benchmark::State &state) {
    if (!_setup((size_t)state.range(0))) {
        state.SkipWithError("needs an X display (set DISPLAY or run under xvfb-run)");
        return;
    }
    ALLEGRO_EVENT move{};
    move.type = ALLEGRO_EVENT_MOUSE_AXES;
    move.mouse.x = 240;
    move.mouse.y = 300;
    ka_gui_process_event(g->app.gui, move);
    int before = g->rows.taps;
    for (auto _ : state) {
        ka_gui_process_event(g->app.gui, _button(true));
        ka_gui_process_event(g->app.gui, _button(false));
    }
    if (g->rows.taps == before) state.SkipWithError("the taps did not reach the list");
}
BENCHMARK(BM_TapWrappedRows)->Arg(200)->Arg(2000)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// The home screen with 50,000 presets across the categories: one frame, the list's rows laid
// out from the preset list.
void BM_HomeFrame50000Presets(benchmark::State &state) {
    ScreenKit kit;
    if (!ScreenKit::display) {
        state.SkipWithError("needs an X display (set DISPLAY or run under xvfb-run)");
        return;
    }
    for (int i = 0; i < 50000; i++) {
        char name[32], text[64];
        snprintf(name, sizeof name, "Preset %d", i);
        snprintf(text, sizeof text, "CQ CQ DE F4ABC %d K", i);
        presets_add(kit.app->presets, name, text, i % PRESET_CAT_COUNT, 0, "en");
    }
    kit.show(SCREEN_HOME);
    for (auto _ : state) {
        state.PauseTiming();
        al_clear_to_color(al_map_rgb(16, 18, 24));
        state.ResumeTiming();
        ka_gui_draw(kit.app->gui);
        state.PauseTiming();
        al_flip_display();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_HomeFrame50000Presets)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

int main(int argc, char **argv) {
    set_log_level(LOG_ERR);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The context takes the clipboard service (and its thread) down with it.
    if (g && g->app.gui) ka_gui_destroy_ctx(&g->app.gui);
    return 0;
}
