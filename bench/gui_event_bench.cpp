// bench/gui_event_bench.cpp: the cost of ka_gui_process_event, which the main loop calls for
// every event it receives. The figure that matters is a pointer move over a 480 x 800 window
// of 60 widgets (hover tracking walks every widget); a drag on a slider and typing into a text
// area are measured beside it. Time per iteration is the time of one event.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include "bench_gui_grid.hpp"
#include "support/ka_gui.hpp"
#include "support/ka_log.hpp"

namespace {

ALLEGRO_FONT *g_font = nullptr;

bool _setup() {
    if (g_font) return true;
    if (!al_init()) return false;
    al_init_font_addon();
    g_font = al_create_builtin_font(); // measuring only: no display is needed
    return g_font != nullptr;
}

int _custom_mouse(int, const KA_GUI_MOUSE_EVENT *ev, void *sink) {
    *(int *)sink += ev->type;
    return 1;
}

// The shared 60-widget window, with the ids of its first slider and first text area; freed
// with the record.
struct Grid {
    KA_GUI_CTX *ctx = nullptr;
    int slider = -1, text = -1, sink = 0;
    explicit Grid(benchmark::State &state) {
        if (!_setup()) {
            state.SkipWithError("no Allegro");
            return;
        }
        BENCH_GUI_GRID_IDS ids;
        ctx = bench_gui_grid(g_font, nullptr, &ids, _custom_mouse, &sink);
        slider = ids.first_slider;
        text = ids.first_text;
    }
    ~Grid() {
        if (ctx) ka_gui_destroy_ctx(&ctx);
    }
};

void _count_events(benchmark::State &state) {
    state.counters["events_per_s"] =
        benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

ALLEGRO_EVENT _event(int type, int x, int y) {
    ALLEGRO_EVENT ev;
    memset(&ev, 0, sizeof ev);
    ev.type = (ALLEGRO_EVENT_TYPE)type;
    ev.mouse.x = x;
    ev.mouse.y = y;
    ev.mouse.button = 1;
    return ev;
}

// Pointer positions spread over the whole grid, gaps between widgets included.
std::vector<ALLEGRO_EVENT> _moves() {
    std::vector<ALLEGRO_EVENT> moves;
    for (int y = 3; y < 790; y += 37)
        for (int x = 5; x < 475; x += 29) moves.push_back(_event(ALLEGRO_EVENT_MOUSE_AXES, x, y));
    return moves;
}

void BM_PointerMoveOver60Widgets(benchmark::State &state) {
    Grid grid(state);
    KA_GUI_CTX *ctx = grid.ctx;
    if (!ctx) return;
    std::vector<ALLEGRO_EVENT> moves = _moves();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ka_gui_process_event(ctx, moves[i]));
        if (++i == moves.size()) i = 0;
    }
    _count_events(state);
}
BENCHMARK(BM_PointerMoveOver60Widgets);

void BM_PointerMoveOutsideEveryWindow(benchmark::State &state) {
    Grid grid(state);
    KA_GUI_CTX *ctx = grid.ctx;
    if (!ctx) return;
    ALLEGRO_EVENT a = _event(ALLEGRO_EVENT_MOUSE_AXES, 600, 900),
                  b = _event(ALLEGRO_EVENT_MOUSE_AXES, 610, 905);
    bool flip = false;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ka_gui_process_event(ctx, (flip = !flip) ? a : b));
    }
    _count_events(state);
}
BENCHMARK(BM_PointerMoveOutsideEveryWindow);

void BM_SliderDragAmong60Widgets(benchmark::State &state) {
    Grid grid(state);
    KA_GUI_CTX *ctx = grid.ctx;
    if (!ctx) return;
    KA_GUI_WIDGET *w = ka_gui_get_widget(ctx, grid.slider);
    int x0 = (int)w->x, y = (int)(w->y + w->h / 2), x = x0;
    ka_gui_process_event(ctx, _event(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, x0, y));
    for (auto _ : state) {
        x = x0 + (x - x0 + 3) % 110;
        benchmark::DoNotOptimize(ka_gui_process_event(ctx, _event(ALLEGRO_EVENT_MOUSE_AXES, x, y)));
    }
    _count_events(state);
}
BENCHMARK(BM_SliderDragAmong60Widgets);

void BM_TypeIntoTextArea(benchmark::State &state) {
    Grid grid(state);
    KA_GUI_CTX *ctx = grid.ctx;
    if (!ctx) return;
    ka_gui_set_focus(ctx, grid.text);
    ALLEGRO_EVENT ev;
    memset(&ev, 0, sizeof ev);
    ev.type = ALLEGRO_EVENT_KEY_CHAR;
    ev.keyboard.unichar = 0xE9; // two bytes
    int typed = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ka_gui_process_event(ctx, ev));
        // Keep the area from filling up: a full area would measure the refusal instead.
        if (++typed == 200) {
            state.PauseTiming();
            ka_gui_textarea_set_text(ctx, grid.text, "");
            typed = 0;
            state.ResumeTiming();
        }
    }
    _count_events(state);
}
BENCHMARK(BM_TypeIntoTextArea);

} // namespace

int main(int argc, char **argv) {
    set_log_level(LOG_ERR);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
