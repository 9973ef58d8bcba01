// tests/ui/text_wrap_test.cpp: line breaking with a width function that counts characters, so
// each expectation can be worked out by hand, plus a property check over many random texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ui/text_wrap.hpp"

namespace {

// Every character (not byte) is 10 px wide.
float char_width(const char *s, size_t n, void *) {
    float w = 0;
    for (size_t i = 0; i < n; i++) w += ((unsigned char)s[i] & 0xC0) != 0x80 ? 10.0f : 0.0f;
    return w;
}

std::vector<std::string> wrap(const std::string &text, float max_w) {
    TEXT_LINE lines[64];
    size_t n = text_wrap(text.c_str(), max_w, char_width, nullptr, lines, 64);
    std::vector<std::string> out;
    for (size_t i = 0; i < n && i < 64; i++)
        out.push_back(text.substr(lines[i].start, lines[i].len));
    return out;
}

using Lines = std::vector<std::string>;

TEST(TextWrapTest, EmptyTextsAndNewlines) {
    EXPECT_EQ(text_wrap(nullptr, 100, char_width, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(text_wrap("", 100, char_width, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(text_wrap("abc", 100, nullptr, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(wrap("\n", 100), (Lines{"", ""}));
    EXPECT_EQ(wrap("abc\n", 100), (Lines{"abc", ""}));
    EXPECT_EQ(wrap("\n\nab", 100), (Lines{"", "", "ab"}));
    TEXT_LINE l[3];
    ASSERT_EQ(text_wrap("ab\n\ncd", 100, char_width, nullptr, l, 3), 3u);
    EXPECT_EQ(l[1].start, 3u) << "an empty line sits where its paragraph starts";
    EXPECT_EQ(l[1].len, 0u);
}

TEST(TextWrapTest, BreaksAtSpacesAndDropsThemThere) {
    EXPECT_EQ(wrap("one two three", 70), (Lines{"one two", "three"}));
    EXPECT_EQ(wrap("a  b", 10), (Lines{"a", "b"}));
    EXPECT_EQ(wrap("ab   ", 20), (Lines{"ab"})) << "trailing spaces make no extra line";
    EXPECT_EQ(wrap("ab  ", 100), (Lines{"ab  "})) << "kept when they fit";
    EXPECT_EQ(wrap("  ab cd", 40), (Lines{"  ab", "cd"})) << "the indent stays";
}

TEST(TextWrapTest, LongWordsBreakBetweenCharactersWithAtLeastOnePerLine) {
    EXPECT_EQ(wrap("ééééé", 25), (Lines{"éé", "éé", "é"}));
    EXPECT_EQ(wrap("日本語", 5), (Lines{"日", "本", "語"})) << "a glyph wider than the line";
    EXPECT_EQ(wrap("xx ééééé y", 30), (Lines{"xx", "ééé", "éé", "y"}));
}

TEST(TextWrapTest, CountingAndStoringAgreeAndTheCountGoesOnPastMax) {
    TEXT_LINE few[2] = {{99, 99}, {99, 99}};
    const char *text = "aa bb cc dd ee";
    size_t counted = text_wrap(text, 20, char_width, nullptr, nullptr, 0);
    EXPECT_EQ(counted, 5u);
    EXPECT_EQ(text_wrap(text, 20, char_width, nullptr, few, 1), 5u);
    EXPECT_EQ(few[0].start, 0u);
    EXPECT_EQ(few[1].start, 99u) << "nothing written past max";
}

// Random texts of one- and two-byte letters, spaces and newlines: every line is within the
// width unless it is a single character, starts and ends on character boundaries, and the
// lines hold every non-space byte of the text exactly once, in order.
TEST(TextWrapTest, RandomTextsKeepEveryLetterInOrderWithinTheWidth) {
    std::mt19937 rng(7);
    const char *pieces[] = {"a", "b", "é", "ü", " ", " ", "\n"};
    for (int round = 0; round < 2000; round++) {
        std::string text;
        int len = (int)(rng() % 40);
        for (int i = 0; i < len; i++) text += pieces[rng() % 7];
        float max_w = (float)(rng() % 80);
        size_t counted = text_wrap(text.c_str(), max_w, char_width, nullptr, nullptr, 0);
        std::vector<TEXT_LINE> lines(counted + 1);
        ASSERT_EQ(text_wrap(text.c_str(), max_w, char_width, nullptr, lines.data(), lines.size()),
                  counted);
        std::string letters, joined;
        for (char c : text)
            if (c != ' ' && c != '\n') letters += c;
        for (size_t i = 0; i < counted; i++) {
            const TEXT_LINE &l = lines[i];
            ASSERT_LE(l.start + l.len, text.size());
            std::string s = text.substr(l.start, l.len);
            if (l.start < text.size()) {
                ASSERT_NE((unsigned char)text[l.start] & 0xC0, 0x80);
            }
            if (l.start + l.len < text.size()) {
                ASSERT_NE((unsigned char)text[l.start + l.len] & 0xC0, 0x80);
            }
            float w = char_width(s.data(), s.size(), nullptr);
            ASSERT_TRUE(w <= max_w || w == 10) << "'" << s << "' in '" << text << "' at " << max_w;
            for (char c : s) ASSERT_NE(c, '\n');
            for (char c : s)
                if (c != ' ') joined += c;
        }
        ASSERT_EQ(joined, letters) << "'" << text << "' at " << max_w;
        if (!text.empty()) {
            size_t newlines = std::count(text.begin(), text.end(), '\n');
            ASSERT_GE(counted, newlines + 1);
        }
    }
}

} // namespace
