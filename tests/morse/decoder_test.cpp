// tests/morse/decoder_test.cpp: the decoder's inputs, run recorder, decoding, message ends and
// timing estimation, case by case, and its behaviour at the limits of its storage.
#include "morse/decoder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "support/morse_signal.hpp"
#include "support/test_env.hpp"
#include "support/ka_log.hpp"

namespace {

DECODER_CONFIG human_cfg(uint32_t fixed_unit = 0) {
    DECODER_CONFIG c;
    decoder_config_default(&c);
    c.human = 1;
    c.fixed_unit_ms = fixed_unit;
    return c;
}

DECODER_CONFIG machine_cfg() {
    DECODER_CONFIG c;
    decoder_config_default(&c);
    return c;
}

// Keys runs as edges from t0 and returns the time of the last edge.
double key_runs(MORSE_DECODER *d, const std::vector<RUN> &runs, double t0 = 1000) {
    double t = t0;
    for (const KEY_EDGE_AT &e : runs_to_edges(runs, t0)) {
        decoder_key(d, e.t, e.down);
        t = e.t;
    }
    return t;
}

std::string dump(const MORSE_DECODER *d) {
    TempDir dir;
    std::string path = dir.file("dump.txt");
    FILE *f = fopen(path.c_str(), "w");
    decoder_dump(d, f);
    fclose(f);
    return read_file(path);
}

struct Decoder {
    explicit Decoder(const DECODER_CONFIG &c) : d(decoder_new(&c)) {}
    ~Decoder() { decoder_free(&d); }
    MORSE_DECODER *d;
};

} // namespace

TEST(DecoderApiTest, DefaultsAndNullArgumentsAreHarmless) {
    DECODER_CONFIG c;
    decoder_config_default(&c);
    EXPECT_EQ(c.eom_timeout_ms, 5000u);
    EXPECT_EQ(c.min_unit_ms, 20u);
    EXPECT_EQ(c.max_unit_ms, 2000u);
    EXPECT_FLOAT_EQ(c.min_contrast, 12.0f);
    EXPECT_FLOAT_EQ(c.baseline_tau_ms, 2000.0f);
    EXPECT_EQ(c.human, 0);
    EXPECT_EQ(c.fixed_unit_ms, 0u);
    EXPECT_EQ(c.bounce_ms, 15u);

    DECODED_MESSAGE m;
    DECODER_STATUS st;
    decoder_config_default(nullptr);
    decoder_feed(nullptr, 1, 1);
    decoder_key(nullptr, 1, 1);
    decoder_tick(nullptr, 1);
    decoder_live(nullptr, &m);
    decoder_status(nullptr, &st);
    decoder_dump(nullptr, stdout);
    decoder_reset(nullptr);
    EXPECT_EQ(decoder_poll_message(nullptr, &m), 0);
    EXPECT_EQ(decoder_finish(nullptr, &m), 0);

    MORSE_DECODER *d = decoder_new(nullptr); // defaults: machine timing
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(decoder_poll_message(d, nullptr), 0);
    EXPECT_EQ(decoder_finish(d, nullptr), 0);
    decoder_free(&d);
    EXPECT_EQ(d, nullptr);
    decoder_free(&d);
    decoder_free(nullptr);
}

TEST(DecoderKeyTest, FixedUnitKeyedAEndsAfterTheSilence) {
    Decoder k(human_cfg(100));
    decoder_key(k.d, 0, 1);
    decoder_key(k.d, 100, 0);
    decoder_key(k.d, 200, 1);
    decoder_key(k.d, 500, 0);
    DECODED_MESSAGE m;
    m.text[0] = 'x';
    decoder_tick(k.d, 5499);
    EXPECT_EQ(decoder_poll_message(k.d, &m), 0);
    EXPECT_EQ(m.text[0], 'x'); // untouched
    decoder_tick(k.d, 5600);
    ASSERT_EQ(decoder_poll_message(k.d, &m), 1);
    EXPECT_STREQ(m.text, "A");
    EXPECT_STREQ(m.symbols, ".-");
    EXPECT_EQ(m.unit_ms, 100u);
    EXPECT_EQ(decoder_poll_message(k.d, &m), 0); // taken once
}

TEST(DecoderKeyTest, FixedUnitThresholdsDependOnTheMode) {
    // Human: word from 4.5 units; machine: from 5. A 460 ms space splits words only for human.
    std::vector<RUN> runs = {{1, 100}, {0, 460}, {1, 100}};
    for (int human = 0; human <= 1; human++) {
        DECODER_CONFIG c = human ? human_cfg(100) : machine_cfg();
        c.fixed_unit_ms = 100;
        Decoder k(c);
        key_runs(k.d, runs);
        DECODED_MESSAGE m;
        decoder_live(k.d, &m);
        EXPECT_STREQ(m.text, human ? "E E" : "EE") << human;
        EXPECT_STREQ(m.symbols, human ? ". / ." : ". .") << human;
        EXPECT_NE(dump(k.d).find("unit 100.0 bias 0.0 runs 3: +100 -460 +100"), std::string::npos);
    }
}

TEST(DecoderKeyTest, ShortFirstPressesAndBounceAreAbsorbed) {
    Decoder k(human_cfg());
    decoder_key(k.d, 0, 1);
    decoder_key(k.d, 19, 0); // shorter than min_unit_ms before any unit: ignored
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.receiving, 0);
    EXPECT_EQ(st.last_run_ms, 19u);
    decoder_key(k.d, 1000, 1);
    decoder_key(k.d, 1300, 0);
    decoder_key(k.d, 1310, 1); // a 10 ms release: contact bounce
    decoder_key(k.d, 1510, 0);
    EXPECT_NE(dump(k.d).find("runs 1: +510\n"), std::string::npos) << dump(k.d);
}

// Once a speed is known, the bounce filter still guards the first mark of the next message:
// a 10 ms contact before a real dash does not start the message with a dot.
TEST(DecoderKeyTest, BounceBeforeTheFirstMarkOfALaterMessageIsIgnored) {
    Decoder k(human_cfg());
    key_runs(k.d, {{1, 80}, {0, 80}, {1, 240}});
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    ASSERT_STREQ(m.text, "A");
    key_runs(k.d, {{1, 10}, {0, 300}, {1, 240}, {0, 80}, {1, 80}}, 10000);
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "N");
    EXPECT_STREQ(m.symbols, "-.");
}

// A key that bounces, closing (touch, lift, touch) or opening (lift, touch, lift), changed
// state at its first contact: the bounce's time belongs to the run after the edge, so neither
// the gap nor the mark comes out short by it. A lone short lift stays inside its mark.
TEST(DecoderKeyTest, BounceAtAnEdgeBelongsToTheRunThatBeganThere) {
    Decoder k(human_cfg());
    key_runs(k.d, {{1, 2},
                   {0, 3},
                   {1, 75},
                   {0, 80},
                   {1, 2},
                   {0, 3},
                   {1, 235},
                   {0, 3},
                   {1, 2},
                   {0, 75},
                   {1, 40},
                   {0, 2},
                   {1, 38},
                   {0, 80},
                   {1, 80}});
    EXPECT_NE(dump(k.d).find("runs 7: +80 -80 +240 -80 +80 -80 +80\n"), std::string::npos)
        << dump(k.d);
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.symbols, ".-..");
}

TEST(DecoderKeyTest, LightGlitchMergesWithTheRunAfterIt) {
    Decoder k(machine_cfg());
    key_runs(k.d, {{1, 300}, {0, 5}, {1, 200}});
    EXPECT_NE(dump(k.d).find("runs 1: +505\n"), std::string::npos) << dump(k.d);
}

TEST(DecoderKeyTest, TimeNeverRunsBackwards) {
    Decoder k(human_cfg(100));
    decoder_key(k.d, 1000, 1);
    decoder_key(k.d, 900, 0); // earlier than the press: taken as at the press
    decoder_key(k.d, 1000, 1);
    decoder_key(k.d, 1100, 0);
    // The zero-length mark and space are bounce and merge into one mark of 100.
    EXPECT_NE(dump(k.d).find("runs 1: +100\n"), std::string::npos) << dump(k.d);
    decoder_tick(k.d, 500); // a tick into the past changes nothing
    DECODED_MESSAGE m;
    decoder_tick(k.d, 6099);
    EXPECT_EQ(decoder_poll_message(k.d, &m), 0);
    decoder_tick(k.d, 6100);
    EXPECT_EQ(decoder_poll_message(k.d, &m), 1);
    EXPECT_STREQ(m.text, "E");
}

TEST(DecoderKeyTest, FinishWithTheKeyHeldClosesTheMark) {
    Decoder k(human_cfg(100));
    decoder_key(k.d, 0, 1);
    decoder_key(k.d, 100, 0);
    decoder_key(k.d, 200, 1);
    decoder_tick(k.d, 500); // still held: 300 ms so far
    DECODED_MESSAGE m;
    EXPECT_EQ(decoder_poll_message(k.d, &m), 0); // never while the key is down
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "A");
    EXPECT_STREQ(m.symbols, ".-");
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.on, 0);
    EXPECT_EQ(st.receiving, 0);
    EXPECT_EQ(decoder_finish(k.d, &m), 0); // nothing left
    // The next press starts a fresh message at its own time.
    decoder_key(k.d, 1000, 1);
    decoder_key(k.d, 1300, 0);
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "T");
}

TEST(DecoderKeyTest, UnknownAndOverlongCodesReadAsQuestionMarks) {
    Decoder k(human_cfg(100));
    std::vector<RUN> runs;
    for (int i = 0; i < 8; i++) {
        if (i) runs.push_back({0, 100});
        runs.push_back({1, 100});
    }
    runs.push_back({0, 300});
    for (int i = 0; i < 20; i++) { // 20 dashes: cut to 15
        if (i) runs.push_back({0, 100});
        runs.push_back({1, 300});
    }
    key_runs(k.d, runs);
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "??");
    EXPECT_EQ(std::string(m.symbols), "........ " + std::string(15, '-'));
}

TEST(DecoderKeyTest, AccentedLettersAreWrittenAsUtf8) {
    Decoder k(human_cfg(100));
    // ..-.. (É) then --.-- (Ñ)
    key_runs(k.d, {{1, 100},
                   {0, 100},
                   {1, 100},
                   {0, 100},
                   {1, 300},
                   {0, 100},
                   {1, 100},
                   {0, 100},
                   {1, 100},
                   {0, 300},
                   {1, 300},
                   {0, 100},
                   {1, 300},
                   {0, 100},
                   {1, 100},
                   {0, 100},
                   {1, 300},
                   {0, 100},
                   {1, 300}});
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "\xC3\x89\xC3\x91");
}

TEST(DecoderKeyTest, LearntUnitSurvivesATakenMessageAndResetForgetsIt) {
    Decoder k(human_cfg());
    MORSE_SEQUENCE *seq = nullptr;
    MORSE_TIMING t{80, 3, 3, 7};
    seq = morse_sequence_build("PARIS PARIS", &t);
    double end = key_runs(k.d, sequence_runs(seq));
    morse_sequence_free(&seq);
    DECODED_MESSAGE m;
    decoder_tick(k.d, end + 5000);
    ASSERT_EQ(decoder_poll_message(k.d, &m), 1);
    EXPECT_STREQ(m.text, "PARIS PARIS");
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.receiving, 0);
    EXPECT_EQ(st.unit_ms, m.unit_ms);
    EXPECT_NEAR(m.unit_ms, 80, 2);

    // A lone dash of the same operator is still read as a dash: the last dot is remembered.
    decoder_key(k.d, end + 10000, 1);
    decoder_key(k.d, end + 10240, 0);
    decoder_status(k.d, &st);
    EXPECT_EQ(st.receiving, 1);
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "T");

    decoder_reset(k.d);
    decoder_status(k.d, &st);
    EXPECT_EQ(st.unit_ms, 0u);
    decoder_key(k.d, 0, 1);
    decoder_key(k.d, 240, 0);
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "E"); // without history, one lone mark is a dot
}

TEST(DecoderKeyTest, KeyedMessageIsLoggedWithItsThresholdsAndRuns) {
    LogCapture log(LOG_INFO);
    Decoder k(human_cfg(100));
    key_runs(k.d, {{1, 100}, {0, 100}, {1, 300}});
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_TRUE(log.contains("keyed 'A' thresholds dash 200, letter 200 / 200, word 450 / 450 ms "
                             "(after a dot / a dash), 3 runs"))
        << log.text();
    EXPECT_TRUE(log.contains("runs: +100 -100 +300")) << log.text();
}

TEST(DecoderEstimateTest, MachineTimingFindsUnitAndBias) {
    struct Case {
        std::vector<RUN> runs;
        const char *expect; // dump prefix
    } cases[] = {
        // dots and dashes, even spaces: no bias
        {{{1, 100}, {0, 100}, {1, 300}, {0, 100}, {1, 100}}, "unit 100.0 bias 0.0"},
        // marks bloom 20 ms longer, spaces 20 ms shorter
        {{{1, 120}, {0, 80}, {1, 360}, {0, 80}, {1, 120}}, "unit 100.0 bias 20.0"},
        // dashes only, separated by unit spaces: the unit is a third of them
        {{{1, 300}, {0, 100}, {1, 300}, {0, 100}, {1, 300}}, "unit 100.0 bias 0.0"},
    };
    for (const Case &c : cases) {
        Decoder k(machine_cfg());
        key_runs(k.d, c.runs);
        double unit = 0, bias = 0, want_unit = 0, want_bias = 0;
        ASSERT_EQ(sscanf(dump(k.d).c_str(), "unit %lf bias %lf", &unit, &bias), 2);
        ASSERT_EQ(sscanf(c.expect, "unit %lf bias %lf", &want_unit, &want_bias), 2);
        EXPECT_NEAR(unit, want_unit, 1e-9) << dump(k.d);
        EXPECT_NEAR(bias, want_bias, 1e-9) << dump(k.d);
    }
    // The bias shortens the spaces and lengthens the marks; both still read right.
    Decoder k(machine_cfg());
    key_runs(k.d, {{1, 120},
                   {0, 80},
                   {1, 360},
                   {0, 80},
                   {1, 120},
                   {0, 280},
                   {1, 120},
                   {0, 680},
                   {1, 120},
                   {0, 80},
                   {1, 120}});
    DECODED_MESSAGE m;
    decoder_live(k.d, &m);
    EXPECT_EQ(dump(k.d).rfind("unit 100.0 bias 20.0", 0), 0u) << dump(k.d);
    EXPECT_STREQ(m.symbols, ".-. . / ..") << dump(k.d);
    EXPECT_STREQ(m.text, "RE I");
}

TEST(DecoderEstimateTest, MachineUnitIsClampedToTheConfiguredRange) {
    DECODER_CONFIG c = machine_cfg();
    c.min_unit_ms = 50;
    c.max_unit_ms = 150;
    Decoder lo(c), hi(c);
    // dots of 60, dashes of 180, spaces of 30: unit 45 with a bias of 15
    key_runs(lo.d, {{1, 60}, {0, 30}, {1, 180}});
    key_runs(hi.d, {{1, 400}, {0, 400}, {1, 1200}});
    EXPECT_EQ(dump(lo.d).rfind("unit 50.0", 0), 0u) << dump(lo.d);
    EXPECT_EQ(dump(hi.d).rfind("unit 150.0", 0), 0u) << dump(hi.d);
}

TEST(DecoderEstimateTest, HumanDotsOnlyUseDefaultGapsUntilSpacesExist) {
    LogCapture log(LOG_INFO);
    Decoder k(human_cfg());
    decoder_key(k.d, 0, 1);
    decoder_key(k.d, 80, 0);
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.unit_ms, 80u);
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "E");
    // dot 80: dash from 160; gaps from a dash of 240: letter from 160, word from 360.
    EXPECT_TRUE(log.contains("thresholds dash 160, letter 160 / 160, word 360 / 360 ms"))
        << log.text();
}

TEST(DecoderEstimateTest, HumanThresholdsFallBetweenTheGapClasses) {
    // Symbol gaps 100, letter gaps 300, word gaps 700 after dots and after dashes alike.
    LogCapture log(LOG_INFO);
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build("PARIS MOST GREAT TEXTS", &t);
    Decoder k(human_cfg());
    key_runs(k.d, sequence_runs(seq));
    morse_sequence_free(&seq);
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "PARIS MOST GREAT TEXTS");
    size_t at = log.text().find("thresholds dash");
    ASSERT_NE(at, std::string::npos);
    double dash, letter, letter_dash, word, word_dash;
    ASSERT_EQ(sscanf(log.text().c_str() + at,
                     "thresholds dash %lf, letter %lf / %lf, word %lf / %lf", &dash, &letter,
                     &letter_dash, &word, &word_dash),
              5);
    EXPECT_GT(dash, 100);
    EXPECT_LT(dash, 300);
    for (double th : {letter, letter_dash}) {
        EXPECT_GT(th, 100);
        EXPECT_LT(th, 300);
    }
    for (double th : {word, word_dash}) {
        EXPECT_GT(th, 300);
        EXPECT_LT(th, 700);
    }
}

TEST(DecoderEstimateTest, HumanTimingReadsUnevenKeying) {
    // Long dashes (4 dots), letter gaps stretched to 5 dots, symbol gaps short after a dash.
    HAND_MODEL h;
    h.unit_ms = 90;
    h.dash_units = 4;
    h.letter_units = 5;
    h.word_units = 12;
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build("THE QUICK BROWN FOX", &t);
    Decoder k(human_cfg());
    key_runs(k.d, hand_runs(seq, h));
    morse_sequence_free(&seq);
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.text, "THE QUICK BROWN FOX") << dump(k.d);
}

TEST(DecoderEstimateTest, LongPausesAreLeftOutButStillSplitWords) {
    // Farnsworth-like: letters at 60 ms, a pause of 40 units between two words.
    for (int human = 0; human <= 1; human++) {
        Decoder k(human ? human_cfg() : machine_cfg());
        MORSE_TIMING t{60, 3, 3, 7};
        MORSE_SEQUENCE *seq = morse_sequence_build("SOS SOS", &t);
        std::vector<RUN> runs = sequence_runs(seq);
        morse_sequence_free(&seq);
        for (RUN &r : runs) {
            if (!r.on && r.ms == 7 * 60) r.ms = 2400;
        }
        key_runs(k.d, runs);
        DECODED_MESSAGE m;
        decoder_live(k.d, &m);
        EXPECT_STREQ(m.text, "SOS SOS") << human << " " << dump(k.d);
        EXPECT_EQ(m.unit_ms, 60u) << human;
    }
}

TEST(DecoderLightTest, NonIncreasingTimesAndTheFirstSampleOnlyPrime) {
    Decoder k(machine_cfg());
    decoder_feed(k.d, 100, 50);
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_FLOAT_EQ(st.luma, 50);
    EXPECT_FLOAT_EQ(st.lo, 50);
    EXPECT_FLOAT_EQ(st.hi, 50);
    EXPECT_FLOAT_EQ(st.th_on, 50);
    EXPECT_FALSE(std::isnan(st.th_off));
    EXPECT_EQ(st.has_signal, 0);
    EXPECT_EQ(st.receiving, 0);
    decoder_feed(k.d, 100, 250); // same time: ignored
    decoder_feed(k.d, 50, 250);  // earlier: ignored
    decoder_feed(k.d, NAN, 250);
    decoder_feed(k.d, 150, NAN);
    decoder_status(k.d, &st);
    EXPECT_FLOAT_EQ(st.luma, 50);
    EXPECT_FLOAT_EQ(st.hi, 50);
}

TEST(DecoderLightTest, FlatOrWeakBrightnessNeverMakesARun) {
    Decoder flat(machine_cfg()), weak(machine_cfg());
    for (int i = 0; i < 600; i++) {
        decoder_feed(flat.d, i * 33.3, 80);
        // a faint blinking of 8 levels stays under the contrast of 12
        decoder_feed(weak.d, i * 33.3, (i / 6) % 2 ? 88.0f : 80.0f);
    }
    for (MORSE_DECODER *d : {flat.d, weak.d}) {
        DECODER_STATUS st;
        decoder_status(d, &st);
        EXPECT_EQ(st.has_signal, 0);
        EXPECT_EQ(st.receiving, 0);
        EXPECT_EQ(st.on, 0);
        DECODED_MESSAGE m;
        EXPECT_EQ(decoder_finish(d, &m), 0);
    }
}

TEST(DecoderLightTest, CleanLightIsReadAndEndsOnSilence) {
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build("HELLO WORLD", &t);
    LIGHT_MODEL lm;
    std::vector<LIGHT_SAMPLE> samples = runs_to_light(sequence_runs(seq), lm);
    morse_sequence_free(&seq);
    Decoder k(machine_cfg());
    DECODED_MESSAGE m;
    int got = 0;
    bool saw_on = false;
    for (const LIGHT_SAMPLE &s : samples) {
        decoder_feed(k.d, s.t, s.luma);
        DECODER_STATUS st;
        decoder_status(k.d, &st);
        saw_on = saw_on || (st.on && st.has_signal);
        got += decoder_poll_message(k.d, &m);
    }
    EXPECT_TRUE(saw_on);
    ASSERT_EQ(got, 1);
    EXPECT_STREQ(m.text, "HELLO WORLD");
    EXPECT_NEAR(m.unit_ms, 100, 5);
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.receiving, 0);
    EXPECT_EQ(st.unit_ms, m.unit_ms);
}

TEST(DecoderLightTest, SingleFrameSpikesAreNotMarks) {
    Decoder k(machine_cfg());
    for (int i = 0; i < 300; i++) {
        // one bright frame every second, on an otherwise steady light
        decoder_feed(k.d, i * 33.3, i >= 30 && i % 30 == 0 ? 220.0f : 40.0f + (i % 3));
    }
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.receiving, 0);
    EXPECT_EQ(st.has_signal, 1);
}

// Camera frames at 30 fps of a steady dark light with a little noise, from frame `from` on.
static void feed_dark(MORSE_DECODER *d, int from, int count) {
    for (int i = from; i < from + count; i++) decoder_feed(d, i * 33.3, 40.0f + (float)(i % 3));
}

// A frame that is plainly dark ends a mark at once, halfway between the two frames, instead of
// waiting for a second frame to agree; a frame only part way down still waits.
TEST(DecoderLightTest, AClearlyDarkFrameEndsAMarkAtOnce) {
    Decoder k(machine_cfg());
    feed_dark(k.d, 0, 40);
    for (int i = 40; i < 52; i++) decoder_feed(k.d, i * 33.3, 200);
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    ASSERT_EQ(st.on, 1);
    decoder_feed(k.d, 52 * 33.3, 115); // below the off level, above the release level
    decoder_status(k.d, &st);
    EXPECT_EQ(st.on, 1);
    decoder_feed(k.d, 53 * 33.3, 200);
    decoder_feed(k.d, 54 * 33.3, 41); // dark
    decoder_status(k.d, &st);
    EXPECT_EQ(st.on, 0);
    EXPECT_EQ(st.receiving, 1);
    EXPECT_EQ(st.last_run_ms, 466u); // from frame 39.5 to frame 53.5
}

// A space of two frames between two long marks is a real gap when the frames are that far
// apart, even though it is shorter than a quarter of the unit that would make it a glitch.
TEST(DecoderLightTest, AGapOfTwoFramesIsNotAGlitch) {
    Decoder k(machine_cfg());
    feed_dark(k.d, 0, 40);
    // marks of 9 and 27 frames (300 and 900 ms): a unit of 300 ms, a glitch below 75 ms
    int i = 40;
    auto mark = [&](int frames, int gap) {
        for (int j = 0; j < frames; j++, i++) decoder_feed(k.d, i * 33.3, 200);
        for (int j = 0; j < gap; j++, i++) decoder_feed(k.d, i * 33.3, 40);
    };
    mark(9, 9);
    mark(27, 2);
    mark(27, 0);
    feed_dark(k.d, i, 200);
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_STREQ(m.symbols, ".--") << dump(k.d);
    EXPECT_STREQ(m.text, "W");
}

// A light that flashes for single frames before the message is not noise to measure against:
// the frame after an unconfirmed flash is left out of the noise estimate, so the real signal
// that follows is still believed.
TEST(DecoderLightTest, FlashesBeforeTheMessageDoNotRaiseTheNoise) {
    Decoder k(machine_cfg());
    feed_dark(k.d, 0, 40);
    for (int i = 40; i < 119; i++) decoder_feed(k.d, i * 33.3, i % 4 == 3 ? 200.0f : 40.0f);
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.receiving, 0);
    EXPECT_EQ(st.has_signal, 1);
    // Two bright frames make a mark.
    decoder_feed(k.d, 119 * 33.3, 200);
    decoder_feed(k.d, 120 * 33.3, 200);
    decoder_status(k.d, &st);
    EXPECT_EQ(st.on, 1);
    EXPECT_EQ(st.receiving, 1);
}

TEST(DecoderLimitTest, RunsBeyondCapacityAreDroppedAndFieldsAreCut) {
    Decoder k(human_cfg(50));
    // 3000 words E: 5999 runs, of which 4096 are kept (2048 letters, 2047 word gaps).
    std::vector<RUN> runs;
    for (int i = 0; i < 3000; i++) {
        if (i) runs.push_back({0, 400});
        runs.push_back({1, 50});
    }
    key_runs(k.d, runs);
    EXPECT_NE(dump(k.d).find("runs 4096:"), std::string::npos);
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    std::string words;
    for (int i = 0; i < 2048; i++) words += i ? " E" : "E";
    std::string symbols;
    for (int i = 0; i < 2048; i++) symbols += i ? " / ." : ".";
    EXPECT_EQ(std::string(m.text), words.substr(0, 1023));
    EXPECT_EQ(std::string(m.symbols), symbols.substr(0, 4095));
}

TEST(DecoderLimitTest, TextCutNeverSplitsACharacter) {
    Decoder k(human_cfg(50));
    // 512 letters Ü (..--, 2 bytes each) need 1024 bytes: 511 whole ones fit.
    std::vector<RUN> u_uml = {{1, 50}, {0, 50}, {1, 50}, {0, 50}, {1, 150}, {0, 50}, {1, 150}};
    std::vector<RUN> runs;
    for (int i = 0; i < 512; i++) {
        if (i) runs.push_back({0, 150});
        runs.insert(runs.end(), u_uml.begin(), u_uml.end());
    }
    key_runs(k.d, runs);
    DECODED_MESSAGE m;
    ASSERT_EQ(decoder_finish(k.d, &m), 1);
    EXPECT_EQ(strlen(m.text), 1022u);
    EXPECT_EQ(morse_text_length(m.text), 511u);
    EXPECT_EQ(std::string(m.text).substr(1020), "\xC3\x9C");
    EXPECT_EQ(strlen(m.symbols), 512u * 5 - 1); // the symbols still hold all of them
}

TEST(DecoderLimitTest, ZeroLengthAndHugeDurationsStayFinite) {
    DECODER_CONFIG c = human_cfg();
    c.bounce_ms = 0; // nothing filters zero-length runs
    c.min_unit_ms = 0;
    Decoder k(c);
    decoder_key(k.d, 0, 1);
    decoder_key(k.d, 0, 0);
    decoder_key(k.d, 0, 1);
    decoder_key(k.d, 1e12, 0);
    decoder_key(k.d, 1e12, 1);
    decoder_key(k.d, 1e12 + 100, 0);
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.receiving, 1);
    EXPECT_EQ(st.last_run_ms, 100u);
    DECODED_MESSAGE m;
    decoder_live(k.d, &m);
    for (const char *p = m.symbols; *p; p++) EXPECT_TRUE(strchr(".- /", *p)) << m.symbols;
    EXPECT_NE(m.text[0], '\0');

    Decoder huge(human_cfg());
    decoder_key(huge.d, 0, 1);
    decoder_key(huge.d, 1e13, 0);
    decoder_status(huge.d, &st);
    EXPECT_EQ(st.unit_ms, UINT32_MAX); // saturates instead of wrapping
    EXPECT_EQ(st.last_run_ms, UINT32_MAX);
    ASSERT_EQ(decoder_finish(huge.d, &m), 1);
    EXPECT_STREQ(m.text, "E");
    EXPECT_EQ(m.unit_ms, UINT32_MAX);
}

TEST(DecoderLimitTest, StatusOfFreshDecoderIsZero) {
    Decoder k(machine_cfg());
    DECODER_STATUS st;
    decoder_status(k.d, &st);
    EXPECT_EQ(st.luma, 0);
    EXPECT_EQ(st.th_on, 0);
    EXPECT_EQ(st.has_signal, 0);
    EXPECT_EQ(st.unit_ms, 0u);
    DECODED_MESSAGE m;
    decoder_live(k.d, &m);
    EXPECT_STREQ(m.text, "");
    EXPECT_STREQ(m.symbols, "");
    EXPECT_EQ(m.unit_ms, 0u);
}
