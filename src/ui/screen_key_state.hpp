// src/ui/screen_key_state.hpp: what the key screen keeps in the app record across its rebuilds.
// State only, for the record to hold: the screen's functions are in ui/screen_key.
#pragma once
#include "model/settings.hpp"
#include "morse/decoder.hpp"

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
    // The one mode the screen works in. SETTINGS.key_mode only stores it: read into here when
    // the decoder is first made, written back when the user picks another mode.
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
    int pointer_on_pad;               // the pointer holds the straight key (not app->pointer_down)
    int kb_keys;                      // keying keys held on the keyboard (KEYPAD_KB_*)
};
