// src/platform/platform_desktop.hpp: everything that differs between a phone and the desktop:
// save and asset paths, system language, display flags, the event wait and the soft keyboard.
// On the desktop the phone-only answers mean "not available" or "nothing to do".
#pragma once
#include <cstddef>
#include <allegro5/allegro.h>

// The system side of the soft keyboard and of the display going away and coming back. All
// calls come from the main thread. The desktop's answers: no keyboard calls, visibility -1
// (unknown), overlap 0, and nothing to do at a halt or a resume.
struct PLATFORM_SYSTEM {
    int (*keyboard_visible)(void *user); // 1 shown, 0 hidden, -1 unknown
    void (*show_keyboard)(void *user);
    void (*hide_keyboard)(void *user);
    int (*keyboard_overlap)(void *user); // pixels covered at the bottom, -1 unknown
    void (*on_halt)(void *user);
    void (*on_resume)(ALLEGRO_EVENT_QUEUE *queue, void *user);
    void *user;
};

// Installs the system side (copied); null restores the desktop's.
void platform_set_system(const PLATFORM_SYSTEM *system);

// Longest save file name (with the suffixes of a copy kept aside) that always fits after the
// save directory: a directory too long for it is refused at start.
#define PLATFORM_SAVE_NAME_MAX 64

// Resolves and creates the save directory (mode 0700) and the folders above it. 1 on success,
// 0 (logged) on failure, a directory path too long for the path buffers among them.
int platform_init();
// Flags for al_set_new_display_flags: a resizable OpenGL window.
int platform_display_flags();
// Display density in the phone's sense (1.0 on the desktop).
float platform_display_density();
// 1: closing the window ends the program.
int platform_display_close_quits();
// 0: mouse input, desktop-sized scrollbars.
int platform_uses_touch();
// Registers platform event sources on queue. 1 if queue is valid. On the desktop, called on the
// main thread after the display is made: the current display's window is watched from then on,
// and its hiding (minimised, unmapped) and showing come out of platform_wait_event as the
// halt-drawing and resume-drawing events a phone gives when the program leaves and re-enters
// the foreground.
int platform_register_event_sources(ALLEGRO_EVENT_QUEUE *queue);
// Waits up to 100 ms for one event: 1 if one was taken, else 0.
int platform_wait_event(ALLEGRO_EVENT_QUEUE *queue, ALLEGRO_EVENT *event);
// The display has halted drawing / resumed it (after the program's own handling).
void platform_on_halt();
void platform_on_resume(ALLEGRO_EVENT_QUEUE *queue);
// Path of a read-only asset: next to the executable, then ../share/lumikey/assets, then
// ./assets (untested). 1 if a path was written, 0 if none fit out_size.
int platform_asset_path(const char *resource, char *out, size_t out_size);
// The user's music folder: what `xdg-user-dir MUSIC` names, else ~/Music (xdg-user-dir answers
// the home folder itself when no music folder is set). Not created, and not checked to exist.
// 1 when a path was written, 0 without a home folder or when the path does not fit.
int platform_music_dir(char *out, size_t out_size);
// save directory + "/" + filename; 1 if it fit out_size (NUL included), else 0.
int platform_save_path(const char *filename, char *out, size_t out_size);
// Bracket every save-file read and write (storage access on a phone; nothing here).
void platform_begin_save_io();
void platform_end_save_io();
void platform_show_keyboard();
void platform_hide_keyboard();
// -1: unknown, the caller tracks the keyboard itself.
int platform_keyboard_visible();
// Pixels of the display covered by a soft keyboard (0 on the desktop).
int platform_keyboard_overlap();
// Two-letter language code from LC_ALL, LC_MESSAGES or LANG; "en" when none is usable.
void platform_system_language(char *out, size_t out_size);
