// src/phone/screen.cpp: the screen-on lock of the desktop, and the installable platform side.
//
// A desktop blanks or locks its screen from two places, and the lock has to reach both:
// - The X server's own screen saver and its power saving (DPMS): what a bare X session, a
//   virtual X server and the lockers that listen for the server's saver (xss-lock and the
//   like) go by. XScreenSaverSuspend holds them off for as long as this client asks, counted
//   per client, and the server lets go by itself if the program dies. Allegro's own
//   al_inhibit_screensaver only resets the idle timer every few seconds, which a saver
//   timeout shorter than that still beats; it stays the fallback where the extension is
//   missing.
// - A desktop session's locker (GNOME, KDE, Xfce and others), which keeps its own idle time
//   and ignores the X server's: it is asked through the freedesktop ScreenSaver service on the
//   session bus. That call can wait on a busy bus, so a worker makes it, never the main loop.
#include "phone/screen.hpp"

#include <cstdlib>
#include <allegro5/allegro.h>
#include <dbus/dbus.h>
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include "phone/phone_worker.hpp"
#include "support/ka_common.hpp"

static void _desktop_keep_on(int on, void *user);
static void _desktop_max_brightness(int, void *) {}
static const SCREEN_PLATFORM _DESKTOP = {_desktop_keep_on, _desktop_max_brightness, nullptr};

// How long the bus may take to answer before the session's locker is given up on.
static const int BUS_TIMEOUT_MS = 2000;

static struct {
    SCREEN_PLATFORM platform = _DESKTOP;
    Display *x = nullptr; // own connection, open while the X saver is suspended
    int allegro_held = 0; // the fallback holds the saver off
    // Session-bus side, guarded by bus.lock: the worker applies the latest wanted state.
    PHONE_WORKER bus;
    int bus_want = 0;
    int bus_have = 0;
    DBusConnection *conn = nullptr; // worker only: open while the locker is asked to wait
    dbus_uint32_t cookie = 0;
    int bus_logged = 0; // worker only: a missing locker is told once
} _screen;

void screen_set_platform(const SCREEN_PLATFORM *platform) {
    _screen.platform = platform ? *platform : _DESKTOP;
}

void screen_keep_on(int on) {
    if (_screen.platform.keep_on) _screen.platform.keep_on(on != 0, _screen.platform.user);
}

void screen_max_brightness(int on) {
    if (_screen.platform.max_brightness)
        _screen.platform.max_brightness(on != 0, _screen.platform.user);
}

// 1 when the X server's saver is now held off (on) or let go (off) through the extension.
static int _x_suspend(int on) {
    if (!on) {
        if (!_screen.x) return 0;
        XScreenSaverSuspend(_screen.x, False);
        XCloseDisplay(_screen.x); // the server forgets a gone client's suspension anyway
        _screen.x = nullptr;
        return 1;
    }
    if (!_screen.x) {
        Display *x = XOpenDisplay(nullptr);
        if (!x) return 0;
        int event_base, error_base, major = 0, minor = 0;
        // Suspension came with version 1.1 of the extension.
        if (!XScreenSaverQueryExtension(x, &event_base, &error_base) ||
            !XScreenSaverQueryVersion(x, &major, &minor) || major < 1 ||
            (major == 1 && minor < 1)) {
            XCloseDisplay(x);
            return 0;
        }
        _screen.x = x;
    }
    XScreenSaverSuspend(_screen.x, True);
    XFlush(_screen.x);
    return 1;
}

// Worker: asks the session's locker to wait; the cookie and the connection are kept, since
// the service forgets an inhibition when the connection that made it goes.
static void _bus_inhibit() {
    const char *address = getenv("DBUS_SESSION_BUS_ADDRESS");
    // Without an address libdbus would try to launch a bus of its own through X.
    if (!address || !*address) return;
    DBusError err;
    dbus_error_init(&err);
    DBusConnection *conn = dbus_bus_get_private(DBUS_BUS_SESSION, &err);
    if (!conn) {
        if (!_screen.bus_logged++)
            ka_log(LOG_INFO, "no session bus for the screen locker: %s", err.message);
        dbus_error_free(&err);
        return;
    }
    // libdbus ends the process when a shared bus goes away unless told otherwise.
    dbus_connection_set_exit_on_disconnect(conn, FALSE);
    DBusMessage *call =
        dbus_message_new_method_call("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                     "org.freedesktop.ScreenSaver", "Inhibit");
    const char *app = "Lumikey", *reason = "Sending or receiving Morse";
    DBusMessage *reply = nullptr;
    if (call && dbus_message_append_args(call, DBUS_TYPE_STRING, &app, DBUS_TYPE_STRING, &reason,
                                         DBUS_TYPE_INVALID))
        reply = dbus_connection_send_with_reply_and_block(conn, call, BUS_TIMEOUT_MS, &err);
    if (call) dbus_message_unref(call);
    dbus_uint32_t cookie = 0;
    if (reply && dbus_message_get_args(reply, &err, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID)) {
        _screen.conn = conn;
        _screen.cookie = cookie;
        _screen.bus_logged = 0;
        ka_log(LOG_INFO, "screen locker asked to wait (cookie %u)", (unsigned)cookie);
    } else {
        if (!_screen.bus_logged++)
            ka_log(LOG_INFO, "no screen locker on the session bus: %s",
                   dbus_error_is_set(&err) ? err.message : "no answer");
        dbus_connection_close(conn);
        dbus_connection_unref(conn);
    }
    if (reply) dbus_message_unref(reply);
    dbus_error_free(&err);
}

// Worker: lets the locker go; closing the connection would do it too, but not as promptly
// with every service.
static void _bus_release() {
    if (!_screen.conn) return;
    DBusMessage *call =
        dbus_message_new_method_call("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                     "org.freedesktop.ScreenSaver", "UnInhibit");
    if (call &&
        dbus_message_append_args(call, DBUS_TYPE_UINT32, &_screen.cookie, DBUS_TYPE_INVALID)) {
        DBusMessage *reply =
            dbus_connection_send_with_reply_and_block(_screen.conn, call, BUS_TIMEOUT_MS, nullptr);
        if (reply) dbus_message_unref(reply);
    }
    if (call) dbus_message_unref(call);
    dbus_connection_close(_screen.conn);
    dbus_connection_unref(_screen.conn);
    _screen.conn = nullptr;
    ka_log(LOG_INFO, "screen locker released (cookie %u)", (unsigned)_screen.cookie);
}

static void _bus_worker() {
    std::unique_lock<std::mutex> hold(_screen.bus.lock);
    while (!_screen.bus.quit) {
        if (_screen.bus_want == _screen.bus_have) {
            _screen.bus.cond.wait(hold);
            continue;
        }
        int target = _screen.bus_want;
        hold.unlock();
        if (target) {
            _bus_inhibit();
        } else {
            _bus_release();
        }
        hold.lock();
        _screen.bus_have = target;
    }
    hold.unlock();
    _bus_release();
}

static void _desktop_keep_on(int on, void *) {
    if (_x_suspend(on)) {
        // Nothing to log: the extension does not refuse.
    } else if (on || _screen.allegro_held) {
        if (al_is_system_installed() && al_inhibit_screensaver(on != 0)) {
            _screen.allegro_held = on;
        } else {
            ka_log(LOG_INFO, "al_inhibit_screensaver(%d) not supported", on);
        }
    }
    std::lock_guard<std::mutex> hold(_screen.bus.lock);
    _screen.bus_want = on;
    // No session bus, no locker to ask: no worker either.
    const char *address = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (on && !_screen.bus.running && (!address || !*address)) return;
    if (on && !phone_worker_ensure(_screen.bus, _bus_worker, "screen lock")) return;
    _screen.bus.cond.notify_one();
}

void screen_shutdown() {
    if (_screen.x) _x_suspend(0);
    if (_screen.allegro_held && al_is_system_installed()) al_inhibit_screensaver(false);
    _screen.allegro_held = 0;
    phone_worker_stop(_screen.bus, [] { _screen.bus_want = 0; });
    _screen.bus_have = 0;
}
