// src/audio/sidetone_pulse.cpp: the sidetone's own PulseAudio stream, on libpulse's threaded
// main loop. The server calls back for samples; they are made in the callback from the key
// flag as it is at that moment.
#include "audio/sidetone_pulse.hpp"

#include <atomic>
#include <chrono>
#include <thread>
#include <pulse/pulseaudio.h>

#include "support/ka_log.hpp"

// The server is asked to keep about 5.8 ms queued and to ask again whenever 1.5 ms of it has
// played: a key change then waits at most one request before it is handed over, and the
// queue's length is what the listener hears on top. Smaller requests wake the server's
// thread and ours more often for no audible gain.
static constexpr uint32_t _TARGET_SAMPLES = 256;
static constexpr uint32_t _REQUEST_SAMPLES = 64;
// An underrun doubles the queue, up to this, so a busy machine settles on the shortest queue
// it can keep full rather than clicking on.
static constexpr uint32_t _MAX_TARGET_SAMPLES = 2048;
// How long a server that does not answer may hold up the key screen.
static constexpr auto _CONNECT_TIMEOUT = std::chrono::milliseconds(1500);

static struct {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *ctx = nullptr;
    pa_stream *stream = nullptr;
    SIDETONE_PULSE_FILL fill = nullptr;
    void *user = nullptr;
    uint32_t rate = 0;
    uint32_t target = 0; // samples; changed on the loop's thread only
    std::atomic<uint32_t> underruns{0};
} _sp;

static void _on_write(pa_stream *s, size_t nbytes, void *) {
    while (nbytes >= sizeof(int16_t)) {
        void *data = nullptr;
        size_t n = nbytes;
        if (pa_stream_begin_write(s, &data, &n) < 0 || !data) return;
        n -= n % sizeof(int16_t);
        if (n == 0) {
            pa_stream_cancel_write(s);
            return;
        }
        _sp.fill(static_cast<int16_t *>(data), n / sizeof(int16_t), _sp.user);
        if (pa_stream_write(s, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        nbytes -= n;
    }
}

static void _on_underflow(pa_stream *s, void *) {
    _sp.underruns.fetch_add(1, std::memory_order_relaxed);
    if (_sp.target >= _MAX_TARGET_SAMPLES) return;
    _sp.target *= 2;
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = _sp.target * sizeof(int16_t);
    attr.prebuf = (uint32_t)-1;
    attr.minreq = _sp.target / 4 * sizeof(int16_t);
    attr.fragsize = (uint32_t)-1;
    pa_operation *op = pa_stream_set_buffer_attr(s, &attr, nullptr, nullptr);
    if (op) pa_operation_unref(op);
    ka_log(LOG_INFO, "sidetone ran dry, queue raised to %.1f ms",
           1000.0 * _sp.target / (double)_sp.rate);
}

static void _on_state(void *) {
    pa_threaded_mainloop_signal(_sp.loop, 0);
}
static void _on_context_state(pa_context *, void *u) {
    _on_state(u);
}
static void _on_stream_state(pa_stream *, void *u) {
    _on_state(u);
}

// Waits, with the loop locked, until ready() or failed() holds; polls because libpulse's wait
// has no time-out and a hung server must not hang the caller.
template <typename Ready, typename Failed> static bool _wait_for(Ready ready, Failed failed) {
    auto limit = std::chrono::steady_clock::now() + _CONNECT_TIMEOUT;
    while (!ready()) {
        if (failed() || std::chrono::steady_clock::now() > limit) return false;
        pa_threaded_mainloop_unlock(_sp.loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pa_threaded_mainloop_lock(_sp.loop);
    }
    return true;
}

static bool _connect() {
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(_sp.loop);
    _sp.ctx = pa_context_new(api, "Lumikey");
    if (!_sp.ctx) return false;
    pa_context_set_state_callback(_sp.ctx, _on_context_state, nullptr);
    // Never start a server: without one the sidetone goes through the audio system's mixer.
    if (pa_context_connect(_sp.ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    return _wait_for([] { return pa_context_get_state(_sp.ctx) == PA_CONTEXT_READY; },
                     [] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(_sp.ctx)); });
}

static bool _open_stream() {
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = _sp.rate;
    spec.channels = 1;
    pa_proplist *props = pa_proplist_new();
    if (!props) return false;
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "game");
    _sp.stream = pa_stream_new_with_proplist(_sp.ctx, "sidetone", &spec, nullptr, props);
    pa_proplist_free(props);
    if (!_sp.stream) return false;
    _sp.target = _TARGET_SAMPLES;
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = _TARGET_SAMPLES * sizeof(int16_t);
    attr.prebuf = (uint32_t)-1;
    attr.minreq = _REQUEST_SAMPLES * sizeof(int16_t);
    attr.fragsize = (uint32_t)-1;
    pa_stream_set_state_callback(_sp.stream, _on_stream_state, nullptr);
    pa_stream_set_write_callback(_sp.stream, _on_write, nullptr);
    pa_stream_set_underflow_callback(_sp.stream, _on_underflow, nullptr);
    // Adjusting the latency makes the server size the device's own buffer to our queue, so
    // the queue is the whole delay rather than a part of it.
    auto flags = (pa_stream_flags_t)(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                     PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(_sp.stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
        return false;
    return _wait_for([] { return pa_stream_get_state(_sp.stream) == PA_STREAM_READY; },
                     [] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(_sp.stream)); });
}

int sidetone_pulse_start(uint32_t rate, SIDETONE_PULSE_FILL fill, void *user,
                         SIDETONE_PULSE_INFO *info) {
    sidetone_pulse_stop();
    if (!fill || rate == 0) return 0;
    _sp.loop = pa_threaded_mainloop_new();
    if (!_sp.loop) return 0;
    _sp.fill = fill;
    _sp.user = user;
    _sp.rate = rate;
    _sp.underruns.store(0);
    if (pa_threaded_mainloop_start(_sp.loop) < 0) {
        pa_threaded_mainloop_free(_sp.loop);
        _sp.loop = nullptr;
        return 0;
    }
    pa_threaded_mainloop_lock(_sp.loop);
    bool ok = _connect() && _open_stream();
    if (ok && info) {
        const pa_buffer_attr *got = pa_stream_get_buffer_attr(_sp.stream);
        info->rate = rate;
        info->request_samples = got ? got->minreq / sizeof(int16_t) : 0;
        info->target_samples = got ? got->tlength / sizeof(int16_t) : 0;
    }
    pa_threaded_mainloop_unlock(_sp.loop);
    if (!ok) sidetone_pulse_stop();
    return ok ? 1 : 0;
}

void sidetone_pulse_stop() {
    if (!_sp.loop) return;
    pa_threaded_mainloop_lock(_sp.loop);
    if (_sp.stream) {
        pa_stream_set_write_callback(_sp.stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(_sp.stream, nullptr, nullptr);
        pa_stream_set_state_callback(_sp.stream, nullptr, nullptr);
        pa_stream_disconnect(_sp.stream);
        pa_stream_unref(_sp.stream);
        _sp.stream = nullptr;
    }
    if (_sp.ctx) {
        pa_context_set_state_callback(_sp.ctx, nullptr, nullptr);
        pa_context_disconnect(_sp.ctx);
        pa_context_unref(_sp.ctx);
        _sp.ctx = nullptr;
    }
    pa_threaded_mainloop_unlock(_sp.loop);
    // Joins the loop's thread: no callback runs after this.
    pa_threaded_mainloop_stop(_sp.loop);
    pa_threaded_mainloop_free(_sp.loop);
    _sp.loop = nullptr;
    _sp.fill = nullptr;
    _sp.user = nullptr;
}

int sidetone_pulse_running() {
    return _sp.stream ? 1 : 0;
}

uint32_t sidetone_pulse_underruns() {
    return _sp.underruns.load(std::memory_order_relaxed);
}

int64_t sidetone_pulse_latency_us() {
    if (!_sp.loop || !_sp.stream) return -1;
    pa_threaded_mainloop_lock(_sp.loop);
    pa_usec_t usec = 0;
    int negative = 0;
    int r = pa_stream_get_latency(_sp.stream, &usec, &negative);
    pa_threaded_mainloop_unlock(_sp.loop);
    if (r < 0) return -1;
    return negative ? 0 : (int64_t)usec;
}
