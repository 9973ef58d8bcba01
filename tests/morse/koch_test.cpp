// tests/morse/koch_test.cpp: scoring an answer by edit distance, the lesson rule, the weakest
// characters, and Farnsworth spacing of a sequence.
#include <cstring>
#include <gtest/gtest.h>

#include "morse/koch.hpp"
#include "morse/sequencer.hpp"

namespace {

std::string kinds(const KOCH_SCORE &s) {
    std::string out;
    for (size_t i = 0; i < s.count; i++) out += "RWMX"[s.marks[i].kind];
    return out;
}

TEST(KochScore, AlignsAMissedAnExtraAndASwappedLetter) {
    KOCH_SCORE s;
    ASSERT_TRUE(koch_score("KMRS", "kms", &s));
    EXPECT_EQ(kinds(s), "RRMR");
    EXPECT_EQ(s.distance, 1u);
    EXPECT_EQ(s.right, 3u);
    EXPECT_EQ(s.total, 4u);
    ASSERT_TRUE(koch_score("KMR", "KMMR", &s));
    // Either M may be the extra one; what counts is one extra and every letter copied.
    EXPECT_EQ(s.right, 3u);
    EXPECT_EQ(s.distance, 1u);
    EXPECT_EQ(s.total, 4u);
    // A swapped pair: two edits, and one of the pair still counts as copied.
    ASSERT_TRUE(koch_score("KMU", "MKU", &s));
    EXPECT_EQ(s.distance, 2u);
    EXPECT_EQ(s.right, 2u);
    ASSERT_TRUE(koch_score("KM", "KU", &s));
    EXPECT_EQ(kinds(s), "RW");
    EXPECT_EQ(s.marks[1].expected, 'M');
    EXPECT_EQ(s.marks[1].typed, 'U');
}

TEST(KochLessons, NinetyPercentOpensTheNextLessonAndWeakCharactersComeFirst) {
    EXPECT_EQ(koch_next_lesson(1, 90, 100), 2);
    EXPECT_EQ(koch_next_lesson(1, 89, 100), 1);
    EXPECT_EQ(koch_next_lesson(KOCH_LESSONS, 100, 100), KOCH_LESSONS);
    EXPECT_EQ(koch_lesson_size(1), 2);
    uint32_t sent[KOCH_CHARS] = {}, right[KOCH_CHARS] = {};
    sent[0] = 100, right[0] = 99; // K
    sent[1] = 100, right[1] = 50; // M
    sent[2] = 100, right[2] = 90; // U
    char out[8];
    EXPECT_EQ(koch_weak_chars(sent, right, 2, 2, out), 2u);
    EXPECT_STREQ(out, "MU");
}

TEST(Farnsworth, ParisAndItsWordGapLastAsLongAsAtTheEffectiveSpeed) {
    MORSE_TIMING t{morse_wpm_to_unit_ms(20), 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build("PARIS", &t);
    ASSERT_NE(seq, nullptr);
    ASSERT_TRUE(morse_sequence_spread(seq, 10));
    ASSERT_TRUE(morse_sequence_close(seq, 7));
    // The closing gap is the word gap at the stretched unit.
    double gap_unit = morse_farnsworth_gap_unit_ms(&t, 10);
    uint32_t total = seq->total_ms - 7 * t.unit_ms + (uint32_t)(7 * gap_unit + 0.5);
    EXPECT_NEAR(total, 6000, 3);
    // Marks keep the character speed.
    EXPECT_EQ(seq->events[0].duration_ms, t.unit_ms);
    morse_sequence_free(&seq);
    EXPECT_DOUBLE_EQ(morse_farnsworth_gap_unit_ms(&t, 20), t.unit_ms);
}

} // namespace
