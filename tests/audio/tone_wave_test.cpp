// tests/audio/tone_wave_test.cpp: the sound a send really makes. OpenAL writes its output to a
// WAV file in real time; the tone read back from it must follow the sequence.
// ctest-label: threaded
#include <chrono>
#include <memory>
#include <thread>
#include <vector>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>

#include "audio/tone.hpp"
#include "morse/player.hpp"
#include "support/test_sequence.hpp"
#include "support/wav_reader.hpp"

using namespace std::chrono_literals;

namespace {

struct Element {
    double start_ms, duration_ms;
};

std::unique_ptr<WaveCapture> capture;

class ToneWaveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        capture = std::make_unique<WaveCapture>();
        ASSERT_TRUE(al_init());
        WaveCapture::select_openal();
    }
    static void TearDownTestSuite() { capture.reset(); }

    void SetUp() override {
        ASSERT_EQ(tone_audio_init(), 1);
        player_ = player_new();
        ASSERT_NE(player_, nullptr);
    }
    void TearDown() override {
        player_free(&player_);
        tone_audio_shutdown();
    }

    // Takes the audio system down (which closes the file) and reads what was played.
    WavData finish() {
        std::this_thread::sleep_for(300ms); // let the tail leave the mixer
        player_free(&player_);
        tone_audio_shutdown();
        WavData wav;
        std::string why;
        EXPECT_TRUE(wav_read(capture->wav_path(), &wav, &why)) << why;
        return wav;
    }

    // Starts sending text through the sound channel alone, noting its elements' times.
    void send(const char *text, uint32_t unit_ms, uint32_t hz, int loop) {
        MORSE_SEQUENCE *seq = test_sequence(text, unit_ms);
        ASSERT_NE(seq, nullptr);
        for (size_t i = 0; i < seq->count; i++)
            if (seq->events[i].state < MORSE_SYM_GAP)
                elements_.push_back(
                    {(double)seq->events[i].start_ms, (double)seq->events[i].duration_ms});
        PLAYER_CHANNEL ch{};
        ASSERT_EQ(tone_prepare(seq, hz, 0, &ch), 1);
        ASSERT_EQ(player_start(player_, seq, loop, &ch, 1), 1);
    }

    // The stretches of tone in what was played; a threshold at a tenth of the peak cuts about
    // 1 ms off each 5 ms edge.
    static std::vector<WavSegment> tones(const WavData &wav) {
        float peak = wav_peak(wav.samples, 0, wav.samples.size());
        EXPECT_GT(peak, 0.05f) << "nothing was heard";
        return wav_segments(wav.samples, 0.1f * peak, wav.rate / 500);
    }

    MORSE_PLAYER *player_ = nullptr;
    std::vector<Element> elements_;
};

double ms(size_t samples, uint32_t rate) {
    return 1000.0 * (double)samples / (double)rate;
}

} // namespace

TEST_F(ToneWaveTest, MessageToneFollowsTheSequencesTiming) {
    ASSERT_NO_FATAL_FAILURE(send("SOS", 60, 700, 0));
    while (player_is_playing(player_)) std::this_thread::sleep_for(5ms);
    WavData wav = finish();
    std::vector<WavSegment> seg = tones(wav);
    ASSERT_EQ(seg.size(), elements_.size());
    // The output started at some unknown moment: times count from the first onset.
    for (size_t i = 0; i < seg.size(); i++) {
        double start = ms(seg[i].start - seg[0].start, wav.rate);
        double length = ms(seg[i].end - seg[i].start, wav.rate);
        EXPECT_NEAR(start, elements_[i].start_ms - elements_[0].start_ms, 3.0) << "element " << i;
        EXPECT_NEAR(length, elements_[i].duration_ms - 2.0, 3.0) << "element " << i;
        EXPECT_NEAR(wav_frequency(wav.samples, seg[i].start, seg[i].end, wav.rate), 700.0, 3.0)
            << "element " << i;
        EXPECT_EQ(wav_sine_breaks(wav.samples, seg[i].start, seg[i].end, 700.0, wav.rate, 0.01f),
                  0u)
            << "element " << i;
    }
}

TEST_F(ToneWaveTest, LoopReplaysFromTheStartAndAStopSilencesAtOnce) {
    // T at unit 100: a 300 ms dash, then the 700 ms word gap before the next repetition.
    ASSERT_NO_FATAL_FAILURE(send("T", 100, 550, 1));
    // Stop 100 ms into the third dash.
    uint32_t elapsed = 0, rep = 0;
    while (!(player_position(player_, &elapsed, &rep) && rep >= 2 && elapsed >= 100))
        std::this_thread::sleep_for(1ms);
    player_stop(player_);
    WavData wav = finish();
    std::vector<WavSegment> seg = tones(wav);
    ASSERT_EQ(seg.size(), 3u);
    // Restarts are made by the player thread and take effect at the mixer's next buffer, so
    // they are exact only to that buffer (about 23 ms here).
    EXPECT_NEAR(ms(seg[1].start - seg[0].start, wav.rate), 1000.0, 30.0);
    EXPECT_NEAR(ms(seg[2].start - seg[1].start, wav.rate), 1000.0, 30.0);
    EXPECT_NEAR(ms(seg[0].end - seg[0].start, wav.rate), 298.0, 3.0);
    EXPECT_NEAR(ms(seg[1].end - seg[1].start, wav.rate), 298.0, 3.0);
    // The interrupted dash ends well before its 300 ms, without a falling edge.
    double cut = ms(seg[2].end - seg[2].start, wav.rate);
    EXPECT_GT(cut, 50.0);
    EXPECT_LT(cut, 280.0);
    EXPECT_NEAR(wav_frequency(wav.samples, seg[1].start, seg[1].end, wav.rate), 550.0, 3.0);
}
