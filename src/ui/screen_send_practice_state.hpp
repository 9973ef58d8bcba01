// src/ui/screen_send_practice_state.hpp: what send practice keeps in the app record: the target,
// the last keyed message's score and the runs its timing was measured from. State only, for the
// record to hold: the functions are in ui/screen_send_practice.
#pragma once
#include <cstddef>
#include <cstdint>

#include "morse/fist.hpp"
#include "morse/koch.hpp"
#include "morse/sequencer.hpp"

// Words of a target, and the runs kept of one keyed message.
constexpr size_t SEND_TARGET_WORDS = 3;
constexpr size_t SEND_MAX_RUNS = 1024;

struct SEND_PRACTICE {
    int active; // the key screen shows the target
    char target[SEND_TARGET_WORDS * (KOCH_GROUP_MAX + 1)];
    double started_at; // Allegro time the target was shown
    // The last keyed message, scored word by word against the target
    int has_result;
    char keyed[256];
    KOCH_SCORE words[SEND_TARGET_WORDS + 4];
    size_t nwords;
    uint32_t right, total;
    FIST_REPORT fist;
    MORSE_STATE kinds[SEND_MAX_RUNS];
    double ms[SEND_MAX_RUNS];
    size_t nruns;
};
