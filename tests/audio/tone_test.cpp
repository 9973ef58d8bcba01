// tests/audio/tone_test.cpp: the audio system's start and end, the sound channel and the
// sidetone's life cycle, on OpenAL's silent output (the test runner's default).
// ctest-label: threaded
#include <chrono>
#include <thread>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>
#include <allegro5/allegro_audio.h>

#include "audio/sidetone.hpp"
#include "audio/tone.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"
#include "support/test_sequence.hpp"
#include "support/wav_reader.hpp" // select_openal

namespace {

// Audio on the silent output for every test of this file; each test starts with it up.
class ToneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("ALSOFT_DRIVERS", "null", 1);
        ASSERT_TRUE(al_init());
        WaveCapture::select_openal();
    }
    void SetUp() override { ASSERT_EQ(tone_audio_init(), 1); }
    void TearDown() override { tone_audio_shutdown(); }
};

} // namespace

TEST_F(ToneTest, StartsOnceAndReportsTheMixer) {
    tone_audio_shutdown();
    LogCapture log(LOG_INFO);
    EXPECT_EQ(tone_available(), 0);
    EXPECT_EQ(tone_audio_init(), 1);
    EXPECT_EQ(tone_audio_init(), 1);
    EXPECT_EQ(tone_available(), 1);
    ASSERT_NE(al_get_default_mixer(), nullptr);
    std::string line = "audio ready, mixer " +
                       std::to_string(al_get_mixer_frequency(al_get_default_mixer())) + " Hz";
    std::string text = log.text();
    size_t first = text.find(line);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(line, first + 1), std::string::npos) << "initialised twice: " << text;
}

TEST_F(ToneTest, PrepareFillsTheSoundChannel) {
    MORSE_SEQUENCE *seq = test_sequence("SOS", 60);
    ASSERT_NE(seq, nullptr);
    PLAYER_CHANNEL ch{};
    LogCapture log(LOG_INFO);
    ASSERT_EQ(tone_prepare(seq, 650, 120, &ch), 1);
    EXPECT_STREQ(ch.name, "sound");
    EXPECT_EQ(ch.lead_ms, 120u);
    EXPECT_NE(ch.on_rep_start, nullptr);
    EXPECT_EQ(ch.on_event, nullptr);
    EXPECT_NE(ch.on_stop, nullptr);
    EXPECT_EQ(ch.user, nullptr);
    uint32_t rate = al_get_mixer_frequency(al_get_default_mixer());
    char line[128];
    snprintf(line, sizeof line, "tone ready: %zu frames at %u Hz, 650 Hz tone, lead 120 ms",
             (size_t)(((uint64_t)rate * seq->total_ms + 500) / 1000), rate);
    EXPECT_TRUE(log.contains(line)) << log.text();
    tone_release();
    tone_release();
    morse_sequence_free(&seq);
}

TEST_F(ToneTest, FailuresLeaveTheChannelUntouched) {
    MORSE_SEQUENCE *seq = test_sequence("E", 100);
    MORSE_SEQUENCE *empty = test_sequence("", 100);
    PLAYER_CHANNEL ch{};
    ch.name = "untouched";
    {
        LogCapture log(LOG_ERR);
        EXPECT_EQ(tone_prepare(seq, 30000, 0, &ch), 0); // above half the mixer's rate
        EXPECT_TRUE(log.contains("bad tone parameters: 30000 Hz at")) << log.text();
    }
    {
        LogCapture log(LOG_ERR);
        EXPECT_EQ(tone_prepare(empty, 700, 0, &ch), 0);
        EXPECT_TRUE(log.contains("could not set up the tone sample")) << log.text();
    }
    EXPECT_EQ(tone_prepare(nullptr, 700, 0, &ch), 0);
    EXPECT_EQ(tone_prepare(seq, 700, 0, nullptr), 0);
    EXPECT_STREQ(ch.name, "untouched");
    tone_audio_shutdown();
    EXPECT_EQ(tone_prepare(seq, 700, 0, &ch), 0); // no sound any more
    EXPECT_STREQ(ch.name, "untouched");
    morse_sequence_free(&seq);
    morse_sequence_free(&empty);
}

TEST_F(ToneTest, SidetoneStartsStopsAndNeedsSound) {
    LogCapture log(LOG_INFO);
    ASSERT_EQ(sidetone_start(700), 1);
    uint32_t rate = al_get_mixer_frequency(al_get_default_mixer());
    EXPECT_TRUE(log.contains("sidetone running: 700 Hz, 5 x 256 samples at " +
                             std::to_string(rate) + " Hz"))
        << log.text();
    sidetone_key(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sidetone_key(0);
    ASSERT_EQ(sidetone_start(600), 1); // restarts cleanly
    sidetone_stop();
    sidetone_stop();
    ASSERT_EQ(sidetone_start(600), 1);
    tone_audio_shutdown(); // takes the running sidetone down first
    EXPECT_EQ(sidetone_start(700), 0);
    sidetone_key(1);
    sidetone_stop();
}
