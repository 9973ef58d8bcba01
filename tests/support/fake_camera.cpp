// tests/support/fake_camera.cpp
#include "support/fake_camera.hpp"

#include <cstring>

FakeCamera::~FakeCamera() {
    halt();
    capture_set_platform(nullptr);
}

void FakeCamera::set_frames(std::vector<LIGHT_SAMPLE> frames) {
    frames_ = std::move(frames);
}

void FakeCamera::install() {
    platform_ = {_supported, _permission, _request, _start, _stop, _flash, _orientation, this};
    capture_set_platform(&platform_);
}

bool FakeCamera::wait_done(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(lock_);
    return cond_.wait_for(hold, timeout, [this] { return done_; });
}

void FakeCamera::run() {
    using clock = std::chrono::steady_clock;
    auto begin = clock::now();
    double first = frames_.empty() ? 0 : frames_[0].t;
    uint8_t preview[CAPTURE_PREVIEW_BYTES];
    for (const LIGHT_SAMPLE &f : frames_) {
        auto due = begin + std::chrono::microseconds((long long)((f.t - first) * 1000 / speed));
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (cond_.wait_until(hold, due, [this] { return quit_; })) return;
        }
        memset(preview, (int)(f.luma < 0 ? 0 : f.luma > 255 ? 255 : f.luma), sizeof preview);
        capture_frame(f.t, f.luma, preview);
        delivered_++;
    }
    std::lock_guard<std::mutex> hold(lock_);
    done_ = true;
    cond_.notify_all();
}

void FakeCamera::halt() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
        cond_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

int FakeCamera::_supported(void *user) {
    return ((FakeCamera *)user)->supported;
}

int FakeCamera::_permission(void *user) {
    return ((FakeCamera *)user)->permission;
}

void FakeCamera::_request(void *user) {
    ((FakeCamera *)user)->permission_requests++;
}

int FakeCamera::_start(int w, int h, int fps, int front, void *user) {
    FakeCamera *cam = (FakeCamera *)user;
    cam->starts++;
    cam->last_w = w, cam->last_h = h, cam->last_fps = fps, cam->last_front = front;
    if (cam->start_result <= 0) return cam->start_result;
    cam->halt();
    {
        std::lock_guard<std::mutex> hold(cam->lock_);
        cam->quit_ = false;
        cam->done_ = false;
    }
    cam->delivered_ = 0;
    cam->thread_ = std::thread([cam] { cam->run(); });
    return cam->start_result;
}

void FakeCamera::_stop(void *user) {
    FakeCamera *cam = (FakeCamera *)user;
    cam->stops++;
    cam->halt();
}

int FakeCamera::_flash(void *user) {
    return ((FakeCamera *)user)->flash;
}

int FakeCamera::_orientation(void *user) {
    return ((FakeCamera *)user)->orientation;
}
