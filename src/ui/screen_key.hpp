// src/ui/screen_key.hpp: the key screen. The user keys Morse on a pad (a straight key, or two
// iambic paddles driving the keyer thread) with the pointer, touches or the keyboard; the
// edges go to the timing decoder, whose live text is shown, and a finished message can be kept,
// played or turned into a preset.
#pragma once
#include <cstdint>
#include <allegro5/allegro.h>

#include "morse/decoder.hpp"

struct LUMIKEY_APP;

// How the pad is used; stored as SETTINGS.key_mode.
enum KEY_MODE {
    KEY_MODE_SEND = 0,
    KEY_MODE_TRANSCRIBE = 1,
    KEY_MODE_PADDLES = 2,
};

// Keyboard keys that key (bits of KEYPAD.kb_keys). Space is the straight key; Left Ctrl and
// Right Ctrl are the dit and dah paddles, as USB paddle adapters send them, and [ and ] a second
// pair for keyboards where Ctrl is awkward.
#define KEYPAD_KB_SPACE 1
#define KEYPAD_KB_LCTRL 2
#define KEYPAD_KB_RCTRL 4
#define KEYPAD_KB_LBRACKET 8
#define KEYPAD_KB_RBRACKET 16

// The key screen's state (the app record's `key`). Survives GUI rebuilds.
struct KEYPAD {
    MORSE_DECODER *decoder; // made on first build, on a mode change and on Clear
    KEY_MODE mode;
    int down;             // the straight key is down (pointer or keyboard)
    DECODED_MESSAGE last; // the last finished message
    int has_last;
    int screen_engaged;               // this screen asked for maximum brightness
    int sidetone_on;                  // this screen started the sidetone (read by the keyer thread)
    int kept;                         // last went to the history or the received list
    int dit, dah;                     // paddles held on the pad (pointer or touch)
    float pad_x, pad_y, pad_w, pad_h; // the pad as last drawn, for hit-testing touches
    int touch_id[4];                  // touches holding a paddle; -1 free
    int touch_paddle[4];              // 0 dit side, 1 dah side
    int keyer_down;                   // the keyer's output; written by the keyer thread
    int pointer_down;                 // the pointer holds the straight key
    int kb_keys;                      // keying keys held on the keyboard (KEYPAD_KB_*)
};

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
