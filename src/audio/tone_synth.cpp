// src/audio/tone_synth.cpp: rendering a sequence to PCM.
#include "audio/tone_synth.hpp"

#include <cmath>

#include "support/ka_common.hpp"

size_t tone_ms_to_frame(uint32_t ms, uint32_t sample_rate) {
    return (size_t)(((uint64_t)sample_rate * ms + 500) / 1000);
}

// Raised-cosine edge: 0 at i = 0, approaching 1 at i = ramp.
static double _edge(size_t i, size_t ramp) {
    return 0.5 - 0.5 * cos(M_PI * (double)i / (double)ramp);
}

int tone_render(const MORSE_SEQUENCE *seq, uint32_t sample_rate, uint32_t hz, float amplitude,
                uint32_t ramp_ms, int16_t **out, size_t *frames) {
    __ka_assert(seq, return 0);
    __ka_assert(out, return 0);
    __ka_assert(frames, return 0);
    if (sample_rate < 8000 || sample_rate > 192000 || hz == 0 || 2 * (uint64_t)hz >= sample_rate) {
        ka_log(LOG_ERR, "bad tone parameters: %u Hz at %u Hz", hz, sample_rate);
        return 0;
    }
    __ka_assert(seq->count == 0 || seq->events, return 0);
    // Written so that NaN counts as silence.
    double level = amplitude > 0.0f ? (amplitude < 1.0f ? amplitude : 1.0f) : 0.0;
    double peak = level * 32767.0;

    size_t total = tone_ms_to_frame(seq->total_ms, sample_rate);
    int16_t *pcm = nullptr;
    Malloc(pcm, int16_t, total ? total : 1);
    if (!pcm) return 0;

    double w = (double)hz * 2.0 * M_PI / (double)sample_rate;
    size_t ramp_default = tone_ms_to_frame(ramp_ms, sample_rate);
    for (size_t e = 0; e < seq->count; e++) {
        const MORSE_EVENT &ev = seq->events[e];
        if (ev.state != MORSE_DOT && ev.state != MORSE_DASH) continue;
        size_t a = tone_ms_to_frame(ev.start_ms, sample_rate);
        // In a built sequence start + duration never passes total_ms; a malformed one that
        // wraps ends before it starts and is skipped.
        size_t b = tone_ms_to_frame(ev.start_ms + ev.duration_ms, sample_rate);
        if (b > total) b = total;
        if (a >= b) continue;
        size_t len = b - a;
        // A short element keeps at least half its length at full level.
        size_t ramp = len < 4 * ramp_default ? len / 4 : ramp_default;
        for (size_t i = 0; i < len; i++) {
            double env = 1.0;
            if (i < ramp)
                env = _edge(i, ramp);
            else if (ramp != 0 && i >= len - ramp)
                env = _edge(len - 1 - i, ramp);
            // The phase follows the absolute frame, so renderings are reproducible and the
            // tone does not restart its cycle at each element.
            pcm[a + i] = (int16_t)lrint(sin(w * (double)(a + i)) * env * peak);
        }
    }
    *out = pcm;
    *frames = total;
    return 1;
}
