// support/ka_gui_label.cpp: text labels: one line, several lines, or wrapped and justified with
// their own scrollbar, and the fitting test screens use to size them.
#include <algorithm>
#include <cmath>

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

// A piece of a line drawn in one go: bytes [start, end) of the text, x pixels from the line's
// left edge. A justified line is drawn word by word with the spare width between the words, so
// a text width measured along the line is not where its characters are: selections and
// hit-tests go through the runs.
struct KA_GUI_RUN {
    size_t start, end;
    float x;
};

// The runs of a line drawn width pixels wide: its words spread over the width when justify is
// set and the line is one that gets justified, else the whole line as one run.
static void _gui_label_runs(ALLEGRO_FONT *font, const char *text, const KA_GUI_LINE &line,
                            float width, bool justify, std::vector<KA_GUI_RUN> *runs) {
    runs->clear();
    if (justify && !line.para_end) {
        float words_w = 0;
        for (size_t i = line.start; i < line.end;) {
            while (i < line.end && text[i] == ' ') i++;
            size_t s = i;
            while (i < line.end && text[i] != ' ') i++;
            if (i > s) {
                runs->push_back({s, i, 0});
                words_w += _gui_text_width(font, text + s, i - s);
            }
        }
        if (runs->size() >= 2 && words_w <= width) {
            float gap = (width - words_w) / (float)(runs->size() - 1);
            float x = 0;
            for (KA_GUI_RUN &r : *runs) {
                r.x = x;
                x += _gui_text_width(font, text + r.start, r.end - r.start) + gap;
            }
            return;
        }
        runs->clear();
    }
    runs->push_back({line.start, line.end, 0});
}

// Where the character boundary pos of a line is drawn, from the line's left edge. Inside a
// gap between two words, the boundaries are spread evenly over the drawn gap.
static float _gui_label_run_x(ALLEGRO_FONT *font, const char *text,
                              const std::vector<KA_GUI_RUN> &runs, size_t pos) {
    for (size_t i = 0; i < runs.size(); i++) {
        const KA_GUI_RUN &r = runs[i];
        if (pos > r.end) continue;
        if (pos >= r.start) return r.x + _gui_text_width(font, text + r.start, pos - r.start);
        if (i == 0) return r.x; // leading spaces are not drawn
        const KA_GUI_RUN &prev = runs[i - 1];
        float from = prev.x + _gui_text_width(font, text + prev.start, prev.end - prev.start);
        return from + (r.x - from) * (float)(pos - prev.end) / (float)(r.start - prev.end);
    }
    const KA_GUI_RUN &last = runs.back();
    return last.x + _gui_text_width(font, text + last.start, last.end - last.start);
}

// The character boundary of the line drawn nearest to dx pixels from its left edge.
static size_t _gui_label_run_pos(ALLEGRO_FONT *font, const char *text, const KA_GUI_LINE &line,
                                 const std::vector<KA_GUI_RUN> &runs, float dx) {
    size_t best = line.start;
    float best_d = std::fabs(_gui_label_run_x(font, text, runs, line.start) - dx);
    for (size_t pos = line.start; pos < line.end;) {
        pos = _gui_utf8_next(text, line.end, pos);
        float d = std::fabs(_gui_label_run_x(font, text, runs, pos) - dx);
        if (d < best_d) {
            best = pos;
            best_d = d;
        }
    }
    return best;
}

// Paints the part of the mouse selection that falls in a line drawn from x, as its runs are.
static void _gui_label_selection(ALLEGRO_FONT *font, const KA_GUI_WIDGET *w,
                                 const KA_GUI_LABEL_DATA *d, const KA_GUI_LINE &line,
                                 const std::vector<KA_GUI_RUN> &runs, float x, float y,
                                 float line_h) {
    if (d->sel_start < 0 || d->sel_end < 0 || d->sel_start == d->sel_end) return;
    size_t lo = (size_t)std::min(d->sel_start, d->sel_end);
    size_t hi = (size_t)std::max(d->sel_start, d->sel_end);
    lo = std::max(lo, line.start);
    hi = std::min(hi, line.end);
    if (lo >= hi) return;
    float x0 = x + _gui_label_run_x(font, d->text, runs, lo);
    float x1 = x + _gui_label_run_x(font, d->text, runs, hi);
    al_draw_filled_rectangle(x0, y, x1, y + line_h, w->theme.selection_color);
}

// Left edge of an unwrapped line of width tw placed by the label's alignment; too wide, it falls
// back to the left (and is cut when drawn).
static float _gui_label_line_x(const KA_GUI_CTX *ctx, const KA_GUI_WIDGET *w,
                               const KA_GUI_LABEL_DATA *d, float ax, float tw) {
    float p = ctx->style.label_padding;
    if (tw <= w->w - 2 * p) {
        if (d->align == KA_GUI_ALIGN_CENTER) return ax + (w->w - tw) / 2;
        if (d->align == KA_GUI_ALIGN_RIGHT) return ax + w->w - p - tw;
    }
    return ax + p;
}

// One unwrapped line placed by the label's alignment.
static void _gui_label_line(KA_GUI_CTX *ctx, const KA_GUI_WIDGET *w, const KA_GUI_LABEL_DATA *d,
                            ALLEGRO_FONT *font, ALLEGRO_COLOR color, float ax, float y,
                            const KA_GUI_LINE &line) {
    float room = w->w - 2 * ctx->style.label_padding;
    float x = _gui_label_line_x(ctx, w, d, ax,
                                _gui_text_width(font, d->text + line.start, line.end - line.start));
    std::vector<KA_GUI_RUN> runs;
    _gui_label_runs(font, d->text, line, room, false, &runs);
    _gui_label_selection(font, w, d, line, runs, x, y, (float)al_get_font_line_height(font));
    _gui_draw_truncated(font, color, x, y, d->text + line.start, line.end - line.start, room);
}

// A wrapped line with its spare width spread over the gaps between its words; a word wider
// than the line is cut.
static void _gui_label_justified(const KA_GUI_WIDGET *w, const KA_GUI_LABEL_DATA *d,
                                 ALLEGRO_FONT *font, ALLEGRO_COLOR color, float x, float y,
                                 float width, float line_h, const KA_GUI_LINE &line) {
    std::vector<KA_GUI_RUN> runs;
    _gui_label_runs(font, d->text, line, width, true, &runs);
    _gui_label_selection(font, w, d, line, runs, x, y, line_h);
    for (const KA_GUI_RUN &r : runs)
        _gui_draw_truncated(font, color, x + r.x, y, d->text + r.start, r.end - r.start, width);
}

int _gui_label_pos_at(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float px, float py) {
    KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)w->data;
    ALLEGRO_FONT *font = _gui_font(ctx, win, w);
    size_t len = strlen(d->text);
    if (!font || len == 0) return 0;
    float ax, ay;
    _gui_widget_origin(win, w, &ax, &ay);
    float p = ctx->style.label_padding, lh = (float)al_get_font_line_height(font);
    bool justify = d->align == KA_GUI_ALIGN_JUSTIFY;
    std::vector<KA_GUI_LINE> lines;
    float top, width;
    if (justify) {
        KA_GUI_LABEL_LAYOUT layout;
        _gui_label_layout(ctx, w, font, &layout);
        lines.swap(layout.lines);
        top = ay + p / 2 - d->scroll_y;
        width = std::max(1.0f, layout.wrap_w);
    } else {
        _gui_wrap(font, d->text, len, 1e9f, 0, &lines);
        float block = lh * (float)lines.size();
        top = ay + std::max(0.0f, (w->h - block) / 2);
        width = w->w - 2 * p;
    }
    if (lines.empty()) return 0;
    // Above or below the text, the pointer still points at a column: the nearest line's.
    float row = lh > 0 ? std::floor((py - top) / lh) : 0;
    const KA_GUI_LINE &line = lines[row <= 0 ? 0 : std::min((size_t)row, lines.size() - 1)];
    float lx = ax + p;
    if (!justify)
        lx = _gui_label_line_x(ctx, w, d, ax,
                               _gui_text_width(font, d->text + line.start, line.end - line.start));
    std::vector<KA_GUI_RUN> runs;
    _gui_label_runs(font, d->text, line, width, justify, &runs);
    return (int)_gui_label_run_pos(font, d->text, line, runs, px - lx);
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
            if (y + line_h >= ay && y <= ay + w->h)
                _gui_label_justified(w, d, font, color, ax + p, y, std::max(1.0f, l.wrap_w), line_h,
                                     line);
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
        _gui_label_line(ctx, w, d, font, color, ax, ay + (w->h - (float)bbh) / 2 - (float)bby,
                        KA_GUI_LINE{0, len, len, 1});
        return;
    }
    size_t count = 1;
    for (size_t i = 0; i < len; i++) count += d->text[i] == '\n';
    float block = (float)count * line_h;
    float y = ay + std::max(0.0f, (w->h - block) / 2);
    for (size_t start = 0; start <= len;) {
        const char *nl = (const char *)memchr(d->text + start, '\n', len - start);
        size_t end = nl ? (size_t)(nl - d->text) : len;
        _gui_label_line(ctx, w, d, font, color, ax, y, KA_GUI_LINE{start, end, end + 1, 1});
        y += line_h;
        start = end + 1;
    }
}
