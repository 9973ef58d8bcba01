// tests/audio/tone_synth_test.cpp: the message renderer, checked sample by sample.
#include <cmath>
#include <cstdlib>
#include <vector>
#include <gtest/gtest.h>

#include "audio/tone_synth.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"
#include "support/test_sequence.hpp"
#include "support/wav_reader.hpp"

namespace {

// A message and its rendering, both freed at the end of the test.
struct Rendered {
    MORSE_SEQUENCE *seq;
    int16_t *pcm = nullptr;
    size_t frames = 0;
    Rendered(const char *text, uint32_t unit_ms) : seq(test_sequence(text, unit_ms)) {}
    ~Rendered() {
        free(pcm);
        morse_sequence_free(&seq);
    }
    int render(uint32_t rate, uint32_t hz, float amplitude, uint32_t ramp_ms) {
        free(pcm);
        pcm = nullptr;
        return seq ? tone_render(seq, rate, hz, amplitude, ramp_ms, &pcm, &frames) : 0;
    }
    std::vector<float> samples() const { return std::vector<float>(pcm, pcm + frames); }
};

// The envelope the buffer carries at frame n, read back through the known carrier; only
// meaningful where the carrier is well away from zero.
double envelope_at(const int16_t *pcm, size_t n, double w, double peak) {
    return pcm[n] / (sin(w * (double)n) * peak);
}

// Checks one element [a, b) against a raised-cosine edge of `ramp` frames at both ends and full
// level between, to within a sample step of rounding.
void expect_element(const int16_t *pcm, size_t a, size_t b, size_t ramp, double w, double peak) {
    size_t len = b - a;
    EXPECT_EQ(pcm[a], 0) << "first frame of element at " << a;
    EXPECT_EQ(pcm[b - 1], 0) << "last frame of element ending at " << b;
    int bad = 0;
    for (size_t i = 0; i < len; i++) {
        double carrier = sin(w * (double)(a + i));
        if (fabs(carrier) < 0.5) continue;
        double want = 1.0;
        if (i < ramp)
            want = 0.5 - 0.5 * cos(M_PI * (double)i / (double)ramp);
        else if (i >= len - ramp)
            want = 0.5 - 0.5 * cos(M_PI * (double)(len - 1 - i) / (double)ramp);
        double got = envelope_at(pcm, a + i, w, peak);
        if (fabs(got - want) > 1.0 / (0.5 * peak) && bad++ < 5)
            ADD_FAILURE() << "envelope at frame " << i << " of element at " << a << ": " << got
                          << " instead of " << want;
    }
}

} // namespace

TEST(ToneSynthTest, FrameConversionRoundsToNearestWithHalvesUp) {
    EXPECT_EQ(tone_ms_to_frame(37, 44100), 1632u); // 1631.7
    EXPECT_EQ(tone_ms_to_frame(1, 44100), 44u);    // 44.1
    EXPECT_EQ(tone_ms_to_frame(10, 22050), 221u);  // 220.5
    EXPECT_EQ(tone_ms_to_frame(1, 500), 1u);       // 0.5
    EXPECT_EQ(tone_ms_to_frame(0, 48000), 0u);
    // 4e9 ms at 192 kHz needs 64-bit arithmetic.
    EXPECT_EQ(tone_ms_to_frame(4000000000u, 192000), 768000000000ull);
}

TEST(ToneSynthTest, RefusesFrequenciesAndRatesOutsideTheLimits) {
    Rendered r("E", 100);
    ASSERT_NE(r.seq, nullptr);
    {
        LogCapture log(LOG_ERR);
        EXPECT_EQ(r.render(44100, 22050, 0.6f, 5), 0);
        EXPECT_TRUE(log.contains("bad tone parameters: 22050 Hz at 44100 Hz")) << log.text();
    }
    EXPECT_EQ(r.render(7999, 700, 0.6f, 5), 0);
    EXPECT_EQ(r.render(192001, 700, 0.6f, 5), 0);
    EXPECT_EQ(r.render(44100, 0, 0.6f, 5), 0);
    EXPECT_EQ(r.pcm, nullptr);
    EXPECT_EQ(tone_render(nullptr, 44100, 700, 0.6f, 5, &r.pcm, &r.frames), 0);
    EXPECT_EQ(tone_render(r.seq, 44100, 700, 0.6f, 5, nullptr, &r.frames), 0);
    EXPECT_EQ(tone_render(r.seq, 44100, 700, 0.6f, 5, &r.pcm, nullptr), 0);
    // The limits themselves are accepted.
    EXPECT_EQ(r.render(8000, 3999, 0.6f, 5), 1);
    EXPECT_EQ(r.frames, 800u);
}

TEST(ToneSynthTest, EmptySequenceGivesZeroFramesAndABuffer) {
    Rendered r("", 100);
    r.frames = 99;
    ASSERT_EQ(r.render(44100, 700, 0.6f, 5), 1);
    EXPECT_EQ(r.frames, 0u);
    ASSERT_NE(r.pcm, nullptr);
    EXPECT_EQ(r.pcm[0], 0);
}

TEST(ToneSynthTest, ElementsStartAndEndOnTheirRoundedFramesAndGapsAreSilent) {
    // Unit 37 ms at 44.1 kHz puts edges on fractional frames, so the rounding shows.
    Rendered r("ET PARIS", 37);
    ASSERT_EQ(r.render(44100, 700, 0.6f, 5), 1);
    const MORSE_SEQUENCE *seq = r.seq;
    ASSERT_EQ(r.frames, tone_ms_to_frame(seq->total_ms, 44100));
    // E then T: T starts at 148 ms (frame 6526.8) and ends at 259 ms (frame 11421.9).
    ASSERT_GE(seq->count, 3u);
    EXPECT_EQ(tone_ms_to_frame(seq->events[2].start_ms, 44100), 6527u);
    EXPECT_EQ(tone_ms_to_frame(seq->events[2].start_ms + seq->events[2].duration_ms, 44100),
              11422u);

    double w = 700 * 2.0 * M_PI / 44100.0, peak = 0.6 * 32767;
    size_t ramp = tone_ms_to_frame(5, 44100);
    std::vector<bool> inside(r.frames, false);
    size_t elements = 0;
    for (size_t e = 0; e < seq->count; e++) {
        const MORSE_EVENT &ev = seq->events[e];
        if (ev.state >= MORSE_SYM_GAP) continue;
        size_t a = tone_ms_to_frame(ev.start_ms, 44100);
        size_t b = tone_ms_to_frame(ev.start_ms + ev.duration_ms, 44100);
        for (size_t n = a; n < b; n++) inside[n] = true;
        size_t len = b - a;
        expect_element(r.pcm, a, b, len < 4 * ramp ? len / 4 : ramp, w, peak);
        elements++;
    }
    EXPECT_EQ(elements, 2u + 14u); // E, T, then .--. .- .-. .. ...
    size_t loud_gap_frames = 0;
    for (size_t n = 0; n < r.frames; n++)
        if (!inside[n] && r.pcm[n] != 0) loud_gap_frames++;
    EXPECT_EQ(loud_gap_frames, 0u);
}

TEST(ToneSynthTest, ShortElementGetsAQuarterOfItsLengthAsRamp) {
    // A 20 ms dot is 882 frames; four 5 ms ramps (221 frames) would be 884, so the ramp is 220.
    Rendered r("E", 20);
    ASSERT_EQ(r.render(44100, 700, 0.6f, 5), 1);
    ASSERT_EQ(r.frames, 882u);
    double w = 700 * 2.0 * M_PI / 44100.0, peak = 0.6 * 32767;
    expect_element(r.pcm, 0, 882, 220, w, peak);
    // The full 221-frame ramp is measurably different at the middle of the edge.
    double mid = envelope_at(r.pcm, 110, w, peak);
    double with221 = 0.5 - 0.5 * cos(M_PI * 110.0 / 221.0);
    EXPECT_GT(fabs(mid - with221), 3.0 / peak);

    // At 8 kHz a 6 ms ramp is 48 frames; a 160-frame dot gets 40, and full level from there.
    ASSERT_EQ(r.render(8000, 500, 1.0f, 6), 1);
    ASSERT_EQ(r.frames, 160u);
    expect_element(r.pcm, 0, 160, 40, 500 * 2.0 * M_PI / 8000.0, 32767.0);
}

TEST(ToneSynthTest, ToneHasTheAskedFrequencyAmplitudeAndAContinuousPhase) {
    Rendered r("TT", 200); // two 600 ms dashes, 600 ms apart
    ASSERT_EQ(r.render(48000, 700, 0.6f, 5), 1);
    const MORSE_EVENT &first = r.seq->events[0];
    size_t a = tone_ms_to_frame(first.start_ms, 48000) + 480;
    size_t b = tone_ms_to_frame(first.start_ms + first.duration_ms, 48000) - 480;
    std::vector<float> x = r.samples();
    EXPECT_NEAR(wav_frequency(x, a, b, 48000), 700.0, 1.0);
    float peak = wav_peak(x, a, b);
    EXPECT_LE(peak, 19660.0f); // 0.6 of full scale, rounded
    EXPECT_GE(peak, 19650.0f);
    // The second dash does not restart the cycle: it carries the sine of its absolute frames.
    size_t c = tone_ms_to_frame(r.seq->events[2].start_ms, 48000) + 1000;
    for (size_t n = c; n < c + 200; n++)
        EXPECT_NEAR(r.pcm[n], 0.6 * 32767 * sin(700 * 2.0 * M_PI / 48000.0 * (double)n), 1.0);
}

TEST(ToneSynthTest, AmplitudeIsClampedToFullScaleAndSilence) {
    Rendered r("T", 100);
    // 441 Hz at 44.1 kHz puts a crest exactly on a frame.
    ASSERT_EQ(r.render(44100, 441, 2.0f, 5), 1);
    EXPECT_EQ(wav_peak(r.samples(), 0, r.frames), 32767.0f);
    for (float amplitude : {-1.0f, NAN}) {
        ASSERT_EQ(r.render(44100, 441, amplitude, 5), 1);
        EXPECT_EQ(wav_peak(r.samples(), 0, r.frames), 0.0f) << amplitude;
    }
}

TEST(ToneSynthTest, ZeroRampSwitchesAtTheEdges) {
    Rendered r("T", 100);
    ASSERT_EQ(r.render(44100, 700, 1.0f, 0), 1);
    double w = 700 * 2.0 * M_PI / 44100.0;
    for (size_t n : {size_t(1), size_t(2), size_t(13230 - 2)})
        EXPECT_NEAR(r.pcm[n], 32767 * sin(w * (double)n), 1.0) << n;
}
