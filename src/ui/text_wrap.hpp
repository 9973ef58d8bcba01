// src/ui/text_wrap.hpp: breaking UTF-8 text into display lines no wider than a given width.
#pragma once
#include <cstddef>

#include <allegro5/allegro_font.h>

// One display line: a byte range of the caller's text (nothing is copied).
struct TEXT_LINE {
    size_t start;
    size_t len;
};

// Pixel width of the n bytes at s, in whatever font user stands for.
typedef float (*TEXT_WIDTH_FN)(const char *s, size_t n, void *user);

// Number of lines the whole text needs at max_w: broken at spaces, inside a word only when the
// word alone is too wide, never inside a UTF-8 character, and every '\n' starts a new line.
// Lines go to lines[0 .. max-1] while they fit; the count goes on past max, so lines null with
// max 0 only counts. 0 for a null or empty text or a null width function.
size_t text_wrap(const char *text, float max_w, TEXT_WIDTH_FN width, void *user, TEXT_LINE *lines,
                 size_t max);

// The width function the views pass: the bytes as UTF-8 in the ALLEGRO_FONT given as user.
float text_wrap_font_width(const char *s, size_t n, void *font);

// Draws lines[0 .. n-1] of text one under the other from y down, each placed at x as
// al_draw_text's flags place it (left, centre, right). Nothing is copied, so a line of any
// length is drawn whole.
void text_wrap_draw(const ALLEGRO_FONT *font, ALLEGRO_COLOR color, float x, float y, int flags,
                    const char *text, const TEXT_LINE *lines, size_t n);
