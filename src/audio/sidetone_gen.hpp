// src/audio/sidetone_gen.hpp: the sidetone's oscillator, a free-running sine whose level follows
// the key through a short ramp. Pure: no audio system, no threads.
#pragma once
#include <cstddef>
#include <cstdint>

struct SIDETONE_GEN {
    double phase; // radians, kept in [0, 2*pi]
    double step;  // phase increment per sample
    float gain;   // linear envelope position, 0 silent .. 1 full
    float ramp;   // envelope change per sample
    float amp;    // peak sample value
};

// Silent oscillator at hz; ramp_ms below one sample switches instantly. A sample_rate of 0 is
// taken as 44100; amplitude is clamped to 0..1 of full scale.
void sidetone_gen_init(SIDETONE_GEN *g, uint32_t sample_rate, uint32_t hz, float ramp_ms,
                       float amplitude);
// Writes n samples, ramping towards full level while on is non-zero and towards silence
// otherwise; the phase runs on in both cases, so the tone always resumes where it would be.
void sidetone_gen_fill(SIDETONE_GEN *g, int16_t *out, size_t n, int on);
