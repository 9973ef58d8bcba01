// src/ui/screen_receive_state.hpp: what the receive screen keeps in the app record across its
// rebuilds. State only, for the record to hold: the screen's functions are in ui/screen_receive.
#pragma once
#include <allegro5/allegro.h>

#include "phone/video_input.hpp"

// The screen's own state in the application record, the main thread's.
struct RECEIVE_SCREEN {
    ALLEGRO_BITMAP *preview_bmp;
    float box_x, box_y, box_w, box_h; // the preview's rectangle at its last draw
    int status_label;
    int start_button;
    int duplex;
    int sending;
    int msg_field;
    int send_button;
    int warn_win;
    char msg_text[512];
    char status[160];
    VIDEO_DEVICE webcams[8]; // those the webcam row offers, as found at its build
    int nwebcams;
};
