// tests/morse/decoder_roundtrip_test.cpp: text built into a sequence, turned into key edges or
// camera samples, and decoded back. The whole character table must survive at every speed.
#include "morse/decoder.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/morse_signal.hpp"

namespace {

// Every table character once, in words of ten or fewer.
std::string whole_table_text() {
    std::string text;
    char utf8[8];
    for (size_t i = 0; i < morse_table_size(); i++) {
        if (i && i % 10 == 0) text += ' ';
        morse_utf8_encode(morse_table_char(i), utf8);
        text += utf8;
    }
    return text;
}

std::string decode_edges(const DECODER_CONFIG &cfg, const std::vector<RUN> &runs) {
    MORSE_DECODER *d = decoder_new(&cfg);
    double end = 0;
    for (const KEY_EDGE_AT &e : runs_to_edges(runs, 1000)) {
        decoder_key(d, e.t, e.down);
        end = e.t;
    }
    DECODED_MESSAGE m{};
    decoder_tick(d, end + cfg.eom_timeout_ms);
    int got = decoder_poll_message(d, &m);
    decoder_free(&d);
    return got ? m.text : "(nothing)";
}

std::string decode_light(const std::vector<LIGHT_SAMPLE> &samples) {
    MORSE_DECODER *d = decoder_new(nullptr);
    DECODED_MESSAGE m{};
    std::string text;
    int messages = 0;
    for (const LIGHT_SAMPLE &s : samples) {
        decoder_feed(d, s.t, s.luma);
        if (decoder_poll_message(d, &m)) {
            text += m.text;
            messages++;
        }
    }
    if (decoder_finish(d, &m)) text += std::string("|") + m.text;
    decoder_free(&d);
    return messages == 1 ? text : "(" + std::to_string(messages) + " messages) " + text;
}

} // namespace

TEST(DecoderRoundTripTest, WholeTableFromExactKeyingAtEverySpeed) {
    const std::string text = whole_table_text();
    for (uint32_t wpm : {5u, 15u, 30u, 50u}) {
        MORSE_TIMING t{morse_wpm_to_unit_ms(wpm), 3, 3, 7};
        MORSE_SEQUENCE *seq = morse_sequence_build(text.c_str(), &t);
        ASSERT_NE(seq, nullptr);
        ASSERT_EQ(seq->skipped, 0u);
        std::vector<RUN> runs = sequence_runs(seq);
        morse_sequence_free(&seq);
        for (int human = 0; human <= 1; human++) {
            DECODER_CONFIG c;
            decoder_config_default(&c);
            c.human = human;
            EXPECT_EQ(decode_edges(c, runs), text) << wpm << " WPM, human " << human;
        }
    }
}

TEST(DecoderRoundTripTest, WholeTableWithAFixedUnit) {
    const std::string text = whole_table_text();
    MORSE_TIMING t{60, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build(text.c_str(), &t);
    std::vector<RUN> runs = sequence_runs(seq);
    morse_sequence_free(&seq);
    DECODER_CONFIG c;
    decoder_config_default(&c);
    c.human = 1;
    c.fixed_unit_ms = 60;
    EXPECT_EQ(decode_edges(c, runs), text);
}

TEST(DecoderRoundTripTest, WholeTableFromANoisyCamera) {
    const std::string text = whole_table_text();
    // 100 ms units are three frames at 30 fps; 8 WPM gives the camera more room.
    for (uint32_t unit : {100u, 150u}) {
        MORSE_TIMING t{unit, 3, 3, 7};
        MORSE_SEQUENCE *seq = morse_sequence_build(text.c_str(), &t);
        std::vector<RUN> runs = sequence_runs(seq);
        morse_sequence_free(&seq);
        for (uint64_t seed : {1u, 2u, 3u}) {
            LIGHT_MODEL lm;
            lm.noise = 2;     // levels, against a contrast of 160
            lm.jitter_ms = 2; // frame times wobble
            lm.seed = seed;
            EXPECT_EQ(decode_light(runs_to_light(runs, lm)), text)
                << "unit " << unit << " seed " << seed;
        }
    }
}

TEST(DecoderRoundTripTest, JitteredHandKeyingOfASentence) {
    const std::string text = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 1234567890";
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build(text.c_str(), &t);
    for (uint64_t seed = 1; seed <= 5; seed++) {
        HAND_MODEL h;
        h.unit_ms = 80;
        h.sigma = 0.05;
        h.seed = seed;
        DECODER_CONFIG c;
        decoder_config_default(&c);
        c.human = 1;
        EXPECT_EQ(decode_edges(c, hand_runs(seq, h)), text) << "seed " << seed;
    }
    morse_sequence_free(&seq);
}

// Two-letter words leave a gap family holding letter gaps only; they must not be read as the
// gaps inside one letter (AT is not W, ET is not A).
TEST(DecoderRoundTripTest, ShortHandKeyedWordsKeepTheirLetters) {
    for (const char *text : {"AT", "ET", "AI", "TA", "NO", "EE", "TU", "SOS", "K", "73"}) {
        MORSE_TIMING t{80, 3, 3, 7};
        MORSE_SEQUENCE *seq = morse_sequence_build(text, &t);
        ASSERT_NE(seq, nullptr);
        std::vector<RUN> runs = sequence_runs(seq);
        morse_sequence_free(&seq);
        DECODER_CONFIG c;
        decoder_config_default(&c);
        c.human = 1;
        EXPECT_EQ(decode_edges(c, runs), text);
    }
}
