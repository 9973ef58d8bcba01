// tests/support/fake_camera.hpp: a camera service for tests. It films a synthetic light: the
// frames given to it (see runs_to_light in morse_signal.hpp) are delivered through
// capture_frame on its own thread, each at its own time stamp (or faster, by speed), with a
// flat grey preview of the frame's brightness, the way a phone's camera service would.
#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "phone/camera_capture.hpp"
#include "support/morse_signal.hpp"

class FakeCamera {
public:
    FakeCamera() = default;
    ~FakeCamera();
    FakeCamera(const FakeCamera &) = delete;
    FakeCamera &operator=(const FakeCamera &) = delete;

    // What the service answers; set before installing or between sessions.
    int supported = 1;
    int permission = 1;
    int start_result = 1;
    int flash = 0;
    int orientation = 0;
    double speed = 1; // frames come this many times faster than their time stamps say

    // The frames of the next session.
    void set_frames(std::vector<LIGHT_SAMPLE> frames);
    // Installs this camera as the capture platform (capture_set_platform(nullptr) removes it).
    void install();
    // Waits until every frame of the session has been delivered; false after the timeout.
    bool wait_done(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    size_t delivered() const { return delivered_.load(); }

    // What the last start asked for, and the calls so far.
    int starts = 0, stops = 0, permission_requests = 0;
    int last_w = 0, last_h = 0, last_fps = 0, last_front = -1;

private:
    void run();
    void halt();
    static int _supported(void *user);
    static int _permission(void *user);
    static void _request(void *user);
    static int _start(int w, int h, int fps, int front, void *user);
    static void _stop(void *user);
    static int _flash(void *user);
    static int _orientation(void *user);

    std::vector<LIGHT_SAMPLE> frames_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable cond_;
    bool quit_ = false;
    bool done_ = false;
    std::atomic<size_t> delivered_{0};
    CAPTURE_PLATFORM platform_{};
};
