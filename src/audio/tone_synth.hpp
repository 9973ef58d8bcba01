// src/audio/tone_synth.hpp: a whole sequence rendered into one buffer of sine tone, silent in
// the gaps and with raised-cosine edges, so playback needs no real-time synthesis.
#pragma once
#include <cstddef>
#include <cstdint>
#include "morse/sequencer.hpp"

// Frames in ms milliseconds, rounded to nearest: (rate * ms + 500) / 1000 in 64 bits. Every time
// to frame conversion of the renderer uses it, so element edges land on predictable frames.
size_t tone_ms_to_frame(uint32_t ms, uint32_t sample_rate);

// Renders seq as mono 16-bit PCM at sample_rate (8000 to 192000) with a tone of hz (below half
// the rate). amplitude is clamped to 0..1 of full scale; ramp_ms is the edge length, shortened
// to a quarter of elements too short for two full ramps. On success *out is a new buffer the
// caller frees (at least one frame, zeroed) and *frames its length in frames (0 when seq is
// empty); returns 1. Returns 0 with nothing allocated on bad arguments or a failed allocation.
int tone_render(const MORSE_SEQUENCE *seq, uint32_t sample_rate, uint32_t hz, float amplitude,
                uint32_t ramp_ms, int16_t **out, size_t *frames);
