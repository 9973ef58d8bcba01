// src/morse/koch.hpp: what a learner practises with: the Koch order of characters and its
// lessons, the groups of text sent for copying, and the scoring of a typed answer against the
// group by edit distance.
#pragma once
#include <cstddef>
#include <cstdint>

// Characters in the order they are taught; lesson n uses the first n + 1 of them.
constexpr const char KOCH_ORDER[] = "KMURESNAPTLWI.JZ=FOY,VG5/Q92H38B?47C1D60X";
constexpr int KOCH_CHARS = 41;
constexpr int KOCH_LESSONS = 40;
// Share of characters copied right at which the next lesson is offered.
constexpr double KOCH_PASS = 0.90;
// Longest group the scorer and the generators handle.
constexpr size_t KOCH_GROUP_MAX = 16;

// Where a practice group comes from.
enum KOCH_SOURCE {
    KOCH_SOURCE_GROUPS = 0, // random groups of the lesson's characters
    KOCH_SOURCE_WEAK = 1,   // random groups of the learner's weakest characters
    KOCH_SOURCE_CALLSIGNS = 2,
    KOCH_SOURCE_WORDS = 3,   // common words of on-air Morse
    KOCH_SOURCE_PRESETS = 4, // words of the user's own presets
    KOCH_SOURCE_COUNT = 5,
};

// The index of c (either case) in the Koch order, or -1.
int koch_index(char c);
// The lesson clamped to 1..KOCH_LESSONS.
int koch_lesson_clamp(int lesson);
// How many characters lesson teaches (2 for lesson 1).
int koch_lesson_size(int lesson);
// The lesson to go on with after a session of total characters with correct copied right:
// the next one at KOCH_PASS or better (never past the last), else the same.
int koch_next_lesson(int lesson, uint32_t correct, uint32_t total);

// One column of the alignment of a typed answer with the group it should have been.
enum KOCH_MARK_KIND {
    KOCH_RIGHT = 0,  // expected == typed
    KOCH_WRONG = 1,  // typed another character in its place
    KOCH_MISSED = 2, // nothing typed for it
    KOCH_EXTRA = 3,  // typed where nothing was sent
};
struct KOCH_MARK {
    KOCH_MARK_KIND kind;
    char expected; // 0 for KOCH_EXTRA
    char typed;    // 0 for KOCH_MISSED
};
struct KOCH_SCORE {
    KOCH_MARK marks[2 * KOCH_GROUP_MAX];
    size_t count;
    uint32_t distance; // edits from the group to the answer
    uint32_t right;    // columns KOCH_RIGHT
    uint32_t total;    // sent characters plus extra ones: what right is counted against
};
// Aligns typed with expected (both cut to KOCH_GROUP_MAX, compared without case) with the
// fewest edits, and among those the most right characters, so a swapped pair still counts
// one of its letters. 0 on bad arguments.
int koch_score(const char *expected, const char *typed, KOCH_SCORE *out);

// The n characters of the lesson copied worst so far (sent[i], right[i] per Koch index),
// weakest first, written to out (room for n + 1) as a NUL-terminated text. A character never
// sent counts as weak as one copied half right; ties go to the one taught later. The number
// written (at most the lesson's size).
size_t koch_weak_chars(const uint32_t *sent, const uint32_t *right, int lesson, size_t n,
                       char *out);

// A small, fast generator of the random choices (never 0 once seeded).
uint32_t koch_random(uint64_t *state);
// A group of len (1..KOCH_GROUP_MAX) characters drawn from chars, written to out (len + 1).
void koch_group(const char *chars, size_t len, uint64_t *rng, char *out);
// A callsign in a common shape (prefix of one or two letters, or a letter and a digit, then a
// digit and one to three letters) into out (room for 8).
void koch_callsign(uint64_t *rng, char *out);
// A common word or abbreviation of on-air Morse into out (room for KOCH_GROUP_MAX + 1).
void koch_word(uint64_t *rng, char *out);
// The word-th word (counted over the whole text) of text made of Koch characters only, upper
// case, cut to KOCH_GROUP_MAX; words with nothing left are not counted. The number of such
// words in text; out (room for KOCH_GROUP_MAX + 1) is "" when word is past them.
size_t koch_text_word(const char *text, size_t word, char *out);
