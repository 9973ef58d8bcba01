// tests/support/test_display.cpp
#include "support/test_display.hpp"

#include <cstdlib>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

ALLEGRO_DISPLAY *test_display_open(int w, int h) {
    setenv("LP_NUM_THREADS", "0", 0);
    if (!al_init()) return nullptr;
    al_init_font_addon();
    al_init_ttf_addon();
    al_init_primitives_addon();
    // Frames are never held back for a vertical blank: the benchmarks time them.
    al_set_new_display_option(ALLEGRO_VSYNC, 2, ALLEGRO_SUGGEST);
    ALLEGRO_DISPLAY *display = nullptr;
    for (int i = 0; i < 50 && !display; i++) {
        display = al_create_display(w, h);
        if (!display) al_rest(0.1);
    }
    return display;
}

ALLEGRO_DISPLAY *DisplayTest::display = nullptr;
ALLEGRO_FONT *DisplayTest::font = nullptr;

void DisplayTest::SetUpTestSuite() {
    display = test_display_open();
    ASSERT_NE(display, nullptr);
    font = al_create_builtin_font();
    ASSERT_NE(font, nullptr);
}

void DisplayTest::TearDownTestSuite() {
    if (font) al_destroy_font(font);
    if (display) al_destroy_display(display);
    font = nullptr;
    display = nullptr;
}
