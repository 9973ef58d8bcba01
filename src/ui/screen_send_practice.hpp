// src/ui/screen_send_practice.hpp: send practice on the key screen. A target from the practice
// choices is shown; the user keys it with the key screen's pad, keys or paddles; the finished
// message is scored against the target and its timing measured from what the decoder read.
#pragma once
#include <cstddef>
#include <cstdint>

#include "model/practice.hpp"
#include "morse/fist.hpp"
#include "morse/koch.hpp"
#include "morse/sequencer.hpp"

struct LUMIKEY_APP;
struct DECODED_MESSAGE;

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

// Starts send practice with a new target from the practice choices and opens the key screen.
void send_practice_start(LUMIKEY_APP *app);
// A new target; the last result stays until the next message is keyed.
void send_practice_new_target(LUMIKEY_APP *app);
// The key screen finished a message (msg) on its decoder: the score, the timing and a session
// in practice.json.
void send_practice_take(LUMIKEY_APP *app, const DECODED_MESSAGE *msg);
// Scores keyed against target word by word (the n-th keyed word against the n-th target word,
// keyed words beyond the target all extra) into p's words, right and total.
void send_practice_score(SEND_PRACTICE *p, const char *target, const char *keyed);
// The hint for a measured fist, in the interface language, into out.
void send_practice_hint(const FIST_REPORT *f, char *out, size_t out_size);
// The hint for a send session kept in the log, into out.
void send_practice_session_hint(const PRACTICE_SESSION *s, char *out, size_t out_size);
// Adds the target, result and timeline panel to the key screen's window at (x, y, w, h).
void send_practice_add_panel(LUMIKEY_APP *app, int win, float x, float y, float w, float h);
// The height the panel wants at the current scale.
float send_practice_panel_height(const LUMIKEY_APP *app);
