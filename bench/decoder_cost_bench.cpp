// bench/decoder_cost_bench.cpp: what one recorded run costs (estimation over the whole message
// plus the live decode a screen asks for) as a message grows to the 4096-run capacity, and the
// worst single call, for hand keying, machine timing and camera samples. A camera frame at
// 30 fps leaves 33 ms for everything.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "morse/decoder.hpp"
#include "morse/decoder_private.hpp"
#include "tests/support/morse_signal.hpp"

namespace {

// The machine is shared: wall-clock time includes preemption by other processes, so the cost
// of a call is measured as this thread's CPU time (the worst wall-clock time is printed too).
struct Stopwatch {
    timespec cpu0, wall0;
    Stopwatch() {
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
        clock_gettime(CLOCK_MONOTONIC, &wall0);
    }
    static double ms(const timespec &a, const timespec &b) {
        return (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
    }
    void stop(double *cpu_ms, double *wall_ms) const {
        timespec cpu1, wall1;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
        clock_gettime(CLOCK_MONOTONIC, &wall1);
        *cpu_ms = ms(cpu0, cpu1);
        *wall_ms = ms(wall0, wall1);
    }
};

// A keyed text long enough to fill the decoder (more than 4096 runs).
std::vector<RUN> long_keyed_runs(double sigma, uint64_t seed, double unit2_ms = 0) {
    std::string text;
    for (int i = 0; i < 50; i++) text += "THE QUICK BROWN FOX JUMPS OVER 1234 ";
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build(text.c_str(), &t);
    HAND_MODEL h;
    h.unit_ms = 60;
    h.sigma = sigma;
    h.seed = seed;
    h.unit2_ms = unit2_ms;
    std::vector<RUN> runs = hand_runs(seq, h);
    morse_sequence_free(&seq);
    return runs;
}

struct Bucket {
    double sum = 0, worst = 0;
    size_t n = 0;
};

// Keys the runs edge by edge, timing each edge that records a run together with a live decode
// (the key screen shows the text after every edge); buckets by the message's run count.
// kind 0: even keying at one speed; 1: a step from 20 to 30 WPM halfway; 2: very uneven keying.
void key_cost(const char *name, int human, int follow = 1, int kind = 0) {
    std::vector<RUN> runs = long_keyed_runs(kind == 2 ? 0.3 : 0.1, 3, kind == 1 ? 40 : 0);
    DECODER_CONFIG c;
    decoder_config_default(&c);
    c.human = human;
    MORSE_DECODER *d = decoder_new(&c);
    d->follow_off = !follow;
    DECODED_MESSAGE *m = new DECODED_MESSAGE;
    std::vector<Bucket> buckets(17);
    double worst = 0, total = 0, worst_wall = 0;
    size_t calls = 0;
    DECODER_STATUS st;
    for (const KEY_EDGE_AT &e : runs_to_edges(runs, 0)) {
        Stopwatch sw;
        decoder_key(d, e.t, e.down);
        decoder_live(d, m);
        double ms, wall;
        sw.stop(&ms, &wall);
        worst_wall = std::max(worst_wall, wall);
        // Every edge but the first records one run, so the edge count is the run count.
        size_t b = std::min(calls / 256, buckets.size() - 1);
        buckets[b].sum += ms;
        buckets[b].n++;
        buckets[b].worst = std::max(buckets[b].worst, ms);
        worst = std::max(worst, ms);
        total += ms;
        calls++;
        decoder_status(d, &st);
    }
    printf("\n%s: %zu key edges, CPU time per edge (record + estimate + live decode): mean "
           "%.3f ms, worst %.3f ms; worst wall-clock %.3f ms\n",
           name, calls, total / calls, worst, worst_wall);
    printf("  runs so far  mean CPU ms  worst CPU ms\n");
    for (size_t i = 0; i < buckets.size(); i++) {
        if (!buckets[i].n) continue;
        printf("  %5zu-%-5zu %11.3f %13.3f\n", i * 256, i == 16 ? calls : (i + 1) * 256 - 1,
               buckets[i].sum / buckets[i].n, buckets[i].worst);
    }
    delete m;
    decoder_free(&d);
}

// Feeds a camera's frames one by one, timing each frame together with the poll the receive
// screen makes after it: the median frame (no run ends) and the worst (a run ends and the whole
// message is estimated again) against the frame interval.
void light_cost(const char *name, const LIGHT_MODEL &lm) {
    std::vector<RUN> runs = long_keyed_runs(0.0, 1);
    for (RUN &r : runs) r.ms *= 100.0 / 60.0; // 12 WPM: a camera can follow it
    std::vector<LIGHT_SAMPLE> samples = runs_to_light(runs, lm);
    MORSE_DECODER *d = decoder_new(nullptr);
    DECODED_MESSAGE *m = new DECODED_MESSAGE;
    std::vector<double> cpu;
    cpu.reserve(samples.size());
    double worst_late = 0, worst_wall = 0, total = 0;
    for (const LIGHT_SAMPLE &s : samples) {
        Stopwatch sw;
        decoder_feed(d, s.t, s.luma);
        decoder_poll_message(d, m);
        double ms, wall;
        sw.stop(&ms, &wall);
        worst_wall = std::max(worst_wall, wall);
        if (cpu.size() > samples.size() * 3 / 4) worst_late = std::max(worst_late, ms);
        total += ms;
        cpu.push_back(ms);
    }
    size_t n = cpu.size();
    std::vector<double> sorted = cpu;
    std::sort(sorted.begin(), sorted.end());
    printf("\ncamera, %s, 12 WPM, %zu frames at %.0f fps (the message grows past 4096 runs), CPU "
           "time per frame: median %.4f ms, mean %.4f ms, 99th percentile %.3f ms, worst %.3f ms "
           "(worst in the last quarter %.3f ms); worst wall-clock %.3f ms\n",
           name, n, lm.fps, sorted[n / 2], total / n, sorted[n * 99 / 100], sorted[n - 1],
           worst_late, worst_wall);
    delete m;
    decoder_free(&d);
}

// The framework's own timing of one estimation on a full (4096-run) hand-keyed message. At
// capacity new runs are dropped, but a bounce merged into the last mark still re-estimates
// when the mark ends: each iteration is such a bounce and the end of the mark.
void BM_HumanEstimateAtCapacity(benchmark::State &state) {
    std::vector<RUN> runs = long_keyed_runs(0.1, 3);
    DECODER_CONFIG c;
    decoder_config_default(&c);
    c.human = 1;
    MORSE_DECODER *d = decoder_new(&c);
    std::vector<KEY_EDGE_AT> edges = runs_to_edges(runs, 0);
    for (const KEY_EDGE_AT &e : edges) decoder_key(d, e.t, e.down); // more than 4096 runs
    double t = edges.back().t + 1000;
    for (auto _ : state) {
        decoder_key(d, t, 1); // mark, then a 5 ms release: bounce, merged into the mark
        decoder_key(d, t + 60, 0);
        decoder_key(d, t + 65, 1);
        decoder_key(d, t + 125, 0); // completes the merge: a full estimation
        t += 1000;
    }
    DECODER_STATUS st;
    decoder_status(d, &st);
    state.counters["unit_ms"] = st.unit_ms;
    decoder_free(&d);
}
BENCHMARK(BM_HumanEstimateAtCapacity)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    key_cost("hand keying (human estimation), sigma 0.10, 20 WPM", 1);
    key_cost("the same with one set of thresholds per message (before following the operator)", 1,
             0);
    key_cost("hand keying of a speed step 20 -> 30 WPM, sigma 0.10 (following)", 1, 1, 1);
    key_cost("hand keying, sigma 0.30 (uneven keying)", 1, 1, 2);
    key_cost("key edges with machine estimation", 0);
    LIGHT_MODEL clean;
    clean.noise = 2;
    light_cost("noise 2", clean);
    LIGHT_MODEL room = clean;
    room.noise = 8;
    room.drift = 40;
    room.afterglow_ms = 33.0 / std::log(2.0);
    light_cost("noise 8, drifting room, blooming lamp", room);
    printf("\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
