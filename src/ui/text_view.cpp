// src/ui/text_view.cpp: drawing and scrolling of the live text views. The text is wrapped
// again at every draw into one static block of lines, so drawing allocates nothing.
#include "ui/text_view.hpp"

#include <algorithm>
#include <cmath>
#include <allegro5/allegro.h>

#include "main/app.hpp"
#include "support/ka_common.hpp"
#include "ui/text_wrap.hpp"
#include "ui/ui_scrollbar.hpp"

static const size_t MAX_PARAS = 8;
static const size_t MAX_LINES = 512;
static const float WHEEL_STEP = 40; // base pixels per wheel notch: about two lines of text

// Shared by every view: drawing is on the main thread, one view at a time.
static struct {
    TEXT_LINE lines[MAX_PARAS][MAX_LINES];
    size_t count[MAX_PARAS];
} _wrap;

static float _max_scroll(const TEXT_VIEW *v) {
    return std::max(0.0f, v->content_h - v->view_h);
}

// Near enough to the end (within a few pixels) counts as the end: the user means to follow.
static void _follow_if_at_end(TEXT_VIEW *v) {
    v->follow = v->scroll >= v->content_h - v->view_h - app_px(v->app, 4) ? 1 : 0;
}

static void _draw(KA_GUI_WIDGET *widget, float x, float y, ALLEGRO_FONT *font, void *user) {
    TEXT_VIEW *v = (TEXT_VIEW *)user;
    if (!v || !v->app || !font) return;
    const LUMIKEY_APP *app = v->app;
    float W = widget->w, H = widget->h;

    TEXT_PARA paras[MAX_PARAS] = {};
    size_t np = v->fill ? std::min(v->fill(v->user, paras, MAX_PARAS), MAX_PARAS) : 0;
    float g = app_px(app, 6), b = app_px(app, 4);
    float tw = W - 2 * b - 4;

    float content = 0;
    for (size_t i = 0; i < np; i++) {
        ALLEGRO_FONT *f = paras[i].font ? paras[i].font : font;
        size_t n = text_wrap(paras[i].text, tw, text_wrap_font_width, f, _wrap.lines[i], MAX_LINES);
        _wrap.count[i] = std::min(n, MAX_LINES);
        if (_wrap.count[i] == 0) continue;
        content += (float)_wrap.count[i] * (float)al_get_font_line_height(f) + g;
    }
    v->content_h = content;
    v->view_h = H;
    if (H >= content) v->follow = 1;
    if (v->follow && !v->pressing) v->scroll = content - H;
    v->scroll = std::clamp(v->scroll, 0.0f, _max_scroll(v));

    int cx, cy, cw, ch;
    al_get_clipping_rectangle(&cx, &cy, &cw, &ch);
    al_set_clipping_rectangle((int)x, (int)y, (int)W, (int)H);
    float top = y - v->scroll;
    for (size_t i = 0; i < np; i++) {
        if (_wrap.count[i] == 0) continue;
        ALLEGRO_FONT *f = paras[i].font ? paras[i].font : font;
        float lh = (float)al_get_font_line_height(f);
        ALLEGRO_COLOR col = app_rgb(paras[i].rgb);
        for (size_t k = 0; k < _wrap.count[i]; k++, top += lh) {
            if (top + lh < y || top > y + H) continue;
            ALLEGRO_USTR_INFO info;
            const TEXT_LINE *ln = &_wrap.lines[i][k];
            const ALLEGRO_USTR *u = al_ref_buffer(&info, paras[i].text + ln->start, ln->len);
            al_draw_ustr(f, col, x + W / 2, top, ALLEGRO_ALIGN_CENTRE, u);
        }
        top += g;
    }
    ui_scrollbar_draw(app, x, y, W, H, content, v->scroll);
    al_set_clipping_rectangle(cx, cy, cw, ch);
}

static int _mouse(int, const KA_GUI_MOUSE_EVENT *ev, void *user) {
    TEXT_VIEW *v = (TEXT_VIEW *)user;
    if (!v || !v->app || !ev) return 0;
    LUMIKEY_APP *app = v->app;
    switch (ev->type) {
    case KA_GUI_MOUSE_PRESS:
        // Text that fits has nothing to scroll: leave the press to whatever lies beneath.
        if (ev->button != 1 || v->content_h <= v->view_h) return 0;
        v->pressing = 1;
        v->moved = 0;
        v->down_y = ev->y;
        v->down_scroll = v->scroll;
        return 1;
    case KA_GUI_MOUSE_DRAG:
        if (!v->pressing) return 0;
        if (!v->moved) {
            if (std::abs(ev->y - v->down_y) <= app_px(app, 12)) return 1;
            v->moved = 1;
        }
        v->follow = 0;
        v->scroll = std::clamp(v->down_scroll - (ev->y - v->down_y), 0.0f, _max_scroll(v));
        break;
    case KA_GUI_MOUSE_RELEASE:
        if (!v->pressing) return 0;
        v->pressing = 0;
        _follow_if_at_end(v);
        break;
    case KA_GUI_MOUSE_WHEEL:
        v->scroll =
            std::clamp(v->scroll - app_px(app, WHEEL_STEP) * (float)ev->dz, 0.0f, _max_scroll(v));
        _follow_if_at_end(v);
        break;
    default:
        return 0;
    }
    app->redraw = 1;
    return 1;
}

int text_view_add(LUMIKEY_APP *app, TEXT_VIEW *v, int win, float x, float y, float w, float h,
                  TEXT_VIEW_FILL fill, void *user) {
    __ka_assert(app && v, return -1);
    if (!v->app) v->follow = 1;
    v->fill = fill;
    v->app = app;
    v->user = user;
    v->pressing = 0;
    v->widget_id = ka_gui_add_custom(app->gui, win, x, y, w, h, _draw, v);
    if (v->widget_id >= 0) ka_gui_custom_set_mouse(app->gui, v->widget_id, _mouse, v);
    return v->widget_id;
}

void text_view_reset(TEXT_VIEW *v) {
    __ka_assert(v, return );
    v->scroll = 0;
    v->follow = 1;
    v->pressing = 0;
}
