// tests/support/camera_scene.hpp: a camera filming a room, for the light search and the light's
// front end. A small lamp keyed by Morse runs sits somewhere in a textured grey room; the
// camera adds what real ones do: the lamp's asymmetric lag, auto-exposure, sensor noise,
// jittered and dropped frames, a rolling shutter, a shaking hand; the room may hold a person
// walking to and fro, a lamp flickering with the mains, exposure steps. Frames go to a
// callback, or into a video file through libavcodec (film_to_file).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "morse/decoder.hpp"
#include "phone/video_input.hpp"

struct CAMERA_SCENE {
    int w = 320, h = 240;
    double fps = 30;
    double light_pct = 0.5;               // the lamp's area, percent of the picture
    float cx = 0.7f, cy = 0.3f;           // its centre, fractions of the picture
    bool light = true;                    // false: a room without the lamp
    float room = 70, lamp = 235;          // grey levels before exposure
    double noise = 0;                     // sensor noise, sigma in grey levels
    double lag_on_ms = 0, lag_off_ms = 0; // the lamp's rise and fall time constants
    bool auto_exposure = false;  // the gain follows the picture's mean (and the room steps)
    double jitter_ms = 0;        // frame times wobble by this sigma
    double drop = 0;             // share of frames lost
    double rolling_ms = 0;       // read-out time from the first row to the last
    double shake_px = 0;         // a hand-held camera: the picture wanders by this much
    bool person = false;         // someone in a dark coat sways across the picture
    bool flicker = false;        // a lamp on the 50 Hz mains in a corner
    bool exposure_steps = false; // the camera's gain hunts in steps
    uint64_t seed = 1;
};

// Films runs (mark first) starting lead_ms into the film, and tail_ms after the last run.
void film_runs(const std::vector<RUN> &runs, const CAMERA_SCENE &scene, double lead_ms,
               double tail_ms, const std::function<void(const VIDEO_FRAME &)> &frame);
// The same into a video file (the container from the name: .mkv keeps every frame's own
// time). False when it could not be written.
bool film_to_file(const std::string &path, const std::vector<RUN> &runs, const CAMERA_SCENE &scene,
                  double lead_ms, double tail_ms);
