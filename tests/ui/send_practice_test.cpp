// tests/ui/send_practice_test.cpp: a keyed message scored against its target word by word, a
// send session's timing read back from practice.json, and the hint worded from the figures.
#include <cstdlib>
#include <cstring>
#include <string>
#include <gtest/gtest.h>

#include "i18n/i18n.hpp"
#include "model/practice.hpp"
#include "ui/screen_send_practice.hpp"

namespace {

// A dropped word gap runs two words together; the words after it are still compared in place,
// and a word keyed beyond the target counts as extra.
TEST(SendPracticeScore, WordsAreComparedInPlaceAndExtraWordsCount) {
    static SEND_PRACTICE p;
    send_practice_score(&p, "KMR KMS", "KMR KMS");
    EXPECT_EQ(p.right, 6u);
    EXPECT_EQ(p.total, 6u);
    ASSERT_EQ(p.nwords, 2u);

    send_practice_score(&p, "KMR KMS", "KMR KXS EE");
    EXPECT_EQ(p.nwords, 3u);
    EXPECT_EQ(p.right, 5u);
    EXPECT_EQ(p.total, 8u); // 6 sent, 2 extra
    EXPECT_EQ(p.words[1].marks[1].kind, KOCH_WRONG);
    EXPECT_EQ(p.words[2].marks[0].kind, KOCH_EXTRA);

    send_practice_score(&p, "KMR KMS", "KM");
    EXPECT_EQ(p.right, 2u);
    EXPECT_EQ(p.total, 6u);
    EXPECT_EQ(p.words[1].marks[0].kind, KOCH_MISSED);
}

// The session keeps its timing; a file with figures out of range keeps the session without them
// rather than losing it.
TEST(SendPracticeRecord, SendSessionsReadBackWithTheirTiming) {
    PRACTICE_LOG *log = practice_new();
    ASSERT_NE(log, nullptr);
    PRACTICE_SESSION s{};
    s.when = 1765000000;
    s.mode = PRACTICE_SEND;
    s.lesson = 3;
    s.wpm = s.effective_wpm = 14;
    s.right = 13;
    s.total = 15;
    s.seconds = 40;
    s.fist = PRACTICE_FIST{FIST_LETTER_GAP_SHORT, 14, 15, 13, 9, 296, 104, 212, 690};
    ASSERT_EQ(practice_add_session(log, &s), 1);
    char *json = practice_to_json(log);
    ASSERT_NE(json, nullptr);
    EXPECT_NE(strstr(json, "\"send\""), nullptr);

    PRACTICE_LOG *back = practice_new();
    ASSERT_EQ(practice_from_json(back, json), 1);
    ASSERT_EQ(back->count, 1u);
    const PRACTICE_SESSION &r = back->sessions[0];
    EXPECT_EQ(r.mode, PRACTICE_SEND);
    EXPECT_EQ(r.right, 13u);
    EXPECT_EQ(r.fist.fault, (uint32_t)FIST_LETTER_GAP_SHORT);
    EXPECT_EQ(r.fist.letter_x100, 212u);
    EXPECT_EQ(r.fist.word_x100, 690u);
    EXPECT_EQ(r.fist.start_wpm, 15u);

    char hint[200];
    send_practice_session_hint(&r, hint, sizeof hint);
    EXPECT_STREQ(hint, "letter gaps too short: 2.1 units instead of 3");

    std::string damaged(json);
    size_t at = damaged.find("\"letter_gap_x100\"");
    ASSERT_NE(at, std::string::npos);
    damaged.replace(at, strlen("\"letter_gap_x100\": 212"), "\"letter_gap_x100\": -5");
    practice_free(&back);
    back = practice_new();
    ASSERT_EQ(practice_from_json(back, damaged.c_str()), 1);
    ASSERT_EQ(back->count, 1u);
    EXPECT_EQ(back->sessions[0].fist.letter_x100, 0u);
    EXPECT_EQ(back->sessions[0].right, 13u);
    free(json);
    practice_free(&back);
    practice_free(&log);
}

// Every fault has its own words, and the speeds of a drift both appear.
TEST(SendPracticeHint, EachFaultHasItsOwnWordsWithItsFigures) {
    std::string seen[FIST_FAULT_COUNT];
    for (int f = 0; f < FIST_FAULT_COUNT; f++) {
        FIST_REPORT r{};
        r.fault = (FIST_FAULT)f;
        r.measured = 21;
        r.standard = 14;
        char hint[200];
        send_practice_hint(&r, hint, sizeof hint);
        seen[f] = hint;
        for (int g = 0; g < f; g++) EXPECT_NE(seen[f], seen[g]) << f << " and " << g;
    }
    EXPECT_EQ(seen[FIST_SLOWING_DOWN], "slowing down: from 21 to 14 WPM");

    FIST_REPORT r{};
    r.fault = FIST_DASH_SHORT;
    r.measured = 2.5;
    char hint[200];
    i18n_set_language("de");
    send_practice_hint(&r, hint, sizeof hint);
    EXPECT_STREQ(hint, "Striche zu kurz: 2,5 Punkte statt 3");
    i18n_set_language("en");
    send_practice_hint(&r, hint, sizeof hint);
    EXPECT_STREQ(hint, "dashes too short: 2.5 dots instead of 3");
}

} // namespace
