// src/phone/torch.cpp: the flashlight worker, its channel and the latency measurement.
#include "phone/torch.hpp"

#include <atomic>
#include <system_error>
#include <thread>
#include <allegro5/allegro.h>

#include "platform/wake_event.hpp"
#include "phone/phone_worker.hpp"
#include "support/ka_common.hpp"

// The desktop's answers: no flashlight.
static int _desktop_probe(void *) {
    return 0;
}
static int _desktop_set(int, void *) {
    return 0;
}
static int _desktop_measure(void *) {
    return -1;
}
static const TORCH_PLATFORM _DESKTOP = {_desktop_probe, _desktop_set, _desktop_measure, nullptr};

static struct {
    PHONE_WORKER w; // lock, cond, thread, running, quit
    int want = 0;
    int have = 0; // -1 forces the next application
    int busy_logged = 0;
    std::atomic<int> available{-1}; // -1 not probed yet
    std::atomic<int> latency_ms{-1};
    TORCH_PLATFORM platform = _DESKTOP;
} _torch;

void torch_set_platform(const TORCH_PLATFORM *platform) {
    std::lock_guard<std::mutex> hold(_torch.w.lock);
    if (_torch.w.running) return;
    _torch.platform = platform ? *platform : _DESKTOP;
    _torch.available.store(-1);
    _torch.latency_ms.store(-1);
}

int torch_available() {
    return phone_probe_once(_torch.available, _torch.w.lock, _torch.platform.probe,
                            _torch.platform.user, "flashlight");
}

// Applies the latest wanted state; changes made while a switch runs collapse into one.
static void _torch_worker() {
    std::unique_lock<std::mutex> hold(_torch.w.lock);
    while (!_torch.w.quit) {
        if (_torch.want == _torch.have) {
            _torch.w.cond.wait(hold);
            continue;
        }
        // Noted as applied before the slow call, so that a resync arriving during it (have
        // back to -1) is not overwritten afterwards and gets its own switch.
        int target = _torch.want;
        _torch.have = target;
        hold.unlock();
        int ok = _torch.platform.set(target, _torch.platform.user);
        hold.lock();
        if (!ok && !_torch.busy_logged) {
            ka_log(LOG_ERR, "could not switch the flashlight %s", target ? "on" : "off");
            _torch.busy_logged = 1;
        }
    }
    // Leaving the light burning after the program ends, or when the camera takes it over,
    // would be wrong: switch it off unless it is known to be off.
    if (_torch.have != 0) {
        hold.unlock();
        _torch.platform.set(0, _torch.platform.user);
        hold.lock();
        _torch.have = 0;
    }
}

// Called with the lock held.
static void _ensure_worker() {
    _torch.busy_logged = 0;
    if (_torch.w.running) return;
    _torch.have = 0;
    _torch.want = 0;
    phone_worker_ensure(_torch.w, _torch_worker, "torch");
}

// Called with the lock held; wakes the worker only when the wanted state changes.
static void _want(int on) {
    if (_torch.want == on) return;
    _torch.want = on;
    _torch.w.cond.notify_one();
}

static void _on_event(const MORSE_SEQUENCE *seq, size_t index, uint32_t, void *) {
    if (!seq || index >= seq->count) return;
    std::lock_guard<std::mutex> hold(_torch.w.lock);
    _want(seq->events[index].state < MORSE_SYM_GAP ? 1 : 0);
}

static void _on_stop(int, void *) {
    std::lock_guard<std::mutex> hold(_torch.w.lock);
    _want(0);
}

PLAYER_CHANNEL torch_channel(uint32_t lead_ms) {
    if (torch_available() == 1) {
        std::lock_guard<std::mutex> hold(_torch.w.lock);
        _ensure_worker();
    }
    return PLAYER_CHANNEL{"torch", lead_ms, nullptr, _on_event, _on_stop, nullptr};
}

void torch_live(int on) {
    if (torch_available() != 1) return;
    std::lock_guard<std::mutex> hold(_torch.w.lock);
    _ensure_worker();
    _want(on ? 1 : 0);
}

void torch_resync() {
    std::lock_guard<std::mutex> hold(_torch.w.lock);
    if (!_torch.w.running || _torch.want != 1) return;
    _torch.have = -1;
    _torch.w.cond.notify_one();
}

void torch_shutdown() {
    phone_worker_stop(_torch.w, [] { _torch.want = 0; });
}

static void _measure_thread(TORCH_PLATFORM platform, ALLEGRO_EVENT_SOURCE *wake) {
    int ms = platform.measure_latency ? platform.measure_latency(platform.user) : -1;
    if (ms < 0) ms = -1;
    ka_log(LOG_INFO, "torch latency measured: %d ms", ms);
    _torch.latency_ms.store(ms);
    lumikey_wake(wake);
}

int torch_measure_start(void *wake_source) {
    if (torch_available() != 1) return 0;
    int idle = _torch.latency_ms.load();
    do {
        if (idle == -2) return 0;
    } while (!_torch.latency_ms.compare_exchange_weak(idle, -2));
    std::lock_guard<std::mutex> hold(_torch.w.lock);
    try {
        std::thread(_measure_thread, _torch.platform,
                    static_cast<ALLEGRO_EVENT_SOURCE *>(wake_source))
            .detach();
    } catch (const std::system_error &) {
        _torch.latency_ms.store(-1);
        return 0;
    }
    return 1;
}

int torch_latency_result() {
    return _torch.latency_ms.load();
}
