// bench/tone_bench.cpp: what pre-rendering costs for the longest message the program can send
// (1023 bytes, every one the longest character) at 44.1 kHz, in time and memory.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <benchmark/benchmark.h>

#include "audio/tone_synth.hpp"

namespace {

// '0' is five dashes: 19 units, the most of any character, plus the letter gap.
MORSE_SEQUENCE *longest(const MORSE_TIMING &t) {
    return morse_sequence_build(std::string(1023, '0').c_str(), &t);
}

long max_rss_kb() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

void BM_RenderLongestMessage(benchmark::State &state) {
    MORSE_TIMING t;
    morse_timing_default(&t); // unit 100 ms, the default speed
    MORSE_SEQUENCE *seq = longest(t);
    size_t frames = 0;
    long rss_before = max_rss_kb();
    for (auto _ : state) {
        int16_t *pcm = nullptr;
        if (!tone_render(seq, 44100, 700, 0.6f, 5, &pcm, &frames)) state.SkipWithError("render");
        benchmark::DoNotOptimize(pcm);
        free(pcm);
    }
    state.counters["message_s"] = seq->total_ms / 1000.0;
    state.counters["frames"] = (double)frames;
    state.counters["buffer_MB"] = frames * 2.0 / 1e6;
    state.counters["max_rss_growth_MB"] = (max_rss_kb() - rss_before) / 1000.0;
    state.counters["ns_per_frame"] =
        benchmark::Counter((double)frames * state.iterations(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    morse_sequence_free(&seq);
}
BENCHMARK(BM_RenderLongestMessage)->Unit(benchmark::kMillisecond)->Iterations(3);

// A typical send for comparison: a 40-character message at the default speed.
void BM_RenderTypicalMessage(benchmark::State &state) {
    MORSE_TIMING t;
    morse_timing_default(&t);
    MORSE_SEQUENCE *seq = morse_sequence_build("CQ CQ CQ DE LUMIKEY LUMIKEY PSE K 73 SK", &t);
    size_t frames = 0;
    for (auto _ : state) {
        int16_t *pcm = nullptr;
        tone_render(seq, 44100, 700, 0.6f, 5, &pcm, &frames);
        benchmark::DoNotOptimize(pcm);
        free(pcm);
    }
    state.counters["message_s"] = seq->total_ms / 1000.0;
    state.counters["buffer_MB"] = frames * 2.0 / 1e6;
    morse_sequence_free(&seq);
}
BENCHMARK(BM_RenderTypicalMessage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    // Not rendered: at the slowest settings the same message would need this much memory.
    MORSE_TIMING slow = {2000, 6, 10, 20};
    MORSE_SEQUENCE *seq = longest(slow);
    if (seq) {
        size_t frames = tone_ms_to_frame(seq->total_ms, 44100);
        printf("slowest timing (unit 2000 ms, dash 6, gaps 10/20): %.1f h of tone, %zu frames, "
               "%.2f GB buffer\n",
               seq->total_ms / 3.6e6, frames, frames * 2.0 / 1e9);
        morse_sequence_free(&seq);
    }
    benchmark::Shutdown();
    return 0;
}
