// bench/receive_chain_bench.cpp: the receive screen's chain as a phone would run it. A camera
// double films a light at 30 fps on its own thread (faster than real time), the frames go
// through the capture interface and the receive sink into the decoder, and the main thread
// saves what the queue brings. Prints the character error rate at 5 to 20 WPM, clean, with
// sensor noise, and in a room (noise, drifting room light, a blooming lamp), and what one
// frame costs the capture thread in the sink, lock included, while the main thread reads the
// live text and the meter under the same lock at the display's pace.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "main/app.hpp"
#include "phone/camera_capture.hpp"
#include "tests/model/model_test_env.hpp"
#include "tests/support/fake_camera.hpp"
#include "tests/support/morse_signal.hpp"

namespace {

const char *const TEXTS[] = {
    "CQ CQ DE F4LKY PSE K",  "MEET AT 1930 NEAR THE OLD BRIDGE",
    "SOS SOS WE NEED WATER", "RST 599 QTH PARIS NAME JEAN",
    "HELLO WORLD 73",
};
constexpr uint32_t SPEEDS[] = {5, 10, 15, 20};
constexpr double GAP_MS = 4000; // between messages, beyond the end-of-message silence
constexpr uint32_t EOM_MS = 3000;

struct Condition {
    const char *name;
    double noise, drift, afterglow_ms;
};
const Condition CONDITIONS[] = {
    {"clean", 0, 0, 0},
    {"noise", 8, 0, 0},
    {"room", 4, 40, 25},
};

std::vector<LIGHT_SAMPLE> frames_of(uint32_t wpm, const Condition &c, uint64_t seed) {
    MORSE_TIMING timing{1200 / wpm, 3, 3, 7};
    std::vector<RUN> runs;
    for (const char *text : TEXTS) {
        MORSE_SEQUENCE *seq = morse_sequence_build(text, &timing);
        std::vector<RUN> r = sequence_runs(seq);
        morse_sequence_free(&seq);
        while (!r.empty() && !r.back().on) r.pop_back();
        if (!runs.empty()) runs.push_back(RUN{0, GAP_MS});
        runs.insert(runs.end(), r.begin(), r.end());
    }
    LIGHT_MODEL m;
    m.fps = 30;
    m.noise = c.noise;
    m.drift = c.drift;
    m.drift_period_ms = 30000;
    m.afterglow_ms = c.afterglow_ms;
    m.jitter_ms = 2;
    m.tail_ms = GAP_MS;
    m.seed = seed;
    return runs_to_light(runs, m);
}

// A started program's receiver without a display.
struct Receiver {
    SaveDir save;
    std::unique_ptr<LUMIKEY_APP> app{new LUMIKEY_APP()};
    Receiver() {
        LUMIKEY_APP *a = app.get();
        settings_default(&a->settings);
        a->settings.eom_timeout_ms = EOM_MS;
        a->received = received_new();
        app_receiver_init(a);
        a->rx_ready = 1;
        a->screen = a->built_screen = SCREEN_RECEIVE;
    }
    ~Receiver() {
        receiver_stop(&app.get()->rx);
        received_free(&app->received);
        app_receiver_destroy(app.get());
    }
    // Everything received, oldest first, joined by spaces.
    std::string text() const {
        std::string out;
        for (size_t i = app->received->count; i-- > 0;) {
            if (!out.empty()) out += ' ';
            out += app->received->items[i].text;
        }
        return out;
    }
};

std::string reference() {
    std::string out;
    for (const char *t : TEXTS) out += (out.empty() ? "" : " ") + std::string(t);
    return out;
}

// One run of the chain; the main thread polls as the loop would, every few milliseconds.
std::string receive(const std::vector<LIGHT_SAMPLE> &frames) {
    Receiver r;
    FakeCamera cam;
    cam.speed = 300;
    cam.set_frames(frames);
    cam.install();
    screen_receive_start_stop(r.app.get());
    while (!cam.wait_done(std::chrono::milliseconds(3))) screen_receive_update(r.app.get());
    screen_receive_update(r.app.get());
    receiver_stop(&r.app.get()->rx);
    return r.text();
}

void print_error_rates() {
    std::string ref = reference();
    size_t ref_len = morse_text_length(ref);
    printf("\nCharacter error rate through the receive chain, 30 fps frames (%zu characters x 3 "
           "seeds per cell)\n",
           ref_len);
    printf("%-8s", "WPM");
    for (const Condition &c : CONDITIONS) printf("%10s", c.name);
    printf("\n");
    for (uint32_t wpm : SPEEDS) {
        printf("%-8u", wpm);
        for (const Condition &c : CONDITIONS) {
            size_t errors = 0, chars = 0;
            for (uint64_t seed = 1; seed <= 3; seed++) {
                std::string got = receive(frames_of(wpm, c, seed));
                errors += morse_text_distance(ref, got);
                chars += ref_len;
            }
            printf("%9.2f%%", 100.0 * (double)errors / (double)chars);
        }
        printf("\n");
    }
}

int64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

// The capture thread's cost per frame, lock included, with the main thread drawing the live
// text and the meter at 30 Hz and saving what arrives.
void print_sink_cost() {
    Receiver r;
    LUMIKEY_APP *a = r.app.get();
    a->settings.debug_overlay = 1; // the trace ring is written too
    FakeCamera cam;
    cam.set_frames({});
    cam.install();
    screen_receive_start_stop(a);
    std::vector<LIGHT_SAMPLE> frames = frames_of(15, CONDITIONS[2], 7);
    std::vector<int64_t> cost(frames.size());
    std::atomic<bool> done{false};
    std::thread capture([&] {
        for (size_t k = 0; k < frames.size(); k++) {
            int64_t t0 = now_ns();
            receiver_light_sink(frames[k].t, frames[k].luma, &a->rx);
            cost[k] = now_ns() - t0;
            // Several frames per display frame, so that the reader meets the sink often.
            if (k % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        done = true;
    });
    DECODED_MESSAGE live;
    DECODER_STATUS st;
    while (!done) {
        pthread_mutex_lock(&a->rx.lock);
        if (a->rx.decoder) {
            decoder_live(a->rx.decoder, &live);
            decoder_status(a->rx.decoder, &st);
        }
        pthread_mutex_unlock(&a->rx.lock);
        screen_receive_update(a);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    capture.join();
    std::sort(cost.begin(), cost.end());
    auto at = [&](double q) { return (double)cost[(size_t)(q * (double)(cost.size() - 1))] / 1e3; };
    printf("\nSink cost per frame (%zu frames at 15 WPM in a room, trace on, main thread "
           "reading under the lock): median %.2f us, 99th percentile %.2f us, worst %.2f us\n",
           cost.size(), at(0.5), at(0.99), (double)cost.back() / 1e3);
    printf("(one frame every 33333 us at 30 fps)\n");
}

// The sink alone on one thread, for the benchmark table.
void BM_SinkFrame(benchmark::State &state) {
    Receiver r;
    LUMIKEY_APP *a = r.app.get();
    FakeCamera cam;
    cam.set_frames({});
    cam.install();
    screen_receive_start_stop(a);
    std::vector<LIGHT_SAMPLE> frames = frames_of(15, CONDITIONS[1], 3);
    size_t k = 0;
    double offset = 0;
    for (auto _ : state) {
        receiver_light_sink(frames[k].t + offset, frames[k].luma, &a->rx);
        if (++k == frames.size()) {
            k = 0;
            offset += frames.back().t + 1000;
            state.PauseTiming();
            screen_receive_update(a);
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_SinkFrame);

} // namespace

int main(int argc, char **argv) {
    al_init();
    print_error_rates();
    print_sink_cost();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
