// tests/morse/fist_test.cpp: a fist measured from what the hand-keying decoder read. Scripted
// operators with one known fault each are keyed into the real decoder; the report must name
// that fault first, with figures near the scripted ones, and a clean fist must pass.
#include <cmath>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "morse/decoder.hpp"
#include "morse/fist.hpp"
#include "morse/sequencer.hpp"
#include "support/morse_signal.hpp"

namespace {

const char *const kText = "CQ CQ DE PARIS TEST 73 KM5 QRL";

struct Keyed {
    std::string text;
    FIST_REPORT fist{};
    size_t elements = 0, events = 0;
};

// Keys kText with the operator m into a hand-keying decoder and measures what it read.
Keyed key_and_measure(const HAND_MODEL &m) {
    Keyed k;
    MORSE_TIMING timing;
    morse_timing_default(&timing);
    timing.unit_ms = (uint32_t)m.unit_ms;
    MORSE_SEQUENCE *seq = morse_sequence_build(kText, &timing);
    EXPECT_NE(seq, nullptr);
    if (!seq) return k;
    k.events = seq->count;
    DECODER_CONFIG cfg;
    decoder_config_default(&cfg);
    cfg.human = 1;
    MORSE_DECODER *d = decoder_new(&cfg);
    std::vector<RUN> runs = hand_runs(seq, m);
    double t = 1000;
    for (const KEY_EDGE_AT &e : runs_to_edges(runs, t)) {
        decoder_key(d, e.t, e.down);
        t = e.t;
    }
    decoder_tick(d, t + 10000);
    DECODED_MESSAGE msg{};
    EXPECT_EQ(decoder_poll_message(d, &msg), 1);
    k.text = msg.text;
    std::vector<MORSE_STATE> kinds(8192);
    std::vector<double> ms(8192);
    k.elements = decoder_last_elements(d, kinds.data(), ms.data(), kinds.size());
    fist_measure(kinds.data(), ms.data(), k.elements, &k.fist);
    decoder_free(&d);
    morse_sequence_free(&seq);
    return k;
}

TEST(Fist, CleanKeyingIsGoodAndItsProportionsAreTheStandardOnes) {
    HAND_MODEL m;
    m.unit_ms = 80;
    m.sigma = 0.05;
    Keyed k = key_and_measure(m);
    EXPECT_EQ(k.text, kText);
    EXPECT_EQ(k.elements, k.events); // every mark and gap, none of the silence after
    const FIST_REPORT &f = k.fist;
    EXPECT_EQ(f.fault, FIST_GOOD) << f.fault << " " << f.measured;
    EXPECT_NEAR(f.wpm, 15.0, 0.8);
    EXPECT_NEAR(f.dash_ratio, 3.0, 0.15);
    EXPECT_NEAR(f.element_gap, 1.0, 0.08);
    EXPECT_NEAR(f.letter_gap, 3.0, 0.15);
    EXPECT_NEAR(f.word_gap, 7.0, 0.4);
    EXPECT_LT(f.unevenness, 0.1);
    EXPECT_EQ(f.word_gaps, 7u);
    EXPECT_EQ(f.letters, 23u);
}

// Each fault on its own, with some ordinary jitter on top; the one scripted is named first
// and measured near its scripted size.
TEST(Fist, TheScriptedFaultIsNamedFirst) {
    struct Case {
        const char *name;
        HAND_MODEL m;
        FIST_FAULT fault;
        double measured; // 0: not checked
    };
    std::vector<Case> cases;
    auto add = [&](const char *name, FIST_FAULT fault, double measured, auto setup) {
        Case c{name, HAND_MODEL{}, fault, measured};
        c.m.unit_ms = 70;
        c.m.sigma = 0.04;
        c.m.seed = 7;
        setup(c.m);
        cases.push_back(c);
    };
    add("short dashes", FIST_DASH_SHORT, 2.2, [](HAND_MODEL &m) { m.dash_units = 2.2; });
    add("long dashes", FIST_DASH_LONG, 4.2, [](HAND_MODEL &m) { m.dash_units = 4.2; });
    add("short letter gaps", FIST_LETTER_GAP_SHORT, 2.1,
        [](HAND_MODEL &m) { m.letter_units = 2.1; });
    add("long element gaps", FIST_ELEMENT_GAP_LONG, 1.6,
        [](HAND_MODEL &m) { m.sym_gap_units = 1.6; });
    add("word gaps run short", FIST_WORD_GAP_SHORT, 4.8, [](HAND_MODEL &m) { m.word_units = 4.8; });
    add("slowing down", FIST_SLOWING_DOWN, 0, [](HAND_MODEL &m) { m.drift = 0.2; });
    add("uneven hand", FIST_UNEVEN, 0, [](HAND_MODEL &m) { m.sigma = 0.3; });
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Keyed k = key_and_measure(c.m);
        EXPECT_EQ(k.fist.fault, c.fault) << "measured " << k.fist.measured;
        if (c.measured > 0) {
            EXPECT_NEAR(k.fist.measured, c.measured, 0.12 * c.measured);
        }
        if (c.fault == FIST_SLOWING_DOWN) {
            // The unit goes from 0.8 to 1.2 of 70 ms: about 21 WPM down to 14.
            EXPECT_NEAR(k.fist.measured, 1200.0 / 56, 2.0);
            EXPECT_NEAR(k.fist.standard, 1200.0 / 84, 1.5);
        }
    }
}

TEST(Fist, NothingToMeasure) {
    FIST_REPORT f;
    EXPECT_EQ(fist_measure(nullptr, nullptr, 0, &f), 0);
    EXPECT_EQ(f.fault, FIST_GOOD);
    const MORSE_STATE gaps[] = {MORSE_LETTER_GAP, MORSE_WORD_GAP};
    const double ms[] = {300, 700};
    EXPECT_EQ(fist_measure(gaps, ms, 2, &f), 0);
    EXPECT_EQ(f.unit_ms, 0.0);
}

} // namespace
