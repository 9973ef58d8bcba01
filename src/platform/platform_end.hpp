// src/platform/platform_end.hpp: how the desktop ends the program from outside, and how the
// program ends cleanly all the same: the signals of a logout, `kill` or Ctrl+C become the
// normal quit, and the X server going away ends the program after a last-chance save instead
// of the abort the libraries' exit handlers would cause.
#pragma once
#include <allegro5/allegro.h>

// Blocks SIGTERM, SIGINT and SIGHUP and starts the thread that takes them. First thing in the
// process, before any other thread exists, so that every thread inherits the block. Until
// platform_watch_quit_signals is called, such a signal ends the program at once as it would
// without this (start-up has nothing unsaved). 1 when the signals are taken, 0 (logged) when
// they keep their default action.
int platform_catch_quit_signals();
// From now on a quit signal is a request: it is recorded and the loop is woken through wake.
void platform_watch_quit_signals(ALLEGRO_EVENT_SOURCE *wake);
// The first quit signal taken since the watch began (SIGTERM, SIGINT or SIGHUP), 0 while none.
int platform_quit_signal();
// Ends the watch and the thread; later quit signals are left pending (the program is ending).
void platform_release_quit_signals();

// Installs Xlib's handler for a lost connection, on whichever thread notices it. The main thread
// is asked to end through platform_end_after_display_lost (woken through the watched wake
// source); a thread other than the main one waits a little for it, then ends the program
// itself, for the main thread may be stuck in a call on the dead connection. Called on the
// main thread, which it remembers as such.
void platform_catch_display_loss();
// save(user) is the last-chance save made before the program ends over a lost display; null
// before the model exists and again once it is gone.
void platform_on_display_lost(void (*save)(void *user), void *user);
// 1 once the connection to the X server was lost.
int platform_display_lost();
// Logs the loss, makes the last-chance save (once, whichever thread gets here first) and ends
// the process with status 1 without the exit handlers, which would abort in the audio library.
[[noreturn]] void platform_end_after_display_lost();
