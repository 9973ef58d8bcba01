// src/morse/player.hpp: plays one Morse sequence to up to eight outputs at once, each called its
// own lead time early, on a thread of its own and on absolute monotonic deadlines.
#pragma once
#include <cstddef>
#include <cstdint>

#include "morse/sequencer.hpp"

// Most outputs one send can drive at once.
constexpr size_t PLAYER_MAX_CHANNELS = 8;
// Longest lead a channel can ask for; larger leads are cut to it.
constexpr uint32_t PLAYER_MAX_LEAD_MS = 1000;

// One output of a send: its callbacks run on the player thread, lead_ms before each event's
// time, one at a time and never with the player's lock held. Every callback may be null. A
// callback must be short and must not call player_start, player_stop or player_free.
struct PLAYER_CHANNEL {
    const char *name; // "screen", "sound", "torch" or "vibrate"; only for the reader
    uint32_t lead_ms; // at most PLAYER_MAX_LEAD_MS
    // Before the first event of repetition rep; start_ns is when the repetition starts in
    // sequence time (monotonic clock, not shifted by the lead).
    void (*on_rep_start)(const MORSE_SEQUENCE *seq, uint32_t rep, uint64_t start_ns, void *user);
    // For every event index of repetition rep.
    void (*on_event)(const MORSE_SEQUENCE *seq, size_t index, uint32_t rep, void *user);
    // Once at the end: finished is 1 for the natural end, 0 when stopped.
    void (*on_stop)(int finished, void *user);
    void *user;
};

// Opaque: the record lives in player.cpp. Start, stop and free come from the player's owner (one
// thread); the queries below may also be asked from a callback. Each channel's user data must
// stay valid until player_stop, player_start or player_free has joined the thread.
struct MORSE_PLAYER;

// A new idle player, or null when memory ran out.
MORSE_PLAYER *player_new();
// Plays seq (once, or looped until stopped) to channels; takes ownership of seq in every case.
// Stops any earlier playback first. 1 when playing, 0 when there was nothing to play or the
// thread could not start.
int player_start(MORSE_PLAYER *player, MORSE_SEQUENCE *seq, int loop,
                 const PLAYER_CHANNEL *channels, size_t channel_count);
// Ends playback and waits for the thread; on return every channel's on_stop has run. Keeps the
// sequence so it can still be drawn.
void player_stop(MORSE_PLAYER *player);
// Stops, frees the sequence and the player, and nulls the caller's pointer; null-safe.
void player_free(MORSE_PLAYER **player);
// 1 from a successful start until the thread has run its on_stop calls; safe to poll from any
// thread.
int player_is_playing(const MORSE_PLAYER *player);
// The held sequence (also after the end, until the next start), or null.
const MORSE_SEQUENCE *player_sequence(const MORSE_PLAYER *player);
// 1 when the current or last playback loops.
int player_is_looping(const MORSE_PLAYER *player);
// While playing: the repetition and the milliseconds into it (at most the sequence's total;
// 0 during the lead-in). Either pointer may be null. 0, writing nothing, when not playing.
int player_position(const MORSE_PLAYER *player, uint32_t *rep_elapsed_ms, uint32_t *rep);
