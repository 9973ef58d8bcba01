// src/morse/light_front.cpp: the frame held for its neighbours, the lone partial frame taken
// for the short element it caught, and a lone frame handed on twice.
// The decoder's status tells its levels and state: the same levels it compares with itself.
#include "morse/light_front.hpp"

#include <cmath>

#include "support/ka_common.hpp"

namespace {

// An element this many frames long or more is seen on two frames anyway: a lone frame beyond
// the level is then noise, as the decoder takes it.
constexpr double SHORT_UNIT_FRAMES = 3.0;
// Marks into a message before its unit is believed.
constexpr int SURE_MARKS = 4;
// A frame this long (below about 20 fps) holds the light of two frames of a usual camera.
constexpr double SLOW_FRAME_MS = 50.0;
// A lone frame is handed on this share of the frame period before and after its own time: two
// samples, each a frame of its own to the decoder. Its run then comes out one and a half
// periods long, what an element caught by one frame as often as by two lasts.
constexpr double SPREAD_SHARE = 0.25;
// A lone frame this far (a share of the range) from the level of the state, towards the
// other, is an element it caught in part. Sensor noise of a usable light stays well inside.
constexpr float PARTIAL_DEPTH = 0.4f;
// Where such a frame is handed on: clearly on the other side, as a frame that saw the element
// whole would be.
constexpr float PARTIAL_DARK = 0.2f, PARTIAL_LIT = 0.8f;

} // namespace

void light_front_reset(LIGHT_FRONT *f) {
    __ka_assert(f, return );
    *f = LIGHT_FRONT{};
}

// Whether a frame v switches the state that its next frame, next, would switch back: an
// element on one frame alone.
static bool _lone(const DECODER_STATUS &st, float v, float next) {
    float mid = st.lo + 0.5f * (st.hi - st.lo);
    if (!st.on) return v > st.th_on && next <= mid;
    return v < st.th_off && next >= mid;
}

// The held frame v between the one handed on before it and the next, next: as it is, or, a
// lone partial frame of a short element, beyond the switching level.
static float _partial(const DECODER_STATUS &st, float before, float v, float next) {
    float range = st.hi - st.lo;
    if (st.on && v < before && v < next && v < st.hi - PARTIAL_DEPTH * range && v >= st.th_off)
        return st.lo + PARTIAL_DARK * range;
    if (!st.on && v > before && v > next && v > st.lo + PARTIAL_DEPTH * range && v <= st.th_on)
        return st.lo + PARTIAL_LIT * range;
    return v;
}

void light_front_feed(LIGHT_FRONT *f, MORSE_DECODER *dec, double t_ms, float luma) {
    __ka_assert(f && dec, return );
    if (!std::isfinite(t_ms) || !std::isfinite(luma)) return;
    if (f->frames == 0) {
        decoder_feed(dec, t_ms, luma);
        f->t_fed = t_ms, f->v_fed = luma;
        f->frames = 1;
        return;
    }
    if (f->frames == 1) {
        if (!(t_ms > f->t_fed)) return;
        f->t_held = t_ms, f->v_held = luma;
        f->frames = 2;
        return;
    }
    double dt = t_ms - f->t_held;
    if (!(dt > 0)) return; // the decoder would ignore it too
    // A dropped frame is a gap of two periods, not a slower camera.
    if (f->frame_ms == 0 || dt < 1.5 * f->frame_ms)
        f->frame_ms = f->frame_ms == 0 ? dt : f->frame_ms + 0.05 * (dt - f->frame_ms);
    DECODER_STATUS st;
    decoder_status(dec, &st);
    // Marks of this message so far: until a few are in, the unit may be a dash's.
    if (!st.receiving) f->marks = 0;
    f->marks += f->was_on && !st.on;
    f->was_on = st.on;
    bool helped;
    if (st.unit_ms != 0 && f->marks >= SURE_MARKS)
        helped = st.unit_ms < SHORT_UNIT_FRAMES * f->frame_ms;
    else
        // No speed known yet. Inside a message a lone frame is an element; before one it is
        // taken as the decoder takes two frames of a faster camera: a slow frame holds as much
        // light as those two.
        helped = st.receiving || f->frame_ms >= SLOW_FRAME_MS;
    float v = helped && st.has_signal ? _partial(st, f->v_fed, f->v_held, luma) : f->v_held;
    if (helped && st.has_signal && _lone(st, v, luma)) {
        // The element lies somewhere around its frame, up to the neighbours: handed on over a
        // stretch of the frame period, twice, so that the switch holds and its run is not
        // taken for a glitch shorter than a frame.
        double spread = SPREAD_SHARE * std::min(dt, f->t_held - f->t_fed);
        decoder_feed(dec, f->t_held - spread, v);
        decoder_feed(dec, f->t_held + spread, v);
    } else {
        decoder_feed(dec, f->t_held, v);
        // The first mark of all: the decoder knows its levels only once it has seen it.
        if (helped && !st.has_signal) {
            decoder_status(dec, &st);
            if (st.has_signal && _lone(st, v, luma))
                decoder_feed(dec, f->t_held + 2 * SPREAD_SHARE * dt, v);
        }
    }
    f->t_fed = f->t_held, f->v_fed = v;
    f->t_held = t_ms, f->v_held = luma;
}

void light_front_flush(LIGHT_FRONT *f, MORSE_DECODER *dec) {
    __ka_assert(f && dec, return );
    if (f->frames == 2) decoder_feed(dec, f->t_held, f->v_held);
    f->frames = f->frames ? 1 : 0;
    f->t_fed = f->t_held, f->v_fed = f->v_held;
}
