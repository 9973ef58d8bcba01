// tests/morse/light_front_test.cpp: at 15 fps (a 12 WPM unit is a frame and a half) the decoder
// reads the text through the front end; a flash on one frame of a usual camera stays nothing.
#include "morse/light_front.hpp"

#include <gtest/gtest.h>

#include "support/morse_signal.hpp"
#include "support/test_sequence.hpp"

namespace {

std::string read(const std::vector<LIGHT_SAMPLE> &frames, uint32_t *unit = nullptr) {
    MORSE_DECODER *dec = decoder_new(nullptr);
    LIGHT_FRONT front{};
    for (const LIGHT_SAMPLE &s : frames) light_front_feed(&front, dec, s.t, s.luma);
    light_front_flush(&front, dec);
    DECODED_MESSAGE m{};
    std::string text = decoder_finish(dec, &m) ? m.text : "";
    if (unit) *unit = m.unit_ms;
    decoder_free(&dec);
    return text;
}

TEST(LightFront, FifteenFramesASecondReadTwelveWpmWithDroppedFrames) {
    const char *text = "PARIS SOS 73";
    MORSE_SEQUENCE *seq = test_sequence(text, 100);
    // A short shutter, every frame kept (each frame lit or dark: half the dots and gaps on one
    // frame alone), and one open the whole frame (the edges' frames partly lit) with one frame
    // in 37 lost, which may take a dot with it.
    for (auto [exposure, drop] : {std::pair{0.05, size_t{0}}, std::pair{1.0, size_t{37}}}) {
        LIGHT_MODEL lm;
        lm.fps = 15, lm.exposure = exposure, lm.noise = 4, lm.jitter_ms = 3;
        std::vector<LIGHT_SAMPLE> frames = runs_to_light(sequence_runs(seq), lm), kept;
        for (size_t k = 0; k < frames.size(); k++)
            if (!drop || k % drop != drop - 1) kept.push_back(frames[k]);
        uint32_t unit = 0;
        std::string got = read(kept, &unit);
        EXPECT_LE(morse_text_distance(text, got), drop ? 1u : 0u)
            << got << ", exposure " << exposure << ", drop " << drop;
        EXPECT_NEAR(unit, 100, 15) << got;
    }
    morse_sequence_free(&seq);
}

TEST(LightFront, ALoneFlashInTheDarkIsNoText) {
    // On one frame of a usual camera: less light than the decoder takes for a mark.
    LIGHT_MODEL lm;
    lm.fps = 30, lm.exposure = 0.05, lm.noise = 4, lm.lead_ms = 8000, lm.tail_ms = 8000;
    EXPECT_EQ(read(runs_to_light({{1, 40}}, lm)), "");
}

} // namespace
