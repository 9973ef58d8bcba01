// tests/model/practice_test.cpp: practice.json reads back what was written, and a damaged
// document is refused whole while bad members fall back to their defaults; the send sessions
// come out for their chart as they were keyed.
#include <cstdlib>
#include <string>
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

TEST(PracticeJson, KeepsTheNewestSessionsAndNoCountThatContradictsAnother) {
    PRACTICE_LOG *log = practice_new();
    ASSERT_NE(log, nullptr);
    // A full log drops its oldest session for a new one.
    for (int i = 0; i < PRACTICE_MAX_SESSIONS + 5; i++) {
        PRACTICE_SESSION s{};
        s.when = 1765000000 + i;
        s.total = 1;
        ASSERT_TRUE(practice_add_session(log, &s));
    }
    ASSERT_EQ(log->count, (size_t)PRACTICE_MAX_SESSIONS);
    EXPECT_EQ(log->sessions[0].when, 1765000005);
    // A file with more sessions than the log holds (edited by hand) keeps its newest ones.
    std::string text = "{\"version\": 1, \"sessions\": [";
    for (int i = 0; i < PRACTICE_MAX_SESSIONS + 3; i++)
        text += std::string(i ? "," : "") + "{\"when\": " + std::to_string(1000 + i) +
                ", \"mode\": \"copy\", \"right\": 1, \"total\": 2}";
    // A character never sent cannot have been taken for another; more right than sent is not
    // believed either.
    text += "], \"chars\": {\"K\": {\"sent\": 0, \"right\": 0, \"taken_for\": {\"M\": 4}},"
            " \"M\": {\"sent\": 2, \"right\": 9, \"taken_for\": {\"K\": 1}}}}";
    PRACTICE_LOG *back = practice_new();
    ASSERT_TRUE(practice_from_json(back, text.c_str()));
    ASSERT_EQ(back->count, (size_t)PRACTICE_MAX_SESSIONS);
    EXPECT_EQ(back->sessions[0].when, 1003);
    EXPECT_EQ(back->sessions[back->count - 1].when, 1000 + PRACTICE_MAX_SESSIONS + 2);
    EXPECT_EQ(back->chars[0].taken_for[1], 0u);
    EXPECT_EQ(back->chars[1].sent, 2u);
    EXPECT_LE(back->chars[1].right, back->chars[1].sent);
    EXPECT_EQ(back->chars[1].taken_for[0], 1u);
    practice_free(&back);
    practice_free(&log);
}

TEST(PracticeSends, ChartsTheNewestSendsOldestFirstWithTheWorstProportionEitherWay) {
    PRACTICE_LOG *log = practice_new();
    ASSERT_NE(log, nullptr);
    // Copy sessions between the sends are not charted. Each send's worst proportion, on the
    // scale the fist is judged on: a dash of 1.5 dots is as far off as a word gap of 14 units.
    struct {
        uint32_t dash, element, letter, word, right, total;
        double off;
    } sends[] = {
        {300, 100, 300, 700, 9, 10, 0.0},   // dropped: older than the three charted
        {150, 100, 330, 0, 5, 10, 1.0},     // dashes half as long; no word gap keyed
        {300, 100, 300, 1400, 10, 10, 1.0}, // word gaps twice as long
        {0, 0, 0, 0, 0, 0, 0.0},            // nothing measured, nothing counted
        {310, 80, 360, 700, 7, 8, 0.25},    // inner gaps at 0.8 units: 1.25 times too short
    };
    int64_t when = 1765000000;
    for (const auto &x : sends) {
        PRACTICE_SESSION copy{};
        copy.when = when++;
        copy.right = copy.total = 20;
        ASSERT_TRUE(practice_add_session(log, &copy));
        PRACTICE_SESSION s{};
        s.when = when++;
        s.mode = PRACTICE_SEND;
        s.right = x.right;
        s.total = x.total;
        s.fist = PRACTICE_FIST{0, 14, 14, 14, 5, x.dash, x.element, x.letter, x.word};
        ASSERT_TRUE(practice_add_session(log, &s));
    }
    PRACTICE_SEND_POINT p[8];
    ASSERT_EQ(practice_send_history(log, p, 4), 4u);
    for (size_t i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(p[i].when, 1765000000 + 2 * (int64_t)(i + 1) + 1);
        EXPECT_NEAR(p[i].off, sends[i + 1].off, 1e-9);
        EXPECT_EQ(p[i].wpm, 14.0);
    }
    EXPECT_DOUBLE_EQ(p[0].score, 0.5);
    EXPECT_DOUBLE_EQ(p[2].score, -1); // nothing was counted: no score rather than 0 of 0
    EXPECT_DOUBLE_EQ(p[3].score, 7.0 / 8);
    EXPECT_EQ(practice_send_history(log, p, 8), 5u);
    EXPECT_EQ(p[0].when, 1765000001);
    practice_free(&log);
}

} // namespace
