// support/ka_gui_button.cpp: push and toggle buttons.
#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"

static int _gui_add_button(KA_GUI_CTX *ctx, int window_id, const char *label, float x, float y,
                           float w, float h, int shape, int toggle_mode, int toggled,
                           KA_GUI_CLICK_CB on_click, void *user_data) {
    __ka_assert(ctx, return -1);
    KA_GUI_BUTTON_DATA *d = _gui_new_data<KA_GUI_BUTTON_DATA>(ctx, window_id, "KA_GUI_BUTTON_DATA");
    if (!d) return -1;
    ka_copy_text(d->label, sizeof d->label, label);
    d->shape = shape;
    d->toggle_mode = toggle_mode;
    d->toggled = toggled ? 1 : 0;
    d->on_click = on_click;
    d->user_data = user_data;
    return _gui_attach_widget(ctx, window_id, KA_GUI_BUTTON, x, y, w, h, d);
}

int ka_gui_add_button(KA_GUI_CTX *ctx, int window_id, const char *label, float x, float y, float w,
                      float h, int shape, KA_GUI_CLICK_CB on_click, void *user_data) {
    return _gui_add_button(ctx, window_id, label, x, y, w, h, shape, 0, 0, on_click, user_data);
}

int ka_gui_add_toggle_button(KA_GUI_CTX *ctx, int window_id, const char *label, float x, float y,
                             float w, float h, int shape, int initial_state,
                             KA_GUI_CLICK_CB on_click, void *user_data) {
    return _gui_add_button(ctx, window_id, label, x, y, w, h, shape, 1, initial_state, on_click,
                           user_data);
}

void ka_gui_button_set_label(KA_GUI_CTX *ctx, int id, const char *label) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_BUTTON);
    if (!w || !label) return;
    ka_copy_text(((KA_GUI_BUTTON_DATA *)w->data)->label, KA_GUI_LABEL_SIZE, label);
}

void _gui_draw_button(KA_GUI_CTX *ctx, KA_GUI_WINDOW *, KA_GUI_WIDGET *w, float ax, float ay,
                      ALLEGRO_FONT *font) {
    KA_GUI_BUTTON_DATA *d = (KA_GUI_BUTTON_DATA *)w->data;
    ALLEGRO_COLOR bg, border, text;
    _gui_state_colors(w, &bg, &border, &text);
    int mode = ctx->style.shape_mode;
    int rounded = mode == 1 || (mode == -1 && d->shape == 1);
    _gui_themed_rect(&w->theme, ax, ay, w->w, w->h, bg, border, rounded);
    if (!d->label[0] || !font) return;
    size_t len = strlen(d->label);
    int bbx, bby, bbw, bbh;
    al_get_text_dimensions(font, d->label, &bbx, &bby, &bbw, &bbh);
    float pad = ctx->style.label_padding;
    float ty = ay + (w->h - (float)bbh) / 2 - (float)bby;
    if ((float)bbw > w->w - 2 * pad) {
        _gui_draw_truncated(font, text, ax + pad, ty, d->label, len, w->w - 2 * pad);
    } else {
        al_draw_text(font, text, ax + (w->w - (float)bbw) / 2 - (float)bbx, ty, 0, d->label);
    }
}
