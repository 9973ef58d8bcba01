// tests/audio/sidetone_wave_test.cpp: the sidetone as really played. OpenAL writes its output
// to a WAV file in real time; the key presses must show as ramped tones of the right length.
// ctest-label: threaded
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>
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

    // Down 150 ms, up 150 ms, down 300 ms, on absolute times so the sleeps do not add up. On
    // a loaded machine a sleep may end late: the times the key really changed are kept.
    auto t0 = std::chrono::steady_clock::now() + 200ms;
    std::vector<double> edges;
    auto key_at = [&](std::chrono::milliseconds at, int down) {
        std::this_thread::sleep_until(t0 + at);
        edges.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        sidetone_key(down);
    };
    key_at(0ms, 1);
    key_at(150ms, 0);
    key_at(300ms, 1);
    key_at(600ms, 0);
    std::this_thread::sleep_until(t0 + 900ms);
    sidetone_stop();
    tone_audio_shutdown();

    WavData wav;
    std::string why;
    ASSERT_TRUE(wav_read(capture.wav_path(), &wav, &why)) << why;
    float peak = wav_peak(wav.samples, 0, wav.samples.size());
    ASSERT_GT(peak, 0.05f) << "nothing was heard";
    // A fill thread that wakes too late on a loaded machine leaves a hole of a fragment or
    // more inside a press: presses are found with holes of up to 30 ms bridged.
    float quiet = 0.02f * peak;
    std::vector<WavSegment> seg = wav_segments(wav.samples, quiet, wav.rate * 30 / 1000);
    ASSERT_EQ(seg.size(), 2u);
    // The key is read once per 256-sample fragment and the mixer takes the stream 1024 samples
    // at a time, so each edge is late by up to about 23 ms, more when the fill thread wakes late;
    // the ramps themselves are exact.
    EXPECT_NEAR(ms(seg[1].start - seg[0].start, wav.rate), edges[2] - edges[0], 40.0);
    EXPECT_NEAR(ms(seg[0].end - seg[0].start, wav.rate), edges[1] - edges[0], 40.0);
    EXPECT_NEAR(ms(seg[1].end - seg[1].start, wav.rate), edges[3] - edges[2], 40.0);
    for (const WavSegment &s : seg) {
        EXPECT_NEAR(wav_frequency(wav.samples, s.start, s.end, wav.rate), 600.0, 3.0);
        // Not one sample lost or zeroed between fragments: that would click. Checked between
        // the holes a late fill thread may have left.
        for (const WavSegment &run : wav_segments(wav.samples, quiet, wav.rate / 500)) {
            if (run.start < s.start || run.end > s.end) continue;
            EXPECT_EQ(wav_sine_breaks(wav.samples, run.start, run.end, 600.0, wav.rate, 0.01f), 0u)
                << "between samples " << run.start << " and " << run.end;
        }
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
