// Morse table, folding and the UTF-8 reader/writer.
#include "morse/morse_table.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Every code point of s, and the byte length each one consumed.
struct Read {
    std::vector<uint32_t> cps;
    std::vector<size_t> lens;
};

Read read_all(const std::string &s) {
    Read r;
    const char *p = s.c_str();
    for (;;) {
        const char *before = p;
        uint32_t cp = morse_utf8_next(&p);
        if (!cp) {
            EXPECT_EQ(p, before) << "the end must not advance";
            break;
        }
        r.cps.push_back(cp);
        r.lens.push_back((size_t)(p - before));
    }
    EXPECT_EQ(p, s.c_str() + s.size()) << "the whole text must be consumed";
    return r;
}

std::vector<uint32_t> normalized(uint32_t cp) {
    uint32_t out[2] = {0xDEAD, 0xDEAD};
    int n = morse_normalize(cp, out);
    return std::vector<uint32_t>(out, out + n);
}

const uint32_t R = 0xFFFD;

} // namespace

TEST(MorseUtf8Test, ReadsWellFormedTextOfEveryLength) {
    Read r = read_all("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(r.cps, (std::vector<uint32_t>{'A', 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(r.lens, (std::vector<size_t>{1, 2, 3, 4}));
    // The limits of each length.
    r = read_all("\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
    EXPECT_EQ(r.cps, (std::vector<uint32_t>{0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF}));
}

TEST(MorseUtf8Test, EndAndNullArgumentsReadAsZeroWithoutAdvancing) {
    EXPECT_EQ(morse_utf8_next(nullptr), 0u);
    const char *null_text = nullptr;
    EXPECT_EQ(morse_utf8_next(&null_text), 0u);
    EXPECT_EQ(null_text, nullptr);
    const char *empty = "";
    EXPECT_EQ(morse_utf8_next(&empty), 0u);
}

TEST(MorseUtf8Test, OverlongFormsReadAsOneReplacementConsumingTheWholeForm) {
    Read r = read_all("\xC0\x80X\xC1\xBF\xE0\x80\xAF\xF0\x8F\xBF\xBF");
    EXPECT_EQ(r.cps, (std::vector<uint32_t>{R, 'X', R, R, R}));
    EXPECT_EQ(r.lens, (std::vector<size_t>{2, 1, 2, 3, 4}));
}

TEST(MorseUtf8Test, SurrogatesAndValuesAboveUnicodeReadAsReplacement) {
    Read r = read_all("\xED\xA0\x80\xED\xBF\xBF\xF4\x90\x80\x80\xED\x9F\xBF");
    EXPECT_EQ(r.cps, (std::vector<uint32_t>{R, R, R, 0xD7FF}));
    EXPECT_EQ(r.lens, (std::vector<size_t>{3, 3, 4, 3}));
}

TEST(MorseUtf8Test, TruncatedSequenceConsumesOnlyItsLeadByte) {
    Read r = read_all("\xE2\x28\xA1");
    EXPECT_EQ(r.cps, (std::vector<uint32_t>{R, '(', R}));
    EXPECT_EQ(r.lens, (std::vector<size_t>{1, 1, 1}));
    // Cut by the end of the text: never reads past the NUL.
    r = read_all("\xF0\x9F\x98");
    EXPECT_EQ(r.cps, (std::vector<uint32_t>{R, R, R}));
    // A new lead byte in the middle of a sequence starts over there.
    r = read_all("\xC3\xC3\xA9");
    EXPECT_EQ(r.cps, (std::vector<uint32_t>{R, 0xE9}));
}

TEST(MorseUtf8Test, StrayContinuationAndInvalidLeadBytesReadOneByOne) {
    Read r = read_all("\x80\xBF\xF8\xFF\xFE"
                      "A");
    EXPECT_EQ(r.cps, (std::vector<uint32_t>{R, R, R, R, R, 'A'}));
}

TEST(MorseUtf8Test, EncodesEveryLengthAndRoundTrips) {
    char out[5];
    EXPECT_EQ(morse_utf8_encode('A', out), 1);
    EXPECT_STREQ(out, "A");
    EXPECT_EQ(morse_utf8_encode(0xE9, out), 2);
    EXPECT_STREQ(out, "\xC3\xA9");
    EXPECT_EQ(morse_utf8_encode(0x20AC, out), 3);
    EXPECT_STREQ(out, "\xE2\x82\xAC");
    EXPECT_EQ(morse_utf8_encode(0x1F600, out), 4);
    EXPECT_EQ(0, memcmp(out, "\xF0\x9F\x98\x80", 5));
    for (uint32_t cp :
         {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
        int n = morse_utf8_encode(cp, out);
        ASSERT_GT(n, 0) << std::hex << cp;
        EXPECT_EQ(strlen(out), (size_t)n);
        const char *p = out;
        EXPECT_EQ(morse_utf8_next(&p), cp);
        EXPECT_EQ(*p, '\0');
    }
}

TEST(MorseUtf8Test, RefusesSurrogatesAndValuesAboveUnicode) {
    char out[5] = "xxxx";
    EXPECT_EQ(morse_utf8_encode(0xD800, out), 0);
    EXPECT_EQ(out[0], '\0');
    strcpy(out, "xxxx");
    EXPECT_EQ(morse_utf8_encode(0xDFFF, out), 0);
    EXPECT_EQ(out[0], '\0');
    strcpy(out, "xxxx");
    EXPECT_EQ(morse_utf8_encode(0x110000, out), 0);
    EXPECT_EQ(out[0], '\0');
}

TEST(MorseTableTest, HasSixtyTwoRowsInTheirFixedOrder) {
    EXPECT_EQ(morse_table_size(), 62u);
    EXPECT_EQ(morse_table_char(0), (uint32_t)'A');
    EXPECT_EQ(morse_table_char(26), (uint32_t)'0');
    EXPECT_EQ(morse_table_char(36), (uint32_t)'.');
    EXPECT_EQ(morse_table_char(54), 0xC9u);
    EXPECT_EQ(morse_table_char(61), 0xC4u);
    EXPECT_EQ(morse_table_char(62), 0u);
}

TEST(MorseTableTest, EveryCodeIsDistinctAndDecodesBackToItsCharacter) {
    for (size_t i = 0; i < morse_table_size(); i++) {
        uint32_t cp = morse_table_char(i);
        const char *code = morse_code_of(cp);
        ASSERT_NE(code, nullptr) << i;
        EXPECT_GT(strlen(code), 0u);
        EXPECT_EQ(strspn(code, ".-"), strlen(code)) << i;
        EXPECT_EQ(morse_char_of(code), cp) << code;
    }
}

TEST(MorseTableTest, LooksUpCodesExactly) {
    EXPECT_STREQ(morse_code_of('S'), "...");
    EXPECT_STREQ(morse_code_of('@'), ".--.-.");
    EXPECT_STREQ(morse_code_of(0xDC), "..--");
    EXPECT_EQ(morse_code_of('a'), nullptr);
    EXPECT_EQ(morse_code_of(0), nullptr);
    EXPECT_EQ(morse_char_of("..--"), 0xDCu);
    EXPECT_EQ(morse_char_of("...---..."), 0u);
    EXPECT_EQ(morse_char_of(""), 0u);
    EXPECT_EQ(morse_char_of(nullptr), 0u);
    EXPECT_EQ(morse_char_of(".- "), 0u);
}

TEST(MorseNormalizeTest, UpperCasesLettersAndKeepsAccentedTableLetters) {
    EXPECT_EQ(normalized('a'), (std::vector<uint32_t>{'A'}));
    EXPECT_EQ(normalized('z'), (std::vector<uint32_t>{'Z'}));
    EXPECT_EQ(normalized('7'), (std::vector<uint32_t>{'7'}));
    EXPECT_EQ(normalized(0xE9), (std::vector<uint32_t>{0xC9})); // é -> É
    EXPECT_EQ(normalized(0xFC), (std::vector<uint32_t>{0xDC})); // ü -> Ü
    EXPECT_EQ(normalized(0xF1), (std::vector<uint32_t>{0xD1})); // ñ -> Ñ
    EXPECT_EQ(normalized(0xC4), (std::vector<uint32_t>{0xC4})); // Ä stays
}

TEST(MorseNormalizeTest, FoldsAccentedAndTypographicFormsOntoTableCharacters) {
    EXPECT_EQ(normalized(0xEA), (std::vector<uint32_t>{'E'}));  // ê
    EXPECT_EQ(normalized(0xE5), (std::vector<uint32_t>{'A'}));  // å
    EXPECT_EQ(normalized(0xFF), (std::vector<uint32_t>{'Y'}));  // ÿ through Ÿ
    EXPECT_EQ(normalized(0x178), (std::vector<uint32_t>{'Y'})); // Ÿ
    EXPECT_EQ(normalized(0x2019), (std::vector<uint32_t>{'\''}));
    EXPECT_EQ(normalized(0xAB), (std::vector<uint32_t>{'"'}));
    EXPECT_EQ(normalized(0x2014), (std::vector<uint32_t>{'-'}));
}

TEST(MorseNormalizeTest, SharpSAndLigaturesGiveTwoCharacters) {
    EXPECT_EQ(normalized(0xDF), (std::vector<uint32_t>{'S', 'S'}));  // ß
    EXPECT_EQ(normalized(0xC6), (std::vector<uint32_t>{'A', 'E'}));  // Æ
    EXPECT_EQ(normalized(0xE6), (std::vector<uint32_t>{'A', 'E'}));  // æ
    EXPECT_EQ(normalized(0x152), (std::vector<uint32_t>{'O', 'E'})); // Œ
    EXPECT_EQ(normalized(0x153), (std::vector<uint32_t>{'O', 'E'})); // œ
    // "Œuvre" reads as O E U V R E.
    std::vector<uint32_t> all;
    const char *p = "\xC5\x92uvre";
    while (uint32_t cp = morse_utf8_next(&p)) {
        std::vector<uint32_t> n = normalized(cp);
        all.insert(all.end(), n.begin(), n.end());
    }
    EXPECT_EQ(all, (std::vector<uint32_t>{'O', 'E', 'U', 'V', 'R', 'E'}));
}

TEST(MorseNormalizeTest, LeavesUnsupportedCharactersWithoutResult) {
    for (uint32_t cp : {0xF0u /* ð */, 0xFEu /* þ */, 0xF8u /* ø */, 0xF7u /* ÷ */, (uint32_t)'#',
                        (uint32_t)'%', (uint32_t)'*', 0x0Bu, 0x3B1u /* α */, 0xFFFDu, 0x1F600u}) {
        EXPECT_TRUE(normalized(cp).empty()) << std::hex << cp;
        EXPECT_EQ(morse_is_supported(cp), 0) << std::hex << cp;
    }
    EXPECT_EQ(morse_is_supported('b'), 1);
    EXPECT_EQ(morse_is_supported(0xDF), 1);
    EXPECT_EQ(morse_normalize('a', nullptr), 0);
}
