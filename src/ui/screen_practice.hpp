// src/ui/screen_practice.hpp: the practice screen, where a learner copies Morse by ear: groups
// of the Koch lesson (or the weakest letters, callsigns, words, the user's presets) are sent as
// sound, typed back and scored at once; or single characters are answered against the clock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <allegro5/allegro.h>

#include "ui/screen_practice_state.hpp"

struct LUMIKEY_APP;

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
