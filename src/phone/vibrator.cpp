// src/phone/vibrator.cpp: the vibration worker and its channel.
#include "phone/vibrator.hpp"

#include <atomic>
#include <cstring>

#include "phone/phone_worker.hpp"
#include "support/ka_common.hpp"

enum { _CMD_NONE = 0, _CMD_PLAY = 1, _CMD_CANCEL = 2, _CMD_ON = 3 };

static int _desktop_probe(void *) {
    return 0;
}
static void _desktop_play(const uint32_t *, size_t, void *) {}
static void _desktop_call(void *) {}
static const VIBRATOR_PLATFORM _DESKTOP = {_desktop_probe, _desktop_play, _desktop_call,
                                           _desktop_call, nullptr};

static struct {
    PHONE_WORKER w;      // lock, cond, thread, running, quit
    int cmd = _CMD_NONE; // a newer command replaces one not yet taken
    uint32_t *wave = nullptr;
    size_t wave_len = 0;
    std::atomic<int> available{-1};
    VIBRATOR_PLATFORM platform = _DESKTOP;
} _vib;

void vibrator_set_platform(const VIBRATOR_PLATFORM *platform) {
    std::lock_guard<std::mutex> hold(_vib.w.lock);
    if (_vib.w.running) return;
    _vib.platform = platform ? *platform : _DESKTOP;
    _vib.available.store(-1);
}

int vibrator_available() {
    return phone_probe_once(_vib.available, _vib.w.lock, _vib.platform.probe, _vib.platform.user,
                            "vibrator");
}

static void _vib_worker() {
    const VIBRATOR_PLATFORM &pf = _vib.platform;
    int moving = 0; // a pattern or a continuous vibration may still be running
    std::unique_lock<std::mutex> hold(_vib.w.lock);
    while (!_vib.w.quit) {
        if (_vib.cmd == _CMD_NONE) {
            _vib.w.cond.wait(hold);
            continue;
        }
        int cmd = _vib.cmd;
        _vib.cmd = _CMD_NONE;
        if (cmd == _CMD_PLAY) {
            if (_vib.wave_len == 0) continue;
            // The platform plays a copy, so vibrator_prepare may replace the pattern meanwhile.
            size_t len = _vib.wave_len;
            uint32_t *copy = nullptr;
            Malloc(copy, uint32_t, len);
            if (!copy) continue;
            memcpy(copy, _vib.wave, len * sizeof *copy);
            hold.unlock();
            pf.play(copy, len, pf.user);
            Free(copy);
            hold.lock();
        } else {
            hold.unlock();
            if (cmd == _CMD_ON)
                pf.on(pf.user);
            else
                pf.cancel(pf.user);
            hold.lock();
        }
        moving = cmd != _CMD_CANCEL;
    }
    // A motor left running at program end would go on until the pattern or the system stops it.
    if (moving) {
        hold.unlock();
        pf.cancel(pf.user);
    }
}

// Called with the lock held. 1 when a worker runs.
static int _ensure_worker() {
    if (!_vib.w.running) _vib.cmd = _CMD_NONE;
    return phone_worker_ensure(_vib.w, _vib_worker, "vibrator");
}

// Called with the lock held.
static void _post_locked(int cmd) {
    _vib.cmd = cmd;
    _vib.w.cond.notify_one();
}

static void _post(int cmd) {
    std::lock_guard<std::mutex> hold(_vib.w.lock);
    _post_locked(cmd);
}

static void _on_rep_start(const MORSE_SEQUENCE *, uint32_t, uint64_t, void *) {
    _post(_CMD_PLAY);
}

// A pattern that played to its end has stopped by itself.
static void _on_stop(int finished, void *) {
    if (!finished) _post(_CMD_CANCEL);
}

int vibrator_prepare(const MORSE_SEQUENCE *seq, uint32_t lead_ms, PLAYER_CHANNEL *channel) {
    __ka_assert(seq, return 0);
    __ka_assert(channel, return 0);
    if (vibrator_available() != 1) return 0;
    size_t len = morse_sequence_on_off_ms(seq, nullptr, 0);
    if (len == 0) return 0;
    {
        std::lock_guard<std::mutex> hold(_vib.w.lock);
        if (_vib.wave) Free(_vib.wave);
        _vib.wave_len = 0;
        Malloc(_vib.wave, uint32_t, len);
        if (!_vib.wave) return 0;
        _vib.wave_len = morse_sequence_on_off_ms(seq, _vib.wave, len);
        if (!_ensure_worker()) return 0;
    }
    *channel = PLAYER_CHANNEL{"vibrate", lead_ms, _on_rep_start, nullptr, _on_stop, nullptr};
    return 1;
}

void vibrator_live(int on) {
    if (vibrator_available() != 1) return;
    std::lock_guard<std::mutex> hold(_vib.w.lock);
    if (_ensure_worker()) _post_locked(on ? _CMD_ON : _CMD_CANCEL);
}

void vibrator_shutdown() {
    phone_worker_stop(_vib.w, nullptr);
    std::lock_guard<std::mutex> hold(_vib.w.lock);
    if (_vib.wave) Free(_vib.wave);
    _vib.wave_len = 0;
}
