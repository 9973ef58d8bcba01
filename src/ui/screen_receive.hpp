// src/ui/screen_receive.hpp: the receive screen. Brightness samples of a light, delivered on
// the capture thread, feed a decoder under the receiver's lock; finished messages wait in a
// queue of four until the main loop saves them to the received list. The screen shows the
// preview with its detection square, a level meter, the live text and a status line, and in
// "Send + receive" mode also sends while it keeps receiving.
// src/ui/screen_receive.hpp: the receive screen. It lays out the preview with its detection
// square, a level meter, the live text and a status line over the receiver (model/receiver),
// starts and stops it, and in "Send + receive" mode also sends while it keeps receiving.
#pragma once
#include <cstddef>
#include <cstdint>
#include <allegro5/allegro.h>

#include "model/receiver.hpp"

struct LUMIKEY_APP;

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
};

void screen_receive_build(LUMIKEY_APP *app);
// Every loop pass while the screen is built: the receiver's pass (saving what it finished,
// noticing a source that went away) and the end of a duplex send.
void screen_receive_update(LUMIKEY_APP *app);
// What "Start" and "Stop" do: starts receiving (or explains why it cannot), or stops.
void screen_receive_start_stop(LUMIKEY_APP *app);
// Leaving the screen: a duplex send ends, the receiver stops (saving what it decoded) and the
// status is forgotten.
void screen_receive_leave(LUMIKEY_APP *app);
// Destroys the preview bitmap (it does not outlive a display).
void screen_receive_release(LUMIKEY_APP *app);
// Duplex: sends the message field's text; the playback start reports back through the others.
void screen_receive_send(LUMIKEY_APP *app);
void screen_receive_send_started(LUMIKEY_APP *app, int fresh);
void screen_receive_send_failed(LUMIKEY_APP *app);
// The back key: 1 when it closed the warning or stopped a send.
int screen_receive_back(LUMIKEY_APP *app);

// Chooses the source (stopping a receiver that runs) and rebuilds the screen.
void screen_receive_set_source(LUMIKEY_APP *app, int source);
// Sets the status line (kept in status, shown when the label exists).
void screen_receive_status(LUMIKEY_APP *app, const char *text);
// The sending status's text for a played text: cut at byte 44 of texts of 48 bytes or more.
void screen_receive_short_text(const char *text, char *out, size_t out_size);
