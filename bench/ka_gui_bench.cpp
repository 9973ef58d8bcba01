// bench/ka_gui_bench.cpp: building a 480 x 800 window of 60 widgets, and drawing one full frame
// of it (clear, every widget, flip) into a real display; both report the median of many runs.
// Needs an X display (Xvfb with software OpenGL is what the figures in reviews refer to).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include "bench_gui_grid.hpp"
#include "bench_stats.hpp"
#include "support/ka_gui.hpp"
#include "support/ka_log.hpp"
#include "support/test_display.hpp"

namespace {

ALLEGRO_DISPLAY *g_display = nullptr;
ALLEGRO_FONT *g_font = nullptr;

bool _setup() {
    if (g_display) return true;
    g_display = test_display_open();
    if (!g_display) return false;
    g_font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 18, 0);
    if (!g_font) g_font = al_create_builtin_font();
    return g_font != nullptr;
}

KA_GUI_CTX *_build() {
    return bench_gui_grid(g_font, g_display, nullptr);
}

void BM_Build60Widgets(benchmark::State &state) {
    if (!_setup()) {
        state.SkipWithError("needs an X display (set DISPLAY or run under xvfb-run)");
        return;
    }
    std::vector<double> us;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        KA_GUI_CTX *ctx = _build();
        auto t1 = std::chrono::steady_clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        ka_gui_destroy_ctx(&ctx);
    }
    state.counters["median_build_us"] = bench_median(us);
    if (us.size() >= 1000)
        printf("ka_gui: build of a window with 60 widgets, median %.1f us over %zu runs\n",
               bench_median(us), us.size());
}
BENCHMARK(BM_Build60Widgets)->Unit(benchmark::kMicrosecond);

void BM_DrawFrame60Widgets(benchmark::State &state) {
    if (!_setup()) {
        state.SkipWithError("needs an X display (set DISPLAY or run under xvfb-run)");
        return;
    }
    KA_GUI_CTX *ctx = _build();
    al_set_target_backbuffer(g_display);
    std::vector<double> ms, draw_ms;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        al_clear_to_color(al_map_rgb(16, 18, 24));
        ka_gui_draw(ctx);
        auto t1 = std::chrono::steady_clock::now();
        al_flip_display(); // the frame is only done once the driver has it on screen
        auto t2 = std::chrono::steady_clock::now();
        draw_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        ms.push_back(std::chrono::duration<double, std::milli>(t2 - t0).count());
    }
    ka_gui_destroy_ctx(&ctx);
    state.counters["median_frame_ms"] = bench_median(ms);
    state.counters["median_draw_call_ms"] = bench_median(draw_ms);
    if (ms.size() >= 100) {
        printf("ka_gui: one 480x800 frame of 60 widgets, median %.2f ms over %zu frames "
               "(ka_gui_draw itself %.2f ms, the rest is the flip)\n",
               bench_median(ms), ms.size(), bench_median(draw_ms));
    }
}
BENCHMARK(BM_DrawFrame60Widgets)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char **argv) {
    set_log_level(LOG_WARNING);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_font) al_destroy_font(g_font);
    if (g_display) al_destroy_display(g_display);
    return 0;
}
