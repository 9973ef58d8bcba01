// tests/model/receiver_mic_test.cpp: the microphone path fed as its capture thread feeds it (no
// sound server): live text and saved messages are the reader's, with hindsight (Farnsworth,
// which the streaming decoder splits into letters), each once, in order, the last at the stop.
// ctest-label: threaded
#include "model/receiver.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/model/model_test_env.hpp"
#include "tests/support/morse_audio.hpp"

namespace {

struct Chain {
    RECEIVER *rx;
    TONE_DETECT *td = nullptr;
    std::vector<MIC_EDGE> edges;
    explicit Chain(RECEIVER *r) : rx(r) {
        TONE_DETECT_CONFIG c;
        mic_tone_config(&c, MIC_RATE);
        c.on_edge = [](double t, int down, void *u) {
            ((Chain *)u)->edges.push_back(MIC_EDGE{t, down});
        };
        c.user = this;
        td = tone_detect_new(&c);
    }
    ~Chain() { tone_detect_free(&td); }
    // The capture thread's loop: detector, then the block with its edges and sound.
    void play(const std::vector<float> &x) {
        for (size_t i = 0; i + 80 <= x.size(); i += 80) {
            edges.clear();
            tone_detect_process(td, &x[i], 80);
            TONE_STATUS st;
            tone_detect_status(td, &st);
            MIC_BLOCK b{edges.data(), edges.size(), st.time_ms, 0.0f, &x[i], 80};
            receiver_sound_sink(&b, rx);
        }
    }
};

std::vector<float> keyed(const std::vector<RUN> &runs, double tail_ms) {
    double len = tail_ms;
    for (const RUN &r : runs) len += r.ms;
    std::vector<float> x((size_t)(len * 8), 0.0f);
    audio_add_runs(x, 8000, runs, 0, 650, 0.3, 4, [](double) { return 1.0; });
    return x;
}

std::vector<RUN> farnsworth(const char *text) {
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build(text, &t);
    HAND_MODEL m;
    m.unit_ms = 1200.0 / 25;
    farnsworth_gaps(25, 12, &m.letter_units, &m.word_units);
    std::vector<RUN> runs = hand_runs(seq, m);
    morse_sequence_free(&seq);
    return runs;
}

TEST(ReceiverMic, ShowsAndSavesTheReadingWithHindsightEachMessageOnce) {
    SaveDir save;
    ASSERT_TRUE(save.ok());
    ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/lumikey-test/native");
    std::unique_ptr<RECEIVER> rx(new RECEIVER());
    ASSERT_EQ(receiver_init(rx.get(), nullptr), 1);
    RECEIVED_LIST *list = received_new();
    RECEIVER_START cfg{};
    cfg.source = RX_SOURCE_MIC;
    cfg.eom_timeout_ms = 1500;
    cfg.received = list;
    ASSERT_EQ(receiver_start(rx.get(), &cfg), RX_STARTED);
    {
        Chain chain(rx.get());
        // A second of silence after it, short of the message's end: a reading comes at least
        // every 250 ms of sound, so the last one has all of its marks.
        // 300 ms after its last tone, a crash of static 50 ms long, 30 dB over the tone in a
        // 500 Hz band, once moved the detector off the tone: the message then ran on into the
        // next station's first letter.
        std::vector<float> first = keyed(farnsworth("FIVE BOXING"), 1000);
        std::mt19937_64 rng(5);
        std::normal_distribution<float> crash(0.0f, 20.0f);
        for (size_t i = first.size() - 700 * 8; i < first.size() - 650 * 8; i++)
            first[i] = crash(rng);
        chain.play(first);
        // The reader catches up on its own thread. The live text is its reading, whole from the
        // first letter whenever it shows (a prefix while the reader is behind), the letters of
        // each word kept together.
        DECODED_MESSAGE live{};
        for (int i = 0; i < 3000 && strcmp(live.text, "FIVE BOXING") != 0; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            receiver_live(rx.get(), &live);
            if (live.text[0]) {
                ASSERT_EQ(live.text[0], 'F') << live.text;
            }
        }
        EXPECT_STREQ(live.text, "FIVE BOXING");
        // Its silence ends the message; then another station, under way at the stop.
        chain.play(std::vector<float>(1500 * 8, 0.0f));
        chain.play(keyed(audio_station_runs(AUDIO_STATION{"OK 73", 18}), 500));
    }
    receiver_stop(rx.get());
    ASSERT_EQ(list->count, 2u);
    EXPECT_STREQ(list->items[1].text, "FIVE BOXING");
    EXPECT_NEAR(list->items[1].unit_ms, 48, 3);
    EXPECT_STREQ(list->items[0].text, "OK 73");
    EXPECT_STREQ(list->items[0].symbols, "--- -.- / --... ...--");
    EXPECT_STREQ(rx->last_saved, "OK 73");
    received_free(&list);
    receiver_destroy(rx.get());
}

} // namespace
