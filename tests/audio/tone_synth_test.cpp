// tests/audio/tone_synth_test.cpp: the message renderer, checked sample by sample.
#include <cmath>
#include <cstdlib>
#include <vector>
#include <gtest/gtest.h>

#include "audio/tone_synth.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"

namespace {

struct Rendered {
    int16_t *pcm = nullptr;
    size_t frames = 0;
    ~Rendered() { free(pcm); }
};

MORSE_SEQUENCE *build(const char *text, uint32_t unit_ms) {
    MORSE_TIMING t;
    morse_timing_default(&t);
    t.unit_ms = unit_ms;
    return morse_sequence_build(text, &t);
}

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
    MORSE_SEQUENCE *seq = build("E", 100);
    ASSERT_NE(seq, nullptr);
    Rendered r;
    {
        LogCapture log(LOG_ERR);
        EXPECT_EQ(tone_render(seq, 44100, 22050, 0.6f, 5, &r.pcm, &r.frames), 0);
        EXPECT_TRUE(log.contains("bad tone parameters: 22050 Hz at 44100 Hz")) << log.text();
    }
    EXPECT_EQ(tone_render(seq, 7999, 700, 0.6f, 5, &r.pcm, &r.frames), 0);
    EXPECT_EQ(tone_render(seq, 192001, 700, 0.6f, 5, &r.pcm, &r.frames), 0);
    EXPECT_EQ(tone_render(seq, 44100, 0, 0.6f, 5, &r.pcm, &r.frames), 0);
    EXPECT_EQ(r.pcm, nullptr);
    EXPECT_EQ(tone_render(nullptr, 44100, 700, 0.6f, 5, &r.pcm, &r.frames), 0);
    EXPECT_EQ(tone_render(seq, 44100, 700, 0.6f, 5, nullptr, &r.frames), 0);
    EXPECT_EQ(tone_render(seq, 44100, 700, 0.6f, 5, &r.pcm, nullptr), 0);
    // The limits themselves are accepted.
    EXPECT_EQ(tone_render(seq, 8000, 3999, 0.6f, 5, &r.pcm, &r.frames), 1);
    EXPECT_EQ(r.frames, 800u);
    morse_sequence_free(&seq);
}

TEST(ToneSynthTest, EmptySequenceGivesZeroFramesAndABuffer) {
    MORSE_SEQUENCE *seq = build("", 100);
    ASSERT_NE(seq, nullptr);
    Rendered r;
    r.frames = 99;
    ASSERT_EQ(tone_render(seq, 44100, 700, 0.6f, 5, &r.pcm, &r.frames), 1);
    EXPECT_EQ(r.frames, 0u);
    ASSERT_NE(r.pcm, nullptr);
    EXPECT_EQ(r.pcm[0], 0);
    morse_sequence_free(&seq);
}

TEST(ToneSynthTest, ElementsStartAndEndOnTheirRoundedFramesAndGapsAreSilent) {
    // Unit 37 ms at 44.1 kHz puts edges on fractional frames, so the rounding shows.
    MORSE_SEQUENCE *seq = build("ET PARIS", 37);
    ASSERT_NE(seq, nullptr);
    Rendered r;
    ASSERT_EQ(tone_render(seq, 44100, 700, 0.6f, 5, &r.pcm, &r.frames), 1);
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
    morse_sequence_free(&seq);
}

TEST(ToneSynthTest, ShortElementGetsAQuarterOfItsLengthAsRamp) {
    // A 20 ms dot is 882 frames; four 5 ms ramps (221 frames) would be 884, so the ramp is 220.
    MORSE_SEQUENCE *seq = build("E", 20);
    ASSERT_NE(seq, nullptr);
    Rendered r;
    ASSERT_EQ(tone_render(seq, 44100, 700, 0.6f, 5, &r.pcm, &r.frames), 1);
    ASSERT_EQ(r.frames, 882u);
    double w = 700 * 2.0 * M_PI / 44100.0, peak = 0.6 * 32767;
    expect_element(r.pcm, 0, 882, 220, w, peak);
    // The full 221-frame ramp is measurably different at the middle of the edge.
    double mid = envelope_at(r.pcm, 110, w, peak);
    double with221 = 0.5 - 0.5 * cos(M_PI * 110.0 / 221.0);
    EXPECT_GT(fabs(mid - with221), 3.0 / peak);
    morse_sequence_free(&seq);

    // At 8 kHz a 6 ms ramp is 48 frames; a 160-frame dot gets 40, and full level from there.
    seq = build("E", 20);
    Rendered small;
    ASSERT_EQ(tone_render(seq, 8000, 500, 1.0f, 6, &small.pcm, &small.frames), 1);
    ASSERT_EQ(small.frames, 160u);
    expect_element(small.pcm, 0, 160, 40, 500 * 2.0 * M_PI / 8000.0, 32767.0);
    morse_sequence_free(&seq);
}

TEST(ToneSynthTest, ToneHasTheAskedFrequencyAmplitudeAndAContinuousPhase) {
    MORSE_SEQUENCE *seq = build("TT", 200); // two 600 ms dashes, 600 ms apart
    ASSERT_NE(seq, nullptr);
    Rendered r;
    ASSERT_EQ(tone_render(seq, 48000, 700, 0.6f, 5, &r.pcm, &r.frames), 1);
    size_t a = tone_ms_to_frame(seq->events[0].start_ms, 48000) + 480;
    size_t b = tone_ms_to_frame(seq->events[0].start_ms + seq->events[0].duration_ms, 48000) - 480;
    size_t crossings = 0, first = 0, last = 0;
    int peak = 0;
    for (size_t n = a + 1; n < b; n++) {
        if ((r.pcm[n - 1] < 0) != (r.pcm[n] < 0)) {
            if (!crossings) first = n;
            last = n;
            crossings++;
        }
        peak = std::max(peak, abs(r.pcm[n]));
    }
    double hz = (crossings - 1) / 2.0 * 48000.0 / (double)(last - first);
    EXPECT_NEAR(hz, 700.0, 1.0);
    EXPECT_LE(peak, 19660); // 0.6 of full scale, rounded
    EXPECT_GE(peak, 19650);
    // The second dash does not restart the cycle: it carries the sine of its absolute frames.
    size_t c = tone_ms_to_frame(seq->events[2].start_ms, 48000) + 1000;
    for (size_t n = c; n < c + 200; n++)
        EXPECT_NEAR(r.pcm[n], 0.6 * 32767 * sin(700 * 2.0 * M_PI / 48000.0 * (double)n), 1.0);
    morse_sequence_free(&seq);
}

TEST(ToneSynthTest, AmplitudeIsClampedToFullScaleAndSilence) {
    MORSE_SEQUENCE *seq = build("T", 100);
    ASSERT_NE(seq, nullptr);
    Rendered loud, quiet, nan;
    ASSERT_EQ(tone_render(seq, 44100, 441, 2.0f, 5, &loud.pcm, &loud.frames), 1);
    ASSERT_EQ(tone_render(seq, 44100, 441, -1.0f, 5, &quiet.pcm, &quiet.frames), 1);
    ASSERT_EQ(tone_render(seq, 44100, 441, NAN, 5, &nan.pcm, &nan.frames), 1);
    int peak = 0;
    size_t loud_quiet = 0;
    for (size_t n = 0; n < loud.frames; n++) {
        peak = std::max(peak, (int)loud.pcm[n]);
        loud_quiet += quiet.pcm[n] != 0 || nan.pcm[n] != 0;
    }
    // 441 Hz at 44.1 kHz puts a crest exactly on a frame.
    EXPECT_EQ(peak, 32767);
    EXPECT_EQ(loud_quiet, 0u);
    morse_sequence_free(&seq);
}

TEST(ToneSynthTest, ZeroRampSwitchesAtTheEdges) {
    MORSE_SEQUENCE *seq = build("T", 100);
    ASSERT_NE(seq, nullptr);
    Rendered r;
    ASSERT_EQ(tone_render(seq, 44100, 700, 1.0f, 0, &r.pcm, &r.frames), 1);
    double w = 700 * 2.0 * M_PI / 44100.0;
    for (size_t n : {size_t(1), size_t(2), size_t(13230 - 2)})
        EXPECT_NEAR(r.pcm[n], 32767 * sin(w * (double)n), 1.0) << n;
    morse_sequence_free(&seq);
}
