// src/morse/ear_letters.cpp: the tree of the Morse table's codes and the odds of each letter.
// English frequencies: the relative letter counts of a large general corpus (Lewand, Cryptological
// Mathematics, 2000), in per cent. Figures and the rest of the table share a fixed part each.
#include "morse/ear_letters.hpp"

#include <cmath>
#include <cstring>

#include "morse/morse_table.hpp"

namespace {

// Per cent of letters in English text, A to Z.
constexpr double ENGLISH[26] = {8.167, 1.492, 2.782, 4.253, 12.702, 2.228, 2.015, 6.094, 6.966,
                                0.153, 0.772, 4.025, 2.406, 6.749,  7.507, 1.929, 0.095, 5.987,
                                6.327, 9.056, 2.758, 0.978, 2.360,  0.150, 1.974, 0.074};
// Shares of the odds: English letters by frequency, every table character alike (so that any
// letter of a callsign or a group keeps a fair chance), and figures on top (reports, numbers).
constexpr double SHARE_ENGLISH = 0.55;
constexpr double SHARE_EVEN = 0.35;
constexpr double SHARE_FIGURES = 0.10;
// The rows past ASCII (accented letters) are rare in what is sent: a tenth of the even share.
constexpr double RARE = 0.1;
// How strongly the odds count against the sound's own evidence: half their logarithm keeps a
// rare letter keyed clearly from ever being read as a frequent one.
constexpr double WEIGHT = 0.5;

std::vector<EAR_LETTER_NODE> build() {
    std::vector<EAR_LETTER_NODE> tree(1, EAR_LETTER_NODE{{-1, -1}, -HUGE_VAL, 0});
    size_t rows = morse_table_size();
    double even = 0;
    for (size_t i = 0; i < rows; i++) even += morse_table_char(i) < 0x80 ? 1.0 : RARE;
    for (size_t i = 0; i < rows; i++) {
        uint32_t cp = morse_table_char(i);
        const char *code = morse_code_of(cp);
        if (!code || !*code) continue;
        int at = 0;
        for (const char *c = code; *c; c++) {
            int k = *c == '-';
            if (tree[(size_t)at].next[k] < 0) {
                tree[(size_t)at].next[k] = (int)tree.size();
                tree.push_back(EAR_LETTER_NODE{{-1, -1}, -HUGE_VAL, 0});
            }
            at = tree[(size_t)at].next[k];
        }
        double p = SHARE_EVEN * (cp < 0x80 ? 1.0 : RARE) / even;
        if (cp >= 'A' && cp <= 'Z') p += SHARE_ENGLISH * ENGLISH[cp - 'A'] / 100.0;
        if (cp >= '0' && cp <= '9') p += SHARE_FIGURES / 10.0;
        // Each letter pays its own odds: a reading does not split a letter in two, nor make a
        // letter of a speck of noise, unless the sound asks for it.
        tree[(size_t)at].end = WEIGHT * log(p);
        tree[(size_t)at].cp = cp;
    }
    return tree;
}

} // namespace

const std::vector<EAR_LETTER_NODE> &ear_letter_tree() {
    static const std::vector<EAR_LETTER_NODE> tree = build();
    return tree;
}
