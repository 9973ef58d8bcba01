// src/audio/sidetone_pulse.cpp: the sidetone's own PulseAudio stream, on libpulse's threaded
// main loop. The server calls back for samples; they are made in the callback from the key
// flag as it is at that moment.
#include "audio/sidetone_pulse.hpp"

#include <atomic>
#include <chrono>
#include <thread>
#include <pulse/pulseaudio.h>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "audio/sidetone_queue.hpp"
#include "support/ka_log.hpp"

// The server is asked to keep about 5.8 ms queued and to ask again whenever 1.5 ms of it has
// played: a key change then waits at most one request before it is handed over, and the
// queue's length is what the listener hears on top. Smaller requests wake the server's
// thread and ours more often for no audible gain.
static constexpr uint32_t _REQUEST_US = 1450;
static constexpr uint32_t _TARGET_REQUESTS = 4;
// Underruns grow the queue a request at a time up to 16 ms: beyond that the delay itself
// trips the operator, and an occasional gap is the lesser harm.
static constexpr uint32_t _MAX_TARGET_REQUESTS = 11;
// How long a server that does not answer may hold up the key screen.
static constexpr auto _CONNECT_TIMEOUT = std::chrono::milliseconds(1500);
// Real-time priority asked for the stream's thread: below the 5 PulseAudio gives its own
// device threads, so ours never holds up the server it feeds, above every ordinary thread.
static constexpr int _RT_PRIORITY = 4;
// The nice level PulseAudio itself takes where real-time scheduling is refused.
static constexpr int _NICE = -11;

static struct {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *ctx = nullptr;
    pa_stream *stream = nullptr;
    SIDETONE_PULSE_FILL fill = nullptr;
    void *user = nullptr;
    uint32_t rate = 0;
    SIDETONE_PULSE_TUNING tuning{};
    uint32_t request = 0;   // samples
    SIDETONE_QUEUE queue{}; // changed on the loop's thread only
    bool scheduled = false; // the loop's thread has had its priority set
    std::atomic<int> priority_kind{SIDETONE_PULSE_NORMAL};
    std::atomic<int> priority{0};
    std::atomic<bool> filled{false}; // the first request has been answered
    std::atomic<uint32_t> underruns{0};
    std::atomic<uint32_t> target{0}; // copies of the queue's, for other threads
    std::atomic<uint32_t> highest{0};
} _sp;

static int64_t _now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A sample that arrives late is a click, so the thread that makes them should not wait
// behind a compiler. Real-time where the process may (root, or a real-time limit), else the
// raised nice level, else as it is. Only this thread is changed, and not its children.
static void _raise_priority() {
    sched_param p{};
    p.sched_priority = _RT_PRIORITY;
    rlimit lim{};
    if (getrlimit(RLIMIT_RTPRIO, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur > 0 &&
        (rlim_t)p.sched_priority > lim.rlim_cur)
        p.sched_priority = (int)lim.rlim_cur;
    // On Linux the calling thread is the one changed.
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &p) == 0) {
        _sp.priority.store(p.sched_priority);
        _sp.priority_kind.store(SIDETONE_PULSE_REALTIME);
    } else if (setpriority(PRIO_PROCESS, (id_t)gettid(), _NICE) == 0) {
        _sp.priority.store(_NICE);
        _sp.priority_kind.store(SIDETONE_PULSE_NICE);
    }
}

static void _ask_target(pa_stream *s) {
    uint32_t target = _sp.queue.target;
    _sp.target.store(target);
    _sp.highest.store(_sp.queue.highest);
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = target * sizeof(int16_t);
    attr.prebuf = (uint32_t)-1;
    attr.minreq = _sp.request * sizeof(int16_t);
    attr.fragsize = (uint32_t)-1;
    pa_operation *op = pa_stream_set_buffer_attr(s, &attr, nullptr, nullptr);
    if (op) pa_operation_unref(op);
}

static void _on_write(pa_stream *s, size_t nbytes, void *) {
    if (!_sp.scheduled) {
        _sp.scheduled = true;
        _raise_priority();
    }
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
    _sp.filled.store(true);
    if (sidetone_queue_tick(&_sp.queue, _now_ms())) {
        _ask_target(s);
        ka_log(LOG_DEBUG, "sidetone ran clean, queue back to %.1f ms",
               1000.0 * _sp.queue.target / (double)_sp.rate);
    }
}

static void _on_underflow(pa_stream *s, void *) {
    _sp.underruns.fetch_add(1, std::memory_order_relaxed);
    if (!sidetone_queue_underrun(&_sp.queue, _now_ms())) return;
    _ask_target(s);
    // The first time says what is happening; the rest of the story is told at the close.
    ka_log(_sp.queue.target == _sp.queue.base + _sp.queue.step ? LOG_INFO : LOG_DEBUG,
           "sidetone ran dry, queue raised to %.1f ms",
           1000.0 * _sp.queue.target / (double)_sp.rate);
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

static bool _stream_failed() {
    return !PA_STREAM_IS_GOOD(pa_stream_get_state(_sp.stream));
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
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = _sp.queue.target * sizeof(int16_t);
    attr.prebuf = (uint32_t)-1;
    attr.minreq = _sp.request * sizeof(int16_t);
    attr.fragsize = (uint32_t)-1;
    pa_stream_set_state_callback(_sp.stream, _on_stream_state, nullptr);
    pa_stream_set_write_callback(_sp.stream, _on_write, nullptr);
    pa_stream_set_underflow_callback(_sp.stream, _on_underflow, nullptr);
    // Adjusting the latency makes the server size the device's own buffer to our queue, so
    // the queue is the whole delay rather than a part of it.
    int flags = PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE;
    if (_sp.tuning.timing == SIDETONE_PULSE_ADJUST_LATENCY) flags |= PA_STREAM_ADJUST_LATENCY;
    if (_sp.tuning.timing == SIDETONE_PULSE_EARLY_REQUESTS) flags |= PA_STREAM_EARLY_REQUESTS;
    // Corked until the whole queue is written: a stream that starts at the server's threshold
    // with a part of it runs dry at once while its thread is still waking up.
    if (!_sp.tuning.no_prefill) flags |= PA_STREAM_START_CORKED;
    if (pa_stream_connect_playback(_sp.stream, nullptr, &attr, (pa_stream_flags_t)flags, nullptr,
                                   nullptr) < 0)
        return false;
    if (!_wait_for([] { return pa_stream_get_state(_sp.stream) == PA_STREAM_READY; },
                   _stream_failed))
        return false;
    if (!_wait_for([] { return _sp.filled.load(); }, _stream_failed)) return false;
    if (_sp.tuning.no_prefill) return true;
    pa_operation *op = pa_stream_cork(_sp.stream, 0, nullptr, nullptr);
    if (!op) return false;
    pa_operation_unref(op);
    return true;
}

void sidetone_pulse_set_tuning(const SIDETONE_PULSE_TUNING *tuning) {
    _sp.tuning = tuning ? *tuning : SIDETONE_PULSE_TUNING{};
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
    _sp.request = _sp.tuning.request_samples ? _sp.tuning.request_samples
                                             : (uint32_t)((uint64_t)rate * _REQUEST_US / 1000000);
    if (_sp.request == 0) _sp.request = 1;
    uint32_t base =
        _sp.tuning.target_samples ? _sp.tuning.target_samples : _TARGET_REQUESTS * _sp.request;
    uint32_t cap = _sp.tuning.max_target_samples ? _sp.tuning.max_target_samples
                                                 : _MAX_TARGET_REQUESTS * _sp.request;
    sidetone_queue_init(&_sp.queue, base, _sp.request, cap, _now_ms());
    _sp.target.store(_sp.queue.target);
    _sp.highest.store(_sp.queue.highest);
    _sp.underruns.store(0);
    _sp.filled.store(false);
    _sp.scheduled = false;
    _sp.priority_kind.store(SIDETONE_PULSE_NORMAL);
    _sp.priority.store(0);
    pa_threaded_mainloop_set_name(_sp.loop, "sidetone");
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
        info->priority_kind = _sp.priority_kind.load();
        info->priority = _sp.priority.load();
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
    uint32_t underruns = _sp.underruns.load();
    if (underruns > 0 && _sp.rate > 0)
        ka_log(LOG_INFO, "sidetone stream closed after %u underruns, its queue at most %.1f ms",
               underruns, 1000.0 * _sp.highest.load() / (double)_sp.rate);
    pa_threaded_mainloop_free(_sp.loop);
    _sp.loop = nullptr;
    _sp.fill = nullptr;
    _sp.user = nullptr;
    _sp.target.store(0);
    _sp.highest.store(0);
}

int sidetone_pulse_running() {
    return _sp.stream ? 1 : 0;
}

uint32_t sidetone_pulse_underruns() {
    return _sp.underruns.load(std::memory_order_relaxed);
}

uint32_t sidetone_pulse_target_samples() {
    return _sp.target.load();
}

uint32_t sidetone_pulse_highest_target_samples() {
    return _sp.highest.load();
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
