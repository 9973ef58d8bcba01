// src/audio/mic.hpp: Morse from the microphone. Captures the default sound input through the
// sound server (PulseAudio, or PipeWire's PulseAudio service), runs the tone detector on its
// own thread, and hands the key edges it finds to a sink, once per block of sound, the way the
// camera hands brightness samples to the receive screen's sink.
//
// The receiver (model/receiver) uses it as it uses the camera: receiver_sound_sink feeds the
// block to the decoder through mic_feed under the receiver's lock and queues what it finishes;
// mic_state() < 0 on the main loop's pass stops it; mic_meter supplies the meter's levels; and
// mic_stop is called without that lock held, since it waits for the capture thread, whose sink
// takes it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "morse/decoder.hpp"
#include "morse/tone_detect.hpp"

// The capture format asked of the sound server, and the block handed to the sink.
constexpr uint32_t MIC_RATE = 8000;
constexpr uint32_t MIC_BLOCK_MS = 10;

// One key edge: the tone came on (down 1) or went off (0) at t_ms of the capture clock.
struct MIC_EDGE {
    double t_ms;
    int down;
};

// What one block of sound brought. Times are milliseconds since mic_start, on the capture
// clock (samples received).
struct MIC_BLOCK {
    const MIC_EDGE *edges; // in time order; valid during the sink call only
    size_t nedges;
    double t_ms; // the keying is decided up to here: a decoder's clock may advance to it
    float level; // the tone's level on the meter's 0..255 scale (for traces)
    // The block's sound itself (mono, full scale 1, at MIC_RATE), for a reader that wants to
    // hear it again with hindsight; none in a block handed early for its many edges.
    const float *samples;
    size_t nsamples;
};

// Called on the capture thread for every block (about every MIC_BLOCK_MS ms), and sooner when
// many edges arrive at once (a tone just found is read again from the sound kept before it).
typedef void (*MIC_SINK)(const MIC_BLOCK *block, void *user);

// What mic_state reports.
enum {
    MIC_NO_INPUT = -2,  // the sound server or its default input could not be reached (logged)
    MIC_FAILED = -1,    // the input failed while capturing (logged; the thread has ended)
    MIC_STOPPED = 0,    // never started, or stopped
    MIC_CAPTURING = 1,  // blocks reach the sink
    MIC_CONNECTING = 2, // started; the capture thread is reaching the sound server
};

// 1: this build captures sound (the desktop does); whether a sound input exists shows at start.
int mic_supported();
// Starts the capture thread, which connects to the sound server's default input, and returns
// at once without waiting for the server: 1 when started (MIC_CONNECTING until the stream
// runs, MIC_NO_INPUT if it never does); -1 when out of memory, nothing left running. A running
// capture is stopped first.
int mic_start(MIC_SINK sink, void *user);
// Stops the capture: no sink call starts after it returns. It waits for a capturing thread's
// current block; a thread still connecting is left to end by itself. Harmless when stopped.
void mic_stop();
// One of the MIC_ states above.
int mic_state();
// The sink's one call into a decoder: every edge to decoder_key, the clock to t_ms
// (decoder_tick, so that silence ends a message), and the decoder's unit back to the tone
// detector. Call it with the decoder's lock held.
void mic_feed(const MIC_BLOCK *block, MORSE_DECODER *dec);
// Replaces the level fields of a decoder status (luma, lo, hi, th_on, th_off, on, has_signal)
// with the microphone's: level, noise, marks' level and the two thresholds, each on the meter's
// 0..255 scale (0 is -100 dB, 255 a full-scale tone). All zero while stopped.
void mic_meter(DECODER_STATUS *st);
// The tone followed, in Hz; 0 while none is (or stopped).
float mic_tone_hz();
// A level in dB (relative to a full-scale tone) on the meter's 0..255 scale.
float mic_meter_units(float db);
// The tone detector settings of live listening at rate: keying without lookahead (what is
// heard shows at once) and a 1.5 s memory for reading a newly found tone from its start.
void mic_tone_config(TONE_DETECT_CONFIG *cfg, uint32_t rate);
