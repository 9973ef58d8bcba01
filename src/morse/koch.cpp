// src/morse/koch.cpp: Koch lessons, practice groups and the scoring of an answer.
#include "morse/koch.hpp"

#include <cstring>

#include "support/ka_common.hpp"

static char _upper(char c) {
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

int koch_index(char c) {
    c = _upper(c);
    if (!c) return -1;
    const char *at = strchr(KOCH_ORDER, c);
    return at ? (int)(at - KOCH_ORDER) : -1;
}

int koch_lesson_clamp(int lesson) {
    return lesson < 1 ? 1 : (lesson > KOCH_LESSONS ? KOCH_LESSONS : lesson);
}

int koch_lesson_size(int lesson) {
    return koch_lesson_clamp(lesson) + 1;
}

int koch_next_lesson(int lesson, uint32_t correct, uint32_t total) {
    lesson = koch_lesson_clamp(lesson);
    // Compared in integers: 0.9 has no exact double, and 9 of 10 must pass.
    if (total == 0 || (uint64_t)correct * 100 < (uint64_t)total * (uint32_t)(KOCH_PASS * 100 + 0.5))
        return lesson;
    return lesson < KOCH_LESSONS ? lesson + 1 : lesson;
}

int koch_score(const char *expected, const char *typed, KOCH_SCORE *out) {
    __ka_assert(expected, return 0);
    __ka_assert(typed, return 0);
    __ka_assert(out, return 0);
    size_t n = strnlen(expected, KOCH_GROUP_MAX), m = strnlen(typed, KOCH_GROUP_MAX);
    // Each cell holds edits * 64 - matches: fewer edits first, then more matches (at most 16,
    // so they never outweigh one edit).
    int cost[KOCH_GROUP_MAX + 1][KOCH_GROUP_MAX + 1];
    for (size_t i = 0; i <= n; i++) cost[i][0] = (int)i * 64;
    for (size_t k = 0; k <= m; k++) cost[0][k] = (int)k * 64;
    for (size_t i = 1; i <= n; i++) {
        for (size_t k = 1; k <= m; k++) {
            int same = _upper(expected[i - 1]) == _upper(typed[k - 1]);
            int best = cost[i - 1][k - 1] + (same ? -1 : 64);
            if (cost[i - 1][k] + 64 < best) best = cost[i - 1][k] + 64;
            if (cost[i][k - 1] + 64 < best) best = cost[i][k - 1] + 64;
            cost[i][k] = best;
        }
    }
    // Walked back from the end, written from the back of the marks.
    KOCH_MARK rev[2 * KOCH_GROUP_MAX];
    size_t count = 0, i = n, k = m;
    uint32_t right = 0, extra = 0;
    while (i > 0 || k > 0) {
        KOCH_MARK mk{};
        if (i > 0 && k > 0) {
            int same = _upper(expected[i - 1]) == _upper(typed[k - 1]);
            if (cost[i][k] == cost[i - 1][k - 1] + (same ? -1 : 64)) {
                mk = {same ? KOCH_RIGHT : KOCH_WRONG, _upper(expected[i - 1]),
                      _upper(typed[k - 1])};
                right += (uint32_t)same;
                i--, k--;
                rev[count++] = mk;
                continue;
            }
        }
        if (i > 0 && cost[i][k] == cost[i - 1][k] + 64) {
            mk = {KOCH_MISSED, _upper(expected[i - 1]), 0};
            i--;
        } else {
            mk = {KOCH_EXTRA, 0, _upper(typed[k - 1])};
            extra++;
            k--;
        }
        rev[count++] = mk;
    }
    out->count = count;
    for (size_t c = 0; c < count; c++) out->marks[c] = rev[count - 1 - c];
    out->right = right;
    out->total = (uint32_t)n + extra;
    out->distance = (uint32_t)((cost[n][m] + (int)right) / 64);
    return 1;
}

size_t koch_weak_chars(const uint32_t *sent, const uint32_t *right, int lesson, size_t n,
                       char *out) {
    __ka_assert(sent, return 0);
    __ka_assert(right, return 0);
    __ka_assert(out, return 0);
    size_t size = (size_t)koch_lesson_size(lesson);
    if (n > size) n = size;
    // Laplace's rule: one right and one wrong added, so a character seen twice and missed once
    // is not ranked beside one missed fifty times out of a hundred.
    double score[KOCH_CHARS];
    bool taken[KOCH_CHARS] = {};
    for (size_t c = 0; c < size; c++) score[c] = ((double)right[c] + 1.0) / ((double)sent[c] + 2.0);
    for (size_t w = 0; w < n; w++) {
        size_t pick = size;
        for (size_t c = size; c-- > 0;)
            if (!taken[c] && (pick == size || score[c] < score[pick])) pick = c;
        taken[pick] = true;
        out[w] = KOCH_ORDER[pick];
    }
    out[n] = '\0';
    return n;
}

uint32_t koch_random(uint64_t *state) {
    __ka_assert(state, return 0);
    if (*state == 0) *state = 0x9E3779B97F4A7C15ull;
    // xorshift64*: plenty for drawing letters, and reproducible from a seed in the tests.
    uint64_t x = *state;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    *state = x;
    return (uint32_t)((x * 0x2545F4914F6CDD1Dull) >> 32);
}

void koch_group(const char *chars, size_t len, uint64_t *rng, char *out) {
    __ka_assert(chars && rng && out, return );
    size_t have = strlen(chars);
    if (len > KOCH_GROUP_MAX) len = KOCH_GROUP_MAX;
    if (len < 1) len = 1;
    if (have == 0) {
        out[0] = '\0';
        return;
    }
    for (size_t i = 0; i < len; i++) out[i] = chars[koch_random(rng) % have];
    out[len] = '\0';
}

void koch_callsign(uint64_t *rng, char *out) {
    __ka_assert(rng && out, return );
    static const char *const shapes[] = {"L0L",   "L0LL",   "L0LLL", "LL0L",
                                         "LL0LL", "LL0LLL", "L00LL"};
    const char *shape = shapes[koch_random(rng) % (sizeof shapes / sizeof shapes[0])];
    size_t i = 0;
    for (; shape[i]; i++)
        out[i] = shape[i] == 'L' ? (char)('A' + koch_random(rng) % 26)
                                 : (char)('0' + koch_random(rng) % 10);
    out[i] = '\0';
}

// Words heard in every contact, then the commonest of English.
static const char *const _words[] = {
    "CQ",    "DE",    "K",    "73",    "88",   "TNX",  "FB",    "OM",    "YL",     "RST",  "QTH",
    "NAME",  "HR",    "UR",   "ES",    "WX",   "RIG",  "ANT",   "PSE",   "AGN",    "QSL",  "BK",
    "SK",    "GM",    "GA",   "GE",    "HW",   "CPY",  "THE",   "AND",   "FOR",    "YOU",  "THAT",
    "WITH",  "HAVE",  "THIS", "FROM",  "THEY", "WILL", "WOULD", "THERE", "THEIR",  "WHAT", "ABOUT",
    "WHICH", "WHEN",  "MAKE", "LIKE",  "TIME", "JUST", "KNOW",  "TAKE",  "PEOPLE", "YEAR", "GOOD",
    "SOME",  "COULD", "THEM", "OTHER", "THAN", "THEN", "NOW",   "LOOK",  "ONLY",   "COME", "OVER",
};

void koch_word(uint64_t *rng, char *out) {
    __ka_assert(rng && out, return );
    ka_copy_text(out, KOCH_GROUP_MAX + 1,
                 _words[koch_random(rng) % (sizeof _words / sizeof _words[0])]);
}

size_t koch_text_word(const char *text, size_t word, char *out) {
    __ka_assert(text && out, return 0);
    out[0] = '\0';
    size_t found = 0;
    const char *p = text;
    while (*p) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') p++;
        if (!*p) break;
        char piece[KOCH_GROUP_MAX + 1];
        size_t len = 0;
        for (; *p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r'; p++)
            if (koch_index(*p) >= 0 && len < KOCH_GROUP_MAX) piece[len++] = _upper(*p);
        if (len == 0) continue;
        piece[len] = '\0';
        if (found == word) memcpy(out, piece, len + 1);
        found++;
    }
    return found;
}
