// src/phone/camera_desktop.hpp: the desktop's camera service behind the capture interface. It
// reads a webcam (or the video file or device named by LUMIKEY_CAMERA, paced at its own frame
// rate) on a thread of its own, looks for the blinking light in the whole picture until the
// user places the detection square, and hands the square's brightness to capture_frame. When
// the input ends or fails the session is reported lost.
#pragma once
#include "phone/camera_capture.hpp"

// The service's answers, for capture_set_platform (the capture interface's default).
const CAPTURE_PLATFORM *camera_desktop_platform();
// The input the next start opens for front (1) or the other lens (0): LUMIKEY_CAMERA when set,
// else the first webcam for front and the second (when there is one) for the other. 0 when
// there is none.
int camera_desktop_input(int front, char *path, size_t size);
