// src/platform/instance_lock.cpp: the save folder's lock and the hand-over to the instance that
// holds it.
//
// flock belongs to the open file, so the lock goes with the process however it ends, and a
// lock file left behind by a crash holds nothing. The holder writes "<pid> <window>" into it
// once its window exists; that is all a second start reads.
#include "platform/instance_lock.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <allegro5/allegro_x.h>
#include <X11/Xlib.h>

#include "platform/platform_desktop.hpp"
#include "support/ka_common.hpp"

static const char *const LOCK_NAME = "lumikey.lock";

// The lock file (-1: none) and whether this process holds its lock. Main thread only.
static struct {
    int fd = -1;
    int held = 0;
} instance;

int instance_lock_take() {
    char path[1024];
    if (!platform_save_path(LOCK_NAME, path, sizeof path)) {
        ka_log(LOG_WARNING, "no room for the lock file's path: not guarded against a second copy");
        return 1;
    }
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // A read-only folder still has a lock to read when the holder made it.
    if (fd < 0 && (errno == EROFS || errno == EACCES)) fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ka_log(LOG_WARNING, "cannot open %s: %s; not guarded against a second copy", path,
               strerror(errno));
        return 1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        instance.fd = fd;
        instance.held = 1;
        return 1;
    }
    if (errno == EWOULDBLOCK) {
        instance.fd = fd; // kept to read the holder's window
        instance.held = 0;
        return 0;
    }
    ka_log(LOG_WARNING, "cannot lock %s: %s; not guarded against a second copy", path,
           strerror(errno));
    close(fd);
    return 1;
}

void instance_lock_publish(ALLEGRO_DISPLAY *display) {
    if (instance.fd < 0 || !instance.held || !display) return;
    XID window = al_get_x_window_id(display);
    char line[64];
    int n = snprintf(line, sizeof line, "%d %lu\n", (int)getpid(), (unsigned long)window);
    if (ftruncate(instance.fd, 0) != 0 || pwrite(instance.fd, line, (size_t)n, 0) != n)
        ka_log(LOG_WARNING, "cannot write the lock file: a second copy will not find this window");
}

// The holder's "<pid> <window>"; 1 when both were there.
static int _read_holder(int *pid, unsigned long *window) {
    char line[64];
    ssize_t n = pread(instance.fd, line, sizeof line - 1, 0);
    if (n <= 0) return 0;
    line[n] = '\0';
    return sscanf(line, "%d %lu", pid, window) == 2 && *window != 0;
}

static int _x_failed;
static int _on_x_error(Display *, XErrorEvent *) {
    _x_failed = 1;
    return 0;
}

// Asks the window manager to activate window, and maps and raises it where none runs. 1 when
// the server took the requests.
static int _raise(unsigned long window) {
    Display *x = XOpenDisplay(nullptr);
    if (!x) return 0;
    // A window gone since its id was written gives an X error; Xlib's default ends the process.
    _x_failed = 0;
    int (*old)(Display *, XErrorEvent *) = XSetErrorHandler(_on_x_error);
    XWindowAttributes attributes;
    int ok = XGetWindowAttributes(x, (Window)window, &attributes) != 0;
    if (ok) {
        XEvent e;
        memset(&e, 0, sizeof e);
        e.xclient.type = ClientMessage;
        e.xclient.window = (Window)window;
        e.xclient.message_type = XInternAtom(x, "_NET_ACTIVE_WINDOW", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = 1; // the request comes from an application
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(x, attributes.root, False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &e);
        XMapRaised(x, (Window)window);
        XSync(x, False);
        ok = !_x_failed;
    }
    XSetErrorHandler(old);
    XCloseDisplay(x);
    return ok;
}

int instance_lock_raise_holder(double wait_s, int *holder) {
    if (holder) *holder = 0;
    if (instance.fd < 0 || instance.held) return 0;
    int pid = 0;
    unsigned long window = 0;
    // The holder may be between its lock and its window.
    for (double waited = 0; !_read_holder(&pid, &window) && waited < wait_s; waited += 0.1) {
        struct timespec pause = {0, 100000000};
        nanosleep(&pause, nullptr);
    }
    if (holder) *holder = pid;
    return window != 0 && _raise(window);
}

void instance_lock_release() {
    if (instance.fd >= 0) close(instance.fd);
    instance.fd = -1;
    instance.held = 0;
}
