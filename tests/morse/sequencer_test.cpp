// Timing limits, the text-to-events rules, closing and the lookups the outputs use.
#include "morse/sequencer.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/ka_log.hpp"
#include "support/test_env.hpp"

namespace {

MORSE_TIMING timing(uint32_t unit, uint32_t dash = 3, uint32_t letter = 3, uint32_t word = 7) {
    return MORSE_TIMING{unit, dash, letter, word};
}

// RAII holder so a failed assertion never leaks the sequence.
struct Seq {
    MORSE_SEQUENCE *s;
    explicit Seq(const std::string &text, MORSE_TIMING t = timing(100))
        : s(morse_sequence_build(text.c_str(), &t)) {}
    ~Seq() { morse_sequence_free(&s); }
    MORSE_SEQUENCE *operator->() const { return s; }
};

// One character per event: . dot, - dash, _ symbol gap, | letter gap, / word gap.
std::string states(const MORSE_SEQUENCE *seq) {
    static const char glyph[] = {'.', '-', '_', '|', '/'};
    std::string out;
    for (size_t i = 0; i < seq->count; i++) out += glyph[seq->events[i].state];
    return out;
}

// The structural promises every built sequence keeps.
void expect_well_formed(const MORSE_SEQUENCE *seq) {
    uint32_t t = 0, units = 0;
    for (size_t i = 0; i < seq->count; i++) {
        const MORSE_EVENT &e = seq->events[i];
        bool on = e.state < MORSE_SYM_GAP;
        EXPECT_EQ(on, i % 2 == 0) << "events must alternate on/off, starting on; event " << i;
        EXPECT_EQ(e.start_ms, t) << i;
        EXPECT_EQ(e.duration_ms, e.units * seq->timing.unit_ms) << i;
        t += e.duration_ms;
        units += e.units;
    }
    EXPECT_EQ(seq->total_ms, t);
    EXPECT_EQ(seq->total_units, units);
}

void expect_timing(const MORSE_TIMING &t, uint32_t unit, uint32_t dash, uint32_t letter,
                   uint32_t word) {
    EXPECT_EQ(t.unit_ms, unit);
    EXPECT_EQ(t.dash_units, dash);
    EXPECT_EQ(t.letter_gap_units, letter);
    EXPECT_EQ(t.word_gap_units, word);
}

std::string symbols(const MORSE_SEQUENCE *seq, size_t size = 4096) {
    std::vector<char> buf(size ? size : 1, 'x');
    size_t n = morse_sequence_to_symbols(seq, buf.data(), size);
    if (size) {
        EXPECT_EQ(strlen(buf.data()), n);
    }
    return std::string(buf.data(), size ? n : 0);
}

} // namespace

TEST(MorseTimingTest, DefaultsAndWpmConversion) {
    MORSE_TIMING t{};
    morse_timing_default(&t);
    expect_timing(t, 100, 3, 3, 7);
    EXPECT_EQ(morse_timing_sanitize(&t), 1);
    morse_timing_default(nullptr); // logged, nothing done
    EXPECT_EQ(morse_wpm_to_unit_ms(0), 1200u);
    EXPECT_EQ(morse_wpm_to_unit_ms(12), 100u);
    EXPECT_EQ(morse_wpm_to_unit_ms(20), 60u);
    EXPECT_EQ(morse_wpm_to_unit_ms(7), 171u);
}

TEST(MorseTimingTest, SanitizeClampsEveryFieldInOneCall) {
    MORSE_TIMING low = timing(5, 1, 1, 1);
    EXPECT_EQ(morse_timing_sanitize(&low), 0);
    expect_timing(low, 20, 2, 2, 4);
    MORSE_TIMING high = timing(5000, 9, 11, 99);
    EXPECT_EQ(morse_timing_sanitize(&high), 0);
    expect_timing(high, 2000, 6, 10, 20);
    // Only the last field out of range still counts as a change.
    MORSE_TIMING one = timing(100, 3, 3, 21);
    EXPECT_EQ(morse_timing_sanitize(&one), 0);
    EXPECT_EQ(one.word_gap_units, 20u);
    MORSE_TIMING bounds = timing(20, 6, 2, 20);
    EXPECT_EQ(morse_timing_sanitize(&bounds), 1);
    EXPECT_EQ(morse_timing_sanitize(nullptr), 0);
}

TEST(MorseSequenceTest, BuildsSosWithExactTiming) {
    Seq s("SOS");
    ASSERT_NE(s.s, nullptr);
    EXPECT_EQ(states(s.s), "._._.|-_-_-|._._.");
    EXPECT_EQ(s->count, 17u);
    EXPECT_EQ(s->total_units, 27u);
    EXPECT_EQ(s->total_ms, 2700u);
    EXPECT_EQ(s->skipped, 0u);
    expect_well_formed(s.s);
    // Offsets point at the source letter; the letter gap belongs to the letter after it.
    EXPECT_EQ(s->events[5].text_offset, 1u);
    EXPECT_EQ(s->events[5].state, MORSE_LETTER_GAP);
    EXPECT_EQ(s->events[16].text_offset, 2u);
}

TEST(MorseSequenceTest, UsesTheSanitisedTimingCopyAndLeavesTheCallersRecord) {
    MORSE_TIMING t = timing(5, 1, 1, 1);
    MORSE_SEQUENCE *s = morse_sequence_build("T E", &t);
    ASSERT_NE(s, nullptr);
    expect_timing(t, 5, 1, 1, 1);
    expect_timing(s->timing, 20, 2, 2, 4);
    ASSERT_EQ(s->count, 3u);
    EXPECT_EQ(s->events[0].duration_ms, 40u); // dash of 2 units
    EXPECT_EQ(s->events[1].state, MORSE_WORD_GAP);
    EXPECT_EQ(s->events[1].duration_ms, 80u);
    EXPECT_EQ(s->total_ms, 140u);
    morse_sequence_free(&s);
    EXPECT_EQ(s, nullptr);
}

TEST(MorseSequenceTest, LongTimingsGiveLongDashesAndGaps) {
    Seq s("TT T", timing(50, 5, 8, 15));
    EXPECT_EQ(states(s.s), "-|-/-");
    EXPECT_EQ(s->events[0].units, 5u);
    EXPECT_EQ(s->events[1].units, 8u);
    EXPECT_EQ(s->events[3].units, 15u);
    EXPECT_EQ(s->total_ms, 50u * (5 + 8 + 5 + 15 + 5));
    expect_well_formed(s.s);
}

TEST(MorseSequenceTest, TextsWithNothingToSendGiveEmptySequences) {
    for (const char *text : {"", "   \t\n", "#%*"}) {
        Seq s(text);
        ASSERT_NE(s.s, nullptr) << text;
        EXPECT_EQ(s->count, 0u);
        EXPECT_EQ(s->total_ms, 0u);
        EXPECT_EQ(s->total_units, 0u);
    }
    EXPECT_EQ(Seq("#%*")->skipped, 3u);
    MORSE_TIMING t = timing(100);
    EXPECT_EQ(morse_sequence_build(nullptr, &t), nullptr);
    EXPECT_EQ(morse_sequence_build("E", nullptr), nullptr);
}

TEST(MorseSequenceTest, LeadingTrailingAndRepeatedSpacesGiveAtMostOneWordGap) {
    Seq s("  E  ");
    EXPECT_EQ(states(s.s), ".");
    EXPECT_EQ(s->events[0].text_offset, 2u);
    Seq runs("E \t\r\n E");
    EXPECT_EQ(states(runs.s), "./.");
    // The word gap carries the position of the character after it.
    EXPECT_EQ(runs->events[1].text_offset, 6u);
    EXPECT_EQ(runs->events[1].text_len, 1u);
}

TEST(MorseSequenceTest, UnicodeSpacesSeparateWordsButOtherWhiteSpaceIsSkipped) {
    Seq nbsp("E\xC2\xA0"
             "E");
    EXPECT_EQ(states(nbsp.s), "./.");
    EXPECT_EQ(nbsp->skipped, 0u);
    Seq narrow("E\xE2\x80\xAF"
               "E");
    EXPECT_EQ(states(narrow.s), "./.");
    Seq vtab("E\vE");
    EXPECT_EQ(states(vtab.s), ".|.");
    EXPECT_EQ(vtab->skipped, 1u);
    Seq em_space("E\xE2\x80\x83"
                 "E"); // U+2003 is white space but not a word separator here
    EXPECT_EQ(states(em_space.s), ".|.");
    EXPECT_EQ(em_space->skipped, 1u);
}

TEST(MorseSequenceTest, SkippedCharactersLeaveTheSeparatorUnchangedAndAreLogged) {
    LogCapture log(LOG_INFO);
    Seq ab("A#B");
    EXPECT_EQ(states(ab.s), "._-|-_._._.");
    EXPECT_EQ(ab->skipped, 1u);
    Seq a_b("A #B");
    EXPECT_EQ(states(a_b.s), "._-/-_._._.");
    Seq ab_("A# B");
    EXPECT_EQ(states(ab_.s), "._-/-_._._.");
    EXPECT_TRUE(log.contains("skipping unsupported character U+0023 at byte 1"));
    // Malformed bytes are skipped as U+FFFD, each at its own offset; ð keeps its lower-case value.
    Seq bad("E\xC0\x80\xFF\xC3\xB0");
    EXPECT_EQ(states(bad.s), ".");
    EXPECT_EQ(bad->skipped, 3u);
    EXPECT_TRUE(log.contains("skipping unsupported character U+FFFD at byte 1"));
    EXPECT_TRUE(log.contains("skipping unsupported character U+FFFD at byte 3"));
    EXPECT_TRUE(log.contains("skipping unsupported character U+00F0 at byte 4"));
}

TEST(MorseSequenceTest, TwoLetterCharactersAreSentAsTwoLettersOfOneSource) {
    Seq ss("\xC3\x9F"); // ß
    EXPECT_EQ(states(ss.s), "._._.|._._.");
    EXPECT_EQ(ss->count, 11u);
    for (size_t i = 0; i < ss->count; i++) {
        EXPECT_EQ(ss->events[i].text_offset, 0u);
        EXPECT_EQ(ss->events[i].text_len, 2u);
    }
    Seq ae("x\xC3\x86"); // xÆ: letter gap, A, letter gap, E
    EXPECT_EQ(states(ae.s), "-_._._-|._-|.");
    EXPECT_EQ(ae->events[7].text_offset, 1u);
    EXPECT_EQ(ae->events[11].text_len, 2u);
    Seq oe("\xC5\x93"); // œ
    EXPECT_EQ(states(oe.s), "-_-_-|.");
    expect_well_formed(oe.s);
}

TEST(MorseSequenceTest, AccentedLettersUseTheirOwnCodeOrAFold) {
    Seq e_acute("\xC3\xA9"); // é keeps ..-..
    EXPECT_EQ(states(e_acute.s), "._._-_._.");
    Seq e_circ("\xC3\xAA"); // ê folds to E
    EXPECT_EQ(states(e_circ.s), ".");
    EXPECT_EQ(e_circ->events[0].text_len, 2u);
}

TEST(MorseSequenceTest, GrowsPastTheFirstCapacityAndKeepsItsInvariants) {
    std::string text;
    for (int i = 0; i < 300; i++) text += (char)('A' + i % 26), text += i % 7 == 6 ? " " : "";
    Seq s(text);
    ASSERT_NE(s.s, nullptr);
    EXPECT_GT(s->count, 1000u);
    expect_well_formed(s.s);
    EXPECT_EQ(s->events[s->count - 1].text_offset, text.size() - 1);
}

TEST(MorseSequenceTest, RefusesAMessageWhoseTotalWouldNotFitIn32Bits) {
    // 40000 words of "0" at the slowest timing: 54 units of 2000 ms each, over 2^32 ms in all.
    std::string text;
    for (int i = 0; i < 40000; i++) text += "0 ";
    LogCapture log(LOG_ERR);
    MORSE_TIMING t = timing(2000, 6, 10, 20);
    MORSE_SEQUENCE *s = morse_sequence_build(text.c_str(), &t);
    EXPECT_EQ(s, nullptr);
    EXPECT_TRUE(log.contains("message too long"));
    morse_sequence_free(&s);
}

TEST(MorseSequenceCloseTest, AppendsOneWordGapAfterTheLastCharacter) {
    Seq s("E");
    ASSERT_EQ(morse_sequence_close(s.s, 7), 1);
    ASSERT_EQ(s->count, 2u);
    EXPECT_EQ(s->total_ms, 800u);
    EXPECT_EQ(s->total_units, 8u);
    const MORSE_EVENT &gap = s->events[1];
    EXPECT_EQ(gap.state, MORSE_WORD_GAP);
    EXPECT_EQ(gap.start_ms, 100u);
    EXPECT_EQ(gap.duration_ms, 700u);
    EXPECT_EQ(gap.text_offset, 1u);
    EXPECT_EQ(gap.text_len, 0u);
    // A second close finds the gap and changes nothing.
    EXPECT_EQ(morse_sequence_close(s.s, 3), 1);
    EXPECT_EQ(s->count, 2u);
    EXPECT_EQ(s->total_ms, 800u);
}

TEST(MorseSequenceCloseTest, ZeroUnitsGiveAZeroLengthGapAtTheEnd) {
    Seq s("  \xC3\xA9 "); // the gap points just after é, whatever follows
    ASSERT_EQ(morse_sequence_close(s.s, 0), 1);
    ASSERT_EQ(s->count, 10u);
    EXPECT_EQ(s->total_ms, 1100u);
    EXPECT_EQ(s->events[9].duration_ms, 0u);
    EXPECT_EQ(s->events[9].start_ms, 1100u);
    EXPECT_EQ(s->events[9].text_offset, 4u);
}

TEST(MorseSequenceCloseTest, RefusesEmptyNullAndOverflowingCloses) {
    Seq empty("");
    EXPECT_EQ(morse_sequence_close(empty.s, 7), 0);
    EXPECT_EQ(empty->count, 0u);
    EXPECT_EQ(morse_sequence_close(nullptr, 7), 0);
    Seq s("E");
    EXPECT_EQ(morse_sequence_close(s.s, UINT32_MAX), 0);
    EXPECT_EQ(s->count, 1u);
    EXPECT_EQ(s->total_ms, 100u);
    EXPECT_EQ(morse_sequence_close(s.s, 7), 1);
}

TEST(MorseSequenceLookupTest, EventAtFindsTheRunningEventUpToTheBorders) {
    Seq s("SOS");
    EXPECT_EQ(morse_sequence_event_at(s.s, 0), 0u);
    EXPECT_EQ(morse_sequence_event_at(s.s, 99), 0u);
    EXPECT_EQ(morse_sequence_event_at(s.s, 100), 1u);
    EXPECT_EQ(morse_sequence_event_at(s.s, 500), 5u); // the letter gap starts at 500
    EXPECT_EQ(morse_sequence_event_at(s.s, 799), 5u);
    EXPECT_EQ(morse_sequence_event_at(s.s, 800), 6u);
    EXPECT_EQ(morse_sequence_event_at(s.s, 2699), 16u);
    EXPECT_EQ(morse_sequence_event_at(s.s, 2700), 17u);
    EXPECT_EQ(morse_sequence_event_at(s.s, UINT32_MAX), 17u);
    // Every millisecond maps to the event whose span contains it.
    for (uint32_t t = 0; t < s->total_ms; t += 7) {
        size_t i = morse_sequence_event_at(s.s, t);
        ASSERT_LT(i, s->count);
        EXPECT_LE(s->events[i].start_ms, t);
        EXPECT_LT(t, s->events[i].start_ms + s->events[i].duration_ms);
    }
    Seq empty("");
    EXPECT_EQ(morse_sequence_event_at(empty.s, 0), 0u);
    EXPECT_EQ(morse_sequence_event_at(nullptr, 0), 0u);
}

TEST(MorseSequenceLookupTest, EventAtAfterAZeroLengthCloseIsOnePastTheEnd) {
    Seq s("E");
    morse_sequence_close(s.s, 0);
    EXPECT_EQ(morse_sequence_event_at(s.s, 99), 0u);
    EXPECT_EQ(morse_sequence_event_at(s.s, 100), 2u);
}

TEST(MorseSymbolsTest, PrintsLettersAndWordsWithTheirSeparators) {
    EXPECT_EQ(symbols(Seq("SOS").s), "... --- ...");
    EXPECT_EQ(symbols(Seq("hi you").s), ".... .. / -.-- --- ..-");
    Seq closed("E");
    morse_sequence_close(closed.s, 7);
    EXPECT_EQ(symbols(closed.s), ". / ");
    EXPECT_EQ(symbols(Seq("").s), "");
}

TEST(MorseSymbolsTest, NeverCutsAPieceAndAlwaysTerminates) {
    Seq sos("SOS");
    EXPECT_EQ(symbols(sos.s, 4), "...");
    EXPECT_EQ(symbols(sos.s, 5), "... ");
    EXPECT_EQ(symbols(sos.s, 1), "");
    EXPECT_EQ(symbols(sos.s, 12), "... --- ...");
    EXPECT_EQ(symbols(sos.s, 11), "... --- ..");
    Seq words("E E");
    EXPECT_EQ(symbols(words.s, 4), "."); // " / " would need 5 bytes with the NUL
    EXPECT_EQ(symbols(words.s, 5), ". / ");
    char untouched = 'x';
    EXPECT_EQ(morse_sequence_to_symbols(sos.s, &untouched, 0), 0u);
    EXPECT_EQ(untouched, 'x');
    EXPECT_EQ(morse_sequence_to_symbols(nullptr, &untouched, 1), 0u);
    EXPECT_EQ(morse_sequence_to_symbols(sos.s, nullptr, 8), 0u);
}

TEST(MorseVibrationPatternTest, AlternatesFromALeadingZeroAndReportsTheFullLength) {
    Seq s("E");
    morse_sequence_close(s.s, 7);
    uint32_t out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(morse_sequence_on_off_ms(s.s, out, 8), 3u);
    EXPECT_EQ(out[0], 0u);
    EXPECT_EQ(out[1], 100u);
    EXPECT_EQ(out[2], 700u);
    EXPECT_EQ(out[3], 9u);
    // The length can be asked first; a short buffer is filled only up to max.
    Seq sos("SOS");
    EXPECT_EQ(morse_sequence_on_off_ms(sos.s, nullptr, 0), 18u);
    uint32_t two[3] = {9, 9, 9};
    EXPECT_EQ(morse_sequence_on_off_ms(sos.s, two, 2), 18u);
    EXPECT_EQ(two[0], 0u);
    EXPECT_EQ(two[1], 100u);
    EXPECT_EQ(two[2], 9u);
    EXPECT_EQ(morse_sequence_on_off_ms(Seq("").s, out, 8), 0u);
    EXPECT_EQ(morse_sequence_on_off_ms(nullptr, out, 8), 0u);
}

TEST(MorseSequenceTest, FreeIsNullSafe) {
    morse_sequence_free(nullptr);
    MORSE_SEQUENCE *none = nullptr;
    morse_sequence_free(&none);
    EXPECT_EQ(none, nullptr);
}
