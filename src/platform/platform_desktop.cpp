// src/platform/platform_desktop.cpp: the Linux desktop answers of the platform layer.
#include "platform/platform_desktop.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <sys/stat.h>
#include <allegro5/allegro_x.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "support/ka_common.hpp"

static int _desktop_keyboard_visible(void *) {
    return -1;
}
static int _desktop_keyboard_overlap(void *) {
    return 0;
}
static void _desktop_nothing(void *) {}
static void _desktop_on_resume(ALLEGRO_EVENT_QUEUE *, void *) {}
static const PLATFORM_SYSTEM _DESKTOP = {
    _desktop_keyboard_visible, _desktop_nothing,   _desktop_nothing, _desktop_keyboard_overlap,
    _desktop_nothing,          _desktop_on_resume, nullptr};

// Where save files go (set once by platform_init), the system side, and the watch on the
// window: all the main thread's.
static struct {
    char save_dir[1024] = "./save";
    PLATFORM_SYSTEM system = _DESKTOP;
    Display *x = nullptr; // own connection, for the window's map state only
    Window window = 0;
    ALLEGRO_DISPLAY *display = nullptr;
    Atom wm_state = None;
    int unmapped = 0, iconic = 0; // as last seen
    int halted = 0;               // as last reported
} platform;

void platform_set_system(const PLATFORM_SYSTEM *system) {
    platform.system = system ? *system : _DESKTOP;
}

// Creates the folders above path that are missing, each with mode (errors are left to the
// creation of path itself, which reports the one that matters).
static void _make_parents(const char *path, mode_t mode) {
    char dir[sizeof platform.save_dir];
    ka_copy_text(dir, sizeof dir, path);
    for (char *slash = strchr(dir + 1, '/'); slash; slash = strchr(slash + 1, '/')) {
        *slash = '\0';
        mkdir(dir, mode);
        *slash = '/';
    }
}

int platform_init() {
    const char *xdg = getenv("XDG_DATA_HOME");
    const char *home = getenv("HOME");
    // The XDG base directory specification: a relative value is invalid and to be ignored.
    if (xdg && *xdg && xdg[0] != '/') {
        ka_log(LOG_INFO, "XDG_DATA_HOME is not an absolute path, ignored: %s", xdg);
        xdg = nullptr;
    }
    char dir[sizeof platform.save_dir + 32];
    int n;
    if (xdg && *xdg) {
        n = snprintf(dir, sizeof dir, "%s/lumikey", xdg);
    } else if (home && *home) {
        n = snprintf(dir, sizeof dir, "%s/.local/share/lumikey", home);
    } else {
        n = snprintf(dir, sizeof dir, "./save");
    }
    // Every save file's name, and the names it is kept aside under, must fit after the folder.
    if (n < 0 || (size_t)n + 1 + PLATFORM_SAVE_NAME_MAX > sizeof platform.save_dir) {
        ka_log(LOG_ERR, "could not create save dir %s: %s", dir, strerror(ENAMETOOLONG));
        return 0;
    }
    ka_copy_text(platform.save_dir, sizeof platform.save_dir, dir);
    // The folders above may not exist on a fresh account. The XDG specification wants the
    // folders it makes private; ~/.local and ~/.local/share are shared by every program, so
    // they get the usual mode.
    _make_parents(platform.save_dir, xdg && *xdg ? 0700 : 0755);

    // The folder holds the user's messages: only the user may read it. EEXIST is also what a
    // plain file of that name gives; only a real folder will hold saves.
    struct stat st;
    if (mkdir(platform.save_dir, 0700) != 0 &&
        (errno != EEXIST || stat(platform.save_dir, &st) != 0 || !S_ISDIR(st.st_mode))) {
        ka_log(LOG_ERR, "could not create save dir %s: %s", platform.save_dir,
               strerror(errno == EEXIST ? ENOTDIR : errno));
        return 0;
    }
    ka_log(LOG_INFO, "desktop platform ready, save dir: %s", platform.save_dir);
    return 1;
}

int platform_display_flags() {
    return ALLEGRO_WINDOWED | ALLEGRO_OPENGL | ALLEGRO_RESIZABLE;
}

float platform_display_density() {
    return 1.0f;
}

int platform_display_close_quits() {
    return 1;
}

int platform_uses_touch() {
    return 0;
}

// Allegro tells nothing of a window being minimised or unmapped, so the window's structure
// and WM_STATE are watched on a connection of our own (selecting them there leaves Allegro's
// selection alone). Without X (another display driver) there is simply nothing to watch.
static void _watch_window(ALLEGRO_DISPLAY *display) {
    if (!display || display == platform.display) return;
    XID window = al_get_x_window_id(display);
    if (!window) return;
    if (!platform.x) platform.x = XOpenDisplay(nullptr);
    if (!platform.x) return;
    if (platform.window) XSelectInput(platform.x, platform.window, NoEventMask);
    platform.display = display;
    platform.window = (Window)window;
    platform.wm_state = XInternAtom(platform.x, "WM_STATE", False);
    platform.unmapped = platform.iconic = platform.halted = 0;
    XSelectInput(platform.x, platform.window, StructureNotifyMask | PropertyChangeMask);
    XFlush(platform.x);
}

// 1 when the window manager's WM_STATE says the window is an icon.
static int _read_iconic() {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    int iconic = 0;
    if (XGetWindowProperty(platform.x, platform.window, platform.wm_state, 0, 2, False,
                           platform.wm_state, &type, &format, &count, &after, &data) == Success &&
        data && format == 32 && count >= 1)
        iconic = ((long *)data)[0] == IconicState;
    if (data) XFree(data);
    return iconic;
}

// Takes what the X server said about the window; 1 with a halt or resume event in *event when
// the window was hidden or shown since the last report.
static int _window_event(ALLEGRO_EVENT *event) {
    if (!platform.x || !platform.window) return 0;
    while (XPending(platform.x) > 0) {
        XEvent xe;
        XNextEvent(platform.x, &xe);
        if (xe.xany.window != platform.window) continue;
        if (xe.type == UnmapNotify) platform.unmapped = 1;
        if (xe.type == MapNotify) platform.unmapped = 0;
        if (xe.type == DestroyNotify) platform.window = 0;
        if (xe.type == PropertyNotify && xe.xproperty.atom == platform.wm_state)
            platform.iconic = _read_iconic();
        if (!platform.window) return 0;
    }
    int hidden = platform.unmapped || platform.iconic;
    if (hidden == platform.halted) return 0;
    platform.halted = hidden;
    memset(event, 0, sizeof *event);
    event->type =
        hidden ? ALLEGRO_EVENT_DISPLAY_HALT_DRAWING : ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING;
    event->display.source = platform.display;
    event->any.timestamp = al_get_time();
    ka_log(LOG_INFO, "window %s", hidden ? "hidden" : "shown again");
    return 1;
}

int platform_register_event_sources(ALLEGRO_EVENT_QUEUE *queue) {
    __ka_assert(queue, return 0);
    _watch_window(al_get_current_display());
    return 1;
}

int platform_wait_event(ALLEGRO_EVENT_QUEUE *queue, ALLEGRO_EVENT *event) {
    __ka_assert(queue, return 0);
    __ka_assert(event, return 0);
    if (_window_event(event)) return 1;
    return al_wait_for_event_timed(queue, event, 0.1f) ? 1 : 0;
}

void platform_on_halt() {
    if (platform.system.on_halt) platform.system.on_halt(platform.system.user);
}

void platform_on_resume(ALLEGRO_EVENT_QUEUE *queue) {
    if (platform.system.on_resume) platform.system.on_resume(queue, platform.system.user);
}

// 1 when candidate fits out and names a readable file.
static int _try_asset(char *out, size_t out_size, const char *format, const char *dir,
                      const char *resource) {
    int n = snprintf(out, out_size, format, dir, resource);
    if (n < 0 || (size_t)n >= out_size) return 0;
    FILE *file = fopen(out, "rb");
    if (!file) return 0;
    fclose(file);
    return 1;
}

int platform_asset_path(const char *resource, char *out, size_t out_size) {
    __ka_assert(resource, return 0);
    __ka_assert(out, return 0);
    if (out_size == 0) return 0;
    ALLEGRO_PATH *exe_dir =
        al_is_system_installed() ? al_get_standard_path(ALLEGRO_RESOURCES_PATH) : nullptr;
    if (exe_dir) {
        const char *dir = al_path_cstr(exe_dir, '/');
        int found = _try_asset(out, out_size, "%sassets/%s", dir, resource) ||
                    _try_asset(out, out_size, "%s../share/lumikey/assets/%s", dir, resource);
        al_destroy_path(exe_dir);
        if (found) return 1;
    }
    int n = snprintf(out, out_size, "assets/%s", resource);
    return (n >= 0 && (size_t)n < out_size) ? 1 : 0;
}

int platform_music_dir(char *out, size_t out_size) {
    __ka_assert(out && out_size > 0, return 0);
    out[0] = '\0';
    const char *home = getenv("HOME");
    if (!home || !*home) return 0;
    char line[1024] = "";
    FILE *p = popen("xdg-user-dir MUSIC 2>/dev/null", "r");
    if (p) {
        if (!fgets(line, sizeof line, p)) line[0] = '\0';
        pclose(p);
    }
    line[strcspn(line, "\r\n")] = '\0';
    size_t hl = strlen(home);
    while (hl > 1 && home[hl - 1] == '/') hl--;
    int is_home = strncmp(line, home, hl) == 0 && (line[hl] == '\0' || strcmp(line + hl, "/") == 0);
    int n = line[0] == '/' && !is_home ? snprintf(out, out_size, "%s", line)
                                       : snprintf(out, out_size, "%.*s/Music", (int)hl, home);
    if (n < 0 || (size_t)n >= out_size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int platform_save_path(const char *filename, char *out, size_t out_size) {
    __ka_assert(filename, return 0);
    __ka_assert(out, return 0);
    int n = snprintf(out, out_size, "%s/%s", platform.save_dir, filename);
    return (n >= 0 && (size_t)n < out_size) ? 1 : 0;
}

void platform_begin_save_io() {}

void platform_end_save_io() {}

void platform_show_keyboard() {
    if (platform.system.show_keyboard) platform.system.show_keyboard(platform.system.user);
}

void platform_hide_keyboard() {
    if (platform.system.hide_keyboard) platform.system.hide_keyboard(platform.system.user);
}

int platform_keyboard_visible() {
    return platform.system.keyboard_visible ? platform.system.keyboard_visible(platform.system.user)
                                            : -1;
}

int platform_keyboard_overlap() {
    return platform.system.keyboard_overlap ? platform.system.keyboard_overlap(platform.system.user)
                                            : 0;
}

static int _is_lower(char c) {
    return c >= 'a' && c <= 'z';
}

void platform_system_language(char *out, size_t out_size) {
    __ka_assert(out, return );
    if (out_size < 3) {
        if (out_size) out[0] = '\0';
        return;
    }
    const char *value = nullptr;
    for (const char *name : {"LC_ALL", "LC_MESSAGES"}) {
        const char *v = getenv(name);
        if (v && *v) {
            value = v;
            break;
        }
    }
    if (!value) value = getenv("LANG");
    if (!value || !_is_lower(value[0]) || !_is_lower(value[1])) {
        snprintf(out, out_size, "en");
        return;
    }
    snprintf(out, out_size, "%c%c", value[0], value[1]);
}
