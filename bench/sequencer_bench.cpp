// Cost of turning a message into its timed sequence: build and close a 1023-byte mixed text,
// and count the heap allocations one build makes.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "morse/sequencer.hpp"
#include "support/ka_common.hpp"

// Every allocation of the process passes through these wrappers; only the count between
// _counting on and off is read. glibc keeps its own entry points under the __libc_ names.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
}
static std::atomic<bool> _counting{false};
static std::atomic<long> _allocations{0};

static void _count() {
    if (_counting.load(std::memory_order_relaxed))
        _allocations.fetch_add(1, std::memory_order_relaxed);
}

extern "C" void *malloc(size_t n) {
    _count();
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t c, size_t n) {
    _count();
    return __libc_calloc(c, n);
}
extern "C" void *realloc(void *p, size_t n) {
    _count();
    return __libc_realloc(p, n);
}

// Letters, digits, punctuation, spaces and line breaks, accented and two-letter characters,
// typographic quotes and a few characters that cannot be sent; exactly 1023 bytes.
static std::string _mixed_text() {
    const std::string piece = "CQ DE F4ABC, \xC3\xA9t\xC3\xA9 \xC3\x9F\xC3\xA6 \xC5\x93uvre "
                              "\xE2\x80\x9Cok\xE2\x80\x9D 73! #5 \xF0\x9F\x98\x80 (r\xC3\xA8gle) "
                              "Stra\xC3\x9F"
                              "e 12:30\n";
    std::string text;
    while (text.size() < 1023) text += piece;
    text.resize(ka_utf8_cut_len(text.c_str(), 1023));
    while (text.size() < 1023) text += 'E';
    return text;
}

static void BM_SequenceBuildAndClose(benchmark::State &state) {
    const std::string text = _mixed_text();
    MORSE_TIMING timing;
    morse_timing_default(&timing);
    size_t events = 0;
    for (auto _ : state) {
        MORSE_SEQUENCE *seq = morse_sequence_build(text.c_str(), &timing);
        morse_sequence_close(seq, timing.word_gap_units);
        events = seq->count;
        benchmark::DoNotOptimize(seq->total_ms);
        morse_sequence_free(&seq);
    }

    _allocations = 0;
    _counting = true;
    MORSE_SEQUENCE *seq = morse_sequence_build(text.c_str(), &timing);
    morse_sequence_close(seq, timing.word_gap_units);
    _counting = false;
    long allocations = _allocations.load();
    static bool printed = false; // the library calls this function once per trial run
    if (!printed)
        printf("sequence of %zu bytes: %zu events, %zu skipped, %ld allocations (build + close)\n",
               text.size(), seq->count, seq->skipped, allocations);
    printed = true;
    morse_sequence_free(&seq);

    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)text.size());
    state.counters["events"] = (double)events;
    state.counters["allocations"] = (double)allocations;
}
BENCHMARK(BM_SequenceBuildAndClose)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
