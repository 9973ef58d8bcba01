// bench/screen_options_bench.cpp: what a tab change and a language change cost on the options
// screen: the whole GUI rebuilt (a fresh context, the window, the tab's controls, the palette on
// the Colors tab), and for a language change the translation switched first. Median and worst
// of each, in microseconds, on the program's own font at 480 x 800; and, once, the number of
// texts each translation file holds.
// Needs an X display (Xvfb with software OpenGL is what the figures in reviews refer to).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>
#include <cJSON.h>

#include "i18n/i18n.hpp"
#include "model/json_store.hpp"
#include "support/ka_log.hpp"
#include "support/screen_kit.hpp"

namespace {

struct Figures {
    double median = 0, worst = 0;
};

Figures _figures(std::vector<double> v) {
    Figures f;
    if (v.empty()) return f;
    std::sort(v.begin(), v.end());
    f.median = v[v.size() / 2];
    f.worst = v.back();
    return f;
}

template <typename STEP> void _measure(benchmark::State &state, bool timed_step, STEP step) {
    set_log_level(LOG_WARNING);
    ScreenKit kit;
    if (!ScreenKit::display) {
        state.SkipWithError("needs an X display (set DISPLAY or run under xvfb-run)");
        return;
    }
    kit.app->options_tab = 0;
    kit.show(SCREEN_OPTIONS);
    std::vector<double> us;
    int n = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (!timed_step) {
            step(kit, n++);
            t0 = std::chrono::steady_clock::now();
        } else {
            step(kit, n++);
        }
        app_build_gui(kit.app);
        auto t1 = std::chrono::steady_clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    Figures f = _figures(us);
    state.counters["median_us"] = f.median;
    state.counters["worst_us"] = f.worst;
    i18n_set_language("en");
    set_log_level(LOG_INFO);
}

// Each pass shows the next tab, round the six.
void BM_OptionsTabChange(benchmark::State &state) {
    _measure(state, false, [](ScreenKit &kit, int n) {
        kit.app->options_tab = n % 6;
        kit.app->needs_rebuild = 1;
    });
}
BENCHMARK(BM_OptionsTabChange)->Iterations(600)->Unit(benchmark::kMicrosecond);

// Each pass selects the next language on the General tab, as its combobox does, and rebuilds;
// the timing covers both (a language's file is read on its first selection, then kept).
void BM_OptionsLanguageChange(benchmark::State &state) {
    static const char *const langs[] = {"en", "fr", "es", "de", "it"};
    _measure(state, true, [](ScreenKit &kit, int n) {
        kit.app->options_tab = 5;
        i18n_set_language(langs[n % 5]);
        kit.app->needs_rebuild = 1;
    });
}
BENCHMARK(BM_OptionsLanguageChange)->Iterations(500)->Unit(benchmark::kMicrosecond);

// Not a timing: the size of each translation, printed once.
void BM_TextsPerLanguageFile(benchmark::State &state) {
    for (auto _ : state) {
        for (const char *lang : {"fr", "es", "de", "it"}) {
            char name[32];
            snprintf(name, sizeof name, "lang/%s.json", lang);
            char *text = store_read_asset(name);
            cJSON *doc = text ? cJSON_Parse(text) : nullptr;
            state.counters[std::string("texts_") + lang] = doc ? cJSON_GetArraySize(doc) : -1;
            cJSON_Delete(doc);
            free(text);
        }
    }
}
BENCHMARK(BM_TextsPerLanguageFile)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
