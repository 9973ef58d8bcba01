// tests/morse/decoder_follow_test.cpp: the decoder following a hand-keying operator: a change
// of speed within a message, a slow drift, a personal style, very uneven keying, and messages
// of one speed that must read exactly as with one set of thresholds per message.
#include "morse/decoder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "morse/decoder_private.hpp"
#include "support/morse_signal.hpp"

namespace {

struct Reading {
    std::string text;
    uint32_t unit_ms = 0;
    std::string live_halfway; // what the screen showed after the first half of the edges
};

// Keys the runs by hand into a new decoder and takes the message after the silence.
Reading key(const std::vector<RUN> &runs, bool follow = true) {
    DECODER_CONFIG c;
    decoder_config_default(&c);
    c.human = 1;
    MORSE_DECODER *d = decoder_new(&c);
    d->follow_off = follow ? 0 : 1;
    std::vector<KEY_EDGE_AT> edges = runs_to_edges(runs, 1000);
    Reading r;
    DECODED_MESSAGE m{};
    for (size_t i = 0; i < edges.size(); i++) {
        decoder_key(d, edges[i].t, edges[i].down);
        if (i == edges.size() / 2) {
            decoder_live(d, &m);
            r.live_halfway = m.text;
        }
    }
    decoder_tick(d, edges.back().t + c.eom_timeout_ms);
    if (decoder_poll_message(d, &m)) {
        r.text = m.text;
        r.unit_ms = m.unit_ms;
    }
    decoder_free(&d);
    return r;
}

std::vector<RUN> keyed(const char *text, const HAND_MODEL &h) {
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build(text, &t);
    std::vector<RUN> runs = hand_runs(seq, h);
    morse_sequence_free(&seq);
    return runs;
}

HAND_MODEL at_wpm(double wpm, double sigma = 0, uint64_t seed = 1) {
    HAND_MODEL h;
    h.unit_ms = 1200.0 / wpm;
    h.sigma = sigma;
    h.seed = seed;
    return h;
}

const char *const SENTENCE = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG";

} // namespace

// Doubling the speed halfway: the slow letter gaps are as long as the fast word gaps, so no
// one set of thresholds reads both halves. Followed, the whole message reads right and the
// unit reported is the operator's latest one.
TEST(DecoderFollowTest, ASpeedStepWithinTheMessageIsFollowed) {
    HAND_MODEL up = at_wpm(15, 0.05, 2);
    up.unit2_ms = 1200.0 / 30;
    std::vector<RUN> runs = keyed(SENTENCE, up);
    ASSERT_NE(key(runs, false).text, SENTENCE); // the trap is real
    Reading r = key(runs);
    EXPECT_EQ(r.text, SENTENCE);
    EXPECT_NEAR(r.unit_ms, 40, 4);

    HAND_MODEL down = at_wpm(30, 0.05, 3);
    down.unit2_ms = 1200.0 / 15;
    r = key(keyed("MEET AT 1930 NEAR THE OLD BRIDGE", down));
    EXPECT_EQ(r.text, "MEET AT 1930 NEAR THE OLD BRIDGE");
    EXPECT_NEAR(r.unit_ms, 80, 8);
}

// An operator who slows down steadily (from 0.85 to 1.15 of his unit) and leaves word gaps
// only 1.6 times his letter gaps: the late letter gaps grow as long as the early word gaps.
TEST(DecoderFollowTest, ASlowDriftIsFollowed) {
    const char *text = "MEET AT 1930 NEAR THE OLD BRIDGE, BRING 2 LAMPS";
    HAND_MODEL h = at_wpm(20, 0.05, 1);
    h.dash_units = 3.17;
    h.sym_gap_units = 0.74;
    h.letter_units = 3.71;
    h.word_units = 5.87;
    h.drift = 0.15;
    std::vector<RUN> runs = keyed(text, h);
    ASSERT_NE(key(runs, false).text, text);
    Reading r = key(runs);
    EXPECT_EQ(r.text, text);
    // The speed at the end: a dot of 1.15 times 60 ms, averaged with its 0.74-dot gap.
    EXPECT_NEAR(r.unit_ms, 1.15 * 60 * (1 + 0.74) / 2, 6);
}

// Dashes of four dots and letter gaps of 2.2 dots, in a sentence and in short words, where a
// family of gaps may hold only letter gaps.
TEST(DecoderFollowTest, LongDashesAndTightLetterGapsReadRight) {
    for (const char *text : {"PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS", "AI", "NO", "TU", "AT"}) {
        for (uint64_t seed = 1; seed <= 3; seed++) {
            HAND_MODEL h = at_wpm(18, 0.05, seed);
            h.dash_units = 4;
            h.letter_units = 2.2;
            h.word_units = 5;
            EXPECT_EQ(key(keyed(text, h)).text, text) << seed;
        }
    }
}

// Keying of one speed with up to 10 % jitter reads exactly as with one set of thresholds per
// message: same text, same unit, at every speed, and on the screen while it is keyed.
TEST(DecoderFollowTest, MessagesOfOneSpeedReadAsBefore) {
    const char *texts[] = {SENTENCE, "CQ CQ DE F4LKY PSE K", "SOS SOS WE NEED WATER",
                           "IS IT 5 OR 50? I SAID: COME AT 7 / 8", "HELLO WORLD 73"};
    for (double wpm : {5.0, 12.0, 20.0, 35.0}) {
        for (double sigma : {0.0, 0.05, 0.10}) {
            for (const char *text : texts) {
                std::vector<RUN> runs = keyed(text, at_wpm(wpm, sigma, (uint64_t)wpm));
                Reading before = key(runs, false), after = key(runs);
                EXPECT_EQ(after.text, before.text) << text << " " << wpm << " " << sigma;
                EXPECT_EQ(after.unit_ms, before.unit_ms) << text << " " << wpm << " " << sigma;
                EXPECT_EQ(after.live_halfway, before.live_halfway) << text << " " << wpm;
            }
        }
    }
}

// Keying with 20 % jitter: clustered thresholds split off the shortest symbol gaps as a class
// of their own and letters fall apart; the fitted model of Morse timing keeps the text.
TEST(DecoderFollowTest, VeryUnevenKeyingKeepsTheText) {
    std::string text = std::string(SENTENCE) + " " + SENTENCE;
    size_t before = 0, after = 0;
    for (uint64_t seed = 1; seed <= 3; seed++) {
        std::vector<RUN> runs = keyed(text.c_str(), at_wpm(15, 0.20, seed));
        before += morse_text_distance(text, key(runs, false).text);
        after += morse_text_distance(text, key(runs).text);
    }
    size_t chars = 3 * morse_text_length(text);
    EXPECT_GT(before, 2 * after);
    EXPECT_LT(after, chars / 20);
}

// In very uneven keying, a letter that reads as no character (shown as "?") is read again
// with its most doubtful element the other way round: merged letters come apart, a dash read
// as a dot turns back.
TEST(DecoderFollowTest, UnevenKeyingRereadsLettersThatAreNoCharacter) {
    std::string text = std::string(SENTENCE) + " " + SENTENCE;
    size_t unknown = 0, after = 0;
    for (uint64_t seed = 1; seed <= 6; seed++) {
        Reading r = key(keyed(text.c_str(), at_wpm(15, 0.20, seed)));
        for (char ch : r.text) unknown += ch == '?';
        after += morse_text_distance(text, r.text);
    }
    EXPECT_EQ(unknown, 0u);
    EXPECT_LT(after, 6 * morse_text_length(text) / 20);
}
