// src/audio/tone.hpp: the audio system's start and end, and the sound channel of a send: the
// whole message pre-rendered as one sample that the player restarts at every repetition.
#pragma once
#include <cstdint>
#include "morse/player.hpp"
#include "morse/sequencer.hpp"

// The sent tone and the sidetone sound alike: same level (of full scale) and same ramps.
constexpr float TONE_AMPLITUDE = 0.6f;
constexpr uint32_t TONE_RAMP_MS = 5;

// The default mixer's sample rate, or 44100 when there is none.
uint32_t tone_mixer_rate();
// Brings the audio system up once. 1 when sound is available (also when it already was).
int tone_audio_init();
// 1 after a successful tone_audio_init, until tone_audio_shutdown.
int tone_available();
// Stops the sidetone and the message, then takes the audio system down.
void tone_audio_shutdown();
// Renders seq with a tone of hz, builds the sample and fills channel ("sound", lead latency_ms).
// 1 when ready; 0 without sound or on any failure, with channel left untouched so the caller
// sends without sound. Drops the previous message first. Call before the player closes seq.
int tone_prepare(const MORSE_SEQUENCE *seq, uint32_t hz, uint32_t latency_ms,
                 PLAYER_CHANNEL *channel);
// Stops and frees the prepared message; safe at any time on the main thread, but only while
// no player is using the channel.
void tone_release();
