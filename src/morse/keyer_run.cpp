// src/morse/keyer_run.cpp: the keyer thread. It sleeps until the keyer's next deadline on the
// monotonic clock (or until a paddle change or a stop wakes it), steps the keyer and delivers
// the edges. Edge times are the keyer's schedule, so the decoder sees exact element lengths
// however late the thread wakes; only the moment the output switches can lag.
#include "morse/keyer_run.hpp"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <thread>

#include "support/ka_common.hpp"

using _clock = std::chrono::steady_clock; // CLOCK_MONOTONIC: wall-clock jumps never matter

// Room for one keyer_step; _advance steps again until nothing more is due.
static const size_t _step_room = 16;

static void _quit_and_join();

static struct _KEYRUN {
    // Serialises keyrun_start and keyrun_stop, so two of them never join the same thread or
    // start a second one; never taken by the keyer thread.
    std::mutex control;
    std::mutex lock;              // guards everything below
    std::condition_variable cond; // timed waits on steady_clock; paddles and stop signal it
    std::thread thread;
    int running = 0;
    int quit = 0;
    KEYER k = {};
    KEYRUN_OUTPUT out = nullptr;
    void *user = nullptr;
    int key_down = 0;
    KEYER_EDGE queue[KEYRUN_QUEUE_SIZE] = {};
    size_t nq = 0;

    // A keyer left running at exit would make std::thread end the process from its
    // destructor; the output is not called here, its owner may already be gone.
    ~_KEYRUN() { _quit_and_join(); }
} _kr;

// Set while the output callback runs on this thread: the keyer's lock is held then, so any
// keyrun_ call would deadlock on it; such calls are refused instead.
static thread_local int _in_output = 0;

static int _refuse_in_output(const char *what) {
    if (!_in_output) return 0;
    ka_log(LOG_ERR, "%s called from the keyer output, ignored", what);
    return 1;
}

double keyrun_now_ms() {
    auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(_clock::now().time_since_epoch());
    return (double)ns.count() / 1e6;
}

// Rounded up, so that a wake at this instant never finds the deadline still ahead.
static _clock::time_point _time_point(double ms) {
    return _clock::time_point(std::chrono::nanoseconds((int64_t)std::ceil(ms * 1e6)));
}

// Hands edges to the output and the queue; the lock is held. A repeated state is dropped, so
// the output and the queue always alternate down and up.
static void _emit(const KEYER_EDGE *edges, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (edges[i].down == _kr.key_down) continue;
        _kr.key_down = edges[i].down;
        if (_kr.out) {
            _in_output = 1;
            _kr.out(edges[i].down, _kr.user);
            _in_output = 0;
        }
        if (_kr.nq < KEYRUN_QUEUE_SIZE) _kr.queue[_kr.nq++] = edges[i];
    }
}

// Brings the keyer up to now, delivering every edge that fell due; the lock is held.
static void _advance(double now) {
    KEYER_EDGE edges[_step_room];
    size_t n;
    do {
        n = keyer_step(&_kr.k, now, edges, _step_room);
        _emit(edges, n);
    } while (n > 0);
}

// The sidetone switches when this thread wakes, so its wake-up latency is heard. Linux lets a
// timed wait overrun by the thread's timer slack (50 us by default) to batch wake-ups: ask for
// less. On a busy machine an ordinary thread can wait milliseconds for a core; the lowest
// real-time priority avoids that where the user may have it (the thread only ever sleeps or
// runs a short step), and without it the thread simply stays an ordinary one.
static void _ask_for_prompt_wakeups() {
    prctl(PR_SET_TIMERSLACK, 5000UL, 0UL, 0UL, 0UL);
    sched_param param = {};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0)
        ka_log(LOG_DEBUG, "keyer thread without real-time priority");
}

static void _keyrun_thread() {
    _ask_for_prompt_wakeups();
    std::unique_lock<std::mutex> hold(_kr.lock);
    while (!_kr.quit) {
        const double deadline = keyer_next_deadline(&_kr.k);
        if (deadline < 0) {
            _kr.cond.wait(hold);
        } else if (deadline > 0 && deadline > keyrun_now_ms()) {
            _kr.cond.wait_until(hold, _time_point(deadline));
        }
        if (_kr.quit) break;
        _advance(keyrun_now_ms());
    }
}

// Ends the thread, if any; the lock is not held.
static void _quit_and_join() {
    std::thread t;
    {
        std::lock_guard<std::mutex> g(_kr.lock);
        _kr.quit = 1;
        _kr.running = 0; // paddle reports from now on are ignored
        t = std::move(_kr.thread);
    }
    _kr.cond.notify_all();
    // Without the lock, so that the thread can finish the step it may be in.
    if (t.joinable()) t.join();
}

// Joins the thread and releases the key; control is held, the lock is not.
static void _stop() {
    _quit_and_join();

    std::lock_guard<std::mutex> g(_kr.lock);
    if (!_kr.key_down) return;
    // A key left down would keep the sidetone sounding, and a queue ending on a down edge
    // would leave the decoder holding a mark that never ends.
    const KEYER_EDGE up = {keyrun_now_ms(), 0};
    _emit(&up, 1);
}

int keyrun_start(uint32_t unit_ms, int mode_b, KEYRUN_OUTPUT out, void *user) {
    if (_refuse_in_output("keyrun_start")) return 0;
    std::lock_guard<std::mutex> control(_kr.control);
    _stop();
    int running;
    {
        std::lock_guard<std::mutex> g(_kr.lock);
        keyer_init(&_kr.k, unit_ms, mode_b);
        _kr.out = out;
        _kr.user = user;
        _kr.key_down = 0;
        _kr.nq = 0;
        _kr.quit = 0;
        try {
            _kr.thread = std::thread(_keyrun_thread);
            _kr.running = 1;
        } catch (...) {
            _kr.running = 0;
        }
        running = _kr.running;
    }
    if (!running) ka_log(LOG_ERR, "could not start the keyer thread");
    return running;
}

void keyrun_paddles(int dit, int dah) {
    if (_refuse_in_output("keyrun_paddles")) return;
    std::lock_guard<std::mutex> g(_kr.lock);
    if (!_kr.running) return;
    const double now = keyrun_now_ms();
    // What fell due before this change is delivered first, at its own times; then an element
    // the change starts begins now rather than when the thread next wakes.
    _advance(now);
    keyer_paddles(&_kr.k, now, dit, dah);
    _advance(now);
    _kr.cond.notify_one();
}

size_t keyrun_take_edges(KEYER_EDGE *out, size_t max) {
    if (_refuse_in_output("keyrun_take_edges")) return 0;
    __ka_assert(out || max == 0, return 0);
    std::lock_guard<std::mutex> g(_kr.lock);
    const size_t n = max < _kr.nq ? max : _kr.nq;
    if (n == 0) return 0;
    memcpy(out, _kr.queue, n * sizeof *out);
    memmove(_kr.queue, _kr.queue + n, (_kr.nq - n) * sizeof *out);
    _kr.nq -= n;
    return n;
}

void keyrun_stop() {
    if (_refuse_in_output("keyrun_stop")) return;
    std::lock_guard<std::mutex> control(_kr.control);
    _stop();
}

int keyrun_running() {
    if (_refuse_in_output("keyrun_running")) return 0;
    std::lock_guard<std::mutex> g(_kr.lock);
    return _kr.running;
}
