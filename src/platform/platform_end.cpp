// src/platform/platform_end.cpp: quit signals through a signalfd read on a thread of its own,
// and the end after the X server went away.
//
// A signal handler may do almost nothing safely, and the loop must learn of the signal without
// polling for it, so no handler is installed: the signals stay blocked in every thread and a
// watcher reads them from a signalfd, records the first and wakes the loop with an ordinary
// user event.
#include "platform/platform_end.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <X11/Xlib.h>

#include "platform/wake_event.hpp"
#include "support/ka_common.hpp"

// How long a thread that noticed the loss leaves the main thread to end the program first.
static const int DISPLAY_LOST_GRACE_MS = 2000;

static struct {
    int signal_fd = -1;
    int stop[2] = {-1, -1};
    std::thread watcher;
    std::atomic<int> armed{0};  // signals are quit requests, not the default end
    std::atomic<int> signal{0}; // the first quit signal since armed
    std::atomic<ALLEGRO_EVENT_SOURCE *> wake{nullptr};
    pthread_t main_thread{};
    std::atomic<int> display_lost{0};
    std::atomic<int> ending{0}; // the thread that set it makes the save and ends the process
    std::atomic<void (*)(void *)> save{nullptr};
    std::atomic<void *> save_user{nullptr};
} _end;

static sigset_t _quit_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

// Before the watch, a signal gets its default action, as if it had never been blocked: this
// thread unblocks it and sends it to itself.
static void _end_by_default(int signo) {
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signo);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signo);
}

static void _watch() {
    struct pollfd pfd[2] = {{_end.signal_fd, POLLIN, 0}, {_end.stop[0], POLLIN, 0}};
    for (;;) {
        pfd[0].revents = pfd[1].revents = 0;
        if (poll(pfd, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (pfd[1].revents) return;
        if (!(pfd[0].revents & POLLIN)) continue;
        struct signalfd_siginfo info;
        if (read(_end.signal_fd, &info, sizeof info) != (ssize_t)sizeof info) continue;
        int signo = (int)info.ssi_signo;
        if (!_end.armed.load()) {
            _end_by_default(signo);
            continue;
        }
        // A logout sends SIGHUP and SIGTERM together: the second must not cut the save short.
        int none = 0;
        if (_end.signal.compare_exchange_strong(none, signo)) lumikey_wake(_end.wake.load());
    }
}

static void _close_fds() {
    for (int *fd : {&_end.signal_fd, &_end.stop[0], &_end.stop[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

int platform_catch_quit_signals() {
    if (_end.watcher.joinable()) return 1;
    sigset_t set = _quit_set();
    _end.signal_fd = signalfd(-1, &set, SFD_CLOEXEC);
    if (_end.signal_fd < 0 || pipe2(_end.stop, O_CLOEXEC) != 0) {
        ka_log(LOG_ERR, "quit signals cannot be watched: %s", strerror(errno));
        _close_fds();
        return 0;
    }
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &set, &old);
    try {
        _end.watcher = std::thread(_watch);
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        _close_fds();
        ka_log(LOG_ERR, "quit signals cannot be watched: no thread");
        return 0;
    }
    return 1;
}

void platform_watch_quit_signals(ALLEGRO_EVENT_SOURCE *wake) {
    _end.wake.store(wake);
    _end.armed.store(1);
}

int platform_quit_signal() {
    return _end.signal.load();
}

void platform_release_quit_signals() {
    _end.wake.store(nullptr);
    if (!_end.watcher.joinable()) return;
    char byte = 1;
    if (write(_end.stop[1], &byte, 1) != 1) {
        // The pipe is new and empty: a write can only fail if it was closed, and then the
        // watcher has already gone.
    }
    _end.watcher.join();
    _close_fds();
    _end.armed.store(0);
    _end.signal.store(0);
}

void platform_end_after_display_lost() {
    int first = 0;
    if (!_end.ending.compare_exchange_strong(first, 1)) {
        for (;;) pause(); // the thread that got here first ends the process
    }
    ka_log(LOG_ERR, "the connection to the X server was lost");
    void (*save)(void *) = _end.save.load();
    if (save) save(_end.save_user.load());
    ka_log(LOG_ERR, "Lumikey ended without its display");
    _exit(1);
}

// Xlib ends the process with exit() if this returns, which runs the libraries' exit handlers on
// a dead connection; so it never returns. The connection of the calling thread stays locked,
// so the main thread may be stuck on it: it gets a moment to end the program itself, with its
// model at rest, before this thread does.
static int _display_io_error(Display *) {
    _end.display_lost.store(1);
    if (pthread_equal(pthread_self(), _end.main_thread)) platform_end_after_display_lost();
    lumikey_wake(_end.wake.load());
    auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(DISPLAY_LOST_GRACE_MS);
    while (!_end.ending.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    platform_end_after_display_lost();
}

void platform_catch_display_loss() {
    _end.main_thread = pthread_self();
    XSetIOErrorHandler(_display_io_error);
}

void platform_on_display_lost(void (*save)(void *user), void *user) {
    _end.save_user.store(user);
    _end.save.store(save);
}

int platform_display_lost() {
    return _end.display_lost.load();
}
