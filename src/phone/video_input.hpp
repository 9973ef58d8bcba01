// src/phone/video_input.hpp: grey frames from a webcam or a video file, through FFmpeg's
// libraries (Video4Linux devices through libavdevice, files through libavformat). Every frame
// comes scaled to a small working size with its own time stamp, which is all the light needs.
#pragma once
#include <cstddef>
#include <cstdint>

// One frame: grey levels row by row (stride bytes apart), its time in ms on the input's own
// clock (the stream's time stamps: never going back).
struct VIDEO_FRAME {
    const uint8_t *grey;
    int w, h, stride;
    double t_ms;
};

struct VIDEO_INPUT; // opaque: its record lives in video_input.cpp

// The largest working frame: a light of half a percent of the picture still covers a few
// hundred pixels, and a frame costs a fraction of a millisecond to look through.
constexpr int VIDEO_WORK_W = 320;
constexpr int VIDEO_WORK_H = 240;

// Opens a device (/dev/video*, asked for about w x h at fps) or a file. Null when it cannot be
// read as video, with the reason in err (err_size bytes, may be null). Logs nothing.
VIDEO_INPUT *video_open(const char *path, int w, int h, int fps, char *err, size_t err_size);
// Frees the input and nulls the caller's pointer; null-safe.
void video_close(VIDEO_INPUT **v);
// 1 when the input is a live device, which paces itself; 0 for a file.
int video_is_device(const VIDEO_INPUT *v);
// The stream's own frame rate (frames per second), 0 when it does not say.
double video_frame_rate(const VIDEO_INPUT *v);
// The next frame in out (valid until the next call): 1, 0 at the end of the input, -1 when it
// could not be read any further.
int video_read(VIDEO_INPUT *v, VIDEO_FRAME *out);

// A webcam found on this machine: its device path, its name and where it is plugged in (the
// driver's bus text: "usb-0000:00:14.0-2"), which tells two webcams of one model apart.
struct VIDEO_DEVICE {
    char path[256];
    char name[64];
    char bus[64];
};
// Lists the devices that capture video (not the metadata nodes a webcam also has), in the
// order of their numbers; the number found (at most max).
size_t video_list_devices(VIDEO_DEVICE *out, size_t max);
