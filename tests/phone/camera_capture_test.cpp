// tests/phone/camera_capture_test.cpp: the desktop has no camera; the detection square stays
// inside the frame; a plugged-in frame source reaches the sink with session times, rate and
// preview; stopping waits for a frame under way and no frame reaches the sink afterwards.
// ctest-label: threaded
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>
#include <gtest/gtest.h>

#include "phone/camera_capture.hpp"
#include "support/fake_camera.hpp"

namespace {

struct SinkLog {
    std::mutex lock;
    std::vector<double> t;
    std::vector<float> luma;
    size_t size() {
        std::lock_guard<std::mutex> hold(lock);
        return t.size();
    }
};

void log_sink(double t_ms, float luma, void *user) {
    SinkLog *log = (SinkLog *)user;
    std::lock_guard<std::mutex> hold(log->lock);
    log->t.push_back(t_ms);
    log->luma.push_back(luma);
}

// Frames at 30 fps stamped from start_ms on, brightness rising by one per frame.
std::vector<LIGHT_SAMPLE> ramp(size_t n, double start_ms) {
    std::vector<LIGHT_SAMPLE> out;
    for (size_t k = 0; k < n; k++) out.push_back({start_ms + k * 1000.0 / 30, (float)k});
    return out;
}

TEST(CaptureDesktop, ReportsNoCameraAndNeverCallsTheSink) {
    capture_set_platform(nullptr);
    EXPECT_EQ(capture_supported(), 0);
    EXPECT_EQ(capture_has_permission(), 0);
    EXPECT_EQ(capture_has_flash(), 0);
    EXPECT_EQ(capture_orientation(), 0);
    SinkLog log;
    EXPECT_EQ(capture_start(320, 240, 30, log_sink, &log), -2);
    EXPECT_EQ(capture_state(), -2);
    EXPECT_EQ(capture_t0_mono_ns(), -1);
    EXPECT_EQ(capture_fps(), 0.0f);
    uint8_t preview[CAPTURE_PREVIEW_BYTES];
    EXPECT_EQ(capture_preview(preview), 0);
    EXPECT_EQ(capture_preview(nullptr), 0);
    // A failed start leaves no sink behind: a stray frame goes nowhere.
    capture_frame(10, 100, nullptr);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(capture_state(), -2);
    capture_stop();
    EXPECT_EQ(capture_state(), 0);
}

TEST(CaptureRoi, StaysInsideTheFrame) {
    capture_set_roi(0, 1, 0.01f);
    float cx, cy, side;
    capture_get_roi(&cx, &cy, &side);
    EXPECT_FLOAT_EQ(cx, 0.01f);
    EXPECT_FLOAT_EQ(cy, 0.99f);
    EXPECT_FLOAT_EQ(side, 0.02f);
    capture_set_roi(0.5f, 0.5f, 3);
    capture_get_roi(&cx, &cy, &side);
    EXPECT_FLOAT_EQ(cx, 0.5f);
    EXPECT_FLOAT_EQ(cy, 0.5f);
    EXPECT_FLOAT_EQ(side, 1.0f);
    capture_set_roi(0.9f, 0.1f, 0.4f);
    capture_get_roi(&cx, nullptr, nullptr);
    capture_get_roi(nullptr, &cy, &side);
    EXPECT_FLOAT_EQ(cx, 0.8f);
    EXPECT_FLOAT_EQ(cy, 0.2f);
    EXPECT_FLOAT_EQ(side, 0.4f);
    capture_set_roi(NAN, NAN, NAN);
    capture_get_roi(&cx, &cy, &side);
    EXPECT_FLOAT_EQ(side, 0.02f);
    EXPECT_FLOAT_EQ(cx, 0.01f);
    EXPECT_FLOAT_EQ(cy, 0.01f);
}

TEST(CapturePlatform, FramesReachTheSinkInSessionTime) {
    FakeCamera cam;
    cam.orientation = -90;
    cam.speed = 8;
    cam.set_frames(ramp(90, 5000)); // three seconds of a camera whose clock began long ago
    cam.install();
    EXPECT_EQ(capture_supported(), 1);
    EXPECT_EQ(capture_orientation(), 270);
    capture_set_front(1);
    SinkLog log;
    ASSERT_EQ(capture_start(320, 240, 30, log_sink, &log), 1);
    EXPECT_EQ(capture_state(), 1);
    EXPECT_EQ(cam.last_w, 320);
    EXPECT_EQ(cam.last_h, 240);
    EXPECT_EQ(cam.last_fps, 30);
    EXPECT_EQ(cam.last_front, 1);
    ASSERT_TRUE(cam.wait_done());
    ASSERT_EQ(log.size(), 90u);
    EXPECT_DOUBLE_EQ(log.t[0], 0.0);
    EXPECT_NEAR(log.t[89], 89 * 1000.0 / 30, 1e-6);
    EXPECT_FLOAT_EQ(log.luma[45], 45.0f);
    EXPECT_NEAR(capture_fps(), 30.0f, 0.5f);
    EXPECT_GT(capture_t0_mono_ns(), 0);
    uint8_t preview[CAPTURE_PREVIEW_BYTES];
    ASSERT_EQ(capture_preview(preview), 1);
    EXPECT_EQ(preview[0], 89);
    EXPECT_EQ(preview[CAPTURE_PREVIEW_BYTES - 1], 89);
    capture_stop();
    EXPECT_EQ(capture_state(), 0);
    EXPECT_EQ(cam.stops, 1);

    // A new session starts its times, rate and preview afresh.
    cam.set_frames(ramp(3, 100));
    SinkLog second;
    ASSERT_EQ(capture_start(320, 240, 15, log_sink, &second), 1);
    ASSERT_TRUE(cam.wait_done());
    ASSERT_EQ(second.size(), 3u);
    EXPECT_DOUBLE_EQ(second.t[0], 0.0);
    EXPECT_EQ(capture_fps(), 0.0f);
    capture_stop();
}

TEST(CapturePlatform, StartFailuresAndALostCamera) {
    FakeCamera cam;
    cam.install();
    SinkLog log;
    cam.start_result = -1;
    EXPECT_EQ(capture_start(320, 240, 30, log_sink, &log), -1);
    EXPECT_EQ(capture_state(), -1);
    cam.start_result = 0; // a service that says nothing useful failed all the same
    EXPECT_EQ(capture_start(320, 240, 30, log_sink, &log), -2);
    capture_frame(1, 1, nullptr);
    EXPECT_EQ(log.size(), 0u);
    capture_stop();

    cam.start_result = 2;
    cam.flash = 1;
    cam.set_frames({});
    EXPECT_EQ(capture_start(320, 240, 30, log_sink, &log), 2);
    EXPECT_EQ(capture_has_flash(), 1);
    capture_lost();
    EXPECT_EQ(capture_state(), -2);
    EXPECT_EQ(capture_has_flash(), 0);
    capture_stop();
    EXPECT_EQ(capture_state(), 0);
    capture_lost(); // nothing running: nothing to lose
    EXPECT_EQ(capture_state(), 0);
}

// A sink held inside a frame: stop must wait for it, and no frame may follow.
struct Gate {
    std::mutex lock;
    std::condition_variable cond;
    bool inside = false, open = false;
    std::atomic<int> calls{0};
};

void gate_sink(double, float, void *user) {
    Gate *g = (Gate *)user;
    g->calls++;
    std::unique_lock<std::mutex> hold(g->lock);
    g->inside = true;
    g->cond.notify_all();
    g->cond.wait(hold, [g] { return g->open; });
}

TEST(CapturePlatform, StopWaitsForTheFrameUnderWayAndEndsTheSession) {
    FakeCamera cam;
    cam.speed = 1;
    cam.set_frames(ramp(600, 0)); // twenty seconds: the session is stopped long before
    cam.install();
    Gate gate;
    ASSERT_EQ(capture_start(320, 240, 30, gate_sink, &gate), 1);
    {
        std::unique_lock<std::mutex> hold(gate.lock);
        ASSERT_TRUE(
            gate.cond.wait_for(hold, std::chrono::seconds(20), [&] { return gate.inside; }));
    }
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        capture_stop();
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(stopped.load()) << "capture_stop returned while the sink was still running";
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.open = true;
        gate.cond.notify_all();
    }
    stopper.join();
    EXPECT_TRUE(stopped.load());
    int calls = gate.calls.load();
    EXPECT_EQ(calls, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(gate.calls.load(), calls);
    EXPECT_LT(cam.delivered(), 600u);
}

} // namespace
