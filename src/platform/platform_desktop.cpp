// src/platform/platform_desktop.cpp: the Linux desktop answers of the platform layer.
#include "platform/platform_desktop.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <sys/stat.h>

#include "support/ka_common.hpp"

// The only state: where save files go. Set once by platform_init on the main thread.
static struct { char save_dir[1024] = "./save"; } platform;

int platform_init() {
    const char *xdg = getenv("XDG_DATA_HOME");
    const char *home = getenv("HOME");
    char dir[1024];
    if (xdg && *xdg) {
        snprintf(dir, sizeof dir, "%s/lumikey", xdg);
    } else if (home && *home) {
        // The parents of the save directory may not exist on a fresh account; errors are
        // ignored here because the mkdir below reports the one that matters.
        snprintf(dir, sizeof dir, "%s/.local", home);
        mkdir(dir, 0755);
        snprintf(dir, sizeof dir, "%s/.local/share", home);
        mkdir(dir, 0755);
        snprintf(dir, sizeof dir, "%s/.local/share/lumikey", home);
    } else {
        snprintf(dir, sizeof dir, "./save");
    }
    ka_copy_text(platform.save_dir, sizeof platform.save_dir, dir);

    // EEXIST is also what a plain file of that name gives; only a real folder will hold saves.
    struct stat st;
    if (mkdir(platform.save_dir, 0755) != 0 &&
        (errno != EEXIST || stat(platform.save_dir, &st) != 0 || !S_ISDIR(st.st_mode))) {
        ka_log(LOG_ERR, "could not create save dir %s", platform.save_dir);
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

int platform_register_event_sources(ALLEGRO_EVENT_QUEUE *queue) {
    __ka_assert(queue, return 0);
    return 1;
}

int platform_wait_event(ALLEGRO_EVENT_QUEUE *queue, ALLEGRO_EVENT *event) {
    __ka_assert(queue, return 0);
    __ka_assert(event, return 0);
    return al_wait_for_event_timed(queue, event, 0.1f) ? 1 : 0;
}

void platform_on_halt() {}

void platform_on_resume(ALLEGRO_EVENT_QUEUE *) {}

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

int platform_save_path(const char *filename, char *out, size_t out_size) {
    __ka_assert(filename, return 0);
    __ka_assert(out, return 0);
    int n = snprintf(out, out_size, "%s/%s", platform.save_dir, filename);
    return (n >= 0 && (size_t)n < out_size) ? 1 : 0;
}

void platform_begin_save_io() {}

void platform_end_save_io() {}

void platform_show_keyboard() {}

void platform_hide_keyboard() {}

int platform_keyboard_visible() {
    return -1;
}

int platform_keyboard_overlap() {
    return 0;
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
