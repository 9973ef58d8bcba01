// bench/sound_export_bench.cpp: saving Morse as a sound file. Five minutes of PARIS at 20 WPM
// (100 words) in each format: how many times faster than real time the file is made, and how
// large it is.
#include <chrono>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <benchmark/benchmark.h>

#include "audio/sound_export.hpp"
#include "support/test_env.hpp"

namespace {

void BM_ExportFiveMinutes(benchmark::State &state) {
    SOUND_FORMAT format = (SOUND_FORMAT)state.range(0);
    TempDir dir;
    std::string text;
    for (int i = 0; i < 100; i++) text += "PARIS ";
    SOUND_EXPORT e{};
    e.text = text.c_str();
    morse_timing_default(&e.timing);
    e.timing.unit_ms = morse_wpm_to_unit_ms(20);
    e.tone_hz = 700;
    e.format = format;
    MORSE_SEQUENCE *seq = sound_export_sequence(&e);
    double audio_s = seq ? seq->total_ms / 1000.0 : 0;
    morse_sequence_free(&seq);
    double wall = 0, bytes = 0;
    int64_t when = 1765000000;
    for (auto _ : state) {
        char path[512];
        auto t0 = std::chrono::steady_clock::now();
        if (sound_export_write(&e, dir.path().c_str(), when++, path, sizeof path) != SOUND_SAVED) {
            state.SkipWithError("export failed");
            break;
        }
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        struct stat st {};
        stat(path, &st);
        bytes = (double)st.st_size;
        unlink(path);
    }
    state.SetLabel(sound_format_ext(format));
    state.counters["audio_s"] = audio_s;
    state.counters["x_real_time"] = wall > 0 ? audio_s * (double)state.iterations() / wall : 0;
    state.counters["file_MB"] = bytes / 1e6;
    state.counters["kbit_per_s"] = audio_s > 0 ? bytes * 8 / audio_s / 1000 : 0;
}
BENCHMARK(BM_ExportFiveMinutes)
    ->Arg(SOUND_WAV)
    ->Arg(SOUND_FLAC)
    ->Arg(SOUND_OGG)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

} // namespace

BENCHMARK_MAIN();
