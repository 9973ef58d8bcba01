// tests/model/practice_test.cpp: practice.json reads back what was written, and a damaged
// document is refused whole while bad members fall back to their defaults.
#include <cstdlib>
#include <gtest/gtest.h>

#include "model/practice.hpp"

namespace {

TEST(PracticeJson, ReadsBackChoicesSessionsAndConfusionsAndRefusesADamagedFile) {
    PRACTICE_LOG *log = practice_new();
    ASSERT_NE(log, nullptr);
    log->lesson = 7;
    log->wpm = 25;
    log->effective_wpm = 12;
    KOCH_SCORE score;
    ASSERT_TRUE(koch_score("KMU", "KUU", &score));
    PRACTICE_SESSION s{};
    s.when = 1765000000;
    s.lesson = 7;
    practice_count(log, &score, &s);
    ASSERT_TRUE(practice_add_session(log, &s));
    char *text = practice_to_json(log);
    ASSERT_NE(text, nullptr);
    PRACTICE_LOG *back = practice_new();
    ASSERT_TRUE(practice_from_json(back, text));
    EXPECT_EQ(back->lesson, 7);
    EXPECT_EQ(back->effective_wpm, 12u);
    ASSERT_EQ(back->count, 1u);
    EXPECT_EQ(back->sessions[0].when, 1765000000);
    EXPECT_EQ(back->sessions[0].right, 2u);
    EXPECT_EQ(back->sessions[0].total, 3u);
    EXPECT_EQ(back->chars[1].sent, 1u);         // M
    EXPECT_EQ(back->chars[1].taken_for[2], 1u); // taken for U
    free(text);
    EXPECT_FALSE(practice_from_json(back, "{\"sessions\": 3}"));
    EXPECT_FALSE(practice_from_json(back, "{\"sessions\": ["));
    EXPECT_EQ(back->count, 1u); // untouched
    practice_free(&back);
    practice_free(&log);
}

} // namespace
