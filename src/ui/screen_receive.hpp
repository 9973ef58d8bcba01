// src/ui/screen_receive.hpp: the receive screen. Brightness samples of a light, delivered on
// the capture thread, feed a decoder under the receiver's lock; finished messages wait in a
// queue of four until the main loop saves them to the received list. The screen shows the
// preview with its detection square, a level meter, the live text and a status line, and in
// "Send + receive" mode also sends while it keeps receiving.
#pragma once
#include <cstddef>
#include <cstdint>
#include <pthread.h>
#include <allegro5/allegro.h>

#include "morse/decoder.hpp"

struct LUMIKEY_APP;

constexpr size_t RX_QUEUE_MAX = 4;
// Where the receiver's samples come from: a camera's brightness frames, or the tone the sound
// input hears.
enum RX_SOURCE { RX_SOURCE_CAMERA = 0, RX_SOURCE_MIC = 1 };
constexpr size_t RX_TRACE_MAX = 1800;

// The receiver's state in the application record. lock guards decoder, queue, nqueue, the
// trace fields and tracing between the capture thread and the main thread; the rest is the
// main thread's.
struct RECEIVER {
    pthread_mutex_t lock;
    MORSE_DECODER *decoder; // while receiving, else null
    DECODED_MESSAGE queue[RX_QUEUE_MAX];
    int nqueue;
    int active;             // the camera runs and feeds the decoder
    int waiting_permission; // camera permission asked and not answered yet
    ALLEGRO_EVENT_SOURCE *wake;
    ALLEGRO_BITMAP *preview_bmp;
    float box_x, box_y, box_w, box_h; // the preview's rectangle at its last draw
    int status_label;
    int start_button;
    char last_saved[1056]; // the line under the live text about the last message kept
    char last_text[512];   // that message
    int last_unsaved;      // its save failed: the line says so until a retry writes it
    float trace_t[RX_TRACE_MAX];
    float trace_luma[RX_TRACE_MAX];
    size_t trace_count; // samples since the trace was cleared; sample n in slot n % RX_TRACE_MAX
    int tracing;
    int duplex;
    int sending;
    int msg_field;
    int send_button;
    int warn_win;
    char msg_text[512];
    char status[160];
    int source; // RX_SOURCE, chosen on the screen; the camera unless the user picks the microphone
};

// Creates the lock and sets the widget ids to none; once, at start-up.
int app_receiver_init(LUMIKEY_APP *app);
// Destroys the lock; at shutdown, after app_receiver_stop.
void app_receiver_destroy(LUMIKEY_APP *app);

void screen_receive_build(LUMIKEY_APP *app);
// Every loop pass while the screen is built: saves queued messages, notices a camera that went
// away and the end of a duplex send.
void screen_receive_update(LUMIKEY_APP *app);
// What "Start" and "Stop" do: starts receiving (or explains why it cannot), or stops.
void screen_receive_start_stop(LUMIKEY_APP *app);
// Leaving the screen: a duplex send ends, the receiver stops (saving what it decoded) and the
// status is forgotten.
void screen_receive_leave(LUMIKEY_APP *app);
// Stops the camera and the decoder and saves what was decoded, the message in progress too.
void app_receiver_stop(LUMIKEY_APP *app);
// Destroys the preview bitmap (it does not outlive a display).
void screen_receive_release(LUMIKEY_APP *app);
// Duplex: sends the message field's text; the playback start reports back through the others.
void screen_receive_send(LUMIKEY_APP *app);
void screen_receive_send_started(LUMIKEY_APP *app, int fresh);
void screen_receive_send_failed(LUMIKEY_APP *app);
// The back key: 1 when it closed the warning or stopped a send.
int screen_receive_back(LUMIKEY_APP *app);

// The capture sink: one frame's brightness at t_ms (capture clock). Capture thread.
void screen_receive_sink(double t_ms, float luma, void *user);
// Chooses the source (stopping a receiver that runs) and rebuilds the screen.
void screen_receive_set_source(LUMIKEY_APP *app, int source);
// Sets the status line (kept in status, shown when the label exists).
void screen_receive_status(LUMIKEY_APP *app, const char *text);
// Writes the trace of the samples since the last dump into the save folder, headed by text,
// and clears it; nothing unless tracing with samples. The tx column comes from the screen
// light's edges. 1 when a file was written.
int screen_receive_dump_trace(LUMIKEY_APP *app, const char *text);
// Formats the trace into out (out_size bytes, rows that do not fit are dropped); t0_mono_ns is
// the capture clock's origin (negative: unknown). Call with the lock held. The bytes written.
size_t screen_receive_format_trace(LUMIKEY_APP *app, const char *text, int64_t t0_mono_ns,
                                   char *out, size_t out_size);
// The sending status's text for a played text: cut at byte 44 of texts of 48 bytes or more.
void screen_receive_short_text(const char *text, char *out, size_t out_size);
