// src/main/app.hpp: the one application record every screen and operation works on, and the
// entry point that starts, runs and shuts the program down.
#pragma once
#include <cstdint>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include "support/ka_gui.hpp"

#define LUMIKEY_VERSION_TEXT "0.2.5"

enum APP_SCREEN {
    SCREEN_HOME = 0,
    SCREEN_PLAY = 1,
    SCREEN_EDIT = 2,
    SCREEN_HISTORY = 3,
    SCREEN_OPTIONS = 4,
    SCREEN_RECEIVE = 5,
    SCREEN_RECEIVED = 6,
    SCREEN_KEY = 7,
};

enum KEY_MODE {
    KEY_MODE_SEND = 0,
    KEY_MODE_TRANSCRIBE = 1,
    KEY_MODE_PADDLES = 2,
};

// Type of the user event worker threads emit on wake_source: "something changed, draw".
#define LUMIKEY_WAKE_EVENT ALLEGRO_GET_EVENT_TYPE('L', 'K', 'W', 'K')

// The whole program's state, owned by the main thread. Zero-filled at start; fields whose
// types belong to modules not yet in the program join the record with those modules.
struct LUMIKEY_APP {
    // Display, events and drawing
    ALLEGRO_DISPLAY *display;
    ALLEGRO_EVENT_QUEUE *queue;
    ALLEGRO_EVENT_SOURCE wake_source;
    ALLEGRO_TIMER *anim_timer;
    ALLEGRO_FONT *font;
    ALLEGRO_FONT *font_big;
    KA_GUI_CTX *gui;
    float ui_scale;
    int disp_w, disp_h;
    int display_halted;
    int needs_rebuild;
    int redraw;
    double redraw_until;
    int running;
    APP_SCREEN screen;

    // Sending
    char play_text[1024];
    int play_requested;
    int stop_requested;

    // Soft keyboard, screen lock and background work
    int kb_overlap;
    int keep_on;
    int play_bg;
    int bg_kinds;
    double kb_poll_time;
    int play_from_message;
    int save_after_stop;
    int keyboard_shown;
    int focus_was_text;
    int tapped;
    int pointer_down;

    // Screen state
    int settings_dirty;
    int palette_win;
    double event_time;
    APP_SCREEN built_screen;
    int wake_source_ready; // wake_source was initialised and must be destroyed
};

// v base pixels at the current UI scale, rounded to whole pixels.
float app_px(const LUMIKEY_APP *app, float v);
// An Allegro colour from 0xRRGGBB.
ALLEGRO_COLOR app_rgb(uint32_t rgb);
// Switches screens; the GUI is rebuilt in the same loop pass.
void app_set_screen(LUMIKEY_APP *app, APP_SCREEN screen);
// Starts, runs and shuts the program down: 0 after a normal quit, 1 after a failed start-up.
int app_main(int argc, char **argv);
