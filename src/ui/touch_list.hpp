// src/ui/touch_list.hpp: the scrolling list of rows of the home, history and received-messages
// screens, driven by drag, wheel, tap and long press. It owns no data: a source of callbacks
// describes the rows every time the list lays itself out.
#pragma once
#include <cstddef>
#include <allegro5/allegro_font.h>

struct LUMIKEY_APP;

// One row as the source describes it. Texts are not owned and must stay valid until the next
// call of the source's row() or the next draw.
struct TOUCH_ROW {
    int header; // non-zero: a section header, never tapped or held
    int id;     // reported by tap and long press; -1 when not set
    const char *title;
    const char *subtitle; // null: a one-line row
};

struct TOUCH_LIST_SOURCE {
    size_t (*count)(const void *user);
    // Fills row i; out arrives zeroed with id -1.
    void (*row)(const void *user, size_t i, TOUCH_ROW *out);
    void (*on_tap)(void *user, int id);  // may be null
    void (*on_long)(void *user, int id); // may be null
    void *user;
};

// One list. It lives in the application record, so its scroll position outlives GUI rebuilds.
struct TOUCH_LIST_VIEW {
    LUMIKEY_APP *app;
    TOUCH_LIST_SOURCE src;
    const char *empty_text; // shown when there are no rows; null: nothing
    int wrap;               // non-zero: texts wrap and rows grow; zero: one line cut with "..."
    float view_w;
    float scroll; // pixels from the top of the content
    float content_h;
    float view_h;
    int pressing;
    float down_y;
    float down_scroll;
    double down_time; // al_get_time() at the press
    int moved;
    int long_fired;
    int press_id;
    int widget_id;
};

// Adds the list as a custom widget of window win; the caller fills src, empty_text and wrap
// first. The scroll offset is kept. The widget id, negative on failure.
int touch_list_add(LUMIKEY_APP *app, TOUCH_LIST_VIEW *v, int win, float x, float y, float w,
                   float h);
// Once per main-loop pass while the list's screen is shown: delivers a due long press.
void touch_list_tick(TOUCH_LIST_VIEW *v);
void touch_list_scroll_top(TOUCH_LIST_VIEW *v);

// A row's text as the font can draw it. Texts come from files a user may have edited by hand,
// and the font stops drawing at the first byte that is not UTF-8 (a name that starts with one is
// a blank row), so such a text is shown as the message reader reads it, every malformed
// sequence as U+FFFD. Valid text comes back as it is; otherwise the repaired copy is written to
// out (out_size bytes, whole characters only) and returned. Null reads as "".
const char *touch_list_readable(const char *text, char *out, size_t out_size);

// The one-line form of a row's text: up to its first newline, cut so that it fits max_w in
// font, with "..." in place of the removed characters (never half a UTF-8 character). Writes
// it to out (NUL-terminated) and returns its length.
size_t touch_list_fit(const ALLEGRO_FONT *font, const char *text, float max_w, char *out,
                      size_t out_size);
