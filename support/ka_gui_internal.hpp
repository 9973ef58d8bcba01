// support/ka_gui_internal.hpp: helpers shared by the toolkit's own files (lookup, geometry,
// widget life, text measuring and wrapping, themed shapes, clipboard with its fallback). Not part
// of the toolkit's contract: screens include support/ka_gui.hpp only.
#pragma once
#include <cstddef>
#include <cstring>
#include <vector>
#include <allegro5/allegro_primitives.h>
#include "support/ka_common.hpp"
#include "support/ka_gui.hpp"

// ---- lookup and geometry (ka_gui_ctx.cpp, ka_gui_window.cpp)

KA_GUI_WINDOW *_gui_window(KA_GUI_CTX *ctx, int id);
// The widget with that id when its type is `type` (0: any type), else null.
KA_GUI_WIDGET *_gui_widget(KA_GUI_CTX *ctx, int id, int type);
KA_GUI_WINDOW *_gui_widget_window(KA_GUI_CTX *ctx, const KA_GUI_WIDGET *widget);
// Top-left corner of the window's content area in display coordinates.
void _gui_content_origin(const KA_GUI_WINDOW *win, float *ox, float *oy);
// Display coordinates of a widget's top-left corner.
void _gui_widget_origin(const KA_GUI_WINDOW *win, const KA_GUI_WIDGET *widget, float *ax,
                        float *ay);
// The font a widget draws with: its own, its window's, else the context's.
ALLEGRO_FONT *_gui_font(const KA_GUI_CTX *ctx, const KA_GUI_WINDOW *win,
                        const KA_GUI_WIDGET *widget);
// Back-to-front group of a z-order mode.
int _gui_zorder_group(int z_order);
void _gui_sort_windows(KA_GUI_CTX *ctx);
// Recomputes the widget's fractions of its window's size (an axis of size 0 keeps them).
void _gui_widget_update_norm(const KA_GUI_WINDOW *win, KA_GUI_WIDGET *widget);
// How far the open windows reach: the largest right and bottom edges (0 when none is open).
void _gui_extent(const KA_GUI_CTX *ctx, float *right, float *bottom);
// The front-most open window containing the display point, or null.
KA_GUI_WINDOW *_gui_window_at(KA_GUI_CTX *ctx, float x, float y);
// The last-added visible, enabled widget of win containing the display point, or null.
KA_GUI_WIDGET *_gui_widget_at(KA_GUI_WINDOW *win, float x, float y);
double _gui_now();
// Makes room for `needed` elements, doubling; 0 (array untouched, failure logged) when it cannot.
int _gui_grow(void **array, size_t *capacity, size_t needed, size_t elem_size, const char *what);

// ---- widget life (ka_gui_ctx.cpp)

// Makes a widget of the given type owning `data`, appends it to the window and registers its id.
// On any failure data is freed with everything it owns and -1 is returned.
int _gui_attach_widget(KA_GUI_CTX *ctx, int window_id, int type, float x, float y, float w, float h,
                       void *data);
// The zero-filled type record of a new widget in window_id, or null when the window does not
// exist or memory is short (logged).
template <typename T> T *_gui_new_data(KA_GUI_CTX *ctx, int window_id, const char *type_name) {
    if (!_gui_window(ctx, window_id)) return nullptr;
    return (T *)_ka_calloc(1, sizeof(T), "d", type_name, __LINE__, __FILE__);
}
// Frees a widget with its data, calling a custom widget's destroy hook.
void _gui_free_widget(KA_GUI_WIDGET *widget);
// Frees a type record and the buffers it owns.
void _gui_free_widget_data(int type, void *data);

// ---- per-type helpers used by drawing and by event handling

double _gui_slider_snap(const KA_GUI_SLIDER_DATA *d, double value);
double _gui_slider_key_step(const KA_GUI_SLIDER_DATA *d);
float _gui_slider_handle_r(const KA_GUI_CTX *ctx, const KA_GUI_WIDGET *widget);
// Snaps and stores value; on a change calls on_change and returns 1.
int _gui_slider_set_value(KA_GUI_CTX *ctx, KA_GUI_WIDGET *widget, double value);
// Takes the value from a pointer at display point (px, py); 1 when it changed.
int _gui_slider_from_pointer(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *widget, float px,
                             float py);

// Geometry of an open combobox list in display coordinates.
struct KA_GUI_LIST_GEOM {
    float x, y, w, h, item_h;
    int rows;       // rows shown at a time
    int scrollbar;  // more items than rows
    float strip_w;  // width of the scrollbar strip at the right edge (0 without a scrollbar)
    int max_scroll; // largest first row shown
};
void _gui_combobox_list_geom(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *widget,
                             KA_GUI_LIST_GEOM *g);

// One visual line of wrapped text: bytes [start, end) of the text; the line after it starts at
// `next` (skipping the space or newline it broke at); para_end marks a paragraph's last line.
struct KA_GUI_LINE {
    size_t start, end, next;
    int para_end;
};
// Wraps at spaces to width; newlines end paragraphs. A word wider than the line is broken
// between characters when break_words is set, else it stays whole on a line of its own.
// Always yields at least one line.
void _gui_wrap(ALLEGRO_FONT *font, const char *text, size_t len, float width, int break_words,
               std::vector<KA_GUI_LINE> *lines);
// Layout of a text area as drawn: the inner rectangle, lines, whether a scrollbar is shown.
struct KA_GUI_TEXT_LAYOUT {
    float ix, iy, iw, ih; // inner rectangle (display coordinates)
    float line_h;
    int scrollbar;
    std::vector<KA_GUI_LINE> lines;
};
void _gui_textarea_layout(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *widget,
                          ALLEGRO_FONT *font, KA_GUI_TEXT_LAYOUT *layout);
// Index of the visual line holding pos: the last line starting at or before it.
size_t _gui_line_of(const std::vector<KA_GUI_LINE> &lines, size_t pos);
// Layout of a justified label as drawn: wrapped at wrap_w, re-wrapped narrower when the lines
// overflow and a scrollbar takes room; content_h is their height with the top padding.
struct KA_GUI_LABEL_LAYOUT {
    float wrap_w;
    float content_h;
    int scrollbar;
    std::vector<KA_GUI_LINE> lines;
};
void _gui_label_layout(const KA_GUI_CTX *ctx, const KA_GUI_WIDGET *widget, ALLEGRO_FONT *font,
                       KA_GUI_LABEL_LAYOUT *layout);
// Byte offset of the character boundary nearest to the display point (px, py) in a label's
// text, where the label draws it. Above or below the text, the nearest line's.
int _gui_label_pos_at(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *widget, float px,
                      float py);
// Top-left corner of the text's first line as drawn, after scrolling.
void _gui_textarea_origin(const KA_GUI_TEXTAREA_DATA *d, const KA_GUI_TEXT_LAYOUT *layout,
                          float *ox, float *oy);
// The byte offset in the line whose position is nearest dx pixels from the line's start.
size_t _gui_line_pos_at(ALLEGRO_FONT *font, const char *text, const KA_GUI_LINE &line, float dx);
// The byte offset under the display point (px, py), as the text area is drawn now.
size_t _gui_textarea_pos_at(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *widget, float px,
                            float py);
// Replaces the text area's text; carriage returns are dropped and the text is cut to the limit
// on a character boundary. Cursor to the end; the selection stays, cut back to the text.
void _gui_textarea_store(KA_GUI_TEXTAREA_DATA *d, const char *text);

// ---- text and shapes (ka_gui_draw.cpp)

size_t _gui_utf8_next(const char *text, size_t len, size_t pos);
size_t _gui_utf8_prev(const char *text, size_t pos);
// Copies src into dst_size bytes without carriage returns, cut on a character boundary.
size_t _gui_copy_no_cr(char *dst, size_t dst_size, const char *src);
float _gui_text_width(ALLEGRO_FONT *font, const char *text, size_t len);
// Longest prefix of whole characters whose width fits room.
size_t _gui_fit_prefix(ALLEGRO_FONT *font, const char *text, size_t len, float room);
// Draws text at (x, y); when wider than room, a prefix followed by "...".
void _gui_draw_truncated(ALLEGRO_FONT *font, ALLEGRO_COLOR color, float x, float y,
                         const char *text, size_t len, float room);
// Background, border and text colours for the widget's state.
void _gui_state_colors(const KA_GUI_WIDGET *widget, ALLEGRO_COLOR *bg, ALLEGRO_COLOR *border,
                       ALLEGRO_COLOR *text);
void _gui_themed_rect(const KA_GUI_THEME *theme, float x, float y, float w, float h,
                      ALLEGRO_COLOR bg, ALLEGRO_COLOR border, int rounded);
// A scrollbar thumb's offset and length along a track of length len with the given padding at
// both ends, for content shown view at a time, scrolled by scroll.
void _gui_thumb(float len, float padding, float thumb_min, float view, float content, float scroll,
                float *at, float *thumb);
// A vertical scrollbar for content of content_h shown in view_h, scrolled by scroll.
void _gui_draw_vscrollbar(const KA_GUI_CTX *ctx, KA_GUI_SB_TRACK *track, float x, float y, float w,
                          float h, float content_h, float view_h, float scroll);
// Intersects the current clipping with a rectangle given in drawing coordinates.
void _gui_clip_push(float x, float y, float w, float h, int saved[4]);
void _gui_clip_pop(const int saved[4]);

// ---- drawing per widget type

void _gui_draw_button(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float ax, float ay,
                      ALLEGRO_FONT *font);
void _gui_draw_label(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float ax, float ay,
                     ALLEGRO_FONT *font);
void _gui_draw_slider(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float ax, float ay,
                      ALLEGRO_FONT *font);
void _gui_draw_checkbox(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float ax, float ay,
                        ALLEGRO_FONT *font);
void _gui_draw_combobox(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float ax, float ay,
                        ALLEGRO_FONT *font);
void _gui_draw_combobox_list(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w,
                             ALLEGRO_FONT *font);
void _gui_draw_textarea(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float ax, float ay,
                        ALLEGRO_FONT *font);
void _gui_draw_custom(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float ax, float ay,
                      ALLEGRO_FONT *font);

// ---- clipboard with Allegro's as the fallback (ka_gui_ctx.cpp)

// Offers text on CLIPBOARD (0) or PRIMARY (1); 1 on success. Without the X service only the
// clipboard works, through Allegro.
int _gui_clipboard_set(KA_GUI_CTX *ctx, int which, const char *text);
// A malloc'd copy of the selection's text, at most max_bytes of it, or null.
char *_gui_clipboard_get(KA_GUI_CTX *ctx, int which, size_t max_bytes);
