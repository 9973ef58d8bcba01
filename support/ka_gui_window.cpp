// support/ka_gui_window.cpp: windows: creation, flags, z-order, opening and closing, raising,
// rectangles with widget scaling, and the geometry and hit tests shared with event handling.
#include <algorithm>
#include <cmath>

#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"

KA_GUI_WINDOW *_gui_window(KA_GUI_CTX *ctx, int id) {
    if (!ctx || id < 1) return nullptr;
    for (size_t i = 0; i < ctx->nb_windows; i++) {
        if (ctx->windows[i]->id == id) return ctx->windows[i];
    }
    return nullptr;
}

KA_GUI_WINDOW *_gui_widget_window(KA_GUI_CTX *ctx, const KA_GUI_WIDGET *widget) {
    return widget ? _gui_window(ctx, widget->window_id) : nullptr;
}

void _gui_content_origin(const KA_GUI_WINDOW *win, float *ox, float *oy) {
    float title = (win->flags & KA_GUI_WIN_FRAMELESS) ? 0 : win->titlebar_h;
    *ox = win->x - win->scroll_x;
    *oy = win->y + title - win->scroll_y;
}

void _gui_widget_origin(const KA_GUI_WINDOW *win, const KA_GUI_WIDGET *widget, float *ax,
                        float *ay) {
    _gui_content_origin(win, ax, ay);
    *ax += widget->x;
    *ay += widget->y;
}

ALLEGRO_FONT *_gui_font(const KA_GUI_CTX *ctx, const KA_GUI_WINDOW *win,
                        const KA_GUI_WIDGET *widget) {
    if (widget && widget->font) return widget->font;
    if (win && win->font) return win->font;
    return ctx->default_font;
}

int _gui_zorder_group(int z_order) {
    switch (z_order) {
    case KA_GUI_ZORDER_ALWAYS_BEHIND:
        return 0;
    case KA_GUI_ZORDER_FIXED:
        return 1;
    case KA_GUI_ZORDER_ALWAYS_ON_TOP:
        return 3;
    case KA_GUI_ZORDER_POPUP:
        return 4;
    default:
        return 2;
    }
}

// a must be drawn after b.
static int _gui_window_after(const KA_GUI_WINDOW *a, const KA_GUI_WINDOW *b) {
    int ga = _gui_zorder_group(a->z_order), gb = _gui_zorder_group(b->z_order);
    if (ga != gb) return ga > gb;
    if (ga == 1) return a->z_value > b->z_value;
    return 0;
}

// Stable insertion sort: equal windows keep their order, so raising (moving to the end) is
// what puts a window in front of its group.
void _gui_sort_windows(KA_GUI_CTX *ctx) {
    for (size_t i = 1; i < ctx->nb_windows; i++) {
        KA_GUI_WINDOW *win = ctx->windows[i];
        size_t j = i;
        while (j > 0 && _gui_window_after(ctx->windows[j - 1], win)) {
            ctx->windows[j] = ctx->windows[j - 1];
            j--;
        }
        ctx->windows[j] = win;
    }
}

void _gui_widget_update_norm(const KA_GUI_WINDOW *win, KA_GUI_WIDGET *widget) {
    if (!win) return;
    if (win->w > 0) {
        widget->norm_x = widget->x / win->w;
        widget->norm_w = widget->w / win->w;
    }
    if (win->h > 0) {
        widget->norm_y = widget->y / win->h;
        widget->norm_h = widget->h / win->h;
    }
}

static int _gui_window_contains(const KA_GUI_WINDOW *win, float x, float y) {
    float h = win->h;
    if (win->state & KA_GUI_WIN_MINIMISED)
        h = (win->flags & KA_GUI_WIN_FRAMELESS) ? 0 : win->titlebar_h;
    return x >= win->x && x < win->x + win->w && y >= win->y && y < win->y + h;
}

KA_GUI_WINDOW *_gui_window_at(KA_GUI_CTX *ctx, float x, float y) {
    for (size_t i = ctx->nb_windows; i-- > 0;) {
        KA_GUI_WINDOW *win = ctx->windows[i];
        if ((win->state & KA_GUI_WIN_OPEN) && _gui_window_contains(win, x, y)) return win;
    }
    return nullptr;
}

void _gui_extent(const KA_GUI_CTX *ctx, float *right, float *bottom) {
    *right = *bottom = 0;
    for (size_t i = 0; i < ctx->nb_windows; i++) {
        const KA_GUI_WINDOW *win = ctx->windows[i];
        if (!(win->state & KA_GUI_WIN_OPEN)) continue;
        *right = std::max(*right, win->x + win->w);
        *bottom = std::max(*bottom, win->y + win->h);
    }
}

KA_GUI_WIDGET *_gui_widget_at(KA_GUI_WINDOW *win, float x, float y) {
    for (size_t i = win->nb_widgets; i-- > 0;) {
        KA_GUI_WIDGET *w = win->widgets[i];
        if (!w->visible || !w->enabled) continue;
        float ax, ay;
        _gui_widget_origin(win, w, &ax, &ay);
        if (x >= ax && x < ax + w->w && y >= ay && y < ay + w->h) return w;
    }
    return nullptr;
}

int ka_gui_add_window(KA_GUI_CTX *ctx, const char *title, float x, float y, float w, float h) {
    __ka_assert(ctx, return -1);
    if (!_gui_grow((void **)&ctx->windows, &ctx->windows_capacity, ctx->nb_windows + 1,
                   sizeof(KA_GUI_WINDOW *), "ctx->windows")) {
        return -1;
    }
    KA_GUI_WINDOW *win = nullptr;
    Malloc(win, KA_GUI_WINDOW, 1);
    if (!win) return -1;
    win->widgets_capacity = 16;
    Malloc(win->widgets, KA_GUI_WIDGET *, win->widgets_capacity);
    if (!win->widgets) {
        ka_log(LOG_ERR, "ka_gui_add_window: failed to allocate widget list");
        Free(win);
        return -1;
    }
    win->id = ctx->next_window_id++;
    ka_copy_text(win->title, sizeof win->title, title);
    win->x = x;
    win->y = y;
    win->w = w;
    win->h = h;
    win->titlebar_h = ctx->style.titlebar_h;
    win->min_w = ctx->style.min_win_w;
    win->min_h = ctx->style.min_win_h;
    win->state = KA_GUI_WIN_OPEN;
    win->theme = ctx->default_theme;
    win->z_order = KA_GUI_ZORDER_NORMAL;
    ctx->windows[ctx->nb_windows++] = win;
    _gui_sort_windows(ctx);
    ctx->dirty = 1;
    return win->id;
}

KA_GUI_WINDOW *ka_gui_get_window(KA_GUI_CTX *ctx, int id) {
    __ka_assert(ctx, return nullptr);
    return _gui_window(ctx, id);
}

void ka_gui_window_set_flags(KA_GUI_CTX *ctx, int id, int flags) {
    __ka_assert(ctx, return );
    KA_GUI_WINDOW *win = _gui_window(ctx, id);
    if (win) win->flags = flags;
}

void ka_gui_window_set_zorder(KA_GUI_CTX *ctx, int id, int z_mode, int z_value) {
    __ka_assert(ctx, return );
    KA_GUI_WINDOW *win = _gui_window(ctx, id);
    if (!win) return;
    if (z_mode < KA_GUI_ZORDER_NORMAL || z_mode > KA_GUI_ZORDER_POPUP) {
        ka_log(LOG_ERR,
               "ka_gui_window_set_zorder: unknown z_mode %d for window %d (expected "
               "KA_GUI_ZORDER_NORMAL, KA_GUI_ZORDER_ALWAYS_ON_TOP, KA_GUI_ZORDER_ALWAYS_BEHIND, "
               "KA_GUI_ZORDER_FIXED, or KA_GUI_ZORDER_POPUP), falling back to KA_GUI_ZORDER_NORMAL",
               z_mode, id);
        z_mode = KA_GUI_ZORDER_NORMAL;
    }
    win->z_order = z_mode;
    win->z_value = z_value;
    _gui_sort_windows(ctx);
}

void ka_gui_open_window(KA_GUI_CTX *ctx, int id) {
    __ka_assert(ctx, return );
    KA_GUI_WINDOW *win = _gui_window(ctx, id);
    if (win) win->state |= KA_GUI_WIN_OPEN;
}

void ka_gui_close_window(KA_GUI_CTX *ctx, int id) {
    __ka_assert(ctx, return );
    KA_GUI_WINDOW *win = _gui_window(ctx, id);
    if (!win) return;
    win->state &= ~KA_GUI_WIN_OPEN;
    KA_GUI_WIDGET *focused = _gui_widget(ctx, ctx->focused_widget_id, 0);
    if (focused && focused->window_id == id) ka_gui_set_focus(ctx, -1);
    // A list left open over a closed window would float there with nothing under it.
    KA_GUI_WIDGET *combo = _gui_widget(ctx, ctx->open_combobox_id, KA_GUI_COMBOBOX);
    if (combo && combo->window_id == id) {
        ((KA_GUI_COMBOBOX_DATA *)combo->data)->is_open = 0;
        ctx->open_combobox_id = -1;
    }
}

int ka_gui_window_is_open(KA_GUI_CTX *ctx, int id) {
    __ka_assert(ctx, return 0);
    KA_GUI_WINDOW *win = _gui_window(ctx, id);
    return win && (win->state & KA_GUI_WIN_OPEN) ? 1 : 0;
}

void ka_gui_raise_window(KA_GUI_CTX *ctx, int id) {
    __ka_assert(ctx, return );
    size_t at = 0;
    for (; at < ctx->nb_windows && ctx->windows[at]->id != id; at++) {
    }
    if (at == ctx->nb_windows) return;
    KA_GUI_WINDOW *win = ctx->windows[at];
    if (win->z_order != KA_GUI_ZORDER_NORMAL && win->z_order != KA_GUI_ZORDER_POPUP) return;
    for (size_t i = at; i + 1 < ctx->nb_windows; i++) ctx->windows[i] = ctx->windows[i + 1];
    ctx->windows[ctx->nb_windows - 1] = win;
    _gui_sort_windows(ctx);
}

void ka_gui_window_set_rect_axes(KA_GUI_CTX *ctx, int id, float x, float y, float w, float h,
                                 int scale_x, int scale_y) {
    __ka_assert(ctx, return );
    KA_GUI_WINDOW *win = _gui_window(ctx, id);
    if (!win) return;
    win->x = x;
    win->y = y;
    win->w = w < 1 ? 1 : w;
    win->h = h < 1 ? 1 : h;
    for (size_t i = 0; i < win->nb_widgets; i++) {
        KA_GUI_WIDGET *wd = win->widgets[i];
        if (scale_x) {
            wd->x = wd->norm_x * win->w;
            wd->w = wd->norm_w * win->w;
        } else {
            wd->norm_x = wd->x / win->w;
            wd->norm_w = wd->w / win->w;
        }
        if (scale_y) {
            wd->y = wd->norm_y * win->h;
            wd->h = wd->norm_h * win->h;
        } else {
            wd->norm_y = wd->y / win->h;
            wd->norm_h = wd->h / win->h;
        }
    }
    ctx->dirty = 1;
}
