// src/phone/camera_capture.hpp: the camera as a source of brightness samples for the receiver.
// For every frame the mean brightness of a square detection area goes to one sink, on the
// camera's own thread, with the frame time. The camera service itself is the platform's: it
// plugs in through CAPTURE_PLATFORM and hands its frames to capture_frame, so any frame source
// (a phone camera, a webcam, a test double) serves the receive screen unchanged. The desktop's
// is camera_desktop: a webcam or a video file; without either it reports itself unsupported
// and start fails with -2.
#pragma once
#include <cstddef>
#include <cstdint>

// Called once per frame on the capture thread: the frame's time in ms since the session's first
// frame (so that capture_t0_mono_ns + t_ms places it on the monotonic clock) and the area's
// mean brightness (0 to 255).
typedef void (*CAPTURE_SINK)(double t_ms, float luma, void *user);

// The preview handed out by capture_preview: grey levels, row by row.
constexpr int CAPTURE_PREVIEW_W = 80;
constexpr int CAPTURE_PREVIEW_H = 60;
constexpr size_t CAPTURE_PREVIEW_BYTES = (size_t)CAPTURE_PREVIEW_W * CAPTURE_PREVIEW_H;

// The platform side of the camera. start may block while the camera opens; from its return
// until stop returns, the service calls capture_frame from its own thread for every frame
// (reading the detection area with capture_get_roi). stop waits for that thread: once it
// returns, no capture_frame call is under way or will come.
struct CAPTURE_PLATFORM {
    int (*supported)(void *user);      // 1 when the device can capture
    int (*has_permission)(void *user); // 1 when the camera may be used
    void (*request_permission)(void *user);
    // Opens the front (front 1) or back camera at about w x h and fps. Positive while frames
    // are delivered, -1 without permission, -2 or another negative value when it failed.
    int (*start)(int w, int h, int fps, int front, void *user);
    void (*stop)(void *user);
    int (*has_flash)(void *user);   // 1 when the capturing camera has a flash
    int (*orientation)(void *user); // rotation of the image relative to the display, degrees
    void *user;
};

// Installs the platform side (copied); null restores the desktop's. Only
// while no capture runs.
void capture_set_platform(const CAPTURE_PLATFORM *platform);

int capture_supported();
int capture_has_permission();
void capture_request_permission();
// Stores the sink, forgets the previous session's preview and statistics, then starts the
// camera; logs "capture start: %d" and returns the result (positive: frames will come).
int capture_start(int w, int h, int fps, CAPTURE_SINK sink, void *user);
// Chooses the front camera (1) or the back one (0) for the next start.
void capture_set_front(int front);
int capture_has_flash();
// Clears the sink, waits for a sink call under way, stops the camera; state 0. After it
// returns the sink is never called again for this session.
void capture_stop();
// 0 stopped, negative when the start failed or the camera went away, positive while capturing.
int capture_state();
// The detection area: centre and side as fractions of the frame. The side is clamped to
// [0.02, 1] and the centre so that the square stays inside the frame.
void capture_set_roi(float cx, float cy, float side);
// Reads the area; each pointer may be null.
void capture_get_roi(float *cx, float *cy, float *side);
// Copies the latest CAPTURE_PREVIEW_BYTES preview into out: 1, or 0 when there is none.
int capture_preview(uint8_t *out);
// The image's rotation in 0..359 degrees.
int capture_orientation();
// Frames per second measured over the last second or so; 0 before that.
float capture_fps();
// Monotonic time (ns) of this session's first frame; -1 after a start until a frame arrives,
// 0 before any start.
int64_t capture_t0_mono_ns();

// For the platform's frame thread: one frame stamped t_ms (the service's own clock, any
// origin, never going back) with the area's mean brightness, and the preview when the service
// made one (null when not). Updates the statistics and calls the sink.
void capture_frame(double t_ms, float luma, const uint8_t *preview);
// For the platform: a frame that carries no sample for the sink (the service has not found the
// light in it yet). Statistics and preview as for capture_frame.
void capture_frame_unread(double t_ms, const uint8_t *preview);
// For the platform: the camera failed or was taken away while capturing (state becomes -2;
// the receive screen then stops).
void capture_lost();
