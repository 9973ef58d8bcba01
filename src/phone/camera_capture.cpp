// src/phone/camera_capture.cpp: the camera session's state between the platform's frame thread
// and the receive screen, and the desktop's answers (no camera).
#include "phone/camera_capture.hpp"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>

#include "phone/camera_desktop.hpp"
#include "support/ka_common.hpp"

static const CAPTURE_PLATFORM &_DESKTOP = *camera_desktop_platform();

static struct {
    std::mutex lock; // guards everything below but state, front and platform
    std::condition_variable idle;
    CAPTURE_SINK sink = nullptr;
    void *user = nullptr;
    int in_sink = 0; // sink calls under way, waited for by capture_stop
    std::atomic<int> state{0};
    float roi_cx = 0.5f, roi_cy = 0.5f, roi_side = 0.2f;
    uint8_t preview[CAPTURE_PREVIEW_BYTES] = {};
    int has_preview = 0;
    double t0 = 0;       // the first frame's own time stamp, ms
    int64_t t0_mono = 0; // when it arrived, ns; -1 after a start until then
    double fps_t0 = 0;   // start of the frame-rate window, frame clock ms
    int fps_frames = 0;
    float fps = 0;
    std::atomic<int> front{0};
    CAPTURE_PLATFORM platform = _DESKTOP;
} _cap;

static int64_t _mono_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

void capture_set_platform(const CAPTURE_PLATFORM *platform) {
    if (_cap.state.load() > 0) {
        ka_log(LOG_DEBUG, "capture platform not changed while capturing");
        return;
    }
    _cap.platform = platform ? *platform : _DESKTOP;
}

int capture_supported() {
    return _cap.platform.supported(_cap.platform.user) ? 1 : 0;
}

int capture_has_permission() {
    return _cap.platform.has_permission(_cap.platform.user) ? 1 : 0;
}

void capture_request_permission() {
    _cap.platform.request_permission(_cap.platform.user);
}

int capture_start(int w, int h, int fps, CAPTURE_SINK sink, void *user) {
    {
        std::lock_guard<std::mutex> hold(_cap.lock);
        _cap.sink = sink;
        _cap.user = user;
        _cap.has_preview = 0;
        _cap.t0 = 0;
        _cap.t0_mono = -1;
        _cap.fps_t0 = 0;
        _cap.fps_frames = 0;
        _cap.fps = 0;
    }
    int rc = _cap.platform.start(w, h, fps, _cap.front.load(), _cap.platform.user);
    // Any failure reads as -2 to the screens unless the platform said which (-1: permission).
    if (rc == 0) rc = -2;
    _cap.state.store(rc);
    ka_log(LOG_INFO, "capture start: %d", rc);
    if (rc <= 0) {
        std::lock_guard<std::mutex> hold(_cap.lock);
        _cap.sink = nullptr;
        _cap.user = nullptr;
    }
    return rc;
}

void capture_set_front(int front) {
    _cap.front.store(front ? 1 : 0);
}

int capture_has_flash() {
    return _cap.state.load() > 0 && _cap.platform.has_flash(_cap.platform.user) ? 1 : 0;
}

void capture_stop() {
    {
        std::unique_lock<std::mutex> hold(_cap.lock);
        _cap.sink = nullptr;
        _cap.user = nullptr;
        // The receive screen frees its decoder right after this returns: a frame still inside
        // the old sink must be done with it first.
        _cap.idle.wait(hold, [] { return _cap.in_sink == 0; });
    }
    _cap.platform.stop(_cap.platform.user);
    _cap.state.store(0);
}

int capture_state() {
    return _cap.state.load();
}

void capture_set_roi(float cx, float cy, float side) {
    if (!(side >= 0.02f)) side = 0.02f; // NaN too
    if (side > 1.0f) side = 1.0f;
    float half = side / 2;
    auto clamp = [half](float v) {
        if (!(v >= half)) return half;
        return v > 1.0f - half ? 1.0f - half : v;
    };
    std::lock_guard<std::mutex> hold(_cap.lock);
    _cap.roi_cx = clamp(cx);
    _cap.roi_cy = clamp(cy);
    _cap.roi_side = side;
}

void capture_get_roi(float *cx, float *cy, float *side) {
    std::lock_guard<std::mutex> hold(_cap.lock);
    if (cx) *cx = _cap.roi_cx;
    if (cy) *cy = _cap.roi_cy;
    if (side) *side = _cap.roi_side;
}

int capture_preview(uint8_t *out) {
    __ka_assert(out, return 0);
    std::lock_guard<std::mutex> hold(_cap.lock);
    if (!_cap.has_preview) return 0;
    memcpy(out, _cap.preview, sizeof _cap.preview);
    return 1;
}

int capture_orientation() {
    int o = _cap.platform.orientation(_cap.platform.user);
    return ((o % 360) + 360) % 360;
}

float capture_fps() {
    std::lock_guard<std::mutex> hold(_cap.lock);
    return _cap.fps;
}

int64_t capture_t0_mono_ns() {
    std::lock_guard<std::mutex> hold(_cap.lock);
    return _cap.t0_mono;
}

// The frame's statistics and preview; its sample goes to the sink when read is set.
static void _frame(double t_ms, float luma, const uint8_t *preview, bool read) {
    CAPTURE_SINK sink;
    void *user;
    double t;
    {
        std::lock_guard<std::mutex> hold(_cap.lock);
        if (_cap.t0_mono < 0) {
            _cap.t0 = t_ms;
            _cap.t0_mono = _mono_ns();
            _cap.fps_t0 = t_ms;
            _cap.fps_frames = -1; // the window's opening frame is not one of its intervals
        }
        t = t_ms - _cap.t0;
        // The rate over windows of about a second, so a slowing camera shows within one.
        _cap.fps_frames++;
        double span = t_ms - _cap.fps_t0;
        if (span >= 1000.0) {
            _cap.fps = (float)(_cap.fps_frames * 1000.0 / span);
            _cap.fps_t0 = t_ms;
            _cap.fps_frames = 0;
        }
        if (preview) {
            memcpy(_cap.preview, preview, sizeof _cap.preview);
            _cap.has_preview = 1;
        }
        sink = _cap.sink;
        user = _cap.user;
        if (!sink || !read) return;
        _cap.in_sink++;
    }
    // Outside the lock: the sink takes the receiver's lock, under which the receive screen
    // asks this module for the session's times.
    sink(t, luma, user);
    std::lock_guard<std::mutex> hold(_cap.lock);
    if (--_cap.in_sink == 0) _cap.idle.notify_all();
}

void capture_frame(double t_ms, float luma, const uint8_t *preview) {
    _frame(t_ms, luma, preview, true);
}

void capture_frame_unread(double t_ms, const uint8_t *preview) {
    _frame(t_ms, 0, preview, false);
}

void capture_lost() {
    if (_cap.state.load() > 0) _cap.state.store(-2);
}
