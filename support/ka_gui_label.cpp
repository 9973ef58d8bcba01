// support/ka_gui_label.cpp: text labels: one line, several lines, or wrapped and justified with
// their own scrollbar, and the fitting test screens use to size them.
#include <algorithm>

#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"

int ka_gui_add_label(KA_GUI_CTX *ctx, int window_id, const char *text, float x, float y, float w,
                     float h, int align) {
    __ka_assert(ctx, return -1);
    KA_GUI_LABEL_DATA *d = _gui_new_data<KA_GUI_LABEL_DATA>(ctx, window_id, "KA_GUI_LABEL_DATA");
    if (!d) return -1;
    _gui_copy_no_cr(d->text, sizeof d->text, text);
    d->align = align;
    d->sel_start = d->sel_end = -1;
    return _gui_attach_widget(ctx, window_id, KA_GUI_LABEL, x, y, w, h, d);
}

void ka_gui_label_set_text(KA_GUI_CTX *ctx, int id, const char *text) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_LABEL);
    if (!w) return;
    KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)w->data;
    _gui_copy_no_cr(d->text, sizeof d->text, text);
    // An old selection may now point past the end of the text.
    d->sel_start = d->sel_end = -1;
    d->sel_dragging = 0;
}

// Lines of a wrapped label at wrap width ww, and the height they need.
static float _gui_label_wrap(ALLEGRO_FONT *font, const KA_GUI_LABEL_DATA *d, float ww,
                             std::vector<KA_GUI_LINE> *lines) {
    _gui_wrap(font, d->text, strlen(d->text), std::max(1.0f, ww), 0, lines);
    return (float)lines->size() * (float)al_get_font_line_height(font);
}

void _gui_label_layout(const KA_GUI_CTX *ctx, const KA_GUI_WIDGET *w, ALLEGRO_FONT *font,
                       KA_GUI_LABEL_LAYOUT *l) {
    const KA_GUI_LABEL_DATA *d = (const KA_GUI_LABEL_DATA *)w->data;
    float p = ctx->style.label_padding;
    l->wrap_w = w->w - 2 * p;
    l->content_h = _gui_label_wrap(font, d, l->wrap_w, &l->lines) + p / 2;
    l->scrollbar = l->content_h > w->h;
    if (l->scrollbar) {
        l->wrap_w -= ctx->style.scrollbar_size;
        l->content_h = _gui_label_wrap(font, d, l->wrap_w, &l->lines) + p / 2;
    }
}

int ka_gui_label_fits(KA_GUI_CTX *ctx, int id, float *needed_w, float *needed_h) {
    if (needed_w) *needed_w = 0;
    if (needed_h) *needed_h = 0;
    __ka_assert(ctx, return 1);
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_LABEL);
    if (!w) return 1;
    KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)w->data;
    ALLEGRO_FONT *font = _gui_font(ctx, _gui_widget_window(ctx, w), w);
    if (!d->text[0] || !font) return 1;
    float p = ctx->style.label_padding;
    float line_h = (float)al_get_font_line_height(font);
    float nw, nh;
    if (d->align == KA_GUI_ALIGN_JUSTIFY) {
        std::vector<KA_GUI_LINE> lines;
        nw = w->w;
        nh = _gui_label_wrap(font, d, w->w - 2 * p, &lines) + p;
    } else if (strchr(d->text, '\n')) {
        nw = 0;
        int count = 0;
        for (const char *line = d->text;; count++) {
            const char *nl = strchr(line, '\n');
            size_t len = nl ? (size_t)(nl - line) : strlen(line);
            nw = std::max(nw, _gui_text_width(font, line, len));
            if (!nl) break;
            line = nl + 1;
        }
        nw += 2 * p;
        nh = (float)(count + 1) * line_h;
    } else {
        nw = _gui_text_width(font, d->text, strlen(d->text)) + 2 * p;
        nh = line_h;
    }
    if (needed_w) *needed_w = nw;
    if (needed_h) *needed_h = nh;
    return nw <= w->w + 0.5f && nh <= w->h + 0.5f;
}

// Paints the part of the mouse selection that falls in bytes [start, end) of a line drawn at x.
static void _gui_label_selection(ALLEGRO_FONT *font, const KA_GUI_WIDGET *w,
                                 const KA_GUI_LABEL_DATA *d, size_t start, size_t end, float x,
                                 float y, float line_h) {
    if (d->sel_start < 0 || d->sel_end < 0 || d->sel_start == d->sel_end) return;
    size_t lo = (size_t)std::min(d->sel_start, d->sel_end);
    size_t hi = (size_t)std::max(d->sel_start, d->sel_end);
    lo = std::max(lo, start);
    hi = std::min(hi, end);
    if (lo >= hi) return;
    float x0 = x + _gui_text_width(font, d->text + start, lo - start);
    float x1 = x + _gui_text_width(font, d->text + start, hi - start);
    al_draw_filled_rectangle(x0, y, x1, y + line_h, w->theme.selection_color);
}

// One line placed by the label's alignment; too wide, it falls back to the left and is cut.
static void _gui_label_line(KA_GUI_CTX *ctx, const KA_GUI_WIDGET *w, const KA_GUI_LABEL_DATA *d,
                            ALLEGRO_FONT *font, ALLEGRO_COLOR color, float ax, float y,
                            size_t start, size_t end) {
    float p = ctx->style.label_padding;
    float room = w->w - 2 * p;
    float tw = _gui_text_width(font, d->text + start, end - start);
    float x = ax + p;
    if (tw <= room) {
        if (d->align == KA_GUI_ALIGN_CENTER) x = ax + (w->w - tw) / 2;
        if (d->align == KA_GUI_ALIGN_RIGHT) x = ax + w->w - p - tw;
    }
    _gui_label_selection(font, w, d, start, end, x, y, (float)al_get_font_line_height(font));
    _gui_draw_truncated(font, color, x, y, d->text + start, end - start, room);
}

// A wrapped line with its spare width spread over the gaps between its words.
static void _gui_label_justified(const KA_GUI_LABEL_DATA *d, ALLEGRO_FONT *font,
                                 ALLEGRO_COLOR color, float x, float y, float width,
                                 const KA_GUI_LINE &line) {
    const char *text = d->text;
    std::vector<std::pair<size_t, size_t>> words;
    float words_w = 0;
    for (size_t i = line.start; i < line.end;) {
        while (i < line.end && text[i] == ' ') i++;
        size_t s = i;
        while (i < line.end && text[i] != ' ') i++;
        if (i > s) {
            words.emplace_back(s, i);
            words_w += _gui_text_width(font, text + s, i - s);
        }
    }
    if (line.para_end || words.size() < 2 || words_w > width) {
        _gui_draw_truncated(font, color, x, y, text + line.start, line.end - line.start, width);
        return;
    }
    float gap = (width - words_w) / (float)(words.size() - 1);
    for (auto &[s, e] : words) {
        _gui_draw_truncated(font, color, x, y, text + s, e - s, width);
        x += _gui_text_width(font, text + s, e - s) + gap;
    }
}

void _gui_draw_label(KA_GUI_CTX *ctx, KA_GUI_WINDOW *, KA_GUI_WIDGET *w, float ax, float ay,
                     ALLEGRO_FONT *font) {
    KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)w->data;
    if (d->bg_bitmap) {
        al_draw_scaled_bitmap(d->bg_bitmap, 0, 0, (float)al_get_bitmap_width(d->bg_bitmap),
                              (float)al_get_bitmap_height(d->bg_bitmap), ax, ay, w->w, w->h, 0);
    }
    if (!d->text[0] || !font) return;
    ALLEGRO_COLOR bg, border, color;
    _gui_state_colors(w, &bg, &border, &color);
    float p = ctx->style.label_padding;
    float line_h = (float)al_get_font_line_height(font);
    size_t len = strlen(d->text);

    if (d->align == KA_GUI_ALIGN_JUSTIFY) {
        KA_GUI_LABEL_LAYOUT l;
        _gui_label_layout(ctx, w, font, &l);
        d->scroll_y = std::clamp(d->scroll_y, 0.0f, std::max(0.0f, l.content_h - w->h));
        int saved[4];
        _gui_clip_push(ax, ay, w->w, w->h, saved);
        float y = ay + p / 2 - d->scroll_y;
        for (const KA_GUI_LINE &line : l.lines) {
            if (y + line_h >= ay && y <= ay + w->h) {
                _gui_label_selection(font, w, d, line.start, line.end, ax + p, y, line_h);
                _gui_label_justified(d, font, color, ax + p, y, std::max(1.0f, l.wrap_w), line);
            }
            y += line_h;
        }
        _gui_clip_pop(saved);
        if (l.scrollbar) {
            float sb = ctx->style.scrollbar_size;
            _gui_draw_vscrollbar(ctx, &w->sb_v, ax + w->w - sb, ay, sb, w->h, l.content_h, w->h,
                                 d->scroll_y);
        }
        return;
    }

    if (!memchr(d->text, '\n', len)) {
        int bbx, bby, bbw, bbh;
        al_get_text_dimensions(font, d->text, &bbx, &bby, &bbw, &bbh);
        _gui_label_line(ctx, w, d, font, color, ax, ay + (w->h - (float)bbh) / 2 - (float)bby, 0,
                        len);
        return;
    }
    size_t count = 1;
    for (size_t i = 0; i < len; i++) count += d->text[i] == '\n';
    float block = (float)count * line_h;
    float y = ay + std::max(0.0f, (w->h - block) / 2);
    for (size_t start = 0; start <= len;) {
        const char *nl = (const char *)memchr(d->text + start, '\n', len - start);
        size_t end = nl ? (size_t)(nl - d->text) : len;
        _gui_label_line(ctx, w, d, font, color, ax, y, start, end);
        y += line_h;
        start = end + 1;
    }
}
