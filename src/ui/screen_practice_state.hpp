// src/ui/screen_practice_state.hpp: what the practice screen keeps in the app record across its
// rebuilds. State only, for the record to hold: the screen's functions are in ui/screen_practice.
#pragma once
#include <cstddef>
#include <cstdint>

#include "model/practice.hpp"
#include "morse/koch.hpp"

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
