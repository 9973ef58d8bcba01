// src/model/receiver.hpp: Morse received from a source that runs on its own thread (a camera's
// brightness frames, the microphone's key edges). The source's sink feeds a decoder under the
// receiver's lock and queues the messages it finishes; the main thread takes the queue, adds
// each message to the received list and has it saved, and writes a trace of the samples with
// each one when tracing. Starting and stopping the source is the receiver's too, so a screen
// only lays out, draws and asks.
//
// A new source plugs in with a value of RX_SOURCE, a start step in receiver_start and a sink
// that calls the decoder the way receiver_light_sink or receiver_sound_sink does.
#pragma once
#include <cstddef>
#include <cstdint>
#include <pthread.h>
#include <allegro5/allegro.h>

#include "audio/mic.hpp"
#include "model/received.hpp"
#include "morse/decoder.hpp"

// Where the receiver's samples come from: a camera's brightness frames, or the tone the sound
// input hears.
enum RX_SOURCE { RX_SOURCE_CAMERA = 0, RX_SOURCE_MIC = 1 };
constexpr size_t RX_TRACE_MAX = 1800;
// The most of the sender's light edges a trace matches its samples against.
constexpr size_t RX_TX_EDGES_MAX = 512;

// What the receiver asks of its owner, on the main thread.
struct RECEIVER_HOOKS {
    // msg was added to the received list: write the list, show it. May be null.
    void (*saved)(const DECODED_MESSAGE *msg, void *user);
    // The sender's own light for the traces' tx column: up to max on/off edges, oldest first,
    // times on CLOCK_MONOTONIC; the number written. May be null (no edges).
    size_t (*tx_edges)(uint64_t *ns, uint8_t *on, size_t max, void *user);
    void *user;
};

// How receiver_start starts a source.
struct RECEIVER_START {
    int source;                 // RX_SOURCE
    uint32_t eom_timeout_ms;    // the end-of-message silence
    int tracing;                // keep the samples for a trace written with each message
    ALLEGRO_EVENT_SOURCE *wake; // emitted after every sample; may be null
    RECEIVED_LIST *received;    // where finished messages are added
    // The camera's: frame rate, side of the detection square (0..1 of the frame), which lens,
    // and whether a flashlight in use stays on (a send while receiving keeps its own).
    int fps;
    float roi_side;
    int front;
    int keep_torch;
};

// What receiver_start reports.
enum {
    RX_STARTED = 1,       // the source runs (the microphone may still be connecting)
    RX_FAILED = 0,        // the source could not be opened (logged)
    RX_NO_MEMORY = -1,    // no decoder could be made; nothing started
    RX_UNSUPPORTED = -2,  // this build has no such source (the desktop has no camera)
    RX_ASKED = -3,        // the camera's permission was asked; start again once answered
    RX_NO_PERMISSION = -4 // the camera's permission was refused
};

// What receiver_poll reports when the source went away (the receiver has stopped).
enum { RX_RUNNING = 0, RX_LOST_NO_INPUT = 1, RX_LOST_SOUND = 2, RX_LOST_CAMERA = 3 };

// lock guards decoder, queue, nqueue, queue_cap, the trace fields and tracing between the
// source's thread and the main thread; the rest is the main thread's.
struct RECEIVER {
    pthread_mutex_t lock;
    MORSE_DECODER *decoder; // while receiving, else null
    // Finished messages, oldest first; the queue grows rather than leave one with the decoder,
    // where the next would run into it.
    DECODED_MESSAGE *queue;
    size_t nqueue, queue_cap;
    DECODED_MESSAGE *taken; // the main thread's side of the queue, swapped with it
    size_t taken_cap;
    int active;             // a source runs and feeds the decoder
    int waiting_permission; // camera permission asked and not answered yet
    int source;             // RX_SOURCE: the one chosen, and that receiver_start started
    ALLEGRO_EVENT_SOURCE *wake;
    RECEIVED_LIST *received;
    float trace_t[RX_TRACE_MAX];
    float trace_luma[RX_TRACE_MAX];
    size_t trace_count; // samples since the trace was cleared; sample n in slot n % RX_TRACE_MAX
    int tracing;
    int64_t mic_t0_ns; // when the microphone's clock began, on CLOCK_MONOTONIC
    // The microphone's reader with hindsight (its own thread, while the microphone runs): the
    // live text and the messages saved are its readings of the sound, the decoder's only
    // where it has none. Null for the camera, or when it could not be started.
    struct RX_EAR *ear;
    char last_saved[sizeof(DECODED_MESSAGE::text)]; // the text of the last message saved
    RECEIVER_HOOKS hooks;
};

// Creates the lock and the queue; once, at start-up. 1 on success.
int receiver_init(RECEIVER *rx, const RECEIVER_HOOKS *hooks);
// Frees what receiver_init made; at shutdown, after receiver_stop.
void receiver_destroy(RECEIVER *rx);
// Starts the source of cfg with a fresh decoder, queue and trace: one of the RX_ results.
int receiver_start(RECEIVER *rx, const RECEIVER_START *cfg);
// Stops the source and the decoder and saves what was decoded, the message in progress too.
// Harmless when nothing runs.
void receiver_stop(RECEIVER *rx);
// The main loop's pass: notices a source that went away (and stops), then saves the queued
// messages. One of RX_RUNNING and RX_LOST_.
int receiver_poll(RECEIVER *rx);

// The sinks, on the source's thread; user is the RECEIVER. One brightness sample at t_ms of
// the capture clock (the camera's CAPTURE_SINK):
void receiver_light_sink(double t_ms, float luma, void *user);
// One block of the microphone's key edges (its MIC_SINK):
void receiver_sound_sink(const MIC_BLOCK *block, void *user);

// The message in progress (empty while none is), for the live text. From the microphone it is
// the reading with hindsight, empty while held back until the speed is known.
void receiver_live(RECEIVER *rx, DECODED_MESSAGE *out);
// The decoder's status for the meter, the sound's levels in place of the light's for the
// microphone; zero while stopped.
void receiver_status(RECEIVER *rx, DECODER_STATUS *st);

// Writes the trace of the samples since the last dump into the save folder, headed by text,
// and clears it; nothing unless tracing with samples. 1 when a file was written.
int receiver_dump_trace(RECEIVER *rx, const char *text);
// Formats the trace into out (out_size bytes, rows that do not fit are dropped); t0_mono_ns is
// the capture clock's origin (negative: unknown, tx -1). Call with the lock held. The bytes
// written.
size_t receiver_format_trace(RECEIVER *rx, const char *text, int64_t t0_mono_ns, char *out,
                             size_t out_size);
