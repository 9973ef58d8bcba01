// src/platform/platform_desktop.hpp: everything that differs between a phone and the desktop:
// save and asset paths, system language, display flags, the event wait and the soft keyboard.
// On the desktop the phone-only answers mean "not available" or "nothing to do".
#pragma once
#include <cstddef>
#include <allegro5/allegro.h>

// Resolves and creates the save directory. 1 on success, 0 (logged) on failure.
int platform_init();
// Flags for al_set_new_display_flags: a resizable OpenGL window.
int platform_display_flags();
// Display density in the phone's sense (1.0 on the desktop).
float platform_display_density();
// 1: closing the window ends the program.
int platform_display_close_quits();
// 0: mouse input, desktop-sized scrollbars.
int platform_uses_touch();
// Registers platform event sources on queue (none on the desktop). 1 if queue is valid.
int platform_register_event_sources(ALLEGRO_EVENT_QUEUE *queue);
// Waits up to 100 ms for one event: 1 if one was taken, else 0.
int platform_wait_event(ALLEGRO_EVENT_QUEUE *queue, ALLEGRO_EVENT *event);
void platform_on_halt();
void platform_on_resume(ALLEGRO_EVENT_QUEUE *queue);
// Path of a read-only asset: next to the executable, then ../share/lumikey/assets, then
// ./assets (untested). 1 if a path was written, 0 if none fit out_size.
int platform_asset_path(const char *resource, char *out, size_t out_size);
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
