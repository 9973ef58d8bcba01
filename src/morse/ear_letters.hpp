// src/morse/ear_letters.hpp: the letters a sound reader expects, as a tree of the Morse table's
// codes (each node an element string, its two children one dot and one dash longer) with how
// likely a letter is to end at each node. The odds mix English text's letter frequencies with
// an even share for every character of the table, so that callsigns, numbers and random groups
// still read when the sound is clear: only where the sound leaves two readings nearly alike do
// the odds decide. Built once, constant afterwards; callable from any thread.
#pragma once
#include <cstdint>
#include <vector>

struct EAR_LETTER_NODE {
    int next[2]; // the node one dot (0) or one dash (1) longer, or -1
    double end;  // natural log of the odds of a letter ending here, -HUGE_VAL for none
    uint32_t cp; // the character ending here, or 0
};

// The tree, root first (the empty code), built on first use.
const std::vector<EAR_LETTER_NODE> &ear_letter_tree();
