// bench/bench_rig.hpp: an app record on a real 480x800 display inside the benchmark's own
// process, for benchmarks that time the loop itself rather than a whole program.
#pragma once
#include <cstdlib>
#include <string>
#include <allegro5/allegro.h>

#include "phone/screen.hpp"
#include "platform/platform_desktop.hpp"
#include "support/app_rig.hpp"

// Starts Allegro and the desktop platform, saving into a fresh folder /tmp/NAME-XXXXXX, with
// `system` (when given) installed before the app starts, and returns the rig; nullptr when
// Allegro or the display cannot start. The screen-on lock is left out: its session-bus worker
// would outlive the benchmark, and sends must not hold off the screen saver of the desktop
// they run on. Called once per process.
inline AppRig *bench_open_app_rig(const char *name, PLATFORM_SYSTEM *system,
                                  ALLEGRO_DISPLAY **display) {
    if (!al_init()) return nullptr;
    std::string dir = std::string("/tmp/") + name + "-XXXXXX";
    const char *save = mkdtemp(dir.data()) ? dir.c_str() : "/tmp";
    setenv("XDG_DATA_HOME", save, 1);
    platform_init();
    if (system) platform_set_system(system);
    static SCREEN_PLATFORM screen = {nullptr, nullptr, nullptr};
    screen_set_platform(&screen);
    al_set_new_display_flags(platform_display_flags());
    *display = al_create_display(480, 800);
    if (!*display) return nullptr;
    return new AppRig(*display, true);
}
