// tests/support/view_kit.hpp: an application record wired to a GUI kit and an off-screen
// target, so the screens' custom widgets (lists, text views) can be added, driven with
// synthetic pointer events and drawn without a display.
#pragma once
#include <allegro5/allegro.h>

#include "main/app.hpp"
#include "support/gui_event_kit.hpp"

class ViewKit {
public:
    // A full-size frameless window of w x h; the app draws with the kit's built-in 8 x 8 font
    // (line height 8) at UI scale 1.
    explicit ViewKit(int w = 480, int h = 800);
    ~ViewKit();
    ViewKit(const ViewKit &) = delete;
    ViewKit &operator=(const ViewKit &) = delete;

    // Draws one custom widget the way the toolkit does, at its place in the window.
    void draw(int widget_id);

    GuiKit kit;
    LUMIKEY_APP app{};
    int win = -1;
    ALLEGRO_BITMAP *target = nullptr;
};
