// src/platform/instance_lock.hpp: one running program per save folder. Two copies writing the
// same files would each write their whole lists over the other's; the second start hands over
// to the first instead, bringing its window to the front.
#pragma once
#include <allegro5/allegro.h>

// Takes "lumikey.lock" in the save folder (platform_init first) with flock. 1 when this process
// holds it, or when the folder allows no lock at all (logged: the program goes on alone as best
// it can); 0 when another process holds it.
int instance_lock_take();
// Writes this process's id and the window of display into the lock file, for a second start to
// find. Nothing without a lock or an X window.
void instance_lock_publish(ALLEGRO_DISPLAY *display);
// In a second start: brings the window of the process holding the lock to the front (the
// _NET_ACTIVE_WINDOW request to the window manager, and a map and raise for a display without
// one), waiting up to wait_s for a holder still starting to publish its window. Writes nothing.
// The holder's process id is written to *holder (0 when unknown). 1 when the request was made.
int instance_lock_raise_holder(double wait_s, int *holder);
// Lets go of the lock (the process's end does too).
void instance_lock_release();
