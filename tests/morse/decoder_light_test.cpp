// tests/morse/decoder_light_test.cpp: the camera input in a real room. Sensor noise must never
// become text, before or after a message; a background that drifts and a lamp that keeps
// glowing after each mark must not cost characters; a slow camera still sees short elements.
#include "morse/decoder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/morse_signal.hpp"

namespace {

// The marks and spaces of text sent by a machine at wpm.
std::vector<RUN> sent_runs(const char *text, double wpm) {
    MORSE_TIMING t{(uint32_t)std::lround(1200.0 / wpm), 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build(text, &t);
    std::vector<RUN> runs = sequence_runs(seq);
    morse_sequence_free(&seq);
    return runs;
}

LIGHT_MODEL camera(double fps, double noise, uint64_t seed) {
    LIGHT_MODEL lm;
    lm.fps = fps;
    lm.noise = noise;
    lm.jitter_ms = 2;
    lm.seed = seed;
    return lm;
}

std::string joined(const LIGHT_READING &r) {
    std::string s;
    for (const std::string &m : r.messages) s += "[" + m + "]";
    return s;
}

const char *const TEXT = "CQ CQ DE F4LKY PSE K";

} // namespace

TEST(DecoderLightRoomTest, NoiseAloneNeverBecomesTextNorASignal) {
    for (double fps : {15.0, 30.0, 60.0}) {
        for (double noise : {2.0, 8.0, 32.0}) {
            LIGHT_MODEL lm = camera(fps, noise, 11);
            lm.lead_ms = 60000;
            lm.tail_ms = 0;
            // The first two seconds measure the noise; from then on the meter must be quiet.
            LIGHT_READING r = read_light(runs_to_light({}, lm), 2000);
            EXPECT_EQ(joined(r), "") << fps << " fps, noise " << noise;
            EXPECT_EQ(r.signal_frames, 0u) << fps << " fps, noise " << noise;
        }
    }
}

// A lamp sends one message and goes; the camera keeps looking at a noisy, drifting dark room.
TEST(DecoderLightRoomTest, TheDarkAfterAMessageAddsNothing) {
    struct {
        double fps, noise;
    } cases[] = {{30, 8}, {60, 4}, {60, 8}};
    for (const auto &c : cases) {
        for (uint64_t seed : {1u, 2u}) {
            LIGHT_MODEL lm = camera(c.fps, c.noise, seed);
            lm.drift = 40;
            lm.tail_ms = 60000;
            LIGHT_READING r = read_light(runs_to_light(sent_runs(TEXT, 10), lm));
            EXPECT_EQ(joined(r), "[" + std::string(TEXT) + "]")
                << c.fps << " fps, noise " << c.noise << ", seed " << seed;
            EXPECT_FALSE(r.signal_at_end) << c.fps << " fps, noise " << c.noise;
        }
    }
}

// The room's light rises by 40 levels over 30 s and falls back, through the whole message.
TEST(DecoderLightRoomTest, ADriftingRoomStillReads) {
    const char *text = "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS";
    for (double wpm : {5.0, 10.0}) {
        for (uint64_t seed : {1u, 2u, 3u}) {
            LIGHT_MODEL lm = camera(30, 4, seed);
            lm.drift = 40;
            lm.drift_period_ms = 60000;
            LIGHT_READING r = read_light(runs_to_light(sent_runs(text, wpm), lm));
            EXPECT_EQ(joined(r), "[" + std::string(text) + "]") << wpm << " WPM, seed " << seed;
        }
    }
}

// The lamp fades to half 33 ms after each mark: every mark looks a frame longer at 30 fps and
// every space a frame shorter, which the decoder must take as a bias, not as other elements.
TEST(DecoderLightRoomTest, ABloomingLampStillReads) {
    struct {
        double fps, wpm;
    } cases[] = {{30, 12}, {60, 15}};
    for (const auto &c : cases) {
        for (uint64_t seed : {1u, 2u}) {
            LIGHT_MODEL lm = camera(c.fps, 2, seed);
            lm.afterglow_ms = 33.0 / std::log(2.0);
            std::vector<LIGHT_SAMPLE> samples = runs_to_light(sent_runs(TEXT, c.wpm), lm);
            LIGHT_READING r = read_light(samples);
            EXPECT_EQ(joined(r), "[" + std::string(TEXT) + "]") << c.fps << " fps, seed " << seed;

            MORSE_DECODER *d = decoder_new(nullptr);
            for (const LIGHT_SAMPLE &s : samples) decoder_feed(d, s.t, s.luma);
            DECODER_STATUS st;
            decoder_status(d, &st);
            EXPECT_NEAR(st.unit_ms, 1200.0 / c.wpm, 0.1 * 1200.0 / c.wpm) << c.fps << " fps";
            decoder_free(&d);
        }
    }
}

// At 15 fps a dot of 8 WPM spans two and a quarter frames: one of its frames may be barely
// above the middle level, and noise must not lose it.
TEST(DecoderLightRoomTest, ASlowNoisyCameraKeepsShortElements) {
    const char *text = "HELLO WORLD, THIS IS LUMIKEY TESTING 73";
    for (uint64_t seed : {1u, 2u, 3u, 4u}) {
        LIGHT_READING r = read_light(runs_to_light(sent_runs(text, 8), camera(15, 8, seed)));
        EXPECT_EQ(joined(r), "[" + std::string(text) + "]") << "seed " << seed;
    }
}
