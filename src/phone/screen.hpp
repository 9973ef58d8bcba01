// src/phone/screen.hpp: keeping the screen on and its brightness while the program works.
#pragma once

// The platform side of the screen services. Both calls come from the main thread.
struct SCREEN_PLATFORM {
    void (*keep_on)(int on, void *user);
    void (*max_brightness)(int on, void *user);
    void *user;
};

// Installs the platform side (copied); null restores the desktop's. Only on the main thread,
// and best with the lock released, since the lock belongs to the side that took it.
void screen_set_platform(const SCREEN_PLATFORM *platform);

// Holds (on != 0) or releases the screen-on lock. On the desktop: the X server's screen saver
// and power saving are suspended for this program, and a desktop session's screen locker is
// asked to wait through the freedesktop ScreenSaver service where one answers.
void screen_keep_on(int on);
// Raises the display brightness while the screen light sends (a phone service; nothing here).
void screen_max_brightness(int on);
// Lets go of whatever the lock still holds and ends its worker; at shutdown.
void screen_shutdown();
