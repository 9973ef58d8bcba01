// tests/e2e/xtest_operator_app.cpp: a scripted Morse operator at the X server, for the key
// screen's end-to-end test and its latency measurement. It keys a text through the XTest
// extension on absolute monotonic deadlines, so neither process start-ups nor sleeps that add
// up shift the edges, and presses exactly the key asked for (xdotool adds Control_L to a
// Control_R press).
//
//   xtest_operator_app HOW UNIT_MS TEXT [WATCH_FILE]
// HOW: "button" (mouse button 1 where the pointer is) or "space": a straight key, each element
// held for its length; "ctrl" (Control_L dit, Control_R dah) or "brackets" ([ dit, ] dah):
// paddles, each element started with a half-unit press and timed by the keyer.
// Prints one line per edge, "edge DOWN BEFORE_MS AFTER_MS": the monotonic time just before the
// fake event was sent and after the server had taken it (the X server stamps the event in
// between). OPERATOR_JITTER in the environment (say 0.1) makes a straight key's timing human;
// the paddles are timed by the keyer. With WATCH_FILE, the file's size is polled every half
// millisecond meanwhile and every change printed as "size T_MS BYTES", after the edges.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "morse/sequencer.hpp"

namespace {

typedef int (*FAKE_KEY)(Display *, unsigned, Bool, unsigned long);
typedef int (*FAKE_BUTTON)(Display *, unsigned, Bool, unsigned long);

double now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

void sleep_until_ms(double t) {
    timespec ts;
    ts.tv_sec = (time_t)(t / 1000);
    ts.tv_nsec = (long)((t - ts.tv_sec * 1000.0) * 1e6);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

struct Press {
    double at;  // ms from the start
    int paddle; // 0 the straight key or the dit paddle, 1 the dah paddle
    int down;
};

// The presses and releases that key text at unit ms, from the sequence the program itself
// would send. A straight key holds each mark and waits each space for its length scaled by
// 1 + jitter x N(0, 1) (never below a quarter), like a human hand; seeded, so runs repeat. A
// paddle is pressed for half a unit at each element's start and the keyer times the rest.
std::vector<Press> plan(const std::string &how, const std::string &text, double u, double jitter) {
    std::mt19937_64 rng(1);
    std::normal_distribution<double> gauss(0.0, 1.0);
    auto hand = [&](double units) {
        return jitter > 0 ? units * std::max(0.25, 1.0 + jitter * gauss(rng)) : units;
    };
    MORSE_TIMING timing;
    morse_timing_default(&timing);
    MORSE_SEQUENCE *seq = morse_sequence_build(text.c_str(), &timing);
    std::vector<Press> out;
    if (!seq) return out;
    bool straight = how == "button" || how == "space";
    double t = 0;
    for (size_t i = 0; i < seq->count; i++) {
        const MORSE_EVENT &e = seq->events[i];
        if (e.state >= MORSE_SYM_GAP) {
            t += (straight ? hand(e.units) : e.units) * u;
            continue;
        }
        int paddle = straight ? 0 : e.state == MORSE_DASH;
        double hold = straight ? hand(e.units) * u : 0.5 * u;
        out.push_back({t, paddle, 1});
        out.push_back({t + hold, paddle, 0});
        t += straight ? hold : e.units * u;
    }
    morse_sequence_free(&seq);
    return out;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s button|space|ctrl|brackets UNIT_MS TEXT [WATCH_FILE]\n",
                argv[0]);
        return 2;
    }
    std::string how = argv[1];
    double unit = atof(argv[2]);
    Display *dpy = XOpenDisplay(nullptr);
    void *xtst = dlopen("libXtst.so.6", RTLD_NOW);
    if (!dpy || !xtst || unit <= 0) {
        fprintf(stderr, "no X display, no XTest library or no unit\n");
        return 1;
    }
    auto fake_key = (FAKE_KEY)dlsym(xtst, "XTestFakeKeyEvent");
    auto fake_button = (FAKE_BUTTON)dlsym(xtst, "XTestFakeButtonEvent");
    if (!fake_key || !fake_button) return 1;
    KeySym syms[2] = {XK_space, XK_space};
    if (how == "ctrl") syms[0] = XK_Control_L, syms[1] = XK_Control_R;
    if (how == "brackets") syms[0] = XK_bracketleft, syms[1] = XK_bracketright;
    unsigned codes[2] = {XKeysymToKeycode(dpy, syms[0]), XKeysymToKeycode(dpy, syms[1])};

    std::atomic<bool> done{false};
    std::vector<std::pair<double, long long>> sizes;
    std::thread watcher;
    if (argc > 4) {
        std::string path = argv[4];
        watcher = std::thread([path, &done, &sizes] {
            long long last = -1;
            while (!done.load()) {
                struct stat st;
                long long size = stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
                if (size != last) sizes.push_back({now_ms(), size}), last = size;
                timespec ts{0, 500000};
                nanosleep(&ts, nullptr);
            }
        });
    }

    const char *jitter = getenv("OPERATOR_JITTER");
    std::vector<Press> presses = plan(how, argv[3], unit, jitter ? atof(jitter) : 0);
    double t0 = now_ms() + 300;
    std::vector<std::pair<double, double>> times;
    for (const Press &p : presses) {
        sleep_until_ms(t0 + p.at);
        double before = now_ms();
        if (how == "button")
            fake_button(dpy, 1, p.down, CurrentTime);
        else
            fake_key(dpy, codes[p.paddle], p.down, CurrentTime);
        XSync(dpy, False);
        times.push_back({before, now_ms()});
    }
    // The watcher goes on through the end-of-message silence, when the last tones are written.
    if (watcher.joinable()) {
        sleep_until_ms(now_ms() + 1000);
        done.store(true);
        watcher.join();
    }
    for (size_t i = 0; i < presses.size(); i++)
        printf("edge %d %.3f %.3f\n", presses[i].down, times[i].first, times[i].second);
    for (const auto &s : sizes) printf("size %.3f %lld\n", s.first, s.second);
    XCloseDisplay(dpy);
    return 0;
}
