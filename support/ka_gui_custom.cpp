// support/ka_gui_custom.cpp: custom widgets, whose drawing, mouse handling and clean-up the
// program supplies (lists, text views, keypads, swatches).
#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"

int ka_gui_add_custom(KA_GUI_CTX *ctx, int window_id, float x, float y, float w, float h,
                      KA_GUI_CUSTOM_DRAW_CB draw, void *user_data) {
    __ka_assert(ctx, return -1);
    KA_GUI_CUSTOM_DATA *d = _gui_new_data<KA_GUI_CUSTOM_DATA>(ctx, window_id, "KA_GUI_CUSTOM_DATA");
    if (!d) return -1;
    d->draw = draw;
    d->user_data = user_data;
    return _gui_attach_widget(ctx, window_id, KA_GUI_CUSTOM, x, y, w, h, d);
}

void ka_gui_custom_set_mouse(KA_GUI_CTX *ctx, int id, KA_GUI_CUSTOM_MOUSE_CB on_mouse,
                             void *user_data) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_CUSTOM);
    if (!w) return;
    KA_GUI_CUSTOM_DATA *d = (KA_GUI_CUSTOM_DATA *)w->data;
    d->on_mouse = on_mouse;
    d->mouse_user_data = user_data;
}

void ka_gui_custom_set_destroy(KA_GUI_CTX *ctx, int id, KA_GUI_DESTROY_CB destroy) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_CUSTOM);
    if (w) ((KA_GUI_CUSTOM_DATA *)w->data)->destroy = destroy;
}

void _gui_draw_custom(KA_GUI_CTX *, KA_GUI_WINDOW *, KA_GUI_WIDGET *w, float ax, float ay,
                      ALLEGRO_FONT *font) {
    KA_GUI_CUSTOM_DATA *d = (KA_GUI_CUSTOM_DATA *)w->data;
    if (d->draw) d->draw(w, ax, ay, font, d->user_data);
}
