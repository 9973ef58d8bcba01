// src/phone/vibrator.hpp: the vibration motor as a player channel and a live switch. The
// platform plays a whole on/off pattern by itself, so the channel only starts and cancels it;
// a worker thread makes the slow platform calls. The desktop has no vibrator.
#pragma once
#include <cstddef>
#include <cstdint>
#include "morse/player.hpp"
#include "morse/sequencer.hpp"

// The platform side of the vibrator. Any call may block; all are made from the worker only.
struct VIBRATOR_PLATFORM {
    int (*probe)(void *user); // 1 when there is a vibrator
    // Plays pattern once by itself after the call returns: a delay, then on and off durations
    // in ms, alternating. The pattern is only valid during the call.
    void (*play)(const uint32_t *pattern, size_t len, void *user);
    void (*on)(void *user);     // vibrates until cancelled
    void (*cancel)(void *user); // stops any vibration
    void *user;
};

// Installs the platform side (copied); null restores the desktop's, which has no vibrator.
// Forgets the probed availability. Only while no worker runs (before use or after shutdown).
void vibrator_set_platform(const VIBRATOR_PLATFORM *platform);

// 1 when there is a vibrator; probed once, the answer logged once.
int vibrator_available();
// Turns seq into the pattern and fills channel ("vibrate", lead lead_ms). 1 when ready; 0 with
// channel untouched when unavailable, seq is empty or memory ran out. Call before the player
// closes seq, so that the pattern ends with the last element.
int vibrator_prepare(const MORSE_SEQUENCE *seq, uint32_t lead_ms, PLAYER_CHANNEL *channel);
// Hand keying: vibrates (non-zero) or stops; nothing when unavailable.
void vibrator_live(int on);
// Stops the motor, ends the worker (waiting for a call under way) and frees the pattern.
void vibrator_shutdown();
