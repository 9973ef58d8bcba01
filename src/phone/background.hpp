// src/phone/background.hpp: announcing work that goes on while the display is away.
#pragma once

// kinds: 1 sending, 2 receiving, 3 both. 1 when a background service was started; the desktop
// has none and answers 0.
int background_start(int kinds, const char *title, const char *text);
// Asks once for the right to show the notification that goes with background work.
void background_ask_notifications();
void background_stop();
