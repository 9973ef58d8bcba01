// src/phone/background.hpp: announcing work that goes on while the display is away.
#pragma once

// The platform side of the background service. All calls come from the main thread.
struct BACKGROUND_PLATFORM {
    int (*start)(int kinds, const char *title, const char *text, void *user);
    void (*ask_notifications)(void *user);
    void (*stop)(void *user);
    void *user;
};

// Installs the platform side (copied); null restores the desktop's, which has no service.
void background_set_platform(const BACKGROUND_PLATFORM *platform);

// kinds: 1 sending, 2 receiving, 3 both. 1 when a background service was started; the desktop
// has none and answers 0 (its window goes on working when hidden anyway).
int background_start(int kinds, const char *title, const char *text);
// Asks once for the right to show the notification that goes with background work.
void background_ask_notifications();
void background_stop();
