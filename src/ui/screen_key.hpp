// src/ui/screen_key.hpp: the key screen. The user keys Morse on a pad (a straight key, or two
// iambic paddles driving the keyer thread) with the pointer, touches or the keyboard; the
// edges go to the timing decoder, whose live text is shown, and a finished message can be kept,
// played or turned into a preset.
#pragma once
#include <cstdint>
#include <allegro5/allegro.h>

#include "ui/screen_key_state.hpp"

struct LUMIKEY_APP;

// Builds the window; makes the decoder on first use and starts the keyer in paddles mode.
void screen_key_build(LUMIKEY_APP *app);
// Every loop pass while the screen is built: keyer edges to the decoder, its tick, and a
// finished message into `last`.
void screen_key_update(LUMIKEY_APP *app);
// Touch begin, end and cancel while the screen is shown: multi-touch paddles. 1 when used.
int screen_key_touch(LUMIKEY_APP *app, const ALLEGRO_EVENT *ev);
// Keyboard keying while the screen is shown, before the GUI sees the event. 1 when the event
// keyed (or was the auto-repeat of a keying key): the GUI must not get it, so keying never
// types. Losing the window's focus releases whatever is held (and returns 0: the GUI needs the
// event too).
int screen_key_keyboard(LUMIKEY_APP *app, const ALLEGRO_EVENT *ev);
// The back key: from send practice, back to the practice screen (1); else 0.
int screen_key_back(LUMIKEY_APP *app);
// Leaving the screen releases the key and ends send practice.
void screen_key_leave(LUMIKEY_APP *app);
// Releases keyer, straight key, sidetone, flashlight, vibrator and brightness.
void app_key_release(LUMIKEY_APP *app);
