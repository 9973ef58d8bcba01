// tests/model/settings_test.cpp: defaults, limits, colour texts and the lenient settings file.
#include "model/settings.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <gtest/gtest.h>

#include "support/test_env.hpp"

namespace {
SETTINGS defaults() {
    SETTINGS s;
    settings_default(&s);
    return s;
}

// Settings read from json on top of the defaults; *ok receives the reader's result.
SETTINGS read(const std::string &json, int *ok = nullptr) {
    SETTINGS s = defaults();
    int r = settings_from_json(&s, json.c_str());
    if (ok) *ok = r;
    return s;
}

bool same(const SETTINGS &a, const SETTINGS &b) {
    return memcmp(&a, &b, sizeof a) == 0;
}
} // namespace

TEST(SettingsDefaults, AreTheDocumentedValuesAndSurviveSanitising) {
    SETTINGS s = defaults();
    EXPECT_EQ(s.timing.unit_ms, 100u);
    EXPECT_EQ(s.timing.dash_units, 3u);
    EXPECT_EQ(s.timing.letter_gap_units, 3u);
    EXPECT_EQ(s.timing.word_gap_units, 7u);
    EXPECT_EQ(s.out_screen, 1);
    EXPECT_EQ(s.out_sound, 1);
    EXPECT_EQ(s.out_torch, 0);
    EXPECT_EQ(s.color_dot, 0xFFFFFFu);
    EXPECT_EQ(s.color_gap, 0u);
    EXPECT_EQ(s.tone_hz, 700u);
    EXPECT_EQ(s.duplex_torch_latency_ms, 290u);
    EXPECT_EQ(s.eom_timeout_ms, 5000u);
    EXPECT_EQ(s.fps_target, 30u);
    EXPECT_EQ(s.keep_screen_on, 1);
    EXPECT_EQ(s.run_locked, 1);
    EXPECT_STREQ(s.lang, "");
    EXPECT_EQ(s.key_bounce_ms, 15u);
    SETTINGS t = s;
    settings_sanitize(&t);
    EXPECT_TRUE(same(s, t));
}

TEST(SettingsSanitize, ClampsEveryFieldIntoItsRange) {
    SETTINGS s = defaults();
    s.timing.unit_ms = 5;
    s.loop = 7;
    s.color_dash = 0xAB123456;
    s.tone_hz = 5000;
    s.audio_latency_ms = 900;
    s.roi_pct = 1;
    s.eom_timeout_ms = 99999;
    s.fps_target = 24;
    memcpy(s.lang, "xx\0\0\0\0\0\0", 8);
    s.key_mode = 3;
    s.key_bounce_ms = 0;
    settings_sanitize(&s);
    EXPECT_EQ(s.timing.unit_ms, 20u);
    EXPECT_EQ(s.loop, 1);
    EXPECT_EQ(s.color_dash, 0x123456u);
    EXPECT_EQ(s.tone_hz, 1000u);
    EXPECT_EQ(s.audio_latency_ms, 500u);
    EXPECT_EQ(s.roi_pct, 5u);
    EXPECT_EQ(s.eom_timeout_ms, 15000u);
    EXPECT_EQ(s.fps_target, 30u);
    EXPECT_STREQ(s.lang, "");
    EXPECT_EQ(s.key_mode, 0u);
    EXPECT_EQ(s.key_bounce_ms, 5u);
    // A language field without its NUL is made safe to read, not read past.
    memset(s.lang, 'd', sizeof s.lang);
    settings_sanitize(&s);
    EXPECT_STREQ(s.lang, "");
}

TEST(SettingsColor, ParsesTheAcceptedFormsAndRejectsTheRest) {
    uint32_t rgb = 0x42;
    EXPECT_EQ(settings_parse_color("  #1a2B3c   ", &rgb), 1);
    EXPECT_EQ(rgb, 0x1A2B3Cu);
    EXPECT_EQ(settings_parse_color("abc", &rgb), 1);
    EXPECT_EQ(rgb, 0xAABBCCu);
    EXPECT_EQ(settings_parse_color("#0f0", &rgb), 1);
    EXPECT_EQ(rgb, 0x00FF00u);
    for (const char *bad : {"#12345", "#1234567", "#12 34", "#", "", "green", "#12345g", "##123456",
                            "\t#123456", "#123456 x"}) {
        rgb = 0x42;
        EXPECT_EQ(settings_parse_color(bad, &rgb), 0) << bad;
        EXPECT_EQ(rgb, 0x42u) << bad;
    }
    EXPECT_EQ(settings_parse_color(nullptr, &rgb), 0);
    EXPECT_EQ(settings_parse_color("#123456", nullptr), 0);

    char text[8];
    settings_format_color(0xFFD54A, text);
    EXPECT_STREQ(text, "#FFD54A");
    settings_format_color(0xFF000001, text);
    EXPECT_STREQ(text, "#000001");
}

TEST(SettingsColor, EachMorseStateHasItsColour) {
    SETTINGS s = defaults();
    s.color_dot = 1;
    s.color_dash = 2;
    s.color_gap = 3;
    s.color_letter_gap = 4;
    s.color_word_gap = 5;
    EXPECT_EQ(settings_color_for(&s, MORSE_DOT), 1u);
    EXPECT_EQ(settings_color_for(&s, MORSE_DASH), 2u);
    EXPECT_EQ(settings_color_for(&s, MORSE_SYM_GAP), 3u);
    EXPECT_EQ(settings_color_for(&s, MORSE_LETTER_GAP), 4u);
    EXPECT_EQ(settings_color_for(&s, MORSE_WORD_GAP), 5u);
    EXPECT_EQ(settings_color_for(&s, 99), 3u);
    EXPECT_EQ(settings_color_for(nullptr, MORSE_DOT), 0u);
}

TEST(SettingsFile, AWrittenFileReadsBackAsTheSameRecord) {
    SETTINGS s = defaults();
    s.timing = {45, 4, 5, 9};
    s.loop = 1;
    s.out_torch = 1;
    s.out_sound = 0;
    s.color_dot = 0xFFD54A;
    s.color_word_gap = 0x102030;
    s.tone_hz = 850;
    s.roi_pct = 33;
    s.fps_target = 60;
    s.run_locked = 0;
    strcpy(s.lang, "de");
    s.key_mode = 2;
    s.key_iambic_b = 1;
    s.key_bounce_ms = 22;
    char *json = settings_to_json(&s);
    ASSERT_NE(json, nullptr);
    EXPECT_NE(strstr(json, "\"version\":\t1"), nullptr) << json;
    EXPECT_NE(strstr(json, "\"color_dot\":\t\"#FFD54A\""), nullptr) << json;
    EXPECT_NE(strstr(json, "\"loop\":\ttrue"), nullptr) << json;
    SETTINGS back;
    memset(&back, 0x5A, sizeof back);
    settings_default(&back);
    EXPECT_EQ(settings_from_json(&back, json), 1);
    EXPECT_TRUE(same(s, back));
    free(json);
}

TEST(SettingsFile, MembersAreWrittenInTheirDocumentedOrder) {
    SETTINGS s = defaults();
    char *json = settings_to_json(&s);
    ASSERT_NE(json, nullptr);
    std::string text = json;
    free(json);
    size_t at = 0;
    for (const char *key : {"version", "unit_ms", "word_gap_units", "loop", "out_vibrate",
                            "color_dot", "color_word_gap", "tone_hz", "eom_timeout_ms",
                            "debug_overlay", "rx_front_camera", "fps_target", "keep_screen_on",
                            "run_locked", "lang", "key_mode", "key_fixed_speed", "key_bounce_ms"}) {
        size_t found = text.find(std::string("\"") + key + "\"", at);
        ASSERT_NE(found, std::string::npos) << key;
        at = found;
    }
}

TEST(SettingsFile, AnEmptyObjectGivesTheDefaults) {
    int ok = 0;
    EXPECT_TRUE(same(read("{}", &ok), defaults()));
    EXPECT_EQ(ok, 1);
}

TEST(SettingsFile, DocumentsThatAreNotObjectsAreRejectedWhole) {
    for (const char *bad :
         {"", "[]", "[{\"tone_hz\": 800}]", "{\"tone_hz\": 800", "null", "800", "\"tone_hz\""}) {
        SETTINGS s = defaults();
        s.tone_hz = 555;
        LogCapture log;
        EXPECT_EQ(settings_from_json(&s, bad), 0) << bad;
        EXPECT_EQ(s.tone_hz, 555u) << bad;
        EXPECT_TRUE(log.contains("settings.json: not an object")) << bad;
    }
}

TEST(SettingsFile, NumbersOutOfRangeOrOfTheWrongTypeAreIgnoredOrClamped) {
    EXPECT_EQ(read(R"({"tone_hz": 5000})").tone_hz, 1000u);
    EXPECT_EQ(read(R"({"tone_hz": -5})").tone_hz, 700u);
    EXPECT_EQ(read(R"({"tone_hz": "800"})").tone_hz, 700u);
    EXPECT_EQ(read(R"({"tone_hz": 800.9})").tone_hz, 800u);
    EXPECT_EQ(read(R"({"tone_hz": 4000000001})").tone_hz, 700u);
    EXPECT_EQ(read(R"({"tone_hz": 1e308})").tone_hz, 700u);
    EXPECT_EQ(read(R"({"tone_hz": true})").tone_hz, 700u);
    EXPECT_EQ(read(R"({"unit_ms": 4000000000})").timing.unit_ms, 2000u);
    EXPECT_EQ(read(R"({"unit_ms": 0})").timing.unit_ms, 20u);
    EXPECT_EQ(read(R"({"fps_target": 24})").fps_target, 30u);
    EXPECT_EQ(read(R"({"fps_target": 15})").fps_target, 15u);
    EXPECT_EQ(read(R"({"fps_target": 60})").fps_target, 60u);
    EXPECT_EQ(read(R"({"key_mode": 3})").key_mode, 0u);
    EXPECT_EQ(read(R"({"key_mode": 1})").key_mode, 1u);
    EXPECT_EQ(read(R"({"TONE_HZ": 800})").tone_hz, 700u);
}

TEST(SettingsFile, FlagsColoursAndLanguageTakeOnlyTheirOwnTypes) {
    EXPECT_EQ(read(R"({"loop": 1})").loop, 0);
    EXPECT_EQ(read(R"({"loop": true})").loop, 1);
    EXPECT_EQ(read(R"({"out_sound": false})").out_sound, 0);
    EXPECT_EQ(read(R"({"out_sound": "false"})").out_sound, 1);
    EXPECT_EQ(read(R"({"color_dot": "#0f0"})").color_dot, 0x00FF00u);
    EXPECT_EQ(read(R"({"color_dot": "green"})").color_dot, 0xFFFFFFu);
    EXPECT_EQ(read(R"({"color_dot": 65280})").color_dot, 0xFFFFFFu);
    EXPECT_STREQ(read(R"({"lang": "pt"})").lang, "");
    EXPECT_STREQ(read(R"({"lang": "de"})").lang, "de");
    EXPECT_STREQ(read(R"({"lang": "deutsch!"})").lang, "");
    EXPECT_STREQ(read(R"({"lang": 7})").lang, "");
    EXPECT_STREQ(read(R"({"lang": "d\u00e9\u00e9\u00e9\u00e9"})").lang, "");
    // One bad member does not cost the good ones.
    SETTINGS s = read(R"({"tone_hz": "x", "roi_pct": 40, "loop": 1, "lang": "it"})");
    EXPECT_EQ(s.tone_hz, 700u);
    EXPECT_EQ(s.roi_pct, 40u);
    EXPECT_STREQ(s.lang, "it");
}

TEST(SettingsFile, TheWebcamChoiceRoundTripsAndAnOldFileKeepsItsLens) {
    // A file from before the choice by name: the lens flag alone, no webcam named.
    SETTINGS old = read(R"({"rx_front_camera": true})");
    EXPECT_TRUE(old.rx_front_camera == 1 && old.rx_camera[0] == '\0');
    SETTINGS s = defaults();
    strcpy(s.rx_camera, "HD Webcam C270 (usb-0000:00:14.0-2)");
    char *json = settings_to_json(&s);
    ASSERT_NE(json, nullptr);
    EXPECT_STREQ(read(json).rx_camera, "HD Webcam C270 (usb-0000:00:14.0-2)");
    free(json);
    // A text longer than any key, or not a text, leaves the choice as it was.
    std::string huge = R"({"rx_camera": ")" + std::string(200, 'x') + "\"}";
    EXPECT_STREQ(read(huge).rx_camera, "");
    EXPECT_STREQ(read(R"({"rx_camera": 3})").rx_camera, "");
}

TEST(SettingsFile, NullArgumentsAreRefused) {
    SETTINGS s = defaults();
    EXPECT_EQ(settings_from_json(nullptr, "{}"), 0);
    EXPECT_EQ(settings_from_json(&s, nullptr), 0);
    EXPECT_EQ(settings_to_json(nullptr), nullptr);
}
