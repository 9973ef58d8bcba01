// support/ka_gui_textarea.cpp: single- and multi-line text areas: the byte-limited buffer, the
// placeholder, the layout shared with editing, and drawing with selection and blinking cursor.
#include <algorithm>
#include <cmath>

#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"

#define KA_GUI_TEXTAREA_DEFAULT_LIMIT 4095

int ka_gui_add_textarea(KA_GUI_CTX *ctx, int window_id, float x, float y, float w, float h,
                        int multiline, size_t char_limit, KA_GUI_TEXT_CB on_change,
                        void *user_data) {
    __ka_assert(ctx, return -1);
    if (char_limit == 0) char_limit = KA_GUI_TEXTAREA_DEFAULT_LIMIT;
    __ka_assert(char_limit < SIZE_MAX, return -1);
    KA_GUI_TEXTAREA_DATA *d =
        _gui_new_data<KA_GUI_TEXTAREA_DATA>(ctx, window_id, "KA_GUI_TEXTAREA_DATA");
    if (!d) return -1;
    Malloc(d->text, char, char_limit + 1);
    if (!d->text) {
        Free(d);
        return -1;
    }
    d->text_alloc = char_limit + 1;
    d->char_limit = char_limit;
    d->multiline = multiline ? 1 : 0;
    d->on_change = on_change;
    d->user_data = user_data;
    return _gui_attach_widget(ctx, window_id, KA_GUI_TEXTAREA, x, y, w, h, d);
}

void _gui_textarea_store(KA_GUI_TEXTAREA_DATA *d, const char *text) {
    d->text_len = _gui_copy_no_cr(d->text, d->char_limit + 1, text);
    // Typing goes on at the end of the new text: an empty selection stands for the cursor, so it
    // moves there too; a real selection is kept, but never left pointing past the new end.
    if (d->sel_start == d->sel_end) d->sel_start = d->sel_end = d->text_len;
    d->cursor_pos = d->text_len;
    d->sel_start = std::min(d->sel_start, d->text_len);
    d->sel_end = std::min(d->sel_end, d->text_len);
    d->scroll_x = 0;
}

const char *ka_gui_textarea_get_text(KA_GUI_CTX *ctx, int id) {
    __ka_assert(ctx, return "");
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_TEXTAREA);
    return w ? ((KA_GUI_TEXTAREA_DATA *)w->data)->text : "";
}

void ka_gui_textarea_set_text(KA_GUI_CTX *ctx, int id, const char *text) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_TEXTAREA);
    if (w) _gui_textarea_store((KA_GUI_TEXTAREA_DATA *)w->data, text);
}

void ka_gui_textarea_set_placeholder(KA_GUI_CTX *ctx, int id, const char *text) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_TEXTAREA);
    if (!w) {
        if (_gui_widget(ctx, id, 0))
            ka_log(LOG_WARNING, "ka_gui_textarea_set_placeholder: widget %d is not a textarea", id);
        return;
    }
    KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)w->data;
    char *copy = nullptr;
    if (text && *text) {
        copy = strdup(text);
        if (!copy) {
            ka_log(LOG_ERR, "ka_gui_textarea_set_placeholder: could not copy the placeholder");
            return;
        }
    }
    free(d->placeholder);
    d->placeholder = copy;
}

void _gui_textarea_layout(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, ALLEGRO_FONT *font,
                          KA_GUI_TEXT_LAYOUT *l) {
    KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)w->data;
    float ax, ay, pad = ctx->style.textarea_padding;
    _gui_widget_origin(win, w, &ax, &ay);
    l->ix = ax + pad;
    l->iy = ay + pad;
    l->iw = std::max(1.0f, w->w - 2 * pad);
    l->ih = std::max(1.0f, w->h - 2 * pad);
    l->line_h = font ? (float)al_get_font_line_height(font) : 1;
    l->scrollbar = 0;
    l->lines.clear();
    if (!d->multiline || !font) {
        l->lines.push_back({0, d->text_len, d->text_len, 1});
        return;
    }
    _gui_wrap(font, d->text, d->text_len, l->iw, 1, &l->lines);
    if ((float)l->lines.size() * l->line_h > l->ih) {
        l->scrollbar = 1;
        l->iw = std::max(1.0f, l->iw - ctx->style.scrollbar_size);
        _gui_wrap(font, d->text, d->text_len, l->iw, 1, &l->lines);
    }
}

// Scrolls so that the cursor stays in view: sideways on one line, vertically on several
// (unless the user scrolled with the wheel, who may look away from the cursor).
static void _gui_textarea_follow_cursor(const KA_GUI_CTX *ctx, KA_GUI_TEXTAREA_DATA *d,
                                        const KA_GUI_TEXT_LAYOUT *l, size_t cursor_line,
                                        float cursor_dx) {
    if (!d->multiline) {
        float room = l->iw - ctx->style.textarea_cursor_width;
        if (cursor_dx - d->scroll_x > room) d->scroll_x = cursor_dx - room;
        if (cursor_dx < d->scroll_x) d->scroll_x = cursor_dx;
        d->scroll_x = std::max(0.0f, d->scroll_x);
        return;
    }
    float total = (float)l->lines.size() * l->line_h;
    float cy = (float)cursor_line * l->line_h;
    if (!d->scroll_from_wheel) {
        if (cy + l->line_h - (float)d->scroll_y > l->ih)
            d->scroll_y = (int)std::ceil(cy + l->line_h - l->ih);
        if (cy < (float)d->scroll_y) d->scroll_y = (int)cy;
    }
    d->scroll_y = std::clamp(d->scroll_y, 0, std::max(0, (int)std::ceil(total - l->ih)));
}

void _gui_textarea_origin(const KA_GUI_TEXTAREA_DATA *d, const KA_GUI_TEXT_LAYOUT *l, float *ox,
                          float *oy) {
    *ox = l->ix;
    *oy = l->iy;
    if (!d->multiline) {
        *ox -= d->scroll_x;
        *oy += std::max(0.0f, (l->ih - l->line_h) / 2);
    } else {
        *oy -= (float)d->scroll_y;
    }
}

size_t _gui_line_of(const std::vector<KA_GUI_LINE> &lines, size_t pos) {
    size_t i = 0;
    while (i + 1 < lines.size() && lines[i + 1].start <= pos) i++;
    return i;
}

size_t _gui_line_pos_at(ALLEGRO_FONT *font, const char *text, const KA_GUI_LINE &line, float dx) {
    size_t best = line.start;
    float best_d = std::fabs(dx);
    for (size_t pos = line.start; pos < line.end;) {
        pos = _gui_utf8_next(text, line.end, pos);
        float d = std::fabs(_gui_text_width(font, text + line.start, pos - line.start) - dx);
        if (d < best_d) {
            best = pos;
            best_d = d;
        }
    }
    return best;
}

size_t _gui_textarea_pos_at(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float px,
                            float py) {
    KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)w->data;
    ALLEGRO_FONT *font = _gui_font(ctx, win, w);
    if (!font) return 0;
    KA_GUI_TEXT_LAYOUT l;
    _gui_textarea_layout(ctx, win, w, font, &l);
    float ox, oy;
    _gui_textarea_origin(d, &l, &ox, &oy);
    float row = std::floor((py - oy) / l.line_h);
    size_t index = row <= 0 ? 0 : std::min((size_t)row, l.lines.size() - 1);
    return _gui_line_pos_at(font, d->text, l.lines[index], px - ox);
}

static void _gui_textarea_selection(const KA_GUI_WIDGET *w, const KA_GUI_TEXTAREA_DATA *d,
                                    ALLEGRO_FONT *font, const KA_GUI_LINE &line, float x, float y,
                                    float line_h) {
    size_t lo = std::max(std::min(d->sel_start, d->sel_end), line.start);
    size_t hi = std::min(std::max(d->sel_start, d->sel_end), line.end);
    if (lo >= hi) return;
    float x0 = x + _gui_text_width(font, d->text + line.start, lo - line.start);
    float x1 = x + _gui_text_width(font, d->text + line.start, hi - line.start);
    al_draw_filled_rectangle(x0, y, x1, y + line_h, w->theme.selection_color);
}

void _gui_draw_textarea(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float ax, float ay,
                        ALLEGRO_FONT *font) {
    KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)w->data;
    const KA_GUI_STYLE &s = ctx->style;
    const KA_GUI_THEME &t = w->theme;
    int focused = (w->state & KA_GUI_STATE_FOCUSED) != 0;
    int hover = (w->state & KA_GUI_STATE_HOVER) != 0;
    ALLEGRO_COLOR bg = focused ? t.bg_active : hover ? t.bg_hover : t.bg_normal;
    ALLEGRO_COLOR border = focused ? t.border_active : hover ? t.border_hover : t.border_normal;
    _gui_themed_rect(&t, ax, ay, w->w, w->h, bg, border, s.shape_mode == 1);
    if (!font) return;

    KA_GUI_TEXT_LAYOUT l;
    _gui_textarea_layout(ctx, win, w, font, &l);
    size_t cursor = std::min(d->cursor_pos, d->text_len);
    size_t cursor_line = _gui_line_of(l.lines, cursor);
    const KA_GUI_LINE &cl = l.lines[cursor_line];
    float cursor_dx = _gui_text_width(font, d->text + cl.start, cursor - cl.start);

    _gui_textarea_follow_cursor(ctx, d, &l, cursor_line, cursor_dx);
    float origin_x, origin_y;
    _gui_textarea_origin(d, &l, &origin_x, &origin_y);

    int saved[4];
    _gui_clip_push(l.ix, l.iy, l.iw, l.ih, saved);
    if (d->text_len == 0 && d->placeholder) {
        ALLEGRO_COLOR ph = al_map_rgb_f((t.text_normal.r + t.bg_normal.r) / 2,
                                        (t.text_normal.g + t.bg_normal.g) / 2,
                                        (t.text_normal.b + t.bg_normal.b) / 2);
        al_draw_text(font, ph, origin_x, origin_y, 0, d->placeholder);
    }
    for (size_t i = 0; i < l.lines.size(); i++) {
        const KA_GUI_LINE &line = l.lines[i];
        float y = origin_y + (float)i * l.line_h;
        if (y + l.line_h < l.iy || y > l.iy + l.ih) continue;
        _gui_textarea_selection(w, d, font, line, origin_x, y, l.line_h);
        ALLEGRO_USTR_INFO info;
        al_draw_ustr(font, t.text_normal, origin_x, y, 0,
                     al_ref_buffer(&info, d->text + line.start, line.end - line.start));
    }
    double period = s.textarea_cursor_blink_period > 0 ? s.textarea_cursor_blink_period : 1;
    double phase = std::fmod(_gui_now() - d->cursor_time, period);
    if (focused && (phase < 0 || phase < period / 2)) {
        float cx = origin_x + cursor_dx;
        float cy = origin_y + (float)cursor_line * l.line_h;
        al_draw_filled_rectangle(cx, cy, cx + s.textarea_cursor_width, cy + l.line_h,
                                 t.text_normal);
    }
    _gui_clip_pop(saved);
    if (l.scrollbar) {
        float sb = s.scrollbar_size;
        _gui_draw_vscrollbar(ctx, &w->sb_v, ax + w->w - sb, ay, sb, w->h,
                             (float)l.lines.size() * l.line_h + 2 * s.textarea_padding, w->h,
                             (float)d->scroll_y);
    }
}
