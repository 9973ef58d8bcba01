// src/morse/biquad.hpp: the low-pass sections both sound front ends filter with.
#pragma once
#include <cmath>

// One second-order section; the state is two words the caller keeps per channel.
struct BIQUAD {
    float b0, b1, b2, a1, a2;
};

// Low-pass section of the given Q, by the bilinear transform.
inline BIQUAD biquad_lowpass(double fc, double q, double rate) {
    double w = 2.0 * M_PI * fc / rate, c = cos(w), alpha = sin(w) / (2.0 * q);
    double a0 = 1.0 + alpha;
    BIQUAD f;
    f.b0 = (float)((1.0 - c) / 2.0 / a0);
    f.b1 = (float)((1.0 - c) / a0);
    f.b2 = f.b0;
    f.a1 = (float)(-2.0 * c / a0);
    f.a2 = (float)((1.0 - alpha) / a0);
    return f;
}

// Transposed direct form II: two state words per section.
inline float biquad_run(const BIQUAD &f, float *z, float x) {
    float y = f.b0 * x + z[0];
    z[0] = f.b1 * x - f.a1 * y + z[1];
    z[1] = f.b2 * x - f.a2 * y;
    return y;
}

// A fourth-order Butterworth low-pass as two sections of these Qs: flat in its pass band, so a
// tone's level does not depend on where it sits in the band.
constexpr double BIQUAD_BUTTERWORTH4_Q[2] = {0.54119610, 1.30656296};
inline void biquad_butterworth4(BIQUAD out[2], double fc, double rate) {
    for (int k = 0; k < 2; k++) out[k] = biquad_lowpass(fc, BIQUAD_BUTTERWORTH4_Q[k], rate);
}

// How late that low-pass passes what lies well inside its band, in ms: 2.613 (the sum of 1 / Q
// over its sections) over its angular cutoff.
constexpr double biquad_butterworth4_delay_ms(double fc) {
    return (1.0 / BIQUAD_BUTTERWORTH4_Q[0] + 1.0 / BIQUAD_BUTTERWORTH4_Q[1]) / (2.0 * M_PI * fc) *
           1000.0;
}
