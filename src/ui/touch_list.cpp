// src/ui/touch_list.cpp: layout, drawing and pointer handling of the touch list. Each row's
// height is kept from one layout to the next and worked out again only when what decides it
// changed: the row's kind and texts (compared by a hash, so an edited, added or deleted row is
// seen at the next draw or hit test), the width, the font or the scale. The source is still
// asked for every row each time, so the list always shows the model as it is now; only the
// wrapping, which costs the most, is skipped.
#include "ui/touch_list.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>
#include <allegro5/allegro.h>
#include <allegro5/allegro_primitives.h>

#include "main/app.hpp"
#include "morse/morse_table.hpp"
#include "support/ka_common.hpp"
#include "ui/text_wrap.hpp"
#include "ui/ui_colors.hpp"
#include "ui/ui_scrollbar.hpp"

static const double LONG_PRESS_S = 0.5;
static const float WHEEL_STEP = 68; // one two-line row per wheel notch, in base pixels
static const size_t MAX_WRAP_LINES = 128;
static const size_t FIT_MAX_BYTES = 1020;

// One row's layout, in content coordinates, and what its height was worked out from.
struct LIST_ROW {
    uint64_t key; // the row's kind and texts; 0 never matches
    float y, h;
};

// A list's layout as the last pass left it. The heights hold for width, font, line height,
// scale and wrapping as recorded here; any change of these lays every row out again.
struct LIST_LAYOUT {
    std::vector<LIST_ROW> rows;
    size_t n = 0;
    float content_h = 0;
    float width = -1, line_h = -1, scale = -1;
    const ALLEGRO_FONT *font = nullptr;
    int wrap = -1;
};

// The layouts by list; main thread only. A list's entry lives as long as the program, as the
// lists do (they are fields of the application record).
static std::unordered_map<const TOUCH_LIST_VIEW *, LIST_LAYOUT> _layouts;

// Line storage for counting and drawing wrapped texts, and the readable copy of the text being
// wrapped (room for the longest row text with every byte replaced); main thread only, one text
// at a time.
static TEXT_LINE _wrap_lines[MAX_WRAP_LINES];
static char _wrap_text[3 * 2048 + 1];

const char *touch_list_readable(const char *text, char *out, size_t out_size) {
    if (!text) return "";
    __ka_assert(out && out_size > 0, return "");
    const char *s = text;
    size_t n = 0;
    int repaired = 0;
    char one[5];
    while (*s) {
        const char *at = s;
        int len = morse_utf8_encode(morse_utf8_next(&s), one);
        repaired |= len != s - at || memcmp(one, at, (size_t)len) != 0;
        if (n + (size_t)len < out_size) {
            memcpy(out + n, one, (size_t)len);
            n += (size_t)len;
        } else {
            out_size = n + 1; // full: later characters, even short ones, would leave a gap
        }
    }
    out[n] = '\0';
    return repaired ? out : text;
}

static size_t _lines(const ALLEGRO_FONT *font, const char *s, float tw) {
    s = touch_list_readable(s, _wrap_text, sizeof _wrap_text);
    size_t n = text_wrap(s, tw, text_wrap_font_width, (void *)font, nullptr, 0);
    return std::clamp<size_t>(n, 1, MAX_WRAP_LINES);
}

static void _fresh_row(const TOUCH_LIST_VIEW *v, size_t i, TOUCH_ROW *out) {
    *out = TOUCH_ROW{};
    out->id = -1;
    v->src.row(v->src.user, i, out);
}

// FNV-1a over a text and its end, so that "ab" + "" and "a" + "b" differ.
static uint64_t _hash_text(uint64_t h, const char *s) {
    for (const unsigned char *p = (const unsigned char *)(s ? s : ""); *p; p++)
        h = (h ^ *p) * 1099511628211ull;
    return (h ^ 0xFFu) * 1099511628211ull;
}

// What a row's height depends on: its kind, whether it has a subtitle and, when the list
// wraps, both texts. Never 0.
static uint64_t _row_key(const TOUCH_ROW *row, int wrap) {
    uint64_t h = 14695981039346656037ull;
    h = (h ^ (uint64_t)(row->header ? 1 : row->subtitle ? 2 : 3)) * 1099511628211ull;
    if (wrap && !row->header) {
        h = _hash_text(h, row->title);
        if (row->subtitle) h = _hash_text(h, row->subtitle);
    }
    return h ? h : 1;
}

static float _row_height(const TOUCH_LIST_VIEW *v, const TOUCH_ROW *row, float tw, float line_h) {
    const LUMIKEY_APP *app = v->app;
    if (row->header) return app_px(app, 40);
    int sub = row->subtitle != nullptr;
    float h = app_px(app, sub ? 68 : 52);
    if (v->wrap && v->view_w > 0 && app->font) {
        size_t lines = _lines(app->font, row->title, tw);
        if (sub) lines += _lines(app->font, row->subtitle, tw);
        float wrapped = ((float)lines - (sub ? 2 : 1)) * line_h + h;
        h = std::max(h, wrapped);
    }
    return h;
}

// Brings the list's layout up to date with the source and returns it; rows whose key is
// unchanged keep their height.
static const LIST_LAYOUT &_layout(const TOUCH_LIST_VIEW *v) {
    LIST_LAYOUT &lay = _layouts[v];
    const LUMIKEY_APP *app = v->app;
    size_t n = v->src.count && v->src.row && app ? v->src.count(v->src.user) : 0;
    lay.n = 0;
    lay.content_h = 0;
    if (n == 0) return lay;
    const ALLEGRO_FONT *font = app->font;
    float line_h = font ? (float)al_get_font_line_height(font) : 0;
    float scale = app_px(app, 100);
    if (lay.width != v->view_w || lay.font != font || lay.line_h != line_h || lay.scale != scale ||
        lay.wrap != v->wrap) {
        lay.rows.clear();
        lay.width = v->view_w, lay.font = font, lay.line_h = line_h, lay.scale = scale;
        lay.wrap = v->wrap;
    }
    if (lay.rows.size() < n) lay.rows.resize(n, LIST_ROW{0, 0, 0});
    float tw = v->view_w - 3 * app_px(app, 12);
    float y = 0;
    for (size_t i = 0; i < n; i++) {
        LIST_ROW *r = &lay.rows[i];
        TOUCH_ROW row;
        _fresh_row(v, i, &row);
        uint64_t key = _row_key(&row, v->wrap);
        if (key != r->key) {
            r->key = key;
            r->h = _row_height(v, &row, tw, line_h);
        }
        r->y = y;
        y += r->h;
    }
    lay.n = n;
    lay.content_h = y + app_px(app, 16);
    return lay;
}

static float _max_scroll(const TOUCH_LIST_VIEW *v) {
    return std::max(0.0f, v->content_h - v->view_h);
}

// The first row whose bottom is below content y cy (lay.n when none): rows are in y order.
static size_t _row_at(const LIST_LAYOUT &lay, float cy) {
    auto end = lay.rows.begin() + (ptrdiff_t)lay.n;
    auto it = std::upper_bound(lay.rows.begin(), end, cy,
                               [](float y, const LIST_ROW &r) { return y < r.y + r.h; });
    return (size_t)(it - lay.rows.begin());
}

static int _id_at(const TOUCH_LIST_VIEW *v, float py) {
    const LIST_LAYOUT &lay = _layout(v);
    float cy = py + v->scroll;
    size_t i = _row_at(lay, cy);
    if (i >= lay.n || lay.rows[i].y > cy) return -1;
    TOUCH_ROW row;
    _fresh_row(v, i, &row);
    return row.header ? -1 : row.id;
}

size_t touch_list_fit(const ALLEGRO_FONT *font, const char *text, float max_w, char *out,
                      size_t out_size) {
    __ka_assert(out && out_size > 0, return 0);
    out[0] = '\0';
    __ka_assert(font, return 0);
    if (!text) return 0;
    size_t len = strcspn(text, "\n");
    len = ka_utf8_cut_len(text, std::min({len, FIT_MAX_BYTES, out_size - 1}));
    memcpy(out, text, len);
    out[len] = '\0';
    if (len == 0 || text_wrap_font_width(out, len, (void *)font) <= max_w) return len;
    // Too wide: the longest body ending on a character boundary that fits with "..." after
    // it. Width grows with the prefix, so a binary search over the boundaries finds the cut that
    // trimming one character at a time would find, without measuring every prefix.
    static const char ELLIPSIS[] = "...";
    const size_t ell = sizeof ELLIPSIS - 1;
    if (out_size <= ell) return len;
    size_t bounds[FIT_MAX_BYTES + 1];
    size_t nb = 1;
    bounds[0] = 0;
    for (size_t i = 1; i < len; i++)
        if (((unsigned char)text[i] & 0xC0) != 0x80) bounds[nb++] = i;
    char buf[FIT_MAX_BYTES + sizeof ELLIPSIS];
    auto fits = [&](size_t body) {
        memcpy(buf, text, body);
        memcpy(buf + body, ELLIPSIS, ell);
        return text_wrap_font_width(buf, body + ell, (void *)font) <= max_w;
    };
    // bounds[lo] is a body that fits (or the empty one); bounds[hi] (or len) does not.
    size_t lo = 0, hi = nb;
    while (hi - lo > 1) {
        size_t mid = lo + (hi - lo) / 2;
        if (fits(bounds[mid]))
            lo = mid;
        else
            hi = mid;
    }
    size_t body = ka_utf8_cut_len(text, std::min(bounds[lo], out_size - 1 - ell));
    memcpy(out, text, body);
    memcpy(out + body, ELLIPSIS, ell);
    out[body + ell] = '\0';
    return body + ell;
}

static void _draw_fit(const ALLEGRO_FONT *font, const char *text, float x, float y, float max_w,
                      uint32_t rgb) {
    char readable[FIT_MAX_BYTES + 1]; // the fit takes no more than that
    char buf[FIT_MAX_BYTES + 4];
    text = touch_list_readable(text, readable, sizeof readable);
    if (touch_list_fit(font, text, max_w, buf, sizeof buf) == 0) return;
    al_draw_text(font, app_rgb(rgb), x, y, ALLEGRO_ALIGN_LEFT, buf);
}

// Draws text wrapped at tw from top y; returns the bottom of the last line.
static float _draw_lines(const ALLEGRO_FONT *font, const char *text, float x, float y, float tw,
                         uint32_t rgb) {
    float line_h = (float)al_get_font_line_height(font);
    const char *s = touch_list_readable(text, _wrap_text, sizeof _wrap_text);
    size_t n =
        std::min(text_wrap(s, tw, text_wrap_font_width, (void *)font, _wrap_lines, MAX_WRAP_LINES),
                 MAX_WRAP_LINES);
    text_wrap_draw(font, app_rgb(rgb), x, y, ALLEGRO_ALIGN_LEFT, s, _wrap_lines, n);
    return y + (float)std::max<size_t>(n, 1) * line_h;
}

static void _draw_wrapped(const TOUCH_LIST_VIEW *v, const ALLEGRO_FONT *font, const TOUCH_ROW *row,
                          float tx, float ry, float tw) {
    float bottom = _draw_lines(font, row->title, tx, ry + app_px(v->app, 9), tw, UI_TEXT_RGB);
    if (row->subtitle)
        _draw_lines(font, row->subtitle, tx, bottom + app_px(v->app, 2), tw, UI_DIM_RGB);
}

static void _draw(KA_GUI_WIDGET *widget, float x, float y, ALLEGRO_FONT *font, void *user) {
    TOUCH_LIST_VIEW *v = (TOUCH_LIST_VIEW *)user;
    if (!v || !v->app || !font) return;
    const LUMIKEY_APP *app = v->app;
    float W = widget->w, H = widget->h;
    float pad = app_px(app, 12);
    float L = (float)al_get_font_line_height(font);

    v->view_w = W;
    const LIST_LAYOUT &lay = _layout(v);
    v->content_h = lay.content_h;
    v->view_h = H;
    v->scroll = std::clamp(v->scroll, 0.0f, _max_scroll(v));

    int cx, cy, cw, ch;
    al_get_clipping_rectangle(&cx, &cy, &cw, &ch);
    al_set_clipping_rectangle((int)x, (int)y, (int)W, (int)H);

    if (lay.n == 0 && v->empty_text)
        al_draw_text(font, app_rgb(UI_DIM_RGB), x + W / 2, y + 2 * pad, ALLEGRO_ALIGN_CENTRE,
                     v->empty_text);

    for (size_t i = _row_at(lay, v->scroll); i < lay.n; i++) {
        const LIST_ROW *r = &lay.rows[i];
        float ry = y + r->y - v->scroll, h = r->h;
        if (ry > y + H) break;
        TOUCH_ROW row;
        _fresh_row(v, i, &row);
        if (row.header) {
            _draw_fit(font, row.title, x + pad, ry + h - L - app_px(app, 6), W - 2 * pad,
                      UI_ACCENT_RGB);
            continue;
        }
        int pressed = v->pressing && !v->moved && row.id == v->press_id;
        al_draw_filled_rounded_rectangle(x + pad / 2, ry + app_px(app, 3), x + W - pad / 2,
                                         ry + h - app_px(app, 3), app_px(app, 8), app_px(app, 8),
                                         app_rgb(pressed ? UI_PRESSED_RGB : UI_CARD_RGB));
        float tx = x + 1.5f * pad, tw = W - 3 * pad;
        if (v->wrap) {
            _draw_wrapped(v, font, &row, tx, ry, tw);
        } else if (row.subtitle) {
            _draw_fit(font, row.title, tx, ry + app_px(app, 9), tw, UI_TEXT_RGB);
            _draw_fit(font, row.subtitle, tx, ry + app_px(app, 9) + L + app_px(app, 2), tw,
                      UI_DIM_RGB);
        } else {
            _draw_fit(font, row.title, tx, ry + (h - L) / 2, tw, UI_TEXT_RGB);
        }
    }

    ui_scrollbar_draw(app, x, y, W, H, lay.content_h, v->scroll);
    al_set_clipping_rectangle(cx, cy, cw, ch);
}

static int _mouse(int, const KA_GUI_MOUSE_EVENT *ev, void *user) {
    TOUCH_LIST_VIEW *v = (TOUCH_LIST_VIEW *)user;
    if (!v || !v->app || !ev) return 0;
    LUMIKEY_APP *app = v->app;
    switch (ev->type) {
    case KA_GUI_MOUSE_PRESS:
        if (ev->button != 1) return 0;
        v->pressing = 1;
        v->moved = 0;
        v->long_fired = 0;
        v->down_y = ev->y;
        v->down_scroll = v->scroll;
        v->down_time = al_get_time();
        v->press_id = _id_at(v, ev->y);
        break;
    case KA_GUI_MOUSE_DRAG:
        if (!v->pressing) return 0;
        // A finger never holds perfectly still: small movements stay a tap or a hold.
        if (!v->moved && std::abs(ev->y - v->down_y) > app_px(app, 12)) v->moved = 1;
        if (v->moved)
            v->scroll = std::clamp(v->down_scroll - (ev->y - v->down_y), 0.0f, _max_scroll(v));
        break;
    case KA_GUI_MOUSE_RELEASE: {
        if (!v->pressing) return 0;
        v->pressing = 0;
        if (v->moved || v->long_fired) break;
        int id = v->press_id;
        if (id >= 0 && _id_at(v, ev->y) == id && v->src.on_tap) v->src.on_tap(v->src.user, id);
        break;
    }
    case KA_GUI_MOUSE_WHEEL:
        v->scroll =
            std::clamp(v->scroll - app_px(app, WHEEL_STEP) * (float)ev->dz, 0.0f, _max_scroll(v));
        break;
    default:
        return 0;
    }
    app->redraw = 1;
    return 1;
}

int touch_list_add(LUMIKEY_APP *app, TOUCH_LIST_VIEW *v, int win, float x, float y, float w,
                   float h) {
    __ka_assert(app && v, return -1);
    v->app = app;
    v->pressing = 0;
    v->view_w = w;
    v->widget_id = ka_gui_add_custom(app->gui, win, x, y, w, h, _draw, v);
    if (v->widget_id >= 0) ka_gui_custom_set_mouse(app->gui, v->widget_id, _mouse, v);
    return v->widget_id;
}

void touch_list_tick(TOUCH_LIST_VIEW *v) {
    __ka_assert(v, return );
    if (!v->pressing || v->moved || v->long_fired || v->press_id < 0 || !v->src.on_long) return;
    if (al_get_time() - v->down_time < LONG_PRESS_S) return;
    v->long_fired = 1;
    v->src.on_long(v->src.user, v->press_id);
}

void touch_list_scroll_top(TOUCH_LIST_VIEW *v) {
    __ka_assert(v, return );
    v->scroll = 0;
}
