// src/ui/screen_history.cpp: the sent messages; a tap sends one again, a hold offers its actions.
#include "ui/screen_history.hpp"

#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "support/ka_common.hpp"
#include "ui/touch_list.hpp"
#include "ui/ui_popup.hpp"

// --- The list's source: one row per history entry, its index as the id ---

static size_t _count(const void *user) {
    return ((const LUMIKEY_APP *)user)->history.count;
}

static void _row(const void *user, size_t i, TOUCH_ROW *out) {
    const LUMIKEY_APP *app = (const LUMIKEY_APP *)user;
    if (i >= app->history.count) return;
    out->id = (int)i;
    out->title = app->history.items[i];
}

static int _valid(const LUMIKEY_APP *app, int id) {
    return id >= 0 && (size_t)id < app->history.count;
}

static void _tap(void *user, int id) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (_valid(app, id)) app_send_message(app, app->history.items[id]);
}

static void _long(void *user, int id) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (!_valid(app, id) || app->screen != SCREEN_HISTORY) return;
    app->hist_target = id;
    ui_popup_show(app, app->hist_actions_win);
}

// --- Actions: each reads what it needs from the app record and works through the operations ---

static void _close_actions(LUMIKEY_APP *app) {
    if (app->screen == SCREEN_HISTORY) ui_popup_close(app, app->hist_actions_win);
}

static void _on_back(int, void *user) {
    app_set_screen((LUMIKEY_APP *)user, SCREEN_HOME);
}

static void _on_clear(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    history_clear(&app->history);
    app_save_history(app);
    app->redraw = 1;
}

static void _on_save_preset(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    _close_actions(app);
    if (_valid(app, app->hist_target))
        app_edit_new_preset_from(app, app->history.items[app->hist_target]);
}

static void _on_sound(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    _close_actions(app);
    if (_valid(app, app->hist_target))
        ui_sound_save_open(app, app->history.items[app->hist_target], &app->settings.timing, 0);
}

static void _on_delete(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    _close_actions(app);
    if (app->hist_target >= 0 && history_remove(&app->history, (size_t)app->hist_target))
        app_save_history(app);
    app->hist_target = -1;
    app->redraw = 1;
}

static void _on_cancel(int, void *user) {
    _close_actions((LUMIKEY_APP *)user);
}

void screen_history_tick(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    touch_list_tick(&app->hist_list);
}

int screen_history_close_popup(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    if (app->screen != SCREEN_HISTORY) return 0;
    return ui_popup_close(app, app->hist_actions_win);
}

// --- Layout ---

void screen_history_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    KA_GUI_CTX *g = app->gui;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), bw = app_px(app, 110);

    int win = app_add_fixed_window(app, "History", 0, 0, W, H);
    if (win < 0) return;

    ka_gui_add_button(g, win, i18n_tr("Back"), pad, pad, bw, bh, 1, _on_back, app);
    ka_gui_add_label(g, win, i18n_tr("Sent messages"), bw + 2 * pad, pad, W - 2 * bw - 4 * pad, bh,
                     KA_GUI_ALIGN_CENTER);
    ka_gui_add_button(g, win, i18n_tr("Clear"), W - bw - pad, pad, bw, bh, 1, _on_clear, app);
    ka_gui_add_label(g, win, i18n_tr("Tap to send again, hold for more"), pad, bh + 2 * pad,
                     W - 2 * pad, 0.6f * bh, KA_GUI_ALIGN_CENTER);

    TOUCH_LIST_VIEW *v = &app->hist_list;
    v->src = {_count, _row, _tap, _long, app};
    v->empty_text = i18n_tr("Nothing sent yet");
    v->wrap = 1;
    float y = 1.6f * bh + 3 * pad;
    touch_list_add(app, v, win, 0, y, W, H - y - app_px(app, 28));
    ka_gui_open_window(g, win);

    float pw = 0.8f * W, cw = pw - 2 * pad;
    int a = ui_popup(app, pw, 4 * (bh + pad) + pad);
    app->hist_actions_win = a;
    if (a >= 0) {
        ka_gui_add_button(g, a, i18n_tr("Save as preset"), pad, pad, cw, bh, 1, _on_save_preset,
                          app);
        ka_gui_add_button(g, a, i18n_tr("Save as sound"), pad, bh + 2 * pad, cw, bh, 1, _on_sound,
                          app);
        ka_gui_add_button(g, a, i18n_tr("Delete"), pad, 2 * bh + 3 * pad, cw, bh, 1, _on_delete,
                          app);
        ka_gui_add_button(g, a, i18n_tr("Cancel"), pad, 3 * bh + 4 * pad, cw, bh, 1, _on_cancel,
                          app);
    }
    ui_sound_save_build(app);
}
