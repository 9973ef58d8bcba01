// tests/morse/ear_letters_test.cpp: the tree the ear reads letters over. Every character of the
// table must be found at the end of its own code and nowhere else, and the letters' odds must
// stay weak enough that no character of the table is ever out of reach.
#include "morse/ear_letters.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "morse/morse_table.hpp"

namespace {

// The node a code ends on, or -1 when the tree has no such branch.
int walk(const std::vector<EAR_LETTER_NODE> &tree, const char *code) {
    int at = 0;
    for (const char *c = code; *c && at >= 0; c++) at = tree[(size_t)at].next[*c == '-'];
    return at;
}

} // namespace

TEST(EarLettersTest, EveryCharacterOfTheTableEndsOnItsOwnCodeAndNoNodeElse) {
    const std::vector<EAR_LETTER_NODE> &tree = ear_letter_tree();
    ASSERT_FALSE(tree.empty());
    EXPECT_EQ(tree[0].cp, 0u) << "the empty code is no letter";
    std::map<uint32_t, int> seen;
    for (size_t n = 0; n < tree.size(); n++) {
        if (tree[n].cp) {
            EXPECT_TRUE(std::isfinite(tree[n].end)) << "node " << n;
            seen[tree[n].cp]++;
        } else {
            EXPECT_EQ(tree[n].end, -HUGE_VAL) << "node " << n;
        }
    }
    EXPECT_EQ(seen.size(), morse_table_size());
    for (size_t i = 0; i < morse_table_size(); i++) {
        uint32_t cp = morse_table_char(i);
        int at = walk(tree, morse_code_of(cp));
        ASSERT_GE(at, 0) << "row " << i;
        EXPECT_EQ(tree[(size_t)at].cp, cp) << "row " << i;
        EXPECT_EQ(seen[cp], 1) << "row " << i;
    }
}

// Frequent letters are likelier than rare ones, figures are not rarer than the rarest letters
// (reports and callsigns are full of them), and the whole range of the odds stays within a few
// nats: a letter keyed clearly always outweighs them.
TEST(EarLettersTest, TheOddsFollowEnglishButStayWeak) {
    const std::vector<EAR_LETTER_NODE> &tree = ear_letter_tree();
    auto odds = [&](uint32_t cp) {
        int at = walk(tree, morse_code_of(cp));
        return at >= 0 ? tree[(size_t)at].end : -HUGE_VAL;
    };
    EXPECT_GT(odds('E'), odds('T'));
    EXPECT_GT(odds('T'), odds('K'));
    EXPECT_GT(odds('K'), odds('Q'));
    EXPECT_GE(odds('5'), odds('Q'));
    EXPECT_GE(odds('0'), odds('Z'));
    double hi = -HUGE_VAL, lo = HUGE_VAL, ascii_lo = HUGE_VAL;
    for (size_t i = 0; i < morse_table_size(); i++) {
        uint32_t cp = morse_table_char(i);
        hi = std::max(hi, odds(cp));
        lo = std::min(lo, odds(cp));
        if (cp < 0x80) ascii_lo = std::min(ascii_lo, odds(cp));
    }
    EXPECT_EQ(hi, odds('E'));
    EXPECT_LT(hi - ascii_lo, 2.0) << "the odds would overrule the sound";
    EXPECT_LT(hi - lo, 3.5);
    EXPECT_GT(hi - lo, 0.5) << "the odds would say nothing";
}
