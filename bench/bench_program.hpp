// bench/bench_program.hpp: running the real program under the benchmarks' X display: starting
// it with a private HOME, finding its window and seeing its first frame.
#pragma once
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <unistd.h>

// The home window's own background, left of the preset cards.
constexpr unsigned long BENCH_HOME_BACKGROUND = 0x34343E;
constexpr int BENCH_PROBE_X = 2, BENCH_PROBE_Y = 400;

// The program measured: LUMIKEY_STARTUP_BIN, or the build's own ./lumikey (the benchmarks run
// in the build folder).
inline std::string bench_program() {
    const char *bin = getenv("LUMIKEY_STARTUP_BIN");
    if (bin && *bin) return bin;
    char cwd[4096];
    return std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/lumikey";
}

// Starts bin with HOME at home, in that folder, its log thrown away; the child's pid.
inline pid_t bench_start_program(const std::string &bin, const std::string &home) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);
    if (chdir(home.c_str()) != 0) _exit(127);
    execl(bin.c_str(), bin.c_str(), (char *)nullptr);
    _exit(127);
}

// The viewable top-level window of pid, found by the _NET_WM_PID Allegro sets; 0 while there is
// none.
inline Window bench_find_window(Display *dpy, pid_t pid) {
    Atom pid_atom = XInternAtom(dpy, "_NET_WM_PID", True);
    if (pid_atom == None) return 0;
    Window root_ret, parent, *children = nullptr, found = 0;
    unsigned n = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root_ret, &parent, &children, &n)) return 0;
    for (unsigned i = 0; i < n && !found; i++) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(dpy, children[i], pid_atom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data && count == 1 && (pid_t) * (unsigned long *)data == pid) {
            XWindowAttributes attr;
            if (XGetWindowAttributes(dpy, children[i], &attr) && attr.map_state == IsViewable)
                found = children[i];
        }
        if (data) XFree(data);
    }
    if (children) XFree(children);
    return found;
}

// 1 when the window shows the home screen's background.
inline bool bench_shows_home(Display *dpy, Window win) {
    XImage *image = XGetImage(dpy, win, BENCH_PROBE_X, BENCH_PROBE_Y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
    XDestroyImage(image);
    return pixel == BENCH_HOME_BACKGROUND;
}

// The window may vanish or not be viewable yet between two probes.
inline int bench_ignore_x_error(Display *, XErrorEvent *) {
    return 0;
}

// Opens the display and a fresh HOME for the program; false (with the benchmark skipped) when
// either is missing or the program cannot be run.
inline bool bench_prepare(benchmark::State &state, const char *name, Display **dpy,
                          std::string *bin, std::string *home) {
    *dpy = XOpenDisplay(nullptr);
    if (!*dpy) {
        state.SkipWithError("no X display");
        return false;
    }
    XSetErrorHandler(bench_ignore_x_error);
    *bin = bench_program();
    std::string tmpl = std::string("/tmp/lumikey-") + name + "-XXXXXX";
    *home = mkdtemp(tmpl.data()) ? tmpl : "";
    if (home->empty() || access(bin->c_str(), X_OK) != 0) {
        state.SkipWithError(("cannot run " + *bin).c_str());
        XCloseDisplay(*dpy);
        return false;
    }
    return true;
}

// The program's window once it shows the home screen, within 20 s; 0 when it never did.
inline Window bench_wait_home(Display *dpy, pid_t pid) {
    using namespace std::chrono_literals;
    auto limit = std::chrono::steady_clock::now() + 20s;
    Window win = 0;
    while (std::chrono::steady_clock::now() < limit && !(win && bench_shows_home(dpy, win))) {
        win = win ? win : bench_find_window(dpy, pid);
        std::this_thread::sleep_for(5ms);
    }
    return win;
}
