// src/ui/ui_popup.cpp: one shape for every popup, so they look and stack alike.
#include "ui/ui_popup.hpp"

#include <cmath>

#include "main/app.hpp"
#include "support/ka_common.hpp"
#include "ui/ui_colors.hpp"

int ui_popup(LUMIKEY_APP *app, float w, float h) {
    __ka_assert(app, return -1);
    __ka_assert(app->gui, return -1);
    float W = (float)app->disp_w, H = (float)app->disp_h;
    // A quarter of the way down, unless that would push its lower part off a low display.
    float y = fminf(0.25f * H, fmaxf(0, (H - h) / 2));
    int win = app_add_fixed_window(app, "", (W - w) / 2, y, w, h);
    if (win < 0) return -1;
    // In front of the screen's window, taking the presses over it.
    ka_gui_window_set_zorder(app->gui, win, KA_GUI_ZORDER_POPUP, 0);
    KA_GUI_WINDOW *pw = ka_gui_get_window(app->gui, win);
    if (pw) {
        pw->theme.bg_normal = app_rgb(UI_POPUP_RGB);
        pw->theme.border_normal = app_rgb(UI_ACCENT_RGB);
    }
    ka_gui_close_window(app->gui, win);
    return win;
}

void ui_popup_show(LUMIKEY_APP *app, int win) {
    __ka_assert(app, return );
    if (!app->gui || win < 0) return;
    ka_gui_open_window(app->gui, win);
    ka_gui_raise_window(app->gui, win);
    app->redraw = 1;
}

int ui_popup_close(LUMIKEY_APP *app, int win) {
    __ka_assert(app, return 0);
    if (!app->gui || win < 0 || !ka_gui_window_is_open(app->gui, win)) return 0;
    ka_gui_close_window(app->gui, win);
    app->redraw = 1;
    return 1;
}
