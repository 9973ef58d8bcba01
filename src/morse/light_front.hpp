// src/morse/light_front.hpp: what a camera's frames tell the decoder beyond one sample each.
// The decoder takes a switch of the light only when two frames in a row show it, which keeps a
// single noisy frame from becoming a dot; but a slow camera (15 fps: a frame of 67 ms against a
// 100 ms unit at 12 WPM) or a dropped frame leaves a short mark on one frame alone, and the
// decoder then loses it. The front end sits between the frames and the decoder: when a frame
// began a switch that the next one would undo, and the element is short against the frames
// (the speed is not known yet, or its unit lasts less than a few frames), it hands the decoder
// that frame a second time, a moment later, so that the switch holds. Times stay the frames'
// own (a dropped frame leaves a wider gap, never a shorter run). A lone frame only partly
// dark inside a mark (or partly lit inside a space) is, for such short elements, a space
// (a mark) that its frame caught only in part, or that lost its other frame: it is handed on
// beyond the switching level. The decoder places every
// edge where the brightness crossed its middle level between two frames: a frame that is
// partly lit (its exposure took in the edge, or its rolling shutter split it) puts that edge
// inside the frame, in proportion to its brightness.
#pragma once
#include "morse/decoder.hpp"

struct LIGHT_FRONT {
    int frames;    // seen so far, up to 2
    double t_fed;  // the latest frame handed to the decoder
    float v_fed;   // as handed on
    double t_held; // the latest frame, held until the next one shows its neighbourhood
    float v_held;
    double frame_ms; // the frames' period, smoothed
    int marks;       // ended in the message under way
    int was_on;      // the decoder's state after the frame before
};

// Ready for a new session (also what a zeroed record is).
void light_front_reset(LIGHT_FRONT *f);
// One frame at t_ms: the frame before it goes into dec (with its repeat when it needs one), and
// this one waits for its successor: the decoder reads the light one frame late.
void light_front_feed(LIGHT_FRONT *f, MORSE_DECODER *dec, double t_ms, float luma);
// The input ended: the frame still held goes into dec.
void light_front_flush(LIGHT_FRONT *f, MORSE_DECODER *dec);
