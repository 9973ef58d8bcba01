// src/model/practice.hpp: what the learner chose on the practice screen, every character's
// record of being copied and taken for others, and the sessions practised, oldest first; with
// their file "practice.json".
#pragma once
#include <cstddef>
#include <cstdint>

#include "morse/koch.hpp"

// Sessions kept: nearly three years of one a day. Formatted, a full file stays near 1 MB.
#define PRACTICE_MAX_SESSIONS 1000

enum PRACTICE_MODE {
    PRACTICE_COPY = 0,    // groups sent and typed back
    PRACTICE_INSTANT = 1, // one character at a time, answered against the clock
    PRACTICE_SEND = 2,    // a target keyed by hand and scored, its timing measured
};

// The timing of a keyed target (a FIST_REPORT kept in whole numbers): proportions in
// hundredths of a unit, speeds in WPM.
struct PRACTICE_FIST {
    uint32_t fault; // FIST_FAULT
    uint32_t wpm, start_wpm, end_wpm;
    uint32_t uneven_pct;                           // spread of the marks, percent
    uint32_t dash_x100;                            // dash against the dot
    uint32_t element_x100, letter_x100, word_x100; // the gaps, in units
};

// One character's record over all sessions, by Koch index.
struct PRACTICE_CHAR {
    uint32_t sent;
    uint32_t right;
    uint32_t taken_for[KOCH_CHARS]; // typed as that character instead
};

struct PRACTICE_SESSION {
    int64_t when; // start, seconds since the Unix epoch (UTC)
    int mode;     // PRACTICE_MODE
    int source;   // KOCH_SOURCE
    int lesson;
    uint32_t wpm, effective_wpm;
    uint32_t right, total; // characters copied right, of characters counted
    uint32_t seconds;      // time spent
    uint32_t reaction_ms;  // instant recognition: mean time to the right key, 0 otherwise
    uint32_t char_sent[KOCH_CHARS];
    uint32_t char_right[KOCH_CHARS];
    PRACTICE_FIST fist; // PRACTICE_SEND only
};

struct PRACTICE_LOG {
    // The learner's choices, restored on the next visit
    int lesson;             // 1..KOCH_LESSONS
    uint32_t wpm;           // character speed, 5..50
    uint32_t effective_wpm; // Farnsworth speed, 5..wpm
    uint32_t group_len;     // 1..10
    uint32_t minutes;       // session length, 1..10
    int source;             // KOCH_SOURCE
    int mode;               // PRACTICE_MODE
    uint32_t goal_ms;       // instant recognition goal, 100..5000
    int show_light;         // the screen light follows the sound
    PRACTICE_CHAR chars[KOCH_CHARS];
    PRACTICE_SESSION *sessions; // PRACTICE_MAX_SESSIONS slots; oldest first
    size_t count;
};

// One send session as the progress view charts it.
struct PRACTICE_SEND_POINT {
    int64_t when;
    double score; // right of total, 0..1; -1 when nothing was counted
    double wpm;   // the keyed speed
    // How far the worst of the dash ratio and the three gaps is from the standard, either way
    // (0.5: half as long again, or two thirds as long); 0 when none was measured.
    double off;
    int fault; // FIST_FAULT
};

// The send sessions of the log, at most max of them, the newest ones, oldest first; their count.
size_t practice_send_history(const PRACTICE_LOG *log, PRACTICE_SEND_POINT *out, size_t max);

// A log with the defaults (lesson 1, 20/10 wpm, groups of 5, 5 minutes, Koch groups, copying,
// goal 1000 ms, light off) and no sessions, or null when out of memory.
PRACTICE_LOG *practice_new();
// Frees the log and nulls *log; null-safe.
void practice_free(PRACTICE_LOG **log);
// Brings every choice into its range.
void practice_sanitize(PRACTICE_LOG *log);
// Counts one scored group into the characters' records and into session (may be null).
void practice_count(PRACTICE_LOG *log, const KOCH_SCORE *score, PRACTICE_SESSION *session);
// Appends a finished session; a full log drops its oldest. 0 for a null argument.
int practice_add_session(PRACTICE_LOG *log, const PRACTICE_SESSION *session);
// The "practice.json" text (caller frees), or null.
char *practice_to_json(const PRACTICE_LOG *log);
// Loads a "practice.json" text: bad members are left at their defaults, bad sessions skipped.
// 1, or 0 (logged) when it is not a practice document; the log is then untouched.
int practice_from_json(PRACTICE_LOG *log, const char *json);
