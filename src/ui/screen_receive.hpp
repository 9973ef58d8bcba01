// src/ui/screen_receive.hpp: the receive screen. It lays out the preview with its detection
// square, a level meter, the live text and a status line over the receiver (model/receiver),
// starts and stops it, and in "Send + receive" mode also sends while it keeps receiving.
#pragma once
#include <cstddef>
#include <cstdint>
#include <allegro5/allegro.h>

#include "model/receiver.hpp"
#include "ui/screen_receive_state.hpp"

struct LUMIKEY_APP;

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
// The message field of a send + receive (the one Enter sends from and the soft keyboard
// serves); -1 when none is built.
int screen_receive_message_field(const LUMIKEY_APP *app);
// 1 when a send now goes out beside the receiver, keeping the camera and this screen, rather
// than through the play screen.
int screen_receive_duplex(const LUMIKEY_APP *app);
// The message field's text outlives every rebuild, of this screen or another; a rebuild of this
// screen itself keeps its focus too: keep before the old context goes, restore after the build.
void screen_receive_keep(LUMIKEY_APP *app);
void screen_receive_restore(LUMIKEY_APP *app);
// Going home ends the send + receive mode and forgets its message.
void screen_receive_at_home(LUMIKEY_APP *app);
// The back key: 1 when it closed the warning or stopped a send.
int screen_receive_back(LUMIKEY_APP *app);

// Chooses the source (stopping a receiver that runs) and rebuilds the screen.
void screen_receive_set_source(LUMIKEY_APP *app, int source);
// Sets the status line (kept in status, shown when the label exists).
void screen_receive_status(LUMIKEY_APP *app, const char *text);
// The sending status's text for a played text: cut at byte 44 of texts of 48 bytes or more.
void screen_receive_short_text(const char *text, char *out, size_t out_size);
