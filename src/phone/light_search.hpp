// src/phone/light_search.hpp: finding a blinking light anywhere in the picture. A grid of small
// overlapping areas is followed frame by frame; the area whose brightness switches between two
// steady levels with the rhythm of Morse (runs of a few lengths, some three times others), on
// its own rather than with half the picture, is the light. A moving person, a lamp flickering
// with the mains and a camera's exposure steps do not look like that, and are never picked.
//
// LIGHT_WATCH puts the search in front of a reader of brightness samples: nothing is read
// until the light is found, then the area's past frames are handed over first (so the message's
// start is not lost) and every later frame after them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "phone/video_input.hpp"

struct LIGHT_SEARCH; // opaque: its record lives in light_search.cpp

// A search over frames of w x h (they must keep that size). Null when out of memory.
LIGHT_SEARCH *light_search_new(int w, int h);
void light_search_free(LIGHT_SEARCH **s);
// One frame (of the size given at creation; others are ignored). 1 when this frame found the
// light or moved it to another area.
int light_search_frame(LIGHT_SEARCH *s, const VIDEO_FRAME *f);
// The light's area: centre as fractions of the width and height, side as a fraction of the
// shorter edge. 1, or 0 (nothing written) while no light has been found.
int light_search_area(const LIGHT_SEARCH *s, float *cx, float *cy, float *side);
// The found area's brightness (times the exposure correction of each frame) over the frames
// kept (the last few seconds), oldest first:
// the number written to t_ms and luma (at most max); 0 while nothing is found.
size_t light_search_history(const LIGHT_SEARCH *s, double *t_ms, float *luma, size_t max);

// The latest frame's exposure correction: above a middling picture brightness every level is
// read relative to the picture's, so that the camera's own exposure changes (a step, or the
// gain following the light) move neither level of the light. 1 in a dark picture.
float light_search_gain(const LIGHT_SEARCH *s);
// The same correction for one frame, without a search.
float light_picture_gain(const VIDEO_FRAME *f);

// Mean brightness of the square with centre (cx, cy) (fractions of width and height) and
// side (a fraction of the shorter edge), kept inside the frame.
float light_area_mean(const VIDEO_FRAME *f, float cx, float cy, float side);

// Takes each sample a watch hands on, in time order.
typedef void (*LIGHT_SAMPLE_OUT)(double t_ms, float luma, void *user);

struct LIGHT_WATCH {
    LIGHT_SEARCH *search; // null: the area is the caller's and never moves
    int w, h;
    int found;          // the search has found the light: samples flow
    float cx, cy, side; // the area read
    double t_last;      // the last sample handed on
};

// Starts a watch for frames of w x h. search 1 looks for the light; 0 reads the area given.
// 0 when out of memory.
int light_watch_init(LIGHT_WATCH *w, int width, int height, int search, float cx, float cy,
                     float side);
void light_watch_free(LIGHT_WATCH *w);
// The user chose the area: the search stops for good and the area is read from this frame on.
void light_watch_place(LIGHT_WATCH *w, float cx, float cy, float side);
// One frame: hands on its sample, the area's mean brightness with the exposure correction
// (after the area's past ones when the light was just found)
// and returns the number handed on (0 while still searching).
size_t light_watch_frame(LIGHT_WATCH *w, const VIDEO_FRAME *f, LIGHT_SAMPLE_OUT out, void *user);
