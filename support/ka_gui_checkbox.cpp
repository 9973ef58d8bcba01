// support/ka_gui_checkbox.cpp: checkboxes with their label.
#include <algorithm>

#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"

int ka_gui_add_checkbox(KA_GUI_CTX *ctx, int window_id, const char *label, float x, float y,
                        float w, float h, int initial_checked, KA_GUI_TOGGLE_CB on_toggle,
                        void *user_data) {
    __ka_assert(ctx, return -1);
    KA_GUI_CHECKBOX_DATA *d =
        _gui_new_data<KA_GUI_CHECKBOX_DATA>(ctx, window_id, "KA_GUI_CHECKBOX_DATA");
    if (!d) return -1;
    ka_copy_text(d->label, sizeof d->label, label);
    d->checked = initial_checked ? 1 : 0;
    d->on_toggle = on_toggle;
    d->user_data = user_data;
    return _gui_attach_widget(ctx, window_id, KA_GUI_CHECKBOX, x, y, w, h, d);
}

void _gui_draw_checkbox(KA_GUI_CTX *ctx, KA_GUI_WINDOW *, KA_GUI_WIDGET *w, float ax, float ay,
                        ALLEGRO_FONT *font) {
    KA_GUI_CHECKBOX_DATA *d = (KA_GUI_CHECKBOX_DATA *)w->data;
    const KA_GUI_STYLE &st = ctx->style;
    ALLEGRO_COLOR bg, border, text;
    _gui_state_colors(w, &bg, &border, &text);
    float s = std::min(w->h, st.checkbox_max_size);
    float left = ax, top = ay + (w->h - s) / 2;
    _gui_themed_rect(&w->theme, left, top, s, s, bg, border, st.shape_mode == 1);
    if (d->checked) {
        float m = st.checkbox_mark_margin;
        ALLEGRO_COLOR mark = w->theme.text_active;
        al_draw_line(left + m, top + s / 2, left + s / 2, top + s - m, mark,
                     st.checkbox_mark_thickness);
        al_draw_line(left + s / 2, top + s - m, left + s - m, top + m, mark,
                     st.checkbox_mark_thickness);
    }
    if (!d->label[0] || !font) return;
    float lx = left + s + st.checkbox_label_gap;
    float line_h = (float)al_get_font_line_height(font);
    _gui_draw_truncated(font, text, lx, ay + (w->h - line_h) / 2, d->label, strlen(d->label),
                        ax + w->w - lx);
}
