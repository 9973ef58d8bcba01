// src/ui/screen_received.cpp: the received messages; a tap or a hold opens a message's actions.
#include "ui/screen_received.hpp"

#include <cstdio>
#include <ctime>

#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "support/ka_common.hpp"
#include "ui/touch_list.hpp"
#include "ui/ui_popup.hpp"

// --- The list's source: one row per message, its id as the row's id ---

static size_t _count(const void *user) {
    const RECEIVED_LIST *list = ((const LUMIKEY_APP *)user)->received;
    return list ? list->count : 0;
}

// "08/12 14:05   .- -..": the touch list draws each row right after asking for it, so one
// buffer serves every row.
static char _subtitle[2112];

static void _row(const void *user, size_t i, TOUCH_ROW *out) {
    const RECEIVED_LIST *list = ((const LUMIKEY_APP *)user)->received;
    if (!list || i >= list->count) return;
    const RECEIVED_MSG *m = &list->items[i];
    char when[32] = "";
    time_t t = (time_t)m->when;
    struct tm local;
    if (localtime_r(&t, &local) && strftime(when, sizeof when, "%d/%m %H:%M", &local) == 0)
        when[0] = '\0';
    snprintf(_subtitle, sizeof _subtitle, "%s   %s", when, m->symbols);
    out->id = m->id;
    out->title = m->text;
    out->subtitle = _subtitle;
}

static RECEIVED_MSG *_target(LUMIKEY_APP *app) {
    return app->received ? received_get(app->received, app->recv_target) : nullptr;
}

// Tap and hold do the same: there is no single obvious action for a received message.
static void _open(void *user, int id) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVED_MSG *m = app->received ? received_get(app->received, id) : nullptr;
    if (!m || !app->gui) return;
    app->recv_target = id;
    ka_gui_label_set_text(app->gui, app->recv_actions_title, m->text);
    ui_popup_show(app, app->recv_actions_win);
}

// --- Actions ---

static void _close_actions(LUMIKEY_APP *app) {
    if (app->screen == SCREEN_RECEIVED) ui_popup_close(app, app->recv_actions_win);
}

static void _on_back(int, void *user) {
    app_set_screen((LUMIKEY_APP *)user, SCREEN_RECEIVE);
}

static void _on_copy(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVED_MSG *m = _target(app);
    if (m && !(app->display && al_set_clipboard_text(app->display, m->text)))
        ka_log(LOG_ERR, "clipboard copy failed");
    _close_actions(app);
}

static void _on_send_again(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVED_MSG *m = _target(app);
    _close_actions(app);
    if (m) app_send_message(app, m->text);
}

static void _on_save_preset(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVED_MSG *m = _target(app);
    _close_actions(app);
    if (m) app_edit_new_preset_from(app, m->text);
}

static void _on_delete(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    _close_actions(app);
    if (app->received && received_remove(app->received, app->recv_target)) app_save_received(app);
    app->redraw = 1;
}

static void _on_cancel(int, void *user) {
    _close_actions((LUMIKEY_APP *)user);
}

void screen_received_tick(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    touch_list_tick(&app->recv_list);
}

int screen_received_close_popup(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    if (app->screen != SCREEN_RECEIVED) return 0;
    return ui_popup_close(app, app->recv_actions_win);
}

// --- Layout ---

void screen_received_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    KA_GUI_CTX *g = app->gui;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), bw = app_px(app, 110);

    int win = app_add_fixed_window(app, "Received", 0, 0, W, H);
    if (win < 0) return;

    ka_gui_add_button(g, win, i18n_tr("Back"), pad, pad, bw, bh, 1, _on_back, app);
    ka_gui_add_label(g, win, i18n_tr("Received messages"), bw + 2 * pad, pad, W - 3 * pad - bw, bh,
                     KA_GUI_ALIGN_LEFT);

    TOUCH_LIST_VIEW *v = &app->recv_list;
    v->src = {_count, _row, _open, _open, app};
    v->empty_text = i18n_tr("Nothing received yet");
    v->wrap = 1;
    float y = bh + 2 * pad;
    touch_list_add(app, v, win, 0, y, W, H - y - app_px(app, 28));
    ka_gui_open_window(g, win);

    float pw = 0.85f * W, cw = pw - 2 * pad;
    int a = ui_popup(app, pw, 6 * (bh + pad) + pad);
    app->recv_actions_win = a;
    if (a < 0) return;
    app->recv_actions_title = ka_gui_add_label(g, a, "", pad, pad, cw, bh, KA_GUI_ALIGN_CENTER);
    struct {
        const char *label;
        KA_GUI_CLICK_CB on_click;
    } buttons[] = {
        {I18N_TEXT("Copy"), _on_copy},
        {I18N_TEXT("Send again"), _on_send_again},
        {I18N_TEXT("Save as preset"), _on_save_preset},
        {I18N_TEXT("Delete"), _on_delete},
        {I18N_TEXT("Cancel"), _on_cancel},
    };
    float by = bh + 2 * pad;
    for (const auto &b : buttons) {
        ka_gui_add_button(g, a, i18n_tr(b.label), pad, by, cw, bh, 1, b.on_click, app);
        by += bh + pad;
    }
}
