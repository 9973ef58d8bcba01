// tests/support/gui_fit.cpp: the measurements follow the toolkit's drawing code: a button centres
// its label within its padding, a checkbox writes beside its box, a combobox leaves room for its
// arrow, a single-line text area insets its placeholder.
#include "support/gui_fit.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/ka_gui_internal.hpp"

namespace {

std::string describe(const KA_GUI_WINDOW *win, const KA_GUI_WIDGET *w, const char *text) {
    char head[160];
    static const char *const names[] = {
        "?", "button", "slider", "text area", "checkbox", "?", "?", "?", "combobox",
        "?", "label",  "?",      "?",         "?",        "?", "?", "?", "custom"};
    const char *type = w->type >= 0 && w->type < 18 ? names[w->type] : "?";
    snprintf(head, sizeof head, "window '%s' %s %d at (%.0f,%.0f %.0fx%.0f)", win->title, type,
             w->id, w->x, w->y, w->w, w->h);
    std::string out = head;
    if (text && text[0]) out += std::string(" '") + text + "'";
    return out;
}

std::string too_wide(const KA_GUI_WINDOW *win, const KA_GUI_WIDGET *w, const char *text,
                     float needed, float room) {
    char tail[64];
    snprintf(tail, sizeof tail, ": needs %.0f px, has %.0f", needed, room);
    return describe(win, w, text) + tail;
}

float width(ALLEGRO_FONT *font, const char *text) {
    return font && text ? _gui_text_width(font, text, strlen(text)) : 0;
}

void check_text(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w,
                std::vector<std::string> &out) {
    ALLEGRO_FONT *font = _gui_font(ctx, win, w);
    const KA_GUI_STYLE &s = ctx->style;
    switch (w->type) {
    case KA_GUI_LABEL: {
        const KA_GUI_LABEL_DATA *d = (const KA_GUI_LABEL_DATA *)w->data;
        float nw, nh;
        if (!ka_gui_label_fits(ctx, w->id, &nw, &nh)) {
            char tail[80];
            snprintf(tail, sizeof tail, ": needs %.0fx%.0f px, has %.0fx%.0f", nw, nh, w->w, w->h);
            out.push_back(describe(win, w, d->text) + tail);
        }
        break;
    }
    case KA_GUI_BUTTON: {
        const KA_GUI_BUTTON_DATA *d = (const KA_GUI_BUTTON_DATA *)w->data;
        float room = w->w - 2 * s.label_padding, need = width(font, d->label);
        if (need > room + 0.5f) out.push_back(too_wide(win, w, d->label, need, room));
        break;
    }
    case KA_GUI_CHECKBOX: {
        const KA_GUI_CHECKBOX_DATA *d = (const KA_GUI_CHECKBOX_DATA *)w->data;
        float box = std::min(w->h, s.checkbox_max_size);
        float room = w->w - box - s.checkbox_label_gap, need = width(font, d->label);
        if (need > room + 0.5f) out.push_back(too_wide(win, w, d->label, need, room));
        break;
    }
    case KA_GUI_COMBOBOX: {
        const KA_GUI_COMBOBOX_DATA *d = (const KA_GUI_COMBOBOX_DATA *)w->data;
        float room = w->w - s.item_text_padding - s.dropdown_arrow_reserve;
        for (size_t i = 0; i < d->nb_items; i++) {
            float need = width(font, d->items[i].text);
            if (need > room + 0.5f) out.push_back(too_wide(win, w, d->items[i].text, need, room));
        }
        break;
    }
    case KA_GUI_TEXTAREA: {
        const KA_GUI_TEXTAREA_DATA *d = (const KA_GUI_TEXTAREA_DATA *)w->data;
        if (!d->placeholder || d->multiline) break;
        float room = w->w - 2 * s.textarea_padding, need = width(font, d->placeholder);
        if (need > room + 0.5f) out.push_back(too_wide(win, w, d->placeholder, need, room));
        break;
    }
    default:
        break;
    }
}

bool overlap(const KA_GUI_WIDGET *a, const KA_GUI_WIDGET *b) {
    const float slack = 0.5f;
    return a->x + a->w > b->x + slack && b->x + b->w > a->x + slack && a->y + a->h > b->y + slack &&
           b->y + b->h > a->y + slack;
}

} // namespace

std::vector<std::string> gui_misfits(KA_GUI_CTX *ctx) {
    std::vector<std::string> out;
    if (!ctx) return out;
    for (size_t i = 0; i < ctx->nb_windows; i++) {
        KA_GUI_WINDOW *win = ctx->windows[i];
        if (win->x < -0.5f || win->y < -0.5f || win->x + win->w > ctx->display_w + 0.5f ||
            win->y + win->h > ctx->display_h + 0.5f) {
            char where[96];
            snprintf(where, sizeof where, "(%.0f,%.0f %.0fx%.0f)", win->x, win->y, win->w, win->h);
            out.push_back(std::string("window '") + win->title + "' at " + where +
                          " reaches out of the display");
        }
        float cw = win->w;
        float ch = win->h - ((win->flags & KA_GUI_WIN_FRAMELESS) ? 0 : win->titlebar_h);
        for (size_t k = 0; k < win->nb_widgets; k++) {
            KA_GUI_WIDGET *w = win->widgets[k];
            if (!w->visible) continue;
            if (w->x < -0.5f || w->y < -0.5f || w->x + w->w > cw + 0.5f || w->y + w->h > ch + 0.5f)
                out.push_back(describe(win, w, nullptr) + ": reaches out of its window");
            check_text(ctx, win, w, out);
            for (size_t j = 0; j < k; j++) {
                KA_GUI_WIDGET *o = win->widgets[j];
                if (o->visible && overlap(w, o))
                    out.push_back(describe(win, w, nullptr) + " overlaps " +
                                  describe(win, o, nullptr));
            }
        }
    }
    return out;
}
