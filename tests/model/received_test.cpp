// tests/model/received_test.cpp: the received-messages list and its file.
#include "model/received.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "model/model_test_env.hpp"

namespace {
using List = OwnedList<RECEIVED_LIST, received_new, received_free>;

std::vector<int> ids(List &list) {
    return ids_of(list.l);
}

std::string to_json(List &list) {
    return json_text(received_to_json(list.l));
}
} // namespace

TEST(ReceivedList, AddsNewestFirstAndLosesTheOldestWhenFull) {
    List list;
    ASSERT_NE(list.l, nullptr);
    EXPECT_EQ(received_add(list.l, 1000, "first", "..-.", 80), 1);
    EXPECT_EQ(received_add(list.l, 1001, "second", nullptr, 0), 2);
    EXPECT_EQ(received_add(list.l, 1002, "", "x", 0), -1);
    EXPECT_EQ(received_add(list.l, 1002, nullptr, "x", 0), -1);
    EXPECT_EQ(ids(list), (std::vector<int>{2, 1}));
    EXPECT_STREQ(list[0].symbols, "");
    for (int i = 3; i <= 201; i++) received_add(list.l, i, "m", "", 0);
    EXPECT_EQ(list->count, 200u);
    EXPECT_EQ(list[0].id, 201);
    EXPECT_EQ(list[199].id, 2); // message 1 is gone
    EXPECT_EQ(received_add(list.l, 0, "m", "", 0), 202);
    EXPECT_EQ(received_get(list.l, 2), nullptr);
}

TEST(ReceivedList, LongTextsAndSymbolsAreCutOnACharacterBoundary) {
    List list;
    std::string text;
    for (int i = 0; i < 300; i++) text += "\xC3\xA9";
    std::string symbols(3000, '.');
    int id = received_add(list.l, 5, text.c_str(), symbols.c_str(), 60);
    RECEIVED_MSG *m = received_get(list.l, id);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(strlen(m->text), 510u);
    EXPECT_EQ(strlen(m->symbols), 2047u);
    // A text of stray continuation bytes has no character to keep.
    EXPECT_EQ(received_add(list.l, 5, std::string(600, '\x80').c_str(), "", 0), -1);
}

TEST(ReceivedList, RemoveKeepsTheOrder) {
    List list;
    for (int i = 0; i < 4; i++) received_add(list.l, i, "m", "", 0);
    EXPECT_EQ(received_remove(list.l, 3), 1);
    EXPECT_EQ(received_remove(list.l, 3), 0);
    EXPECT_EQ(ids(list), (std::vector<int>{4, 2, 1}));
    EXPECT_EQ(received_remove(nullptr, 1), 0);
}

TEST(ReceivedFile, AWrittenListReadsBackTheSame) {
    List list;
    received_add(list.l, 1733600000, "CQ DE F4ABC", "-.-. --.- / -.. .", 75);
    received_add(list.l, -5, "Ärger \"quoted\"", "", 0);
    received_add(list.l, 4102444800LL, "late", ".-..", 4000000000u);
    received_remove(list.l, 2);
    std::string json = to_json(list);
    List back;
    ASSERT_EQ(received_from_json(back.l, json.c_str()), 1);
    ASSERT_EQ(back->count, list->count);
    EXPECT_EQ(back->next_id, 4);
    for (size_t i = 0; i < list->count; i++)
        EXPECT_EQ(memcmp(&back[i], &list[i], sizeof(RECEIVED_MSG)), 0) << i;
}

TEST(ReceivedFile, DocumentsOfTheWrongShapeAreRejectedWhole) {
    List list;
    received_add(list.l, 1, "keep", "", 0);
    std::string truncated = to_json(list);
    truncated.resize(truncated.size() - 3);
    for (std::string bad : {std::string(""), std::string("[]"), std::string(R"({"received": 1})"),
                            std::string(R"([{"received": []}])"), truncated}) {
        LogCapture log;
        EXPECT_EQ(received_from_json(list.l, bad.c_str()), 0) << bad;
        EXPECT_TRUE(log.contains("received.json: not a received document")) << bad;
        EXPECT_EQ(ids(list), (std::vector<int>{1}));
    }
}

TEST(ReceivedFile, InvalidEntriesAreSkippedAndOddNumbersFallBack) {
    const char *json = R"({"next_id": 3, "received": [
        {"id": 0, "text": "zero"},
        {"id": 5},
        {"id": -1, "text": "negative"},
        {"id": 1e15, "text": "huge"},
        {"id": 6, "text": ""},
        {"id": 7, "text": 7},
        "string",
        {"id": 8, "when": 1e300, "text": "far future", "symbols": 5, "unit_ms": -3},
        {"id": 9, "when": -1234.9, "text": "before 1970", "symbols": "...", "unit_ms": 71.8},
        {"id": 10, "when": "today", "text": "odd types", "unit_ms": 1e20}
    ]})";
    List list;
    ASSERT_EQ(received_from_json(list.l, json), 1);
    EXPECT_EQ(ids(list), (std::vector<int>{8, 9, 10}));
    EXPECT_EQ(list[0].when, 0);
    EXPECT_STREQ(list[0].symbols, "");
    EXPECT_EQ(list[0].unit_ms, 0u);
    EXPECT_EQ(list[1].when, -1234);
    EXPECT_STREQ(list[1].symbols, "...");
    EXPECT_EQ(list[1].unit_ms, 71u);
    EXPECT_EQ(list[2].when, 0);
    EXPECT_EQ(list[2].unit_ms, 0u);
    EXPECT_EQ(list->next_id, 11);
}

TEST(ReceivedFile, TimesReadBackExactlyAfterASaveOrAreUnknown) {
    const char *json = R"({"received": [
        {"id": 1, "when": -6371555158481728131, "text": "beyond what a save keeps"},
        {"id": 2, "when": 999999999999999, "text": "largest kept"},
        {"id": 3, "when": -999999999999999, "text": "smallest kept"},
        {"id": 4, "when": 1733657000, "text": "now"}]})";
    List list;
    ASSERT_EQ(received_from_json(list.l, json), 1);
    ASSERT_EQ(list->count, 4u);
    EXPECT_EQ(list[0].when, 0);
    EXPECT_EQ(list[1].when, 999999999999999);
    EXPECT_EQ(list[2].when, -999999999999999);
    EXPECT_EQ(list[3].when, 1733657000);
    List back;
    ASSERT_EQ(received_from_json(back.l, to_json(list).c_str()), 1);
    for (size_t i = 0; i < 4; i++) EXPECT_EQ(back[i].when, list[i].when) << i;
}

TEST(ReceivedFile, DuplicateIdsAreKeptButRenumbered) {
    const char *json = R"({"next_id": 20, "received": [
        {"id": 4, "text": "newest"}, {"id": 4, "text": "same id"}, {"id": 2, "text": "older"},
        {"id": 4, "text": "third with 4"}]})";
    List list;
    ASSERT_EQ(received_from_json(list.l, json), 1);
    EXPECT_EQ(ids(list), (std::vector<int>{4, 20, 2, 21}));
    EXPECT_EQ(list->next_id, 22);
    EXPECT_EQ(received_remove(list.l, 20), 1);
    EXPECT_STREQ(received_get(list.l, 4)->text, "newest");
}

TEST(ReceivedFile, KeepsAtMostTwoHundredAndAUsableNextId) {
    std::string json = R"({"next_id": "x", "received": [)";
    for (int i = 300; i >= 1; i--)
        json += "{\"id\": " + std::to_string(i) + ", \"text\": \"m\"}" + (i > 1 ? "," : "");
    json += "]}";
    List list;
    ASSERT_EQ(received_from_json(list.l, json.c_str()), 1);
    EXPECT_EQ(list->count, 200u);
    EXPECT_EQ(list[199].id, 101);
    EXPECT_EQ(list->next_id, 301);
    ASSERT_EQ(received_from_json(list.l, R"({"received": []})"), 1);
    EXPECT_EQ(list->count, 0u);
    EXPECT_EQ(list->next_id, 1);
}
