// support/ka_gui_draw.cpp: drawing a frame (windows back to front, each clipped to itself, the
// open combobox list over everything, global scrollbars), and the text and shape helpers every
// widget's drawing shares: UTF-8 stepping, measuring, truncation, wrapping, themed rectangles.
#include <algorithm>
#include <cmath>

#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"

#define KA_GUI_TRUNCATE_MAX 4091

size_t _gui_utf8_next(const char *text, size_t len, size_t pos) {
    if (pos >= len) return len;
    pos++;
    while (pos < len && ((unsigned char)text[pos] & 0xC0) == 0x80) pos++;
    return pos;
}

size_t _gui_utf8_prev(const char *text, size_t pos) {
    if (pos == 0) return 0;
    pos--;
    while (pos > 0 && ((unsigned char)text[pos] & 0xC0) == 0x80) pos--;
    return pos;
}

size_t _gui_copy_no_cr(char *dst, size_t dst_size, const char *src) {
    if (!dst || dst_size == 0) return 0;
    const char *p = src ? src : "";
    size_t n = 0;
    for (; *p && n + 1 < dst_size; p++) {
        if (*p != '\r') dst[n++] = *p;
    }
    while (*p == '\r') p++;
    // Stopped inside a character: cut back to where it starts.
    if (*p && ((unsigned char)*p & 0xC0) == 0x80) {
        while (n > 0 && ((unsigned char)dst[n - 1] & 0xC0) == 0x80) n--;
        if (n > 0 && ((unsigned char)dst[n - 1] & 0xC0) == 0xC0) n--;
    }
    dst[n] = '\0';
    return n;
}

float _gui_text_width(ALLEGRO_FONT *font, const char *text, size_t len) {
    if (!font || len == 0) return 0;
    ALLEGRO_USTR_INFO info;
    return (float)al_get_ustr_width(font, al_ref_buffer(&info, text, len));
}

static void _gui_draw_span(ALLEGRO_FONT *font, ALLEGRO_COLOR color, float x, float y,
                           const char *text, size_t len) {
    ALLEGRO_USTR_INFO info;
    al_draw_ustr(font, color, x, y, 0, al_ref_buffer(&info, text, len));
}

size_t _gui_fit_prefix(ALLEGRO_FONT *font, const char *text, size_t len, float room) {
    std::vector<size_t> ends; // every character boundary after the first character
    for (size_t pos = _gui_utf8_next(text, len, 0); pos > 0; pos = _gui_utf8_next(text, len, pos)) {
        ends.push_back(pos);
        if (pos >= len) break;
    }
    // Widths grow with the prefix, so the longest fitting one is found by bisection.
    size_t lo = 0, hi = ends.size();
    while (lo < hi) {
        size_t mid = (lo + hi + 1) / 2;
        if (_gui_text_width(font, text, ends[mid - 1]) <= room) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return lo ? ends[lo - 1] : 0;
}

void _gui_draw_truncated(ALLEGRO_FONT *font, ALLEGRO_COLOR color, float x, float y,
                         const char *text, size_t len, float room) {
    if (!font || len == 0) return;
    if (_gui_text_width(font, text, len) <= room) {
        _gui_draw_span(font, color, x, y, text, len);
        return;
    }
    float dots = _gui_text_width(font, "...", 3);
    size_t n = _gui_fit_prefix(font, text, std::min(len, (size_t)KA_GUI_TRUNCATE_MAX), room - dots);
    _gui_draw_span(font, color, x, y, text, n);
    al_draw_text(font, color, x + _gui_text_width(font, text, n), y, 0, "...");
}

void _gui_wrap(ALLEGRO_FONT *font, const char *text, size_t len, float width, int break_words,
               std::vector<KA_GUI_LINE> *lines) {
    lines->clear();
    size_t pos = 0;
    for (;;) {
        const char *nl = (const char *)memchr(text + pos, '\n', len - pos);
        size_t pe = nl ? (size_t)(nl - text) : len;
        size_t after = nl ? pe + 1 : len;
        size_t s = pos;
        while (s < pe) {
            size_t fit = s, fit_next = s, i = s;
            int first_word = 1;
            while (i < pe) {
                size_t we = i;
                while (we < pe && text[we] != ' ') we++;
                if (we > i && _gui_text_width(font, text + s, we - s) > width) break;
                fit = we;
                while (we < pe && text[we] == ' ') we++;
                fit_next = we;
                i = we;
                first_word = 0;
            }
            if (i >= pe) { // the rest of the paragraph fits
                lines->push_back({s, pe, after, 1});
                s = pe + 1;
                break;
            }
            if (!first_word && fit > s) {
                lines->push_back({s, fit, fit_next, 0});
                s = fit_next;
                continue;
            }
            // The first word alone is wider than the line.
            size_t we = i;
            while (we < pe && text[we] != ' ') we++;
            size_t end = we;
            if (break_words) {
                end = s + _gui_fit_prefix(font, text + s, we - s, width);
                if (end == s) end = _gui_utf8_next(text, pe, s); // at least one character
            }
            size_t next = end;
            if (end == we) {
                while (next < pe && text[next] == ' ') next++;
            }
            if (next >= pe) {
                lines->push_back({s, end, after, 1});
                s = pe + 1;
                break;
            }
            lines->push_back({s, end, next, 0});
            s = next;
        }
        if (pos == pe) lines->push_back({pos, pe, after, 1}); // an empty paragraph
        if (!nl) break;
        pos = pe + 1;
    }
    if (lines->empty()) lines->push_back({0, 0, 0, 1});
}

void _gui_state_colors(const KA_GUI_WIDGET *w, ALLEGRO_COLOR *bg, ALLEGRO_COLOR *border,
                       ALLEGRO_COLOR *text) {
    int pressed = (w->state & KA_GUI_STATE_PRESSED) != 0;
    if (w->type == KA_GUI_BUTTON) {
        const KA_GUI_BUTTON_DATA *d = (const KA_GUI_BUTTON_DATA *)w->data;
        pressed = pressed || d->toggled || _gui_now() < d->key_press_until;
    }
    const KA_GUI_THEME &t = w->theme;
    if (pressed) {
        *bg = t.bg_active;
        *border = t.border_active;
        *text = t.text_active;
    } else if (w->state & KA_GUI_STATE_HOVER) {
        *bg = t.bg_hover;
        *border = t.border_hover;
        *text = t.text_hover;
    } else {
        *bg = t.bg_normal;
        *border = t.border_normal;
        *text = t.text_normal;
    }
}

void _gui_themed_rect(const KA_GUI_THEME *theme, float x, float y, float w, float h,
                      ALLEGRO_COLOR bg, ALLEGRO_COLOR border, int rounded) {
    float t = std::max(1.0f, theme->border_thickness);
    float i = t / 2;
    if (rounded) {
        al_draw_filled_rounded_rectangle(x + i, y + i, x + w - i, y + h - i, theme->corner_rx,
                                         theme->corner_ry, bg);
        al_draw_rounded_rectangle(x + i, y + i, x + w - i, y + h - i, theme->corner_rx,
                                  theme->corner_ry, border, t);
    } else {
        al_draw_filled_rectangle(x, y, x + w, y + h, bg);
        al_draw_rectangle(x + i, y + i, x + w - i, y + h - i, border, t);
    }
}

void _gui_thumb(float len, float padding, float thumb_min, float view, float content, float scroll,
                float *at, float *thumb) {
    float room = std::max(0.0f, len - 2 * padding);
    *thumb =
        content > 0 ? std::clamp(room * view / content, std::min(thumb_min, room), room) : room;
    float range = content - view;
    *at = range > 0 ? (room - *thumb) * std::clamp(scroll / range, 0.0f, 1.0f) : 0;
}

void _gui_draw_vscrollbar(const KA_GUI_CTX *ctx, KA_GUI_SB_TRACK *track, float x, float y, float w,
                          float h, float content_h, float view_h, float scroll) {
    const KA_GUI_STYLE &s = ctx->style;
    track->x = x;
    track->y = y;
    track->w = w;
    track->h = h;
    al_draw_filled_rectangle(x, y, x + w, y + h, s.scrollbar_track_color);
    if (content_h <= view_h || h <= 0) return;
    float pad = s.scrollbar_thumb_padding;
    float at, thumb;
    _gui_thumb(h, pad, s.scrollbar_thumb_min, view_h, content_h, scroll, &at, &thumb);
    al_draw_filled_rounded_rectangle(x + pad, y + pad + at, x + w - pad, y + pad + at + thumb,
                                     s.scrollbar_thumb_corner_r, s.scrollbar_thumb_corner_r,
                                     s.scrollbar_thumb_color);
}

void _gui_clip_push(float x, float y, float w, float h, int saved[4]) {
    al_get_clipping_rectangle(&saved[0], &saved[1], &saved[2], &saved[3]);
    // Clipping works in target pixels, so the rectangle goes through the current transform.
    const ALLEGRO_TRANSFORM *t = al_get_current_transform();
    float x0 = x, y0 = y, x1 = x + w, y1 = y + h;
    if (t) {
        al_transform_coordinates(t, &x0, &y0);
        al_transform_coordinates(t, &x1, &y1);
    }
    int cx0 = std::max(saved[0], (int)std::floor(std::min(x0, x1)));
    int cy0 = std::max(saved[1], (int)std::floor(std::min(y0, y1)));
    int cx1 = std::min(saved[0] + saved[2], (int)std::ceil(std::max(x0, x1)));
    int cy1 = std::min(saved[1] + saved[3], (int)std::ceil(std::max(y0, y1)));
    al_set_clipping_rectangle(cx0, cy0, std::max(0, cx1 - cx0), std::max(0, cy1 - cy0));
}

void _gui_clip_pop(const int saved[4]) {
    al_set_clipping_rectangle(saved[0], saved[1], saved[2], saved[3]);
}

typedef void (*KA_GUI_DRAW_FN)(KA_GUI_CTX *, KA_GUI_WINDOW *, KA_GUI_WIDGET *, float, float,
                               ALLEGRO_FONT *);

// Drawing routine per widget type; types outside the program's subset draw nothing.
static KA_GUI_DRAW_FN _gui_draw_fn(int type) {
    switch (type) {
    case KA_GUI_BUTTON:
        return _gui_draw_button;
    case KA_GUI_SLIDER:
        return _gui_draw_slider;
    case KA_GUI_TEXTAREA:
        return _gui_draw_textarea;
    case KA_GUI_CHECKBOX:
        return _gui_draw_checkbox;
    case KA_GUI_COMBOBOX:
        return _gui_draw_combobox;
    case KA_GUI_LABEL:
        return _gui_draw_label;
    case KA_GUI_CUSTOM:
        return _gui_draw_custom;
    default:
        return nullptr;
    }
}

static void _gui_draw_widget(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w) {
    KA_GUI_DRAW_FN draw = _gui_draw_fn(w->type);
    if (!draw) return;
    float ax, ay;
    _gui_widget_origin(win, w, &ax, &ay);
    draw(ctx, win, w, ax, ay, _gui_font(ctx, win, w));
}

static void _gui_draw_window(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win) {
    const KA_GUI_THEME &t = win->theme;
    int frameless = (win->flags & KA_GUI_WIN_FRAMELESS) != 0;
    int minimised = (win->state & KA_GUI_WIN_MINIMISED) != 0;
    float title = frameless ? 0 : win->titlebar_h;
    float bottom = minimised ? win->y + title : win->y + win->h;
    float top = win->y + title;
    if (!minimised && bottom > top) {
        if (ctx->style.shape_mode == 1) {
            al_draw_filled_rounded_rectangle(win->x, top, win->x + win->w, bottom, t.corner_rx,
                                             t.corner_ry, t.bg_normal);
        } else {
            al_draw_filled_rectangle(win->x, top, win->x + win->w, bottom, t.bg_normal);
        }
    }
    if (!frameless) {
        al_draw_filled_rectangle(win->x, win->y, win->x + win->w, top, t.bg_active);
        ALLEGRO_FONT *font = _gui_font(ctx, win, nullptr);
        if (font && win->title[0]) {
            float line_h = (float)al_get_font_line_height(font);
            float pad = ctx->style.title_padding;
            _gui_draw_truncated(font, t.text_normal, win->x + pad, win->y + (title - line_h) / 2,
                                win->title, strlen(win->title),
                                win->w - pad - ctx->style.title_max_w_reserve);
        }
    }
    float thick = std::max(1.0f, t.border_thickness), i = thick / 2;
    if (bottom - win->y > thick) {
        al_draw_rounded_rectangle(win->x + i, win->y + i, win->x + win->w - i, bottom - i,
                                  t.corner_rx, t.corner_ry, t.border_normal, thick);
    }
    if (minimised) return;
    int saved[4];
    _gui_clip_push(win->x, top, win->w, bottom - top, saved);
    for (size_t k = 0; k < win->nb_widgets; k++) {
        if (win->widgets[k]->visible) _gui_draw_widget(ctx, win, win->widgets[k]);
    }
    _gui_clip_pop(saved);
}

static void _gui_draw_global_bar(const KA_GUI_STYLE &s, float x, float y, float w, float h,
                                 float thumb_at, float thumb_len, int vertical) {
    al_draw_filled_rectangle(x, y, x + w, y + h, s.global_scrollbar_track_color);
    float p = s.global_scrollbar_thumb_padding, r = s.global_scrollbar_thumb_corner_r;
    float x0 = vertical ? x + p : x + p + thumb_at;
    float y0 = vertical ? y + p + thumb_at : y + p;
    float x1 = vertical ? x + w - p : x0 + thumb_len;
    float y1 = vertical ? y0 + thumb_len : y + h - p;
    al_draw_filled_rounded_rectangle(x0, y0, x1, y1, r, r, s.global_scrollbar_thumb_color);
    al_draw_rounded_rectangle(x0, y0, x1, y1, r, r, s.global_scrollbar_thumb_border_color,
                              s.global_scrollbar_border_thickness);
}

// One global scrollbar's thumb position and length along a track of length len.
static void _gui_global_thumb(const KA_GUI_STYLE &s, float len, float view, float content,
                              float scroll, float *at, float *thumb) {
    _gui_thumb(len, s.global_scrollbar_thumb_padding, s.global_scrollbar_thumb_min, view, content,
               scroll, at, thumb);
}

void ka_gui_draw(KA_GUI_CTX *ctx) {
    __ka_assert(ctx, return );
    float dw = ctx->display_w, dh = ctx->display_h;
    if (!ctx->display_size_set) {
        ALLEGRO_BITMAP *target = al_get_target_bitmap();
        dw = target ? (float)al_get_bitmap_width(target) : 0;
        dh = target ? (float)al_get_bitmap_height(target) : 0;
        if (!ctx->display_size_warned) {
            ka_log(LOG_NOTICE,
                   "ka_gui: no display size was set, using the draw target's %.0fx%.0f; call "
                   "ka_gui_set_display_size() at start up and on resize",
                   (double)dw, (double)dh);
            ctx->display_size_warned = 1;
        }
    }

    // How far the open windows reach decides whether the whole GUI scrolls.
    float max_x, max_y;
    _gui_extent(ctx, &max_x, &max_y);
    const KA_GUI_STYLE &s = ctx->style;
    int need_v = max_y > dh, need_h = max_x > dw;
    float view_w = dw - (need_v ? s.global_scrollbar_size : 0);
    float view_h = dh - (need_h ? s.global_scrollbar_size : 0);
    need_h = need_h || (need_v && max_x > view_w);
    need_v = need_v || (need_h && max_y > view_h);
    view_w = dw - (need_v ? s.global_scrollbar_size : 0);
    view_h = dh - (need_h ? s.global_scrollbar_size : 0);
    ctx->global_scroll_x = need_h ? std::clamp(ctx->global_scroll_x, 0.0f, max_x - view_w) : 0;
    ctx->global_scroll_y = need_v ? std::clamp(ctx->global_scroll_y, 0.0f, max_y - view_h) : 0;

    ALLEGRO_TRANSFORM saved_transform, t;
    al_copy_transform(&saved_transform, al_get_current_transform());
    al_identity_transform(&t);
    al_translate_transform(&t, -ctx->global_scroll_x, -ctx->global_scroll_y);
    if (ctx->virtual_w > 0) {
        al_scale_transform(&t, ctx->gui_scale, ctx->gui_scale);
        al_translate_transform(&t, ctx->gui_offset_x, ctx->gui_offset_y);
    }
    al_compose_transform(&t, &saved_transform);
    al_use_transform(&t);
    int saved_clip[4];
    al_get_clipping_rectangle(&saved_clip[0], &saved_clip[1], &saved_clip[2], &saved_clip[3]);
    if (need_h || need_v) {
        int dummy[4];
        _gui_clip_push(ctx->global_scroll_x, ctx->global_scroll_y, view_w, view_h, dummy);
    }

    for (size_t i = 0; i < ctx->nb_windows; i++) {
        if (ctx->windows[i]->state & KA_GUI_WIN_OPEN) _gui_draw_window(ctx, ctx->windows[i]);
    }
    KA_GUI_WIDGET *combo = _gui_widget(ctx, ctx->open_combobox_id, KA_GUI_COMBOBOX);
    KA_GUI_WINDOW *combo_win = _gui_widget_window(ctx, combo);
    if (combo && combo_win && (combo_win->state & KA_GUI_WIN_OPEN)) {
        _gui_draw_combobox_list(ctx, combo_win, combo, _gui_font(ctx, combo_win, combo));
    }

    al_use_transform(&saved_transform);
    _gui_clip_pop(saved_clip);
    float gs = s.global_scrollbar_size;
    if (need_v) {
        float at, len;
        _gui_global_thumb(s, view_h, view_h, max_y, ctx->global_scroll_y, &at, &len);
        _gui_draw_global_bar(s, dw - gs, 0, gs, view_h, at, len, 1);
    }
    if (need_h) {
        float at, len;
        _gui_global_thumb(s, view_w, view_w, max_x, ctx->global_scroll_x, &at, &len);
        _gui_draw_global_bar(s, 0, dh - gs, view_w, gs, at, len, 0);
    }
    ctx->dirty = 0;
}
