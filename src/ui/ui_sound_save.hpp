// src/ui/ui_sound_save.hpp: the popup that saves a text as a sound file in the music folder,
// in the format the user picks, and offers the file's path to copy.
#pragma once
#include <cstdint>

#include "morse/sequencer.hpp"

struct LUMIKEY_APP;

// The popup's state (the app record's `sound_save`); the text lives until the next open.
struct SOUND_SAVE_POPUP {
    int win, title, status, copy; // widget ids of the current build; -1 when not built
    char *text;                   // what is saved (owned)
    MORSE_TIMING timing;
    uint32_t effective_wpm;
    char path[1024]; // the file last saved, "" before the first
};

// Adds the (closed) popup to the screen being built; the screen's build calls it.
void ui_sound_save_build(LUMIKEY_APP *app);
// Opens the popup for text at timing, gaps spread to effective_wpm (0: none). The settings'
// tone is used. Nothing is written until a format is chosen.
void ui_sound_save_open(LUMIKEY_APP *app, const char *text, const MORSE_TIMING *timing,
                        uint32_t effective_wpm);
// Saves the popup's text now in format (a SOUND_FORMAT) and shows the result in the popup: the
// path, or what stopped it in the user's language. 1 when a file was written.
int ui_sound_save_to(LUMIKEY_APP *app, int format);
// Closes the popup when it is open (the back key); 1 when it was.
int ui_sound_save_close(LUMIKEY_APP *app);
// Frees the text (shutdown).
void ui_sound_save_release(LUMIKEY_APP *app);
