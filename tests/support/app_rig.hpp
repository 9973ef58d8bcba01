// tests/support/app_rig.hpp: an application record set up as start-up leaves it (display,
// queue, timer, player, lists, receiver, audio, the home screen built) on a display the caller
// made, for tests and measurements that run the main loop's passes themselves.
#pragma once
#include <allegro5/allegro.h>

#include "main/app.hpp"

class AppRig {
public:
    // display: a live display of disp size; fonts: Allegro's built-in one (or the real font with
    // real_fonts, found as the program finds it).
    explicit AppRig(ALLEGRO_DISPLAY *display, bool real_fonts = false);
    ~AppRig();
    AppRig(const AppRig &) = delete;
    AppRig &operator=(const AppRig &) = delete;

    // Events given to the app's queue from outside, as if they had come from the system.
    void inject(const ALLEGRO_EVENT &ev);
    // A display event of type, stamped now.
    ALLEGRO_EVENT display_event(unsigned type) const;

    LUMIKEY_APP *app = nullptr;

private:
    ALLEGRO_EVENT_SOURCE injected_;
};
