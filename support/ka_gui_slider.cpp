// support/ka_gui_slider.cpp: sliders: value snapping, values from the pointer, drawing.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"

int ka_gui_add_slider(KA_GUI_CTX *ctx, int window_id, float x, float y, float w, float h,
                      double min_val, double max_val, double initial, int mode,
                      KA_GUI_SLIDER_CB on_change, void *user_data) {
    __ka_assert(ctx, return -1);
    KA_GUI_SLIDER_DATA *d = _gui_new_data<KA_GUI_SLIDER_DATA>(ctx, window_id, "KA_GUI_SLIDER_DATA");
    if (!d) return -1;
    if (mode == 1) {
        min_val = 0;
        max_val = 100;
    }
    if (max_val < min_val) std::swap(min_val, max_val); // a reversed range would never clamp
    d->min_val = min_val;
    d->max_val = max_val;
    d->mode = mode;
    d->value = _gui_slider_snap(d, initial);
    d->on_change = on_change;
    d->user_data = user_data;
    d->value_visible = 1;
    return _gui_attach_widget(ctx, window_id, KA_GUI_SLIDER, x, y, w, h, d);
}

double _gui_slider_snap(const KA_GUI_SLIDER_DATA *d, double value) {
    if (std::isnan(value)) value = d->min_val;
    if (d->step > 0) value = d->min_val + std::round((value - d->min_val) / d->step) * d->step;
    return std::clamp(value, d->min_val, d->max_val);
}

double _gui_slider_key_step(const KA_GUI_SLIDER_DATA *d) {
    if (d->key_step > 0) return d->key_step;
    if (d->step > 0) return d->step;
    if ((d->max_val - d->min_val) / 20 > 0) return (d->max_val - d->min_val) / 20;
    return 1;
}

float _gui_slider_handle_r(const KA_GUI_CTX *ctx, const KA_GUI_WIDGET *w) {
    const KA_GUI_SLIDER_DATA *d = (const KA_GUI_SLIDER_DATA *)w->data;
    float across = d->orientation ? w->w : w->h;
    return std::max(ctx->style.slider_handle_min_r,
                    across / 2 - ctx->style.slider_handle_edge_offset);
}

int _gui_slider_set_value(KA_GUI_CTX *ctx, KA_GUI_WIDGET *w, double value) {
    KA_GUI_SLIDER_DATA *d = (KA_GUI_SLIDER_DATA *)w->data;
    value = _gui_slider_snap(d, value);
    if (value == d->value) return 0;
    d->value = value;
    ctx->dirty = 1;
    if (d->on_change) d->on_change(w->id, value, d->user_data);
    return 1;
}

int _gui_slider_from_pointer(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float px,
                             float py) {
    KA_GUI_SLIDER_DATA *d = (KA_GUI_SLIDER_DATA *)w->data;
    float ax, ay;
    _gui_widget_origin(win, w, &ax, &ay);
    float r = _gui_slider_handle_r(ctx, w);
    float length = (d->orientation ? w->h : w->w) - 2 * r;
    if (length <= 0) return 0;
    double ratio = d->orientation ? 1 - (py - ay - r) / length : (px - ax - r) / length;
    ratio = std::clamp(ratio, 0.0, 1.0);
    return _gui_slider_set_value(ctx, w, d->min_val + ratio * (d->max_val - d->min_val));
}

void ka_gui_slider_set_step(KA_GUI_CTX *ctx, int id, double step) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_SLIDER);
    if (!w) return;
    KA_GUI_SLIDER_DATA *d = (KA_GUI_SLIDER_DATA *)w->data;
    d->step = step;
    if (step > 0) d->value = _gui_slider_snap(d, d->value);
}

void ka_gui_slider_set_value_visible(KA_GUI_CTX *ctx, int id, int visible) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_SLIDER);
    if (w) ((KA_GUI_SLIDER_DATA *)w->data)->value_visible = visible ? 1 : 0;
}

void _gui_draw_slider(KA_GUI_CTX *ctx, KA_GUI_WINDOW *, KA_GUI_WIDGET *w, float ax, float ay,
                      ALLEGRO_FONT *font) {
    KA_GUI_SLIDER_DATA *d = (KA_GUI_SLIDER_DATA *)w->data;
    const KA_GUI_STYLE &s = ctx->style;
    const KA_GUI_THEME &t = w->theme;
    ALLEGRO_COLOR bg, border, text;
    _gui_state_colors(w, &bg, &border, &text);
    float r = _gui_slider_handle_r(ctx, w);
    double range = d->max_val - d->min_val;
    float ratio = range > 0 ? (float)((d->value - d->min_val) / range) : 0;
    float tr = s.slider_track_corner_r;
    float half = s.slider_track_size / 2;
    float hx, hy;
    if (d->orientation == 0) {
        float cy = ay + w->h / 2;
        hx = ax + r + ratio * std::max(0.0f, w->w - 2 * r);
        hy = cy;
        al_draw_filled_rounded_rectangle(ax, cy - half, ax + w->w, cy + half, tr, tr, t.bg_normal);
        if (hx > ax)
            al_draw_filled_rounded_rectangle(ax, cy - half, hx, cy + half, tr, tr, t.bg_active);
        al_draw_rounded_rectangle(ax, cy - half, ax + w->w, cy + half, tr, tr, t.border_normal,
                                  s.slider_track_border_thickness);
    } else {
        float cx = ax + w->w / 2;
        hx = cx;
        hy = ay + w->h - r - ratio * std::max(0.0f, w->h - 2 * r);
        al_draw_filled_rounded_rectangle(cx - half, ay, cx + half, ay + w->h, tr, tr, t.bg_normal);
        al_draw_filled_rounded_rectangle(cx - half, hy, cx + half, ay + w->h, tr, tr, t.bg_active);
        al_draw_rounded_rectangle(cx - half, ay, cx + half, ay + w->h, tr, tr, t.border_normal,
                                  s.slider_track_border_thickness);
    }
    al_draw_filled_circle(hx, hy, r, bg);
    al_draw_circle(hx, hy, r, border, s.slider_handle_border_thickness);
    if (!d->value_visible || !font) return;
    char value[64];
    if (d->value_format[0]) {
        snprintf(value, sizeof value, d->value_format, d->value);
    } else if (d->mode == 1) {
        snprintf(value, sizeof value, "%.0f%%", d->value);
    } else {
        snprintf(value, sizeof value, "%.1f", d->value);
    }
    float line_h = (float)al_get_font_line_height(font);
    al_draw_text(font, text, ax + w->w + s.slider_value_label_offset, ay + (w->h - line_h) / 2, 0,
                 value);
}
