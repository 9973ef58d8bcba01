// tests/support/view_kit.cpp
#include "support/view_kit.hpp"

#include <gtest/gtest.h>
#include <allegro5/allegro_primitives.h>

ViewKit::ViewKit(int w, int h) {
    if (!al_is_primitives_addon_initialized()) al_init_primitives_addon();
    app.ui_scale = 1;
    app.font = kit.font;
    app.gui = kit.ctx;
    app.disp_w = w;
    app.disp_h = h;
    win = kit.window(0, 0, (float)w, (float)h);
    ka_gui_set_display_size(kit.ctx, (float)w, (float)h);
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    target = al_create_bitmap(w, h);
    EXPECT_NE(target, nullptr);
    al_set_target_bitmap(target);
}

ViewKit::~ViewKit() {
    al_set_target_bitmap(nullptr);
    if (target) al_destroy_bitmap(target);
}

void ViewKit::draw(int widget_id) {
    KA_GUI_WIDGET *w = ka_gui_get_widget(kit.ctx, widget_id);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->type, KA_GUI_CUSTOM);
    KA_GUI_CUSTOM_DATA *d = (KA_GUI_CUSTOM_DATA *)w->data;
    ASSERT_NE(d->draw, nullptr);
    al_set_target_bitmap(target);
    // Windows here sit at (0, 0) without a frame, so the widget's rectangle is its place.
    d->draw(w, w->x, w->y, kit.font, d->user_data);
}
