// src/audio/sidetone_gen.cpp: the sidetone oscillator.
#include "audio/sidetone_gen.hpp"

#include <cmath>

#include "support/ka_common.hpp"

static constexpr double _TWO_PI = 2.0 * M_PI;

void sidetone_gen_init(SIDETONE_GEN *g, uint32_t sample_rate, uint32_t hz, float ramp_ms,
                       float amplitude) {
    __ka_assert(g, return );
    uint32_t rate = sample_rate ? sample_rate : 44100;
    g->phase = 0.0;
    g->gain = 0.0f;
    g->step = (double)hz * _TWO_PI / (double)rate;
    float ramp_samples = ramp_ms * (float)rate / 1000.0f;
    // Written so that a NaN ramp falls to the instant switch rather than a NaN step.
    g->ramp = ramp_samples >= 1.0f ? 1.0f / ramp_samples : 1.0f;
    float a = amplitude > 0.0f ? (amplitude < 1.0f ? amplitude : 1.0f) : 0.0f;
    g->amp = a * 32767.0f;
}

void sidetone_gen_fill(SIDETONE_GEN *g, int16_t *out, size_t n, int on) {
    __ka_assert(g, return );
    __ka_assert(out, return );
    float target = on ? 1.0f : 0.0f;
    for (size_t i = 0; i < n; i++) {
        if (g->gain < target) {
            g->gain += g->ramp;
            if (g->gain > target) g->gain = target;
        } else if (g->gain > target) {
            g->gain -= g->ramp;
            if (g->gain < target) g->gain = target;
        }
        // The linear ramp alone clicks at its corners; the raised cosine starts and ends flat.
        float shaped = 0.5f - 0.5f * cosf((float)M_PI * g->gain);
        out[i] = (int16_t)lrintf(shaped * g->amp * (float)sin(g->phase));
        g->phase += g->step;
        if (g->phase > _TWO_PI) g->phase -= _TWO_PI;
    }
}
