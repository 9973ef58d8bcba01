// tests/model/presets_test.cpp: the preset list, its file, damaged files and the shipped
// default presets.
#include "model/presets.hpp"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include "model/json_store.hpp"
#include "model/model_test_env.hpp"
#include "morse/sequencer.hpp"
#include "support/test_env.hpp"

namespace {
using List = OwnedList<PRESET_LIST, presets_new, presets_free>;

std::vector<int> ids(List &list) {
    return ids_of(list.l);
}

std::string to_json(List &list) {
    return json_text(presets_to_json(list.l));
}

// "é" repeated: two bytes per character.
std::string accented(size_t chars) {
    std::string out;
    for (size_t i = 0; i < chars; i++) out += "\xC3\xA9";
    return out;
}
} // namespace

TEST(PresetCategories, KeysMapBothWays) {
    EXPECT_STREQ(preset_category_key(PRESET_CAT_EMERGENCY), "emergency");
    EXPECT_STREQ(preset_category_key(PRESET_CAT_PRACTICE), "practice");
    EXPECT_STREQ(preset_category_key(6), "custom");
    EXPECT_STREQ(preset_category_key(-1), "custom");
    EXPECT_EQ(preset_category_from_key("radio"), PRESET_CAT_RADIO);
    EXPECT_EQ(preset_category_from_key("Radio"), PRESET_CAT_CUSTOM);
    EXPECT_EQ(preset_category_from_key(nullptr), PRESET_CAT_CUSTOM);
}

TEST(PresetList, AddGivesRisingIdsAndRefusesBlankTexts) {
    List list;
    EXPECT_EQ(presets_add(list.l, "A", "alpha", PRESET_CAT_STATUS, 0, ""), 1);
    EXPECT_EQ(presets_add(list.l, "", "bravo text", 9, 1, "fr"), 2);
    for (const char *blank : {"", " ", " \t\r\n "}) {
        EXPECT_EQ(presets_add(list.l, "x", blank, 0, 0, ""), -1);
    }
    EXPECT_EQ(presets_add(list.l, "x", nullptr, 0, 0, ""), -1);
    EXPECT_EQ(presets_add(nullptr, "x", "y", 0, 0, ""), -1);
    ASSERT_EQ(list->count, 2u);
    EXPECT_STREQ(list[1].name, "bravo text"); // no name: the start of the text
    EXPECT_EQ(list[1].category, PRESET_CAT_CUSTOM);
    EXPECT_EQ(list[1].is_default, 1);
    EXPECT_STREQ(list[1].lang, "fr");
    EXPECT_EQ(list->next_id, 3);
    presets_clear(list.l);
    EXPECT_EQ(presets_add(list.l, "c", "charlie", 0, 0, ""), 3);
}

TEST(PresetList, LongTextsAreCutOnACharacterBoundary) {
    List list;
    std::string text = accented(300); // 600 bytes
    int id = presets_add(list.l, accented(40).c_str(), text.c_str(), 0, 0, "toolonglang");
    ASSERT_GT(id, 0);
    PRESET *p = presets_get(list.l, id);
    EXPECT_EQ(strlen(p->text), 510u);
    EXPECT_EQ(strlen(p->name), 62u);
    EXPECT_STREQ(p->lang, "toolong");
    // A text whose first 511 bytes are spaces is blank once it fits its field.
    std::string padded = std::string(600, ' ') + "SOS";
    EXPECT_EQ(presets_add(list.l, "x", padded.c_str(), 0, 0, ""), -1);
    // Stray continuation bytes leave nothing to keep.
    EXPECT_EQ(presets_add(list.l, "x", std::string(600, '\x80').c_str(), 0, 0, ""), -1);
    EXPECT_EQ(list->count, 1u);
}

TEST(PresetList, GrowsPastItsFirstCapacity) {
    List list;
    for (int i = 0; i < 100; i++) ASSERT_EQ(presets_add(list.l, "", "t", 0, 0, ""), i + 1);
    EXPECT_EQ(list->count, 100u);
    EXPECT_GE(list->cap, 100u);
    EXPECT_EQ(presets_index_of(list.l, 77), 76);
    EXPECT_EQ(presets_index_of(list.l, 101), -1);
}

TEST(PresetList, UpdateMakesTheUsersOwnAndRemoveKeepsTheOrder) {
    List list;
    presets_add(list.l, "a", "alpha", PRESET_CAT_RADIO, 1, "en");
    presets_add(list.l, "b", "bravo", PRESET_CAT_RADIO, 1, "en");
    presets_add(list.l, "c", "charlie", PRESET_CAT_RADIO, 1, "en");
    EXPECT_EQ(presets_update(list.l, 2, "B", "BRAVO", PRESET_CAT_SOCIAL), 1);
    EXPECT_EQ(list[1].is_default, 0);
    EXPECT_STREQ(list[1].lang, "");
    EXPECT_STREQ(list[1].text, "BRAVO");
    EXPECT_EQ(list[1].category, PRESET_CAT_SOCIAL);
    EXPECT_EQ(presets_update(list.l, 2, "B", "  ", 0), 0);
    EXPECT_EQ(presets_update(list.l, 9, "B", "x", 0), 0);
    EXPECT_STREQ(list[1].text, "BRAVO");
    EXPECT_EQ(presets_remove(list.l, 1), 1);
    EXPECT_EQ(presets_remove(list.l, 1), 0);
    EXPECT_EQ(ids(list), (std::vector<int>{2, 3}));
}

TEST(PresetList, MovesSwapWithTheNearestPresetOfTheSameCategory) {
    List list;
    presets_add(list.l, "", "e1", PRESET_CAT_EMERGENCY, 0, "");
    presets_add(list.l, "", "s1", PRESET_CAT_STATUS, 0, "");
    presets_add(list.l, "", "e2", PRESET_CAT_EMERGENCY, 0, "");
    presets_add(list.l, "", "s2", PRESET_CAT_STATUS, 0, "");
    EXPECT_EQ(presets_move(list.l, 1, -1), 0); // first of its category
    EXPECT_EQ(presets_move(list.l, 4, 1), 0);  // last of its category
    EXPECT_EQ(presets_move(list.l, 1, 0), 0);
    EXPECT_EQ(presets_move(list.l, 42, 1), 0);
    EXPECT_EQ(ids(list), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(presets_move(list.l, 1, 1), 1); // jumps over s1
    EXPECT_EQ(ids(list), (std::vector<int>{3, 2, 1, 4}));
    EXPECT_EQ(presets_move(list.l, 4, -5), 1);
    EXPECT_EQ(ids(list), (std::vector<int>{3, 4, 1, 2}));
}

TEST(PresetFile, AWrittenListReadsBackTheSame) {
    List list;
    presets_add(list.l, "Name \"quoted\"", "Text with é and \\ and\nnewline", PRESET_CAT_RADIO, 1,
                "fr");
    presets_add(list.l, "", "second", PRESET_CAT_CUSTOM, 0, "");
    presets_remove(list.l, 1);
    presets_add(list.l, "third", "third text", PRESET_CAT_PRACTICE, 0, "");
    std::string json = to_json(list);
    EXPECT_NE(json.find("\"category\":\t\"practice\""), std::string::npos) << json;

    List back;
    ASSERT_EQ(presets_from_json(back.l, json.c_str()), 1);
    ASSERT_EQ(back->count, list->count);
    EXPECT_EQ(back->next_id, 4);
    for (size_t i = 0; i < list->count; i++) {
        EXPECT_EQ(memcmp(&back[i], &list[i], sizeof(PRESET)), 0) << i;
    }
    EXPECT_EQ(to_json(back), json);
}

TEST(PresetFile, DocumentsOfTheWrongShapeAreRejectedWhole) {
    List list;
    presets_add(list.l, "keep", "keep me", 0, 0, "");
    std::string truncated = to_json(list);
    truncated.resize(truncated.size() / 2);
    for (std::string bad : {std::string(""), std::string("[]"), std::string(R"([{"presets": []}])"),
                            std::string(R"({"presets": {}})"), std::string(R"({"presets": "x"})"),
                            std::string(R"({"preset": []})"), std::string("null"), truncated}) {
        LogCapture log;
        EXPECT_EQ(presets_from_json(list.l, bad.c_str()), 0) << bad;
        EXPECT_TRUE(log.contains("presets.json: not a preset document")) << bad;
        ASSERT_EQ(list->count, 1u) << bad;
        EXPECT_STREQ(list[0].text, "keep me");
    }
    EXPECT_EQ(presets_from_json(list.l, nullptr), 0);
    EXPECT_EQ(presets_from_json(nullptr, "{}"), 0);
}

// Entries without a usable text are skipped; a usable preset whose id is missing, out of range
// or taken already is kept under a new id, with a warning: nothing the user wrote is lost.
TEST(PresetFile, BadIdsGetNewOnesAndEntriesWithoutTextAreSkipped) {
    List list;
    LogCapture log(6);
    const char *json = R"({"next_id": 2, "presets": [
        {"id": 4, "name": "first four", "text": "four", "category": "radio", "default": true},
        {"id": 4, "name": "second four", "text": "again"},
        {"id": -3, "text": "negative"},
        {"id": 0, "text": "zero"},
        {"id": 1e12, "text": "huge"},
        {"id": 2000000000, "text": "beyond the id limit"},
        {"id": "7", "text": "string id"},
        {"text": "no id"},
        {"id": 8, "text": "   \t\n"},
        {"id": 9, "text": 42},
        {"id": 10},
        "not an object",
        [11, "array"],
        {"id": 12.9, "name": 5, "text": "twelve", "category": "weather", "default": 1,
         "lang": ["x"]}
    ]})";
    ASSERT_EQ(presets_from_json(list.l, json), 1);
    // In file order; the new ids start above the highest id read (12), not at the stored 2.
    EXPECT_EQ(ids(list), (std::vector<int>{4, 13, 14, 15, 16, 17, 18, 19, 12}));
    std::vector<std::string> texts;
    for (size_t i = 0; i < list->count; i++) texts.push_back(list[i].text);
    EXPECT_EQ(texts, (std::vector<std::string>{"four", "again", "negative", "zero", "huge",
                                               "beyond the id limit", "string id", "no id",
                                               "twelve"}));
    EXPECT_STREQ(list[0].name, "first four");
    EXPECT_EQ(list[0].is_default, 1);
    EXPECT_EQ(list[0].category, PRESET_CAT_RADIO);
    // Wrong types fall back: no name shows the text, unknown category is custom, only true is
    // true.
    EXPECT_STREQ(list[8].name, "twelve");
    EXPECT_EQ(list[8].category, PRESET_CAT_CUSTOM);
    EXPECT_EQ(list[8].is_default, 0);
    EXPECT_STREQ(list[8].lang, "");
    EXPECT_EQ(list->next_id, 20);
    for (const char *line : {"preset 'second four' had a missing or duplicate id (4), now 13",
                             "preset 'negative' had a missing or duplicate id (-3), now 14",
                             "preset 'no id' had a missing or duplicate id (0), now 19"})
        EXPECT_TRUE(log.contains(std::string("presets.json: ") + line)) << line << "\n"
                                                                          << log.text();
    for (const char *id : {"(id 8)", "(id 9)", "(id 10)"})
        EXPECT_TRUE(log.contains(std::string("presets.json: skipping an invalid entry ") + id))
            << id << "\n"
            << log.text();
    // The new preset continues above every id, so nothing can overflow.
    EXPECT_EQ(presets_add(list.l, "", "new", 0, 0, ""), 20);
}

// Ids 1, 1 and none, read and saved and read again: three presets, three ids, the same after
// every round.
TEST(PresetFile, TwinsAndPresetsWithoutAnIdSurviveASave) {
    List list;
    LogCapture log(6);
    ASSERT_EQ(presets_from_json(list.l, R"({"presets": [{"id": 1, "text": "A"},
                                {"id": 1, "text": "B"}, {"text": "C"}]})"),
              1);
    EXPECT_EQ(ids(list), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(list->next_id, 4);
    List again;
    ASSERT_EQ(presets_from_json(again.l, to_json(list).c_str()), 1);
    EXPECT_EQ(ids(again), (std::vector<int>{1, 2, 3}));
    EXPECT_STREQ(again[1].text, "B");
    EXPECT_STREQ(again[2].text, "C");
    EXPECT_EQ(presets_remove(again.l, 1), 1);
    EXPECT_STREQ(again[0].text, "B") << "deleting one twin left the other";
}

TEST(PresetFile, NextIdComesFromTheFileOnlyWhenItIsUsable) {
    struct Case {
        const char *json;
        int next_id;
    } cases[] = {
        {R"({"next_id": 50, "presets": [{"id": 3, "text": "x"}]})", 50},
        {R"({"presets": [{"id": 3, "text": "x"}]})", 4},
        {R"({"next_id": "50", "presets": [{"id": 3, "text": "x"}]})", 4},
        {R"({"next_id": 1e300, "presets": [{"id": 3, "text": "x"}]})", 4},
        {R"({"next_id": -8, "presets": []})", 1},
        {R"({"presets": []})", 1},
    };
    for (const Case &c : cases) {
        List list;
        ASSERT_EQ(presets_from_json(list.l, c.json), 1) << c.json;
        EXPECT_EQ(list->next_id, c.next_id) << c.json;
    }
}

TEST(PresetFile, LongAndMalformedTextsAreCutOnACharacterBoundary) {
    std::string json = R"({"presets": [{"id": 1, "name": ")" + accented(100) + R"(", "text": ")" +
                       accented(300) + R"("}]})";
    List list;
    ASSERT_EQ(presets_from_json(list.l, json.c_str()), 1);
    ASSERT_EQ(list->count, 1u);
    EXPECT_EQ(strlen(list[0].text), 510u);
    EXPECT_EQ(strlen(list[0].name), 62u);
    // No name: the name shows the text, cut to its own field.
    json = R"({"presets": [{"id": 1, "text": ")" + accented(300) + R"("}]})";
    ASSERT_EQ(presets_from_json(list.l, json.c_str()), 1);
    EXPECT_EQ(strlen(list[0].name), 62u);
}

TEST(PresetFile, AnUnknownCategoryIsWrittenBackAsCustom) {
    List list;
    ASSERT_EQ(presets_from_json(list.l, R"({"presets": [{"id": 1, "text": "x",
                                            "category": "weather"}]})"),
              1);
    EXPECT_NE(to_json(list).find("\"category\":\t\"custom\""), std::string::npos);
}

TEST(PresetDefaults, RestoreReplacesTheDefaultsAndKeepsTheUsersOwn) {
    const char *defaults = R"({"lang": "en", "presets": [
        {"name": "SOS", "text": "SOS", "category": "emergency"},
        {"name": "blank", "text": "  "},
        {"name": "no text"},
        {"name": "CQ", "text": "CQ", "category": "unknown"}]})";
    List list;
    presets_add(list.l, "old default", "old", 0, 1, "en");
    presets_add(list.l, "mine", "my own", PRESET_CAT_SOCIAL, 0, "");
    presets_add(list.l, "edited", "was default", 0, 1, "en");
    presets_update(list.l, 3, "edited", "edited text", 0);

    EXPECT_EQ(presets_restore_defaults(list.l, defaults), 2);
    EXPECT_EQ(ids(list), (std::vector<int>{4, 5, 2, 3}));
    EXPECT_STREQ(list[0].text, "SOS");
    EXPECT_EQ(list[0].is_default, 1);
    EXPECT_STREQ(list[0].lang, "en");
    EXPECT_EQ(list[1].category, PRESET_CAT_CUSTOM);
    EXPECT_STREQ(list[3].text, "edited text");

    // Twice in a row: the same defaults with new ids, the user's presets after them.
    EXPECT_EQ(presets_restore_defaults(list.l, defaults), 2);
    EXPECT_EQ(ids(list), (std::vector<int>{6, 7, 2, 3}));
    EXPECT_EQ(list->next_id, 8);
}

TEST(PresetDefaults, ADamagedDefaultsFileChangesNothing) {
    List list;
    presets_add(list.l, "mine", "my own", 0, 0, "");
    for (const char *bad :
         {"", "[]", R"({"lang": "en"})", R"({"presets": 3})", R"({"presets": [)"}) {
        LogCapture log;
        EXPECT_EQ(presets_restore_defaults(list.l, bad), -1) << bad;
        EXPECT_TRUE(log.contains("defaults: not a preset document")) << bad;
        EXPECT_EQ(ids(list), (std::vector<int>{1}));
    }
    EXPECT_EQ(presets_restore_defaults(list.l, nullptr), -1);
    // An empty array is a valid document without defaults.
    EXPECT_EQ(presets_restore_defaults(list.l, R"({"presets": []})"), 0);
    EXPECT_EQ(ids(list), (std::vector<int>{1}));
}

// The shipped defaults: every language loads, covers the five categories of ready-made
// messages, and every text can be sent whole.
TEST(PresetDefaults, EveryShippedLanguageLoadsAndSendsWithoutSkippedCharacters) {
    MORSE_TIMING timing;
    morse_timing_default(&timing);
    for (const char *lang : {"en", "fr", "es", "de", "it"}) {
        std::string name = std::string("presets/defaults_") + lang + ".json";
        char *text = store_read_asset(name.c_str());
        ASSERT_NE(text, nullptr) << name;
        List list;
        int loaded = presets_restore_defaults(list.l, text);
        free(text);
        ASSERT_GE(loaded, 5) << name;
        EXPECT_EQ((size_t)loaded, list->count);

        bool seen[PRESET_CAT_COUNT] = {};
        bool have_sos = false, have_paris = false;
        for (size_t i = 0; i < list->count; i++) {
            const PRESET &p = list[i];
            seen[p.category] = true;
            EXPECT_STREQ(p.lang, lang) << name;
            EXPECT_EQ(p.is_default, 1);
            EXPECT_LT(strlen(p.name), sizeof p.name - 1) << name << ": name cut: " << p.name;
            EXPECT_LT(strlen(p.text), sizeof p.text - 1) << name << ": text cut: " << p.text;
            have_sos = have_sos || strcmp(p.text, "SOS") == 0;
            have_paris = have_paris || strcmp(p.text, "PARIS") == 0;
            MORSE_SEQUENCE *seq = morse_sequence_build(p.text, &timing);
            ASSERT_NE(seq, nullptr);
            EXPECT_EQ(seq->skipped, 0u) << name << ": " << p.text;
            EXPECT_GT(seq->count, 0u) << name << ": " << p.text;
            morse_sequence_free(&seq);
        }
        for (int c = PRESET_CAT_EMERGENCY; c <= PRESET_CAT_PRACTICE; c++)
            EXPECT_TRUE(seen[c]) << name << " has no " << preset_category_key(c) << " preset";
        EXPECT_FALSE(seen[PRESET_CAT_CUSTOM]) << name << ": unknown category key";
        EXPECT_TRUE(have_sos && have_paris) << name;
    }
}

// Texts are sent, names only shown. A mark standing apart is sent as a Morse word of its own,
// so no shipped text has one; names follow each language's own punctuation.
TEST(PresetDefaults, ShippedPunctuationSendsMarksWithTheirWordAndShowsNamesNatively) {
    auto count = [](const std::string &s, const std::string &what) {
        size_t n = 0;
        for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) n++;
        return n;
    };
    for (const char *lang : {"en", "fr", "es", "de", "it"}) {
        std::string asset = std::string("presets/defaults_") + lang + ".json";
        char *json = store_read_asset(asset.c_str());
        ASSERT_NE(json, nullptr) << asset;
        List list;
        ASSERT_GT(presets_restore_defaults(list.l, json), 0) << asset;
        free(json);
        for (size_t i = 0; i < list->count; i++) {
            std::string text = list[i].text, name = list[i].name;
            for (const char *lone : {" ?", " !", " :", " ;"})
                EXPECT_EQ(text.find(lone), std::string::npos) << asset << ": " << text;
            if (strcmp(lang, "es") == 0) {
                EXPECT_EQ(count(name, "\u00bf"), count(name, "?")) << "opening mark: " << name;
                EXPECT_EQ(count(name, "\u00a1"), count(name, "!")) << "opening mark: " << name;
            }
            if (strcmp(lang, "fr") == 0) {
                for (const char *mark : {"?", "!"}) {
                    size_t marks = count(name, mark);
                    size_t spaced = count(name, std::string(" ") + mark) +
                                    count(name, std::string("\u00a0") + mark) +
                                    count(name, std::string("\u202f") + mark);
                    EXPECT_EQ(spaced, marks) << "space before the mark: " << name;
                }
            }
        }
    }
}
