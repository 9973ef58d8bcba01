// src/phone/screen.cpp: the desktop answers of the screen services.
#include "phone/screen.hpp"

#include <allegro5/allegro.h>

#include "support/ka_log.hpp"

void screen_keep_on(int on) {
    if (!al_inhibit_screensaver(on != 0))
        ka_log(LOG_INFO, "al_inhibit_screensaver(%d) not supported", on);
}

void screen_max_brightness(int) {}
