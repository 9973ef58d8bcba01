// src/ui/screen_send_practice.hpp: send practice on the key screen. A target from the practice
// choices is shown; the user keys it with the key screen's pad, keys or paddles; the finished
// message is scored against the target and its timing measured from what the decoder read.
#pragma once
#include <cstddef>
#include <cstdint>

#include "model/practice.hpp"
#include "morse/fist.hpp"
#include "ui/screen_send_practice_state.hpp"

struct LUMIKEY_APP;
struct DECODED_MESSAGE;

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
