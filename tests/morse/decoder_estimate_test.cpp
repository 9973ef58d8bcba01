// tests/morse/decoder_estimate_test.cpp: the rules of the hand-keying estimation that decide
// between neighbouring readings: which mark is a dot, which family of gaps lends its
// thresholds to the other, where words begin, and what the reported unit is. Each case is
// built so that the rule alone tips the result.
#include "morse/decoder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/morse_signal.hpp"

namespace {

DECODER_CONFIG human_cfg() {
    DECODER_CONFIG c;
    decoder_config_default(&c);
    c.human = 1;
    return c;
}

struct Decoder {
    explicit Decoder(const DECODER_CONFIG &c) : d(decoder_new(&c)) {}
    ~Decoder() { decoder_free(&d); }
    MORSE_DECODER *d;
};

// Keys runs as edges from t0 and returns the time of the last edge.
double key_runs(MORSE_DECODER *d, const std::vector<RUN> &runs, double t0 = 1000) {
    double t = t0;
    for (const KEY_EDGE_AT &e : runs_to_edges(runs, t0)) {
        decoder_key(d, e.t, e.down);
        t = e.t;
    }
    return t;
}

DECODED_MESSAGE finish(MORSE_DECODER *d) {
    DECODED_MESSAGE m{};
    decoder_finish(d, &m);
    return m;
}

// Runs of letters given as dot-dash codes: marks of dot and dash ms, sym between the marks of
// a letter, and after each letter the gap listed for it (none after the last).
std::vector<RUN> letters(const std::vector<const char *> &codes, const std::vector<double> &gaps,
                         double dot, double dash, double sym) {
    std::vector<RUN> runs;
    for (size_t i = 0; i < codes.size(); i++) {
        for (const char *p = codes[i]; *p; p++) {
            if (p != codes[i]) runs.push_back({0, sym});
            runs.push_back({1, *p == '-' ? dash : dot});
        }
        if (i + 1 < codes.size()) runs.push_back({0, gaps[i]});
    }
    return runs;
}

} // namespace

// Marks exactly halfway (in ratio) between the two centres belong to the short class: with
// marks of 1, 2 and 4 ms the 2 is a dot (the dash threshold is the geometric middle of the
// centres √2 and 4), so the letter reads ..- and not .--.
TEST(DecoderEstimateRuleTest, AMarkHalfwayBetweenTheCentresIsADot) {
    DECODER_CONFIG c = human_cfg();
    c.bounce_ms = 0;
    c.min_unit_ms = 0;
    Decoder k(c);
    key_runs(k.d, {{1, 1}, {0, 1}, {1, 2}, {0, 1}, {1, 4}});
    DECODED_MESSAGE m = finish(k.d);
    EXPECT_STREQ(m.symbols, "..-");
    EXPECT_STREQ(m.text, "U");
}

// The gap after a dot is a second measure of the dot: dots of 80 ms with symbol gaps of
// 120 ms give a unit of 100 ms, and that is the unit reported with the message.
TEST(DecoderEstimateRuleTest, TheSymbolGapRefinesTheReportedUnit) {
    HAND_MODEL h;
    h.unit_ms = 80;
    h.sym_gap_units = 1.5;
    h.letter_units = 4.5;
    h.word_units = 10;
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build("PARIS", &t);
    Decoder k(human_cfg());
    key_runs(k.d, hand_runs(seq, h));
    morse_sequence_free(&seq);
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.unit_ms, 100u);
    DECODED_MESSAGE m = finish(k.d);
    EXPECT_STREQ(m.text, "PARIS");
    EXPECT_EQ(m.unit_ms, 100u);
}

// Marks of one length followed by long gaps: the previous message's dot decides that they are
// dashes (240 ms against a dot of 80) even though the gaps are as long as the marks, which
// alone would make them dots with symbol gaps.
TEST(DecoderEstimateRuleTest, LongGapsBetweenLoneMarksAreJudgedByThePreviousDot) {
    Decoder k(human_cfg());
    MORSE_TIMING t{80, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build("PARIS", &t);
    double end = key_runs(k.d, sequence_runs(seq));
    morse_sequence_free(&seq);
    DECODED_MESSAGE m = finish(k.d);
    ASSERT_STREQ(m.text, "PARIS");
    ASSERT_EQ(m.unit_ms, 80u);
    key_runs(k.d, {{1, 240}, {0, 240}, {1, 240}, {0, 240}, {1, 240}}, end + 10000);
    m = finish(k.d);
    EXPECT_STREQ(m.symbols, "- - -");
    EXPECT_STREQ(m.text, "TTT");
}

// Letter gaps that only grow a little from one letter to the next hold no word gap: without a
// real jump between neighbours the whole spread is letter gaps.
TEST(DecoderEstimateRuleTest, GraduallyGrowingLetterGapsMakeNoWords) {
    std::vector<double> gaps;
    for (int i = 0; i < 7; i++) gaps.push_back(300 * std::pow(1.1, i));
    Decoder k(human_cfg());
    key_runs(k.d, letters({"..", "..", "..", "..", "..", "..", "..", ".."}, gaps, 100, 300, 100));
    DECODED_MESSAGE m = finish(k.d);
    EXPECT_STREQ(m.text, "IIIIIIII");
}

// Gaps after dashes that are all letter gaps but tighter than the threshold learnt after dots
// (one of 160 ms against a letter threshold of 173 ms there) still end their letters: the
// family keeps three quarters of its own shortest gap as its letter threshold.
TEST(DecoderEstimateRuleTest, TightLetterGapsAfterDashesKeepTheirOwnThreshold) {
    Decoder k(human_cfg());
    key_runs(k.d, letters({"-", "-", "..", ".-", "-", ".", "-", ".-", "-"},
                          {160, 250, 300, 250, 250, 300, 250, 250}, 100, 300, 100));
    DECODED_MESSAGE m = finish(k.d);
    EXPECT_STREQ(m.text, "TTIATETAT");
}

// Long dashes and tight letter gaps: with dashes of 4 dots, letter gaps of 2.5 dots are still
// letter gaps, in words that hold no symbol gap after a dot (AI is not L, NO is not ?).
TEST(DecoderEstimateRuleTest, TightLetterGapsOfALongDashStyleSplitShortWords) {
    for (const char *text : {"AI", "NO", "ET", "AT", "TU"}) {
        HAND_MODEL h;
        h.unit_ms = 80;
        h.dash_units = 4;
        h.letter_units = 2.5;
        MORSE_TIMING t{100, 3, 3, 7};
        MORSE_SEQUENCE *seq = morse_sequence_build(text, &t);
        Decoder k(human_cfg());
        key_runs(k.d, hand_runs(seq, h));
        morse_sequence_free(&seq);
        EXPECT_STREQ(finish(k.d).text, text);
    }
}
