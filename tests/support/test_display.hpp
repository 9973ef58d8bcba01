// tests/support/test_display.hpp: a real window on the (virtual) X display for tests and
// benchmarks that draw or build screens.
#pragma once
#include <gtest/gtest.h>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

// Initialises Allegro with the font, TTF and primitives add-ons and opens a w x h display.
// The X server may still be resetting after the previous test program, so it tries again for
// a few seconds; vertical sync is off. Mesa's software rasteriser is kept on the calling thread
// unless the environment says otherwise (ThreadSanitizer cannot see into its threads). Null when no
// display could be made.
ALLEGRO_DISPLAY *test_display_open(int w = 480, int h = 800);

// A fixture whose suite shares one 480 x 800 display and Allegro's built-in font (8 x 8), made
// before its first test and destroyed after its last.
class DisplayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    static ALLEGRO_DISPLAY *display;
    static ALLEGRO_FONT *font;
};
