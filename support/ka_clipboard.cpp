// support/ka_clipboard.cpp: owning and reading the X11 text selections.
//
// The service keeps its own X connection and one unmapped 1 x 1 window that owns the selections.
// A serving thread answers other programs' requests from the stored texts; it waits on the
// connection for at most 200 ms at a time, and a wake-up pipe lets a shutdown (which happens
// with every GUI rebuild) end that wait at once instead of stalling the main thread. Reading
// another program's selection uses a fresh temporary connection, so the caller never competes
// with the serving thread for events, and a peer that never answers costs at most about 2 s.
#include "support/ka_clipboard.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "support/ka_common.hpp"

namespace {

constexpr int KA_CLIPBOARD_SLOTS = 4;
constexpr double KA_CLIPBOARD_SLOT_IDLE_S = 5.0;
constexpr int KA_CLIPBOARD_POLL_MS = 200;
constexpr int KA_CLIPBOARD_READ_ROUNDS = 20; // of 100 ms: the longest wait for a peer
constexpr int KA_CLIPBOARD_ROUND_MS = 100;

// One incremental transfer of a text larger than a single property write.
struct CLIP_INCR_SLOT {
    int used;
    Window requestor;
    Atom property;
    Atom type;
    std::string data;
    size_t sent;
    std::chrono::steady_clock::time_point last;
};

struct CLIP_ATOMS {
    Atom clipboard, targets, utf8, text, plain, plain_utf8, incr;
};

struct CLIP_SERVICE {
    std::mutex life; // serialises init and destroy
    std::atomic<Display *> dpy{nullptr};
    Window win = 0;
    std::thread thread;
    std::atomic<int> running{0};
    int wake[2] = {-1, -1}; // written once to end the serving thread's wait
    std::atomic<int> ready{0};
    std::mutex lock; // guards text and slots
    char *text[2] = {nullptr, nullptr};
    size_t chunk = 65536;
    CLIP_INCR_SLOT slots[KA_CLIPBOARD_SLOTS];
    CLIP_ATOMS atoms{};
    // The temporary connection of a read in progress, so the error handler knows it as ours.
    std::atomic<Display *> reading{nullptr};
    int (*previous_handler)(Display *, XErrorEvent *) = nullptr;
    std::once_flag handler_once;
};

CLIP_SERVICE _clip;

} // namespace

// A requestor may vanish between its request and our reply; Xlib's default handler would end
// the whole process over that. Errors on our own connections are dropped, others go on to
// whichever handler was there before.
static int _clip_x_error(Display *dpy, XErrorEvent *ev) {
    if (dpy == _clip.dpy.load() || dpy == _clip.reading.load()) {
        ka_log(LOG_DEBUG, "ka_clipboard: X error %d ignored", ev->error_code);
        return 0;
    }
    return _clip.previous_handler ? _clip.previous_handler(dpy, ev) : 0;
}

static void _clip_intern(Display *dpy, CLIP_ATOMS *a) {
    a->clipboard = XInternAtom(dpy, "CLIPBOARD", False);
    a->targets = XInternAtom(dpy, "TARGETS", False);
    a->utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    a->text = XInternAtom(dpy, "TEXT", False);
    a->plain = XInternAtom(dpy, "text/plain", False);
    a->plain_utf8 = XInternAtom(dpy, "text/plain;charset=utf-8", False);
    a->incr = XInternAtom(dpy, "INCR", False);
}

static int _clip_index(Atom selection) {
    if (selection == _clip.atoms.clipboard) return KA_CLIPBOARD_CLIPBOARD;
    if (selection == XA_PRIMARY) return KA_CLIPBOARD_PRIMARY;
    return -1;
}

static int _clip_is_text_target(Atom t) {
    const CLIP_ATOMS &a = _clip.atoms;
    return t == a.utf8 || t == XA_STRING || t == a.text || t == a.plain || t == a.plain_utf8;
}

static double _clip_seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Starts an incremental transfer; 0 when every slot is busy. Called with the lock held.
static int _clip_start_incr(Display *dpy, Window requestor, Atom property, Atom type,
                            std::string data) {
    CLIP_INCR_SLOT *slot = nullptr;
    for (CLIP_INCR_SLOT &s : _clip.slots) {
        if (!s.used || _clip_seconds_since(s.last) > KA_CLIPBOARD_SLOT_IDLE_S) {
            slot = &s;
            break;
        }
    }
    if (!slot) return 0;
    slot->used = 1;
    slot->requestor = requestor;
    slot->property = property;
    slot->type = type;
    slot->data = std::move(data);
    slot->sent = 0;
    slot->last = std::chrono::steady_clock::now();
    // The requestor deleting the property is our cue for the next chunk.
    XSelectInput(dpy, requestor, PropertyChangeMask);
    long size = (long)slot->data.size();
    XChangeProperty(dpy, requestor, property, _clip.atoms.incr, 32, PropModeReplace,
                    (unsigned char *)&size, 1);
    return 1;
}

static void _clip_answer_request(Display *dpy, const XSelectionRequestEvent *req) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = req->display;
    reply.requestor = req->requestor;
    reply.selection = req->selection;
    reply.target = req->target;
    reply.time = req->time;
    // Obsolete clients name no property: the target doubles as the property then.
    Atom property = req->property != None ? req->property : req->target;
    reply.property = None;

    int which = _clip_index(req->selection);
    if (which >= 0) {
        std::lock_guard<std::mutex> hold(_clip.lock);
        const char *text = _clip.text[which];
        const CLIP_ATOMS &a = _clip.atoms;
        if (text && req->target == a.targets) {
            Atom list[6] = {a.targets, a.utf8, XA_STRING, a.text, a.plain, a.plain_utf8};
            XChangeProperty(dpy, req->requestor, property, XA_ATOM, 32, PropModeReplace,
                            (unsigned char *)list, 6);
            reply.property = property;
        } else if (text && _clip_is_text_target(req->target)) {
            Atom type = req->target == a.text ? a.utf8 : req->target;
            size_t len = strlen(text);
            if (len <= _clip.chunk) {
                XChangeProperty(dpy, req->requestor, property, type, 8, PropModeReplace,
                                (const unsigned char *)text, (int)len);
                reply.property = property;
            } else if (_clip_start_incr(dpy, req->requestor, property, type,
                                        std::string(text, len))) {
                reply.property = property;
            }
        }
    }
    XSendEvent(dpy, req->requestor, False, NoEventMask, (XEvent *)&reply);
    XFlush(dpy);
}

static void _clip_continue_incr(Display *dpy, const XPropertyEvent *ev) {
    if (ev->state != PropertyDelete) return;
    std::lock_guard<std::mutex> hold(_clip.lock);
    for (CLIP_INCR_SLOT &s : _clip.slots) {
        if (!s.used || s.requestor != ev->window || s.property != ev->atom) continue;
        size_t left = s.data.size() - s.sent;
        size_t n = left < _clip.chunk ? left : _clip.chunk;
        XChangeProperty(dpy, s.requestor, s.property, s.type, 8, PropModeReplace,
                        (const unsigned char *)s.data.data() + s.sent, (int)n);
        s.sent += n;
        s.last = std::chrono::steady_clock::now();
        if (n == 0) { // the empty write that ends the transfer has gone out
            XSelectInput(dpy, s.requestor, NoEventMask);
            s.used = 0;
            s.data.clear();
            s.data.shrink_to_fit();
        }
        XFlush(dpy);
        return;
    }
}

static void _clip_lost(Display *dpy, const XSelectionClearEvent *ev) {
    int which = _clip_index(ev->selection);
    if (which < 0) return;
    // A set made after the other client took over claims the selection back; the clear that
    // was already queued must not drop that newer text.
    if (XGetSelectionOwner(dpy, ev->selection) == _clip.win) return;
    std::lock_guard<std::mutex> hold(_clip.lock);
    free(_clip.text[which]);
    _clip.text[which] = nullptr;
}

static void _clip_serve(Display *dpy) {
    struct pollfd pfd[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {_clip.wake[0], POLLIN, 0}};
    while (_clip.running.load()) {
        if (XPending(dpy) == 0) {
            pfd[0].revents = pfd[1].revents = 0;
            poll(pfd, 2, KA_CLIPBOARD_POLL_MS);
        }
        while (_clip.running.load() && XPending(dpy) > 0) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            switch (ev.type) {
            case SelectionRequest:
                _clip_answer_request(dpy, &ev.xselectionrequest);
                break;
            case SelectionClear:
                _clip_lost(dpy, &ev.xselectionclear);
                break;
            case PropertyNotify:
                _clip_continue_incr(dpy, &ev.xproperty);
                break;
            default:
                break;
            }
        }
    }
}

static void _clip_close_wake() {
    for (int &fd : _clip.wake) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

int ka_clipboard_init() {
    std::lock_guard<std::mutex> life(_clip.life);
    if (_clip.ready.load()) return 0;
    XInitThreads(); // the caller claims ownership on the connection the thread reads from
    Display *dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        ka_log(LOG_INFO, "ka_clipboard: no X11 display, clipboard backend disabled");
        return -1;
    }
    std::call_once(_clip.handler_once,
                   [] { _clip.previous_handler = XSetErrorHandler(_clip_x_error); });
    _clip.dpy.store(dpy);
    _clip.win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    _clip_intern(dpy, &_clip.atoms);

    long units = XExtendedMaxRequestSize(dpy);
    if (units == 0) units = XMaxRequestSize(dpy);
    // Leave room for the request header; never write more than 256 KiB at once.
    _clip.chunk = units <= 1024 ? 65536 : (size_t)std::min<long>(4 * units - 1024, 262144);
    XFlush(dpy);

    if (pipe2(_clip.wake, O_CLOEXEC | O_NONBLOCK) != 0) _clip.wake[0] = _clip.wake[1] = -1;
    _clip.running.store(1);
    try {
        _clip.thread = std::thread(_clip_serve, dpy);
    } catch (...) {
        _clip.running.store(0);
        _clip_close_wake();
        XDestroyWindow(dpy, _clip.win);
        _clip.win = 0;
        _clip.dpy.store(nullptr);
        XCloseDisplay(dpy);
        ka_log(LOG_ERR, "ka_clipboard: could not start the serving thread");
        return -1;
    }
    _clip.ready.store(1);
    ka_log(LOG_INFO, "ka_clipboard: X11 clipboard backend ready");
    return 0;
}

int ka_clipboard_available() {
    if (_clip.ready.load()) return 1;
    return ka_clipboard_init() == 0 ? 1 : 0;
}

int ka_clipboard_set(int which, const char *text) {
    __ka_assert(which == KA_CLIPBOARD_CLIPBOARD || which == KA_CLIPBOARD_PRIMARY, return -1);
    if (!ka_clipboard_available()) return -1;
    char *copy = nullptr;
    if (text && *text) {
        copy = strdup(text);
        if (!copy) {
            ka_log(LOG_ERR, "ka_clipboard_set: could not copy %zu bytes", strlen(text));
            return -1;
        }
    }
    {
        std::lock_guard<std::mutex> hold(_clip.lock);
        free(_clip.text[which]);
        _clip.text[which] = copy;
    }
    Display *dpy = _clip.dpy.load();
    Atom selection = which == KA_CLIPBOARD_CLIPBOARD ? _clip.atoms.clipboard : XA_PRIMARY;
    if (copy) {
        XSetSelectionOwner(dpy, selection, _clip.win, CurrentTime);
    } else if (XGetSelectionOwner(dpy, selection) == _clip.win) {
        // Only give up what we hold: setting None would wipe another program's selection.
        XSetSelectionOwner(dpy, selection, None, CurrentTime);
    }
    XFlush(dpy);
    return 0;
}

// Waits for an event of the given type on window w, for at most rounds x 100 ms in all: a
// stream of unrelated events must not stretch or shorten the wait.
static int _clip_wait_event(Display *dpy, Window w, int type, XEvent *out, int rounds) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(rounds * KA_CLIPBOARD_ROUND_MS);
    struct pollfd pfd = {ConnectionNumber(dpy), POLLIN, 0};
    for (;;) {
        while (XPending(dpy) > 0) {
            XNextEvent(dpy, out);
            if (out->type != type || out->xany.window != w) continue;
            if (type == PropertyNotify && out->xproperty.state != PropertyNewValue) continue;
            return 1;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return 0;
        pfd.revents = 0;
        poll(&pfd, 1, (int)std::min<long long>(left.count(), KA_CLIPBOARD_ROUND_MS));
    }
}

// Reads the property and deletes it (which asks an incremental sender for its next chunk).
// Only what still fits below max bytes in all is asked of the server and appended to out, so a
// huge foreign text costs no more memory than the caller will use. The type goes to *type.
static int _clip_read_property(Display *dpy, Window w, Atom prop, std::string *out, Atom *type,
                               size_t max) {
    size_t want = out->size() < max ? max - out->size() : 0;
    // The length is counted in 32-bit units, whatever the property's format.
    long units = want >= (size_t)(LONG_MAX / 4) * 4 ? LONG_MAX / 4 : (long)((want + 3) / 4);
    if (units < 1) units = 1; // an INCR announcement is one 32-bit item
    Atom actual = None;
    int format = 0;
    unsigned long nitems = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(dpy, w, prop, 0, units, False, AnyPropertyType, &actual, &format,
                           &nitems, &after, &data) != Success) {
        return 0;
    }
    XDeleteProperty(dpy, w, prop);
    *type = actual;
    if (data) {
        size_t unit = format == 32 ? sizeof(long) : (size_t)format / 8;
        size_t n = nitems * unit;
        if (format == 8 && n > want) n = want; // text; an INCR announcement is format 32

        out->append((const char *)data, n);
        XFree(data);
    }
    return actual != None;
}

static char *_clip_read_foreign(int which, size_t max) {
    Display *dpy = XOpenDisplay(nullptr);
    if (!dpy) return nullptr;
    _clip.reading.store(dpy);
    CLIP_ATOMS a{};
    _clip_intern(dpy, &a);
    Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(dpy, w, PropertyChangeMask);
    Atom selection = which == KA_CLIPBOARD_CLIPBOARD ? a.clipboard : XA_PRIMARY;
    Atom prop = XInternAtom(dpy, "KAV_CLIPBOARD_TARGET", False);
    std::string text;
    int ok = 0;
    if (XGetSelectionOwner(dpy, selection) != None) {
        XConvertSelection(dpy, selection, a.utf8, prop, w, CurrentTime);
        XFlush(dpy);
        XEvent ev;
        Atom type = None;
        if (_clip_wait_event(dpy, w, SelectionNotify, &ev, KA_CLIPBOARD_READ_ROUNDS) &&
            ev.xselection.property != None &&
            _clip_read_property(dpy, w, prop, &text, &type, max)) {
            ok = 1;
            if (type == a.incr) {
                // A large text comes in chunks, each announced by a new value of the property;
                // the empty chunk ends it. A peer that stalls for 2 s yields nothing. Once the
                // text is as long as wanted the rest is left unread: closing the connection
                // below tells the peer the transfer is over.
                text.clear();
                XFlush(dpy);
                ok = 0;
                while (_clip_wait_event(dpy, w, PropertyNotify, &ev, KA_CLIPBOARD_READ_ROUNDS)) {
                    if (ev.xproperty.atom != prop) continue;
                    size_t before = text.size();
                    if (!_clip_read_property(dpy, w, prop, &text, &type, max)) break;
                    XFlush(dpy);
                    if (text.size() == before || text.size() >= max) {
                        ok = 1;
                        break;
                    }
                }
            }
        }
    }
    XDestroyWindow(dpy, w);
    _clip.reading.store(nullptr);
    XCloseDisplay(dpy);
    if (!ok) return nullptr;
    char *copy = (char *)malloc(text.size() + 1);
    if (!copy) {
        ka_log(LOG_ERR, "ka_clipboard_get: could not copy %zu bytes", text.size());
        return nullptr;
    }
    memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

char *ka_clipboard_get_prefix(int which, size_t max_bytes) {
    __ka_assert(which == KA_CLIPBOARD_CLIPBOARD || which == KA_CLIPBOARD_PRIMARY, return nullptr);
    if (!ka_clipboard_available()) return nullptr;
    {
        std::lock_guard<std::mutex> hold(_clip.lock);
        if (_clip.text[which]) {
            char *copy = strndup(_clip.text[which], max_bytes);
            if (!copy) ka_log(LOG_ERR, "ka_clipboard_get: could not copy the offered text");
            return copy;
        }
    }
    try {
        return _clip_read_foreign(which, max_bytes);
    } catch (...) { // std::string growth: out of memory
        ka_log(LOG_ERR, "ka_clipboard_get: out of memory");
        return nullptr;
    }
}

char *ka_clipboard_get(int which) {
    return ka_clipboard_get_prefix(which, SIZE_MAX);
}

void ka_clipboard_destroy() {
    std::lock_guard<std::mutex> life(_clip.life);
    if (!_clip.ready.load()) return;
    _clip.running.store(0);
    if (_clip.wake[1] >= 0) {
        char byte = 1;
        if (write(_clip.wake[1], &byte, 1) < 0) {
        } // full or closed: the 200 ms wait still ends
    }
    if (_clip.thread.joinable()) _clip.thread.join();
    _clip_close_wake();
    Display *dpy = _clip.dpy.load();
    {
        std::lock_guard<std::mutex> hold(_clip.lock);
        for (char *&t : _clip.text) {
            free(t);
            t = nullptr;
        }
        for (CLIP_INCR_SLOT &s : _clip.slots) {
            s.used = 0;
            s.data.clear();
            s.data.shrink_to_fit();
        }
    }
    XDestroyWindow(dpy, _clip.win);
    _clip.win = 0;
    XCloseDisplay(dpy);
    _clip.dpy.store(nullptr);
    _clip.ready.store(0);
}
