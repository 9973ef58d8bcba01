// src/phone/camera_desktop.hpp: the desktop's camera service behind the capture interface. It
// reads a webcam (or the video file or device named by LUMIKEY_CAMERA, paced at its own frame
// rate) on a thread of its own, looks for the blinking light in the whole picture until the
// user places the detection square, and hands the square's brightness to capture_frame. When
// the input ends or fails the session is reported lost.
#pragma once
#include "phone/camera_capture.hpp"
#include "phone/video_input.hpp"

// The service's answers, for capture_set_platform (the capture interface's default).
const CAPTURE_PLATFORM *camera_desktop_platform();
// The webcams found (at most max), in the order of their device numbers. LUMIKEY_WEBCAMS=DIR
// lists stand-ins instead, for trying the choice without webcams: DIR holds a text file per
// device, named videoN, of three lines: the name, the bus, and the video file or device it
// opens (relative to DIR unless absolute).
size_t camera_desktop_devices(VIDEO_DEVICE *out, size_t max);
// The key that keeps a webcam's choice in the settings: "name (bus)". A name alone would mix
// up two webcams of one model; a device path changes with the order they are plugged in.
void camera_desktop_key(const VIDEO_DEVICE *d, char *out, size_t size);
// Which of the n devices (n > 0) a start opens: the one with key; when that one is gone, one
// of the same name (plugged in elsewhere); else, as with no key, the first for front (1) and
// the second, when there is one, for the other (0).
size_t camera_desktop_pick(const VIDEO_DEVICE *list, size_t n, const char *key, int front);
// The webcam the next start opens, by its key; null or "" leaves it to the front/back choice.
void camera_desktop_choose(const char *key);
// The input the next start opens for front (1) or the other lens (0): LUMIKEY_CAMERA when set,
// else the webcam chosen (camera_desktop_pick). 0 when there is none.
int camera_desktop_input(int front, char *path, size_t size);
