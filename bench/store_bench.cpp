// bench/store_bench.cpp: load and save times of the largest lists the program keeps, and the
// size of their files. A save is the model's JSON text plus the atomic, synced write; a load
// is the file read plus the parse into the model. Runs in a temporary save directory on the
// same disk as the system's temporary folder, so the write includes two real fsyncs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "model/history.hpp"
#include "model/json_store.hpp"
#include "model/presets.hpp"
#include "model/received.hpp"
#include "model/settings.hpp"
#include "platform/platform_desktop.hpp"
#include "support/ka_log.hpp"

namespace {
// A distinct text of about bytes bytes (cut back to a character boundary), mixing plain and
// two-byte characters like real messages.
std::string message(size_t bytes, int seed) {
    std::string out = std::to_string(seed) + " ";
    const char *words[] = {"CQ ", "DE ", "F4ABC ", "\xC3\xA9t\xC3\xA9 ", "QSL ", "73 ", "PARIS "};
    for (int i = seed; out.size() < bytes; i++) out += words[i % 7];
    out.resize(bytes);
    while (!out.empty() && ((unsigned char)out.back() & 0xC0) == 0xC0) out.pop_back();
    return out;
}

std::string symbols(size_t bytes) {
    std::string out;
    const char *codes[] = {"-.-. ", "--.- ", "/ ", "-.. ", ". ", "..-. "};
    for (int i = 0; out.size() < bytes; i++) out += codes[i % 6];
    out.resize(bytes);
    return out;
}

struct SaveDirectory {
    std::string path;
    SaveDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumikey-bench-XXXXXX").string();
        path = mkdtemp(pattern.data()) ? pattern : "";
        setenv("XDG_DATA_HOME", path.c_str(), 1);
        set_log_level(LOG_ERR);
        platform_init();
    }
    ~SaveDirectory() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};
SaveDirectory &save_dir() {
    static SaveDirectory dir;
    return dir;
}

PRESET_LIST *big_presets() {
    PRESET_LIST *list = presets_new();
    for (int i = 0; i < 500; i++)
        presets_add(list, message(63, i).c_str(), message(511, i).c_str(), i % 6, i % 2, "en");
    return list;
}

RECEIVED_LIST *big_received() {
    RECEIVED_LIST *list = received_new();
    for (int i = 0; i < 200; i++)
        received_add(list, 1733600000 + i, message(511, i).c_str(), symbols(2047).c_str(), 75);
    return list;
}

void big_history(SENT_HISTORY *h) {
    history_clear(h);
    for (int i = 0; i < 50; i++) history_push(h, message(511, i).c_str());
}

// Save: serialise, then write through the store; the file's size as a counter.
template <typename Serialise>
void run_save(benchmark::State &state, const char *file, Serialise serialise) {
    save_dir();
    size_t bytes = 0;
    for (auto _ : state) {
        char *json = serialise();
        bytes = strlen(json);
        if (!store_write_save(file, json)) state.SkipWithError("save failed");
        free(json);
    }
    state.counters["file_bytes"] = (double)bytes;
}

// Load: read the file through the store, then parse it into the model.
template <typename Parse> void run_load(benchmark::State &state, const char *file, Parse parse) {
    for (auto _ : state) {
        char *text = store_read_save(file);
        if (!text || !parse(text)) state.SkipWithError("load failed");
        free(text);
    }
}
} // namespace

static void BM_PresetsSave500(benchmark::State &state) {
    PRESET_LIST *list = big_presets();
    run_save(state, "presets.json", [&] { return presets_to_json(list); });
    presets_free(&list);
}
BENCHMARK(BM_PresetsSave500)->Unit(benchmark::kMillisecond);

static void BM_PresetsLoad500(benchmark::State &state) {
    PRESET_LIST *list = big_presets();
    char *json = presets_to_json(list);
    store_write_save("presets.json", json);
    free(json);
    run_load(state, "presets.json", [&](const char *t) { return presets_from_json(list, t); });
    state.counters["presets"] = (double)list->count;
    presets_free(&list);
}
BENCHMARK(BM_PresetsLoad500)->Unit(benchmark::kMillisecond);

static void BM_ReceivedSave200(benchmark::State &state) {
    RECEIVED_LIST *list = big_received();
    run_save(state, "received.json", [&] { return received_to_json(list); });
    received_free(&list);
}
BENCHMARK(BM_ReceivedSave200)->Unit(benchmark::kMillisecond);

static void BM_ReceivedLoad200(benchmark::State &state) {
    RECEIVED_LIST *list = big_received();
    char *json = received_to_json(list);
    store_write_save("received.json", json);
    free(json);
    run_load(state, "received.json", [&](const char *t) { return received_from_json(list, t); });
    state.counters["messages"] = (double)list->count;
    received_free(&list);
}
BENCHMARK(BM_ReceivedLoad200)->Unit(benchmark::kMillisecond);

static void BM_HistorySave50(benchmark::State &state) {
    static SENT_HISTORY h;
    big_history(&h);
    run_save(state, "sent_history.json", [&] { return history_to_json(&h); });
}
BENCHMARK(BM_HistorySave50)->Unit(benchmark::kMillisecond);

static void BM_HistoryLoad50(benchmark::State &state) {
    static SENT_HISTORY h;
    big_history(&h);
    char *json = history_to_json(&h);
    store_write_save("sent_history.json", json);
    free(json);
    run_load(state, "sent_history.json", [&](const char *t) { return history_from_json(&h, t); });
    state.counters["entries"] = (double)h.count;
}
BENCHMARK(BM_HistoryLoad50)->Unit(benchmark::kMillisecond);

static void BM_SettingsSave(benchmark::State &state) {
    SETTINGS s;
    settings_default(&s);
    run_save(state, "settings.json", [&] { return settings_to_json(&s); });
}
BENCHMARK(BM_SettingsSave)->Unit(benchmark::kMillisecond);

static void BM_SettingsLoad(benchmark::State &state) {
    SETTINGS s;
    settings_default(&s);
    char *json = settings_to_json(&s);
    store_write_save("settings.json", json);
    free(json);
    run_load(state, "settings.json", [&](const char *t) { return settings_from_json(&s, t); });
}
BENCHMARK(BM_SettingsLoad)->Unit(benchmark::kMillisecond);

// The parse and print alone, without the disk, for the largest list: what a save costs the
// main loop apart from the device.
static void BM_PresetsSerialiseOnly500(benchmark::State &state) {
    PRESET_LIST *list = big_presets();
    for (auto _ : state) {
        char *json = presets_to_json(list);
        benchmark::DoNotOptimize(json);
        free(json);
    }
    presets_free(&list);
}
BENCHMARK(BM_PresetsSerialiseOnly500)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
