// src/ui/text_wrap.cpp: line breaking for the touch list's wrapped rows and the text views.
#include "ui/text_wrap.hpp"

#include <cstring>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

float text_wrap_font_width(const char *s, size_t n, void *font) {
    if (!s || !font || n == 0) return 0;
    ALLEGRO_USTR_INFO info;
    const ALLEGRO_USTR *u = al_ref_buffer(&info, s, n);
    return (float)al_get_ustr_width((const ALLEGRO_FONT *)font, u);
}

void text_wrap_draw(const ALLEGRO_FONT *font, ALLEGRO_COLOR color, float x, float y, int flags,
                    const char *text, const TEXT_LINE *lines, size_t n) {
    if (!font || !text || !lines) return;
    float lh = (float)al_get_font_line_height(font);
    for (size_t i = 0; i < n; i++, y += lh) {
        ALLEGRO_USTR_INFO info;
        const ALLEGRO_USTR *u = al_ref_buffer(&info, text + lines[i].start, lines[i].len);
        al_draw_ustr(font, color, x, y, flags, u);
    }
}

// The byte after the UTF-8 character at p, never beyond e. A stray continuation byte counts as
// a character of its own, so malformed text still moves forward.
static size_t _next_char(const char *text, size_t p, size_t e) {
    size_t q = p + 1;
    while (q < e && ((unsigned char)text[q] & 0xC0) == 0x80) q++;
    return q;
}

// The end of the longest run of whole words from p that fits; p itself when not even the first
// word does. Leading spaces belong to the first word, so a paragraph's indent is kept.
static size_t _fit_words(const char *text, size_t p, size_t e, float max_w, TEXT_WIDTH_FN width,
                         void *user) {
    size_t fit = p;
    while (fit < e) {
        size_t c = fit;
        while (c < e && text[c] == ' ') c++;
        while (c < e && text[c] != ' ') c++;
        if (width(text + p, c - p, user) > max_w) break;
        fit = c;
    }
    return fit;
}

// A word wider than the line: as many whole characters as fit, but at least one, so that a
// single glyph wider than the line still makes progress.
static size_t _fit_chars(const char *text, size_t p, size_t e, float max_w, TEXT_WIDTH_FN width,
                         void *user) {
    size_t q = p;
    do {
        size_t next = _next_char(text, q, e);
        if (q > p && width(text + p, next - p, user) > max_w) break;
        q = next;
    } while (q < e && text[q] != ' ');
    return q;
}

size_t text_wrap(const char *text, float max_w, TEXT_WIDTH_FN width, void *user, TEXT_LINE *lines,
                 size_t max) {
    if (!text || !*text || !width) return 0;
    size_t len = strlen(text);
    size_t n = 0;
    auto emit = [&](size_t start, size_t l) {
        if (lines && n < max) lines[n] = {start, l};
        n++;
    };
    size_t ps = 0;
    for (;;) {
        size_t e = ps;
        while (e < len && text[e] != '\n') e++;
        if (e == ps) {
            emit(ps, 0);
        } else {
            size_t p = ps;
            for (;;) {
                size_t fit = _fit_words(text, p, e, max_w, width, user);
                if (fit == p) fit = _fit_chars(text, p, e, max_w, width, user);
                emit(p, fit - p);
                // The spaces at a break vanish; trailing spaces make no extra line.
                while (fit < e && text[fit] == ' ') fit++;
                if (fit >= e) break;
                p = fit;
            }
        }
        if (e >= len) break;
        ps = e + 1;
    }
    return n;
}
