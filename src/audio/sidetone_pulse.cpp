// src/audio/sidetone_pulse.cpp: the sidetone's own PulseAudio stream, on libpulse's threaded
// main loop. The server calls back for samples, which are made from the key flag as it is;
// when the key changes, what is queued past the server's read position is made again.
#include "audio/sidetone_pulse.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <pulse/pulseaudio.h>

#include <sched.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include "audio/sidetone_queue.hpp"
#include "support/ka_log.hpp"

// The server asks again whenever 1.5 ms has played, and the device's own buffer is cut to
// that size. The queue ahead of it is long, 40 requests (58 ms), so that a pause of the
// machine does not run it dry; a key change does not wait behind it, because what is queued
// is made again from a few requests past the server's read position. Smaller requests wake
// the server's thread and ours more often for no audible gain.
static constexpr uint32_t _REQUEST_US = 1450;
static constexpr uint32_t _TARGET_REQUESTS = 40;
// The queue's length costs no delay, only the work of making it again: underruns may grow it
// to 100 requests, and never past the samples the oscillator can make again.
static constexpr uint32_t _MAX_TARGET_REQUESTS = 100;
// How far past the estimated read position a key change is written: the estimate may be a
// request late, and what the server has already read cannot be replaced.
static constexpr uint32_t _REWRITE_MARGIN_REQUESTS = 3;
// Where the server does not honour the seek, a rewrite would land behind the queue: then the
// queue is cut to what the stream kept before it wrote over its queue.
static constexpr uint32_t _SHORT_TARGET_REQUESTS = 4;
static constexpr uint32_t _SHORT_MAX_TARGET_REQUESTS = 11;
// Requests remembered for the estimate of the server's read position: about 90 ms' worth.
static constexpr size_t _READ_HISTORY = 64;
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
    uint32_t request = 0;               // samples
    bool rewrite = true;                // key changes are written over the queue
    std::atomic<bool> rewriting{false}; // a copy of rewrite, for other threads
    bool append_rewrites = false;       // rewrites go where a seek-blind server puts them
    SIDETONE_QUEUE queue{};             // changed on the loop's thread only
    bool scheduled = false;             // the loop's thread has had its priority set
    std::atomic<int> priority_kind{SIDETONE_PULSE_NORMAL};
    std::atomic<int> priority{0};
    std::atomic<bool> filled{false}; // the first request has been answered
    std::atomic<uint32_t> underruns{0};
    std::atomic<uint32_t> target{0}; // copies of the queue's, for other threads
    std::atomic<uint32_t> highest{0};
    uint64_t written = 0; // samples handed over since the stream opened
    // The server's read position as each recent request implied it, and when it came.
    struct {
        uint64_t read;
        int64_t us;
    } seen[_READ_HISTORY];
    size_t seen_next = 0;
    // An eventfd the key writes to and the loop's thread reads; made once and kept, so that a
    // key change racing a stop never writes to a closed descriptor.
    std::atomic<int> wake{-1};
    pa_io_event *wake_event = nullptr;
    std::atomic<uint32_t> lead{0};
} _sp;

static int64_t _now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static int64_t _now_ms() {
    return _now_us() / 1000;
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

// Requests answered while the server was not reading (corked, or refilling after running
// dry) tell where it stood, not that it moves on.
static void _forget_read_position() {
    for (auto &seen : _sp.seen) seen = {0, -1};
}

// Where the server reads now, at the least. It asks for what brings its queue back to the
// target, so each request tells where it had read when it was sent; the message may have
// been delayed on the way, so each tells a lower bound, moved on at the stream's rate since.
// Only recent ones are kept, so that the device's clock cannot drift far from ours.
static uint64_t _read_position() {
    int64_t now = _now_us();
    uint64_t best = 0;
    for (const auto &s : _sp.seen) {
        if (s.us < 0) continue;
        uint64_t moved = (uint64_t)std::max<int64_t>(0, now - s.us) * _sp.rate / 1000000;
        best = std::max(best, s.read + moved);
    }
    return std::min(best, _sp.written);
}

// Hands n samples made from position at to the server, written over what it holds there.
static bool _write_from(pa_stream *s, uint64_t at, uint64_t end) {
    while (at < end) {
        void *data = nullptr;
        size_t n = (size_t)(end - at) * sizeof(int16_t);
        if (pa_stream_begin_write(s, &data, &n) < 0 || !data) return false;
        n -= n % sizeof(int16_t);
        if (n == 0) {
            pa_stream_cancel_write(s);
            return false;
        }
        uint64_t read = _read_position();
        _sp.lead.store(at > read ? (uint32_t)(at - read) : 0, std::memory_order_relaxed);
        _sp.fill(static_cast<int16_t *>(data), n / sizeof(int16_t), at, _sp.user);
        // What follows on goes where the server's own write position stands, so that the
        // position it reports afterwards is its own and tells whether the last rewrite went
        // where it was asked to (an absolute seek would overwrite the report with ours).
        // Appended, a rewrite plays as on a server that ignores the seek.
        bool absolute = at < _sp.written && !_sp.append_rewrites;
        if (pa_stream_write(s, data, n, nullptr, absolute ? (int64_t)(at * sizeof(int16_t)) : 0,
                            absolute ? PA_SEEK_ABSOLUTE : PA_SEEK_RELATIVE) < 0)
            return false;
        at += n / sizeof(int16_t);
        if (at > _sp.written) _sp.written = at;
    }
    return true;
}

static void _on_write(pa_stream *s, size_t nbytes, void *) {
    if (!_sp.scheduled) {
        _sp.scheduled = true;
        _raise_priority();
    }
    const pa_buffer_attr *attr = pa_stream_get_buffer_attr(s);
    uint64_t asked = nbytes / sizeof(int16_t);
    uint64_t queue = attr ? attr->tlength / sizeof(int16_t) : 0;
    uint64_t read = _sp.written + asked > queue ? _sp.written + asked - queue : 0;
    _sp.seen[_sp.seen_next] = {read, _now_us()};
    _sp.seen_next = (_sp.seen_next + 1) % _READ_HISTORY;
    if (!_write_from(s, _sp.written, _sp.written + asked)) return;
    _sp.filled.store(true);
    if (sidetone_queue_tick(&_sp.queue, _now_ms())) {
        _ask_target(s);
        ka_log(LOG_DEBUG, "sidetone ran clean, queue back to %.1f ms",
               1000.0 * _sp.queue.target / (double)_sp.rate);
    }
}

// The key changed: what is queued from a few requests past the read position is made again.
static void _on_key_changed(pa_mainloop_api *, pa_io_event *, int fd, pa_io_event_flags_t,
                            void *stream) {
    uint64_t count;
    if (read(fd, &count, sizeof count) < 0) return;
    if (!_sp.rewrite) return;
    uint64_t from = _read_position() + _REWRITE_MARGIN_REQUESTS * _sp.request;
    from = (from + SIDETONE_PULSE_ALIGN - 1) / SIDETONE_PULSE_ALIGN * SIDETONE_PULSE_ALIGN;
    uint64_t oldest =
        _sp.written > SIDETONE_PULSE_HISTORY ? _sp.written - SIDETONE_PULSE_HISTORY : 0;
    if (from < oldest)
        from = (oldest + SIDETONE_PULSE_ALIGN - 1) / SIDETONE_PULSE_ALIGN * SIDETONE_PULSE_ALIGN;
    if (from >= _sp.written) return;
    _write_from(static_cast<pa_stream *>(stream), from, _sp.written);
    // The server's own count of what it holds tells whether the rewrite went where it was
    // meant to: over the queue, or after it.
    pa_operation *op =
        pa_stream_update_timing_info(static_cast<pa_stream *>(stream), nullptr, nullptr);
    if (op) pa_operation_unref(op);
}

// A server that honours the seek never holds more than was written up to _sp.written; one
// that put a rewrite after the queue holds the rewrite's length more. Every key change would
// then be heard the whole queue late, so the queue is cut short and nothing is rewritten.
static void _on_timing(pa_stream *s, void *) {
    if (!_sp.rewrite) return;
    const pa_timing_info *t = pa_stream_get_timing_info(s);
    if (!t || t->write_index_corrupt || t->write_index < 0) return;
    uint64_t held_to = (uint64_t)t->write_index / sizeof(int16_t);
    if (held_to <= _sp.written + _sp.request) return;
    _sp.rewrite = false;
    _sp.rewriting.store(false);
    sidetone_queue_init(&_sp.queue, _SHORT_TARGET_REQUESTS * _sp.request, _sp.request,
                        _SHORT_MAX_TARGET_REQUESTS * _sp.request, _now_ms());
    _ask_target(s);
    ka_log(LOG_WARNING,
           "the sound server plays the sidetone's key changes late (it ignores where they are "
           "written); its queue cut to %.1f ms",
           1000.0 * _sp.queue.target / (double)_sp.rate);
}

void sidetone_pulse_key_changed() {
    int fd = _sp.wake.load(std::memory_order_relaxed);
    if (fd < 0) return;
    uint64_t one = 1;
    ssize_t r = write(fd, &one, sizeof one);
    (void)r;
}

uint32_t sidetone_pulse_fill_lead_samples() {
    return _sp.lead.load(std::memory_order_relaxed);
}

// The server stops reading when it runs dry and starts again once the queue is full: what the
// requests told until then no longer moves on with the clock.
static void _on_started(pa_stream *, void *) {
    _forget_read_position();
}

static void _on_underflow(pa_stream *s, void *) {
    _forget_read_position();
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
    pa_stream_set_started_callback(_sp.stream, _on_started, nullptr);
    pa_stream_set_latency_update_callback(_sp.stream, _on_timing, nullptr);
    // Early requests cut the device's own buffer to the request size: what the server has
    // read waits there, beyond the reach of a rewrite, so it must be short.
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
    _sp.rewrite = !_sp.tuning.no_rewrite;
    _sp.rewriting.store(_sp.rewrite);
    _sp.append_rewrites = _sp.tuning.rewrite_appended != 0;
    uint32_t base =
        _sp.tuning.target_samples ? _sp.tuning.target_samples : _TARGET_REQUESTS * _sp.request;
    uint32_t cap = _sp.tuning.max_target_samples ? _sp.tuning.max_target_samples
                                                 : _MAX_TARGET_REQUESTS * _sp.request;
    cap = std::min(cap, SIDETONE_PULSE_HISTORY - (_REWRITE_MARGIN_REQUESTS + 1) * _sp.request);
    sidetone_queue_init(&_sp.queue, base, _sp.request, cap, _now_ms());
    _sp.target.store(_sp.queue.target);
    _sp.highest.store(_sp.queue.highest);
    _sp.underruns.store(0);
    _sp.filled.store(false);
    _sp.written = 0;
    _forget_read_position();
    _sp.lead.store(0);
    _sp.scheduled = false;
    _sp.priority_kind.store(SIDETONE_PULSE_NORMAL);
    _sp.priority.store(0);
    // Made before the loop's thread, which reads it, is started.
    if (_sp.wake.load() < 0) _sp.wake.store(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    pa_threaded_mainloop_set_name(_sp.loop, "sidetone");
    if (pa_threaded_mainloop_start(_sp.loop) < 0) {
        pa_threaded_mainloop_free(_sp.loop);
        _sp.loop = nullptr;
        return 0;
    }
    pa_threaded_mainloop_lock(_sp.loop);
    bool ok = _connect() && _open_stream();
    // Handed the stream itself, the key's handler reads nothing this thread writes.
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(_sp.loop);
    if (ok && _sp.wake.load() >= 0)
        _sp.wake_event =
            api->io_new(api, _sp.wake.load(), PA_IO_EVENT_INPUT, _on_key_changed, _sp.stream);
    if (ok && info) {
        const pa_buffer_attr *got = pa_stream_get_buffer_attr(_sp.stream);
        info->rate = rate;
        info->request_samples = got ? got->minreq / sizeof(int16_t) : 0;
        info->target_samples = got ? got->tlength / sizeof(int16_t) : 0;
        info->change_samples =
            !_sp.rewrite ? info->target_samples
                         : (_REWRITE_MARGIN_REQUESTS * _sp.request + SIDETONE_PULSE_ALIGN / 2);
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
    if (_sp.wake_event) {
        pa_threaded_mainloop_get_api(_sp.loop)->io_free(_sp.wake_event);
        _sp.wake_event = nullptr;
    }
    if (_sp.stream) {
        pa_stream_set_write_callback(_sp.stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(_sp.stream, nullptr, nullptr);
        pa_stream_set_started_callback(_sp.stream, nullptr, nullptr);
        pa_stream_set_latency_update_callback(_sp.stream, nullptr, nullptr);
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
    _sp.rewriting.store(false);
    _sp.highest.store(0);
}

int sidetone_pulse_running() {
    return _sp.stream ? 1 : 0;
}

int sidetone_pulse_rewriting() {
    return _sp.rewriting.load() ? 1 : 0;
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

int64_t sidetone_pulse_device_latency_us() {
    if (!_sp.loop || !_sp.stream) return -1;
    pa_threaded_mainloop_lock(_sp.loop);
    const pa_timing_info *t = pa_stream_get_timing_info(_sp.stream);
    int64_t us = t ? (int64_t)t->sink_usec : -1;
    pa_threaded_mainloop_unlock(_sp.loop);
    return us;
}
