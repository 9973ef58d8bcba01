// src/phone/camera_desktop.cpp: the frame thread of the desktop's camera. One session at a
// time: start opens the input (so that a file that is not video fails at once), the thread
// reads, paces and watches it, stop joins the thread.
#include "phone/camera_desktop.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "phone/light_search.hpp"
#include "phone/video_input.hpp"
#include "support/ka_common.hpp"

static struct {
    std::mutex lock; // guards stopping, with wake
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
    VIDEO_INPUT *input = nullptr; // the thread's while it runs
} _cam;

// The stand-ins' folder: one "videoN" file a device.
static size_t _fake_devices(const char *dir, VIDEO_DEVICE *out, size_t max) {
    std::vector<std::pair<int, std::string>> files;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
        int k;
        char tail;
        std::string name = e.path().filename().string();
        if (sscanf(name.c_str(), "video%d%c", &k, &tail) == 1 && k >= 0)
            files.push_back({k, e.path().string()});
    }
    std::sort(files.begin(), files.end());
    size_t found = 0;
    for (const auto &[k, file] : files) {
        if (found >= max) break;
        FILE *f = fopen(file.c_str(), "r");
        if (!f) continue;
        char lines[3][256] = {};
        int n = 0;
        while (n < 3 && fgets(lines[n], sizeof lines[n], f)) {
            lines[n][strcspn(lines[n], "\r\n")] = '\0';
            n++;
        }
        fclose(f);
        if (n < 3 || !lines[0][0] || !lines[2][0]) {
            ka_log(LOG_WARNING, "webcam stand-in %s: want a name, a bus and a path", file.c_str());
            continue;
        }
        VIDEO_DEVICE &d = out[found++];
        ka_copy_text(d.name, sizeof d.name, lines[0]);
        ka_copy_text(d.bus, sizeof d.bus, lines[1]);
        std::string path = lines[2][0] == '/' ? lines[2] : std::string(dir) + "/" + lines[2];
        ka_copy_text(d.path, sizeof d.path, path.c_str());
    }
    return found;
}

size_t camera_desktop_devices(VIDEO_DEVICE *out, size_t max) {
    __ka_assert(out || max == 0, return 0);
    const char *fake = getenv("LUMIKEY_WEBCAMS");
    if (fake && fake[0]) return _fake_devices(fake, out, max);
    return video_list_devices(out, max);
}

void camera_desktop_key(const VIDEO_DEVICE *d, char *out, size_t size) {
    __ka_assert(d && out && size > 0, return );
    snprintf(out, size, "%s (%s)", d->name, d->bus);
}

size_t camera_desktop_pick(const VIDEO_DEVICE *list, size_t n, const char *key, int front) {
    __ka_assert(list && n > 0, return 0);
    if (key && key[0]) {
        char k[160];
        for (size_t i = 0; i < n; i++) {
            camera_desktop_key(&list[i], k, sizeof k);
            if (strcmp(k, key) == 0) return i;
        }
        // Plugged into another port: the same name, followed by " (".
        for (size_t i = 0; i < n; i++) {
            size_t len = strlen(list[i].name);
            if (strncmp(key, list[i].name, len) == 0 && strncmp(key + len, " (", 2) == 0) return i;
        }
    }
    return !front && n > 1 ? 1 : 0;
}

static struct {
    std::mutex lock;
    char key[160] = "";
} _choice;

void camera_desktop_choose(const char *key) {
    std::lock_guard<std::mutex> hold(_choice.lock);
    ka_copy_text(_choice.key, sizeof _choice.key, key ? key : "");
}

// The input as camera_desktop_input finds it; a start (log) also notes a chosen webcam that
// is not there.
static int _input(int front, char *path, size_t size, bool log) {
    const char *named = getenv("LUMIKEY_CAMERA");
    if (named && named[0]) {
        ka_copy_text(path, size, named);
        return 1;
    }
    VIDEO_DEVICE devices[8];
    size_t n = camera_desktop_devices(devices, 8);
    if (n == 0) return 0;
    char key[160], got[160];
    {
        std::lock_guard<std::mutex> hold(_choice.lock);
        ka_copy_text(key, sizeof key, _choice.key);
    }
    const VIDEO_DEVICE &d = devices[camera_desktop_pick(devices, n, key, front)];
    camera_desktop_key(&d, got, sizeof got);
    if (log && key[0] && strcmp(key, got) != 0)
        ka_log(LOG_INFO, "webcam %s not found: %s instead", key, got);
    ka_copy_text(path, size, d.path);
    return 1;
}

int camera_desktop_input(int front, char *path, size_t size) {
    __ka_assert(path && size > 0, return 0);
    return _input(front, path, size, false);
}

static int _supported(void *) {
    char path[256];
    return camera_desktop_input(1, path, sizeof path);
}
static int _no(void *) {
    return 0;
}
static void _nothing(void *) {}

// The preview: the frame shrunk to CAPTURE_PREVIEW_W x CAPTURE_PREVIEW_H by block means.
static void _shrink(const VIDEO_FRAME *f, uint8_t *out) {
    for (int py = 0; py < CAPTURE_PREVIEW_H; py++) {
        int y0 = py * f->h / CAPTURE_PREVIEW_H,
            y1 = std::max(y0 + 1, (py + 1) * f->h / CAPTURE_PREVIEW_H);
        for (int px = 0; px < CAPTURE_PREVIEW_W; px++) {
            int x0 = px * f->w / CAPTURE_PREVIEW_W;
            int x1 = std::max(x0 + 1, (px + 1) * f->w / CAPTURE_PREVIEW_W);
            unsigned sum = 0;
            for (int y = y0; y < y1; y++)
                for (int x = x0; x < x1; x++) sum += f->grey[(size_t)y * f->stride + x];
            out[py * CAPTURE_PREVIEW_W + px] = (uint8_t)(sum / (unsigned)((y1 - y0) * (x1 - x0)));
        }
    }
}

struct _Frame {
    const uint8_t *preview; // handed with the frame's first sample only
};

static void _emit(double t_ms, float luma, void *user) {
    _Frame *fr = (_Frame *)user;
    capture_frame(t_ms, luma, fr->preview);
    fr->preview = nullptr;
}

// Waits until the monotonic time at, or a stop; false when stopping.
static bool _wait_until(std::chrono::steady_clock::time_point at) {
    std::unique_lock<std::mutex> hold(_cam.lock);
    return !_cam.wake.wait_until(hold, at, [] { return _cam.stopping; });
}

static bool _stopping() {
    std::lock_guard<std::mutex> hold(_cam.lock);
    return _cam.stopping;
}

static void _run(VIDEO_INPUT *in) {
    LIGHT_WATCH watch;
    memset(&watch, 0, sizeof watch);
    int ready = 0;
    float placed_cx = 0, placed_cy = 0, placed_side = 0; // the square as this thread last left it
    bool paced = !video_is_device(in);
    double t_first = 0;
    auto wall_first = std::chrono::steady_clock::now();
    static uint8_t preview[CAPTURE_PREVIEW_BYTES];
    for (int k = 0;; k++) {
        if (_stopping()) break;
        VIDEO_FRAME f;
        int rc = video_read(in, &f);
        if (rc <= 0) {
            ka_log(rc == 0 ? LOG_INFO : LOG_ERR,
                   rc == 0 ? "camera input ended" : "camera input failed");
            capture_lost();
            break;
        }
        if (!ready) {
            // The search runs from the start; the square placed before it is where it reads
            // only once the user moves it.
            capture_get_roi(&placed_cx, &placed_cy, &placed_side);
            if (!light_watch_init(&watch, f.w, f.h, 1, placed_cx, placed_cy, placed_side)) {
                ka_log(LOG_ERR, "no memory for the camera's light search");
                capture_lost();
                break;
            }
            ready = 1;
            t_first = f.t_ms;
            wall_first = std::chrono::steady_clock::now();
        }
        if (paced) {
            auto due = wall_first + std::chrono::microseconds((int64_t)((f.t_ms - t_first) * 1000));
            if (!_wait_until(due)) break;
        }
        float cx, cy, side;
        capture_get_roi(&cx, &cy, &side);
        if (cx != placed_cx || cy != placed_cy || side != placed_side) {
            // The user tapped or dragged the square: it stays where they put it.
            light_watch_place(&watch, cx, cy, side);
            placed_cx = cx, placed_cy = cy, placed_side = side;
        }
        _shrink(&f, preview);
        _Frame fr{preview};
        int was_found = watch.found;
        float was_cx = watch.cx, was_cy = watch.cy;
        size_t n = light_watch_frame(&watch, &f, _emit, &fr);
        if (watch.found && (!was_found || was_cx != watch.cx || was_cy != watch.cy)) {
            capture_set_roi(watch.cx, watch.cy, watch.side);
            capture_get_roi(&placed_cx, &placed_cy, &placed_side);
            ka_log(LOG_INFO, "light found at %.2f, %.2f", (double)watch.cx, (double)watch.cy);
        }
        if (n == 0) capture_frame_unread(f.t_ms, preview);
    }
    light_watch_free(&watch);
}

static void _stop(void *);

static int _start(int w, int h, int fps, int front, void *) {
    // A session that ended by itself (the file's end, a camera unplugged) still holds its
    // thread until stopped; a new std::thread over a joinable one would terminate the program.
    _stop(nullptr);
    char path[512];
    if (!_input(front, path, sizeof path, true)) return -2;
    char why[160];
    VIDEO_INPUT *in = video_open(path, w > 0 ? 640 : 0, h > 0 ? 480 : 0, fps, why, sizeof why);
    if (!in) {
        ka_log(LOG_ERR, "camera %s: %s", path, why);
        return -2;
    }
    ka_log(LOG_INFO, "camera %s opened", path);
    {
        std::lock_guard<std::mutex> hold(_cam.lock);
        _cam.stopping = false;
    }
    _cam.input = in;
    try {
        _cam.thread = std::thread(_run, in);
    } catch (...) {
        ka_log(LOG_ERR, "could not start the camera thread");
        video_close(&_cam.input);
        return -2;
    }
    return 1;
}

static void _stop(void *) {
    {
        std::lock_guard<std::mutex> hold(_cam.lock);
        _cam.stopping = true;
    }
    _cam.wake.notify_all();
    if (_cam.thread.joinable()) _cam.thread.join();
    video_close(&_cam.input);
}

const CAPTURE_PLATFORM *camera_desktop_platform() {
    static const CAPTURE_PLATFORM p = {_supported, _supported, _nothing, _start,
                                       _stop,      _no,        _no,      nullptr};
    return &p;
}
