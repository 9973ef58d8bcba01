// src/ui/screen_practice.hpp: the practice screen, where a learner copies Morse by ear: groups
// of the Koch lesson (or the weakest letters, callsigns, words, the user's presets) are sent as
// sound, typed back and scored at once; or single characters are answered against the clock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <allegro5/allegro.h>

#include "model/practice.hpp"
#include "morse/koch.hpp"

struct LUMIKEY_APP;

enum PRACTICE_PHASE {
    PRACTICE_SETUP = 0,  // the choices, before a session
    PRACTICE_LISTEN = 1, // a group is sent or waits for its answer
    PRACTICE_PAUSE = 2,  // scored; the next group follows shortly
    PRACTICE_DONE = 3,   // the session's result, with the choices again
};

// What the practice screen keeps across its rebuilds (a session lives through a resize).
struct PRACTICE_SCREEN {
    int phase;
    char group[KOCH_GROUP_MAX + 1];  // sent, waiting for its answer
    char answer[KOCH_GROUP_MAX + 1]; // typed so far
    char scored[KOCH_GROUP_MAX + 1]; // the group last scored, and its score
    KOCH_SCORE score;
    int has_score;
    PRACTICE_SESSION session;
    double started_at;     // Allegro time of the session's start
    double next_at;        // when the next group goes out (PRACTICE_PAUSE)
    double heard_end;      // when the group's last element is heard to end
    uint32_t reaction_ms;  // instant recognition: the last right answer's time, 0 for none
    uint32_t reactions;    // right answers timed this session
    uint64_t reaction_sum; // their total, ms
    int groups;            // groups scored this session
    int offer_next;        // the session passed: the next lesson is offered
    int end_requested;     // "End session" was pressed; the tick ends it
    uint64_t rng;
    int status_label; // widget ids of the current build
    int step_labels[6];
};

// Builds the choices (before and after a session) or the session's view.
void screen_practice_build(LUMIKEY_APP *app);
// Once per loop pass: sends the next group when due, ends the session when its time is up.
void screen_practice_tick(LUMIKEY_APP *app);
// Typed characters of an answer (key chars of the Koch characters, Backspace, Enter, space)
// while a session runs; 1 when the event was the answer's.
int screen_practice_keyboard(LUMIKEY_APP *app, const ALLEGRO_EVENT *ev);
// The back key during a session ends it (1); otherwise 0.
int screen_practice_back(LUMIKEY_APP *app);
// Leaving the screen ends a running session, keeping what was scored.
void screen_practice_leave(LUMIKEY_APP *app);
// A group (or callsign, word) from the log's source and lesson into out (KOCH_GROUP_MAX + 1).
void screen_practice_make_group(LUMIKEY_APP *app, char *out);
// Starts a session with the log's choices (also the "Start" button).
void screen_practice_start(LUMIKEY_APP *app);
