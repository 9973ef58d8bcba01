// src/phone/screen.hpp: keeping the screen on and its brightness while the program works.
#pragma once

// Holds (on != 0) or releases the screen-on lock; on the desktop, inhibits the screensaver.
void screen_keep_on(int on);
// Raises the display brightness while the screen light sends (a phone service; nothing here).
void screen_max_brightness(int on);
