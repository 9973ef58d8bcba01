// tests/audio/sidetone_gen_test.cpp: the sidetone oscillator and its envelope.
#include <cmath>
#include <cstdlib>
#include <vector>
#include <gtest/gtest.h>

#include "audio/sidetone_gen.hpp"

namespace {

std::vector<int16_t> fill(SIDETONE_GEN *g, size_t n, int on) {
    std::vector<int16_t> out(n);
    sidetone_gen_fill(g, out.data(), n, on);
    return out;
}

} // namespace

TEST(SidetoneGenTest, InitSetsStepRampAndClampedAmplitude) {
    SIDETONE_GEN g;
    sidetone_gen_init(&g, 44100, 700, 5.0f, 0.6f);
    EXPECT_DOUBLE_EQ(g.step, 700 * 2.0 * M_PI / 44100.0);
    EXPECT_FLOAT_EQ(g.ramp, 1.0f / 220.5f);
    EXPECT_FLOAT_EQ(g.amp, 0.6f * 32767.0f);
    EXPECT_EQ(g.gain, 0.0f);
    EXPECT_EQ(g.phase, 0.0);

    sidetone_gen_init(&g, 0, 441, 0.0f, 3.0f); // rate 0 means 44100
    EXPECT_DOUBLE_EQ(g.step, 441 * 2.0 * M_PI / 44100.0);
    EXPECT_EQ(g.ramp, 1.0f);
    EXPECT_EQ(g.amp, 32767.0f);
    sidetone_gen_init(&g, 8000, 441, 0.1f, -2.0f); // less than one sample of ramp
    EXPECT_EQ(g.ramp, 1.0f);
    EXPECT_EQ(g.amp, 0.0f);
}

TEST(SidetoneGenTest, KeyDownReachesFullLevelAfter221SamplesAndKeyUpReturnsToZero) {
    SIDETONE_GEN g;
    sidetone_gen_init(&g, 44100, 700, 5.0f, 0.6f);
    fill(&g, 220, 1);
    EXPECT_LT(g.gain, 1.0f);
    fill(&g, 1, 1);
    EXPECT_EQ(g.gain, 1.0f);
    fill(&g, 220, 0);
    EXPECT_GT(g.gain, 0.0f);
    std::vector<int16_t> last = fill(&g, 1, 0);
    EXPECT_EQ(g.gain, 0.0f);
    EXPECT_EQ(last[0], 0);
    std::vector<int16_t> after = fill(&g, 512, 0);
    for (int16_t s : after) ASSERT_EQ(s, 0);
}

TEST(SidetoneGenTest, RampFollowsARaisedCosineAcrossFills) {
    SIDETONE_GEN g;
    sidetone_gen_init(&g, 44100, 700, 5.0f, 1.0f);
    // Filled in uneven pieces: the envelope and the phase must not notice the boundaries.
    std::vector<int16_t> out;
    for (size_t piece : {7u, 100u, 256u, 1u, 300u}) {
        std::vector<int16_t> part = fill(&g, piece, 1);
        out.insert(out.end(), part.begin(), part.end());
    }
    double w = 700 * 2.0 * M_PI / 44100.0;
    for (size_t i = 0; i < out.size(); i++) {
        double gain = std::min(1.0, (double)(i + 1) / 220.5);
        double want = (0.5 - 0.5 * cos(M_PI * gain)) * 32767.0 * sin(w * (double)i);
        ASSERT_NEAR(out[i], want, 2.0) << "sample " << i;
    }
}

TEST(SidetoneGenTest, PhaseRunsOnWhileSilentSoTheToneResumesInStep) {
    SIDETONE_GEN g;
    sidetone_gen_init(&g, 48000, 600, 0.0f, 1.0f);
    fill(&g, 1000, 1);
    fill(&g, 12345, 0); // silent, but the oscillator keeps going
    std::vector<int16_t> again = fill(&g, 500, 1);
    double w = 600 * 2.0 * M_PI / 48000.0;
    for (size_t i = 0; i < again.size(); i++)
        ASSERT_NEAR(again[i], 32767.0 * sin(w * (double)(13345 + i)), 2.0) << i;
    EXPECT_GE(g.phase, 0.0);
    EXPECT_LE(g.phase, 2.0 * M_PI);
}

TEST(SidetoneGenTest, ZeroRampSwitchesOnTheNextSample) {
    SIDETONE_GEN g;
    sidetone_gen_init(&g, 44100, 441, 0.0f, 1.0f);
    std::vector<int16_t> on = fill(&g, 26, 1); // a quarter cycle: sample 25 is the crest
    EXPECT_EQ(on[25], 32767);
    EXPECT_EQ(g.gain, 1.0f);
    std::vector<int16_t> off = fill(&g, 10, 0);
    for (int16_t s : off) EXPECT_EQ(s, 0);
}
