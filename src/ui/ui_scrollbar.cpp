// src/ui/ui_scrollbar.cpp
#include "ui/ui_scrollbar.hpp"

#include <allegro5/allegro_primitives.h>

#include "main/app.hpp"
#include "support/ka_common.hpp"
#include "ui/ui_colors.hpp"

void ui_scrollbar_draw(const LUMIKEY_APP *app, float x, float y, float w, float h, float content_h,
                       float scroll) {
    __ka_assert(app, return );
    if (content_h <= h) return;
    float bw = app_px(app, 4);
    float bl = h * h / content_h;
    float top = y + scroll / (content_h - h) * (h - bl);
    al_draw_filled_rounded_rectangle(x + w - bw - 2, top, x + w - 2, top + bl, bw / 2, bw / 2,
                                     app_rgb(UI_RULE_RGB));
}
