// tests/model/history_test.cpp: the newest-first sent history and its file.
#include "model/history.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "model/model_test_env.hpp"

namespace {
struct History : SENT_HISTORY {
    History() { history_clear(this); }
    std::vector<std::string> texts() const {
        return std::vector<std::string>(items, items + count);
    }
};

std::string to_json(const History &h) {
    return json_text(history_to_json(&h));
}
} // namespace

TEST(HistoryPush, MovesARepeatedTextToTheTopWithoutADuplicate) {
    History h;
    EXPECT_EQ(history_push(&h, "A"), 1);
    EXPECT_EQ(history_push(&h, "B"), 1);
    EXPECT_EQ(history_push(&h, "A"), 1);
    EXPECT_EQ(h.texts(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(history_push(&h, "A"), 0);
    EXPECT_EQ(history_push(&h, "C"), 1);
    EXPECT_EQ(history_push(&h, "B"), 1);
    EXPECT_EQ(h.texts(), (std::vector<std::string>{"B", "C", "A"}));
}

TEST(HistoryPush, RefusesBlankTexts) {
    History h;
    for (const char *blank : {"", " ", "\t\r\n  ", (const char *)nullptr})
        EXPECT_EQ(history_push(&h, blank), 0);
    std::string padded = std::string(520, ' ') + "late words";
    EXPECT_EQ(history_push(&h, padded.c_str()), 0);
    EXPECT_EQ(h.count, 0u);
    EXPECT_EQ(history_push(nullptr, "x"), 0);
}

TEST(HistoryPush, AFullHistoryLosesItsOldestEntry) {
    History h;
    for (int i = 1; i <= 51; i++) history_push(&h, ("text " + std::to_string(i)).c_str());
    ASSERT_EQ(h.count, 50u);
    EXPECT_STREQ(h.items[0], "text 51");
    EXPECT_STREQ(h.items[49], "text 2");
    // A text from the middle of a full history moves up; nothing is lost.
    EXPECT_EQ(history_push(&h, "text 30"), 1);
    EXPECT_EQ(h.count, 50u);
    EXPECT_STREQ(h.items[0], "text 30");
    EXPECT_STREQ(h.items[49], "text 2");
}

TEST(HistoryPush, LongTextsAreCutOnACharacterBoundary) {
    History h;
    std::string text;
    for (int i = 0; i < 300; i++) text += "\xC3\xA9";
    ASSERT_EQ(history_push(&h, text.c_str()), 1);
    EXPECT_EQ(strlen(h.items[0]), 510u);
    // The cut text is what is compared: the same long text again is already on top.
    EXPECT_EQ(history_push(&h, text.c_str()), 0);
}

TEST(HistoryRemove, KeepsTheOrderAndRefusesIndexesPastTheEnd) {
    History h;
    for (const char *t : {"c", "b", "a"}) history_push(&h, t);
    EXPECT_EQ(history_remove(&h, 3), 0);
    EXPECT_EQ(history_remove(&h, 1), 1);
    EXPECT_EQ(h.texts(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(history_remove(&h, 1), 1);
    EXPECT_EQ(history_remove(&h, 0), 1);
    EXPECT_EQ(history_remove(&h, 0), 0);
}

TEST(HistoryFile, AWrittenHistoryReadsBackTheSame) {
    History h;
    for (const char *t : {"oldest", "with \"quotes\" and é", "line\nbreak", "newest"})
        history_push(&h, t);
    std::string json = to_json(h);
    EXPECT_NE(json.find("\"version\":\t1"), std::string::npos);
    History back;
    ASSERT_EQ(history_from_json(&back, json.c_str()), 1);
    EXPECT_EQ(back.texts(), h.texts());
}

TEST(HistoryFile, DocumentsOfTheWrongShapeAreRejectedWhole) {
    History h;
    history_push(&h, "keep");
    std::string truncated = to_json(h);
    truncated.resize(truncated.size() - 5);
    for (std::string bad :
         {std::string(""), std::string("[\"a\"]"), std::string(R"({"sent": "a"})"),
          std::string(R"({"sent": {"a": 1}})"), std::string("{}"), truncated}) {
        LogCapture log;
        EXPECT_EQ(history_from_json(&h, bad.c_str()), 0) << bad;
        EXPECT_TRUE(log.contains("sent_history.json: not a history document")) << bad;
        EXPECT_EQ(h.texts(), (std::vector<std::string>{"keep"}));
    }
    EXPECT_EQ(history_from_json(&h, nullptr), 0);
}

TEST(HistoryFile, SkipsElementsThatAreNotTextsAndKeepsTheFirstFifty) {
    std::string json = R"({"sent": ["one", 2, "", "   ", null, {"t": "x"}, ["y"], "two")";
    for (int i = 0; i < 60; i++) json += ", \"more " + std::to_string(i) + "\"";
    json += "]}";
    History h;
    ASSERT_EQ(history_from_json(&h, json.c_str()), 1);
    ASSERT_EQ(h.count, 50u);
    EXPECT_STREQ(h.items[0], "one");
    EXPECT_STREQ(h.items[1], "two");
    EXPECT_STREQ(h.items[49], "more 47");
    // Stored entries are taken as they are, duplicates included.
    ASSERT_EQ(history_from_json(&h, R"({"sent": ["a", "a"]})"), 1);
    EXPECT_EQ(h.texts(), (std::vector<std::string>{"a", "a"}));
}
