// tests/support/test_display.hpp: a real window on the (virtual) X display for tests and
// benchmarks that draw or build screens.
#pragma once
#include <allegro5/allegro.h>

// Initialises Allegro with the font, TTF and primitives add-ons and opens a w x h display.
// The X server may still be resetting after the previous test program, so it tries again for
// a few seconds; vertical sync is off. Mesa's software rasteriser is kept on the calling thread unless the
// environment says otherwise (ThreadSanitizer cannot see into its threads). Null when no
// display could be made.
ALLEGRO_DISPLAY *test_display_open(int w = 480, int h = 800);
