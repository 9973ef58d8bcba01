// tests/audio/sidetone_wave_test.cpp: the sidetone as really played. OpenAL writes its output
// to a WAV file in real time; the key presses must show as ramped tones of the right length.
// ctest-label: threaded
#include <chrono>
#include <cmath>
#include <thread>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>

#include "audio/sidetone.hpp"
#include "audio/tone.hpp"
#include "support/wav_reader.hpp"

using namespace std::chrono_literals;

namespace {

double ms(size_t samples, uint32_t rate) {
    return 1000.0 * (double)samples / (double)rate;
}

// First index in [from, to) (or last, going backwards) where |x| reaches level.
size_t first_reaching(const std::vector<float> &x, size_t from, size_t to, float level) {
    for (size_t i = from; i < to; i++)
        if (std::fabs(x[i]) >= level) return i;
    return to;
}
size_t last_reaching(const std::vector<float> &x, size_t from, size_t to, float level) {
    for (size_t i = to; i > from; i--)
        if (std::fabs(x[i - 1]) >= level) return i - 1;
    return from;
}

} // namespace

TEST(SidetoneWaveTest, KeyPressesSoundAsRampedTonesOfTheirLength) {
    WaveCapture capture;
    ASSERT_TRUE(al_init());
    WaveCapture::select_openal();
    ASSERT_EQ(tone_audio_init(), 1);
    ASSERT_EQ(sidetone_start(600), 1);

    // Down 150 ms, up 150 ms, down 300 ms, on absolute times so the sleeps do not add up.
    auto t0 = std::chrono::steady_clock::now() + 200ms;
    std::this_thread::sleep_until(t0);
    sidetone_key(1);
    std::this_thread::sleep_until(t0 + 150ms);
    sidetone_key(0);
    std::this_thread::sleep_until(t0 + 300ms);
    sidetone_key(1);
    std::this_thread::sleep_until(t0 + 600ms);
    sidetone_key(0);
    std::this_thread::sleep_until(t0 + 900ms);
    sidetone_stop();
    tone_audio_shutdown();

    WavData wav;
    std::string why;
    ASSERT_TRUE(wav_read(capture.wav_path(), &wav, &why)) << why;
    float peak = wav_peak(wav.samples, 0, wav.samples.size());
    ASSERT_GT(peak, 0.05f) << "nothing was heard";
    std::vector<WavSegment> seg = wav_segments(wav.samples, 0.02f * peak, wav.rate / 500);
    ASSERT_EQ(seg.size(), 2u);
    // The key is read once per 256-sample fragment and the mixer takes the stream in larger
    // buffers, so edges move by up to a few fragments; the ramps themselves are exact.
    EXPECT_NEAR(ms(seg[1].start - seg[0].start, wav.rate), 300.0, 25.0);
    EXPECT_NEAR(ms(seg[0].end - seg[0].start, wav.rate), 150.0, 25.0);
    EXPECT_NEAR(ms(seg[1].end - seg[1].start, wav.rate), 300.0, 25.0);
    for (const WavSegment &s : seg) {
        EXPECT_NEAR(wav_frequency(wav.samples, s.start, s.end, wav.rate), 600.0, 3.0);
        // Not one sample lost or zeroed between fragments: that would click.
        EXPECT_EQ(wav_sine_breaks(wav.samples, s.start, s.end, 600.0, wav.rate, 0.01f), 0u);
        // A 5 ms raised-cosine ramp passes 90 % of full level 4 ms in, give or take the
        // half cycle between crests; an instant switch would get there within a cycle's
        // quarter, a missing ramp-down would end at full level.
        size_t up = first_reaching(wav.samples, s.start, s.end, 0.9f * peak);
        size_t down = last_reaching(wav.samples, s.start, s.end, 0.9f * peak);
        EXPECT_NEAR(ms(up - s.start, wav.rate), 4.0, 1.2);
        EXPECT_NEAR(ms(s.end - down, wav.rate), 4.0, 1.2);
        EXPECT_LT(std::fabs(wav.samples[s.start]), 0.1f * peak);
        EXPECT_LT(std::fabs(wav.samples[s.end - 1]), 0.1f * peak);
    }
}
