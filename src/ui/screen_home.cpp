// src/ui/screen_home.cpp: the home screen. A tap on a preset sends it, a hold opens its actions
// (play, edit, move, delete), and a typed message is sent with "Send" or Enter.
#include "ui/screen_home.hpp"

#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/tone.hpp"
#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "phone/torch.hpp"
#include "phone/vibrator.hpp"
#include "support/ka_common.hpp"
#include "ui/touch_list.hpp"
#include "ui/ui_popup.hpp"

static const char *const _cat_names[PRESET_CAT_COUNT] = {
    I18N_TEXT("Emergency"), I18N_TEXT("Status"),   I18N_TEXT("Social"),
    I18N_TEXT("Radio"),     I18N_TEXT("Practice"), I18N_TEXT("My presets"),
};

// The user data of one output toggle; the toolkit keeps pointers into this array while the
// window exists, so it lives at file scope and is refilled at every build.
struct TOGGLE_BIND {
    LUMIKEY_APP *app;
    int *flag;
};
static TOGGLE_BIND _toggles[5];

// --- The preset list: a header per category that has presets, in the fixed category order,
// then its presets in list order ---

// The list's rows, made again whenever the list asks how many there are (once per layout):
// HEADER_ROW - cat for a header, else the preset's index in the list. Main thread only.
static std::vector<long> _rows;
static const long HEADER_ROW = -1;

static size_t _src_count(const void *user) {
    const LUMIKEY_APP *app = (const LUMIKEY_APP *)user;
    const PRESET_LIST *list = app->presets;
    _rows.clear();
    if (!list) return 0;
    std::vector<long> by_cat[PRESET_CAT_COUNT];
    for (size_t k = 0; k < list->count; k++) {
        int cat = (int)list->items[k].category;
        if (cat >= 0 && cat < PRESET_CAT_COUNT) by_cat[cat].push_back((long)k);
    }
    for (int cat = 0; cat < PRESET_CAT_COUNT; cat++) {
        if (by_cat[cat].empty()) continue;
        _rows.push_back(HEADER_ROW - cat);
        _rows.insert(_rows.end(), by_cat[cat].begin(), by_cat[cat].end());
    }
    return _rows.size();
}

static void _src_row(const void *user, size_t i, TOUCH_ROW *out) {
    const LUMIKEY_APP *app = (const LUMIKEY_APP *)user;
    const PRESET_LIST *list = app->presets;
    if (!list || i >= _rows.size()) return;
    long at = _rows[i];
    if (at <= HEADER_ROW) {
        out->header = 1;
        out->title = i18n_tr(_cat_names[HEADER_ROW - at]);
    } else if ((size_t)at < list->count) {
        const PRESET &p = list->items[at];
        out->id = p.id;
        out->title = p.name;
        out->subtitle = p.text;
    }
}

static void _play_preset(LUMIKEY_APP *app, int id);

static void _src_tap(void *user, int id) {
    _play_preset((LUMIKEY_APP *)user, id);
}

static void _src_long(void *user, int id) {
    app_open_preset_actions((LUMIKEY_APP *)user, id);
}

// --- Popups ---

int screen_home_close_popup(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    if (app->screen != SCREEN_HOME || !app->gui) return 0;
    if (ui_popup_close(app, app->confirm_win)) {
        app->confirm_kind = 0;
        return 1;
    }
    return ui_popup_close(app, app->actions_win);
}

void app_open_preset_actions(LUMIKEY_APP *app, int preset_id) {
    __ka_assert(app, return );
    PRESET *p = presets_get(app->presets, preset_id);
    if (!p || app->screen != SCREEN_HOME || !app->gui) return;
    app->target_id = preset_id;
    char name[3 * sizeof p->name];
    ka_gui_label_set_text(app->gui, app->actions_title,
                          touch_list_readable(p->name, name, sizeof name));
    ui_popup_show(app, app->actions_win);
}

static void _play_preset(LUMIKEY_APP *app, int id) {
    PRESET *p = presets_get(app->presets, id);
    if (!p) return;
    app->play_from_message = 0;
    app_request_play(app, p->text);
}

static void _on_act_play(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    ka_gui_close_window(app->gui, app->actions_win);
    _play_preset(app, app->target_id);
}

static void _on_act_edit(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    ka_gui_close_window(app->gui, app->actions_win);
    app->draft_valid = 0;
    app_set_screen(app, SCREEN_EDIT);
}

static void _on_act_sound(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    PRESET *p = presets_get(app->presets, app->target_id);
    ka_gui_close_window(app->gui, app->actions_win);
    if (p) ui_sound_save_open(app, p->text, &app->settings.timing, 0);
}

static void _move(LUMIKEY_APP *app, int dir) {
    if (presets_move(app->presets, app->target_id, dir)) app_save_presets(app);
    app->redraw = 1;
}

static void _on_act_up(int, void *user) {
    _move((LUMIKEY_APP *)user, -1);
}

static void _on_act_down(int, void *user) {
    _move((LUMIKEY_APP *)user, +1);
}

static void _on_act_delete(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    PRESET *p = presets_get(app->presets, app->target_id);
    if (!p) return;
    // Formatted in full first, so that the cut to the label's 127 bytes falls on a character
    // boundary rather than wherever snprintf would stop.
    char name[3 * sizeof p->name], full[256], question[128];
    snprintf(full, sizeof full, i18n_tr("Delete \"%s\"?"),
             touch_list_readable(p->name, name, sizeof name));
    ka_copy_text(question, sizeof question, full);
    ka_gui_label_set_text(app->gui, app->confirm_label, question);
    app->confirm_kind = 1;
    ka_gui_close_window(app->gui, app->actions_win);
    ui_popup_show(app, app->confirm_win);
}

static void _on_cancel(int, void *user) {
    screen_home_close_popup((LUMIKEY_APP *)user);
}

static void _on_confirm_yes(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (app->confirm_kind == 1 && presets_remove(app->presets, app->target_id))
        app_save_presets(app);
    app->confirm_kind = 0;
    ka_gui_close_window(app->gui, app->confirm_win);
    app->redraw = 1;
}

// --- Controls of the main window ---

static void _on_new(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app->target_id = -1;
    app->draft_valid = 0;
    app_set_screen(app, SCREEN_EDIT);
}

static void _on_toggle(int, void *user) {
    TOGGLE_BIND *bind = (TOGGLE_BIND *)user;
    *bind->flag = !*bind->flag;
    bind->app->settings_dirty = 1;
}

void screen_home_send(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if (app->screen != SCREEN_HOME || !app->gui || app->msg_field < 0) return;
    const char *text = ka_gui_textarea_get_text(app->gui, app->msg_field);
    if (!text || !text[0]) return;
    app_send_message(app, text);
    ka_gui_textarea_set_text(app->gui, app->msg_field, "");
}

int screen_home_message_field(const LUMIKEY_APP *app) {
    __ka_assert(app, return -1);
    return app->msg_field;
}

// What a rebuild of the home screen carries from the old context to the new one.
static struct {
    int valid;
    char message[512];
    int refocus;
    KA_GUI_TEXTAREA_DATA caret; // where the user was typing, so typing goes on there
} _kept;

void screen_home_keep(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    _kept.valid = 0;
    if (!app->gui || app->screen != SCREEN_HOME || app->msg_field < 0) return;
    _kept.valid = 1;
    _kept.refocus = ka_gui_get_focus(app->gui) == app->msg_field;
    ka_copy_text(_kept.message, sizeof _kept.message,
                 ka_gui_textarea_get_text(app->gui, app->msg_field));
    _kept.caret = KA_GUI_TEXTAREA_DATA{};
    KA_GUI_WIDGET *w = ka_gui_get_widget(app->gui, app->msg_field);
    if (w && w->type == KA_GUI_TEXTAREA && w->data) _kept.caret = *(KA_GUI_TEXTAREA_DATA *)w->data;
}

void screen_home_restore(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if (!_kept.valid) return;
    _kept.valid = 0;
    if (!app->gui || app->msg_field < 0) return;
    if (_kept.message[0]) {
        ka_gui_textarea_set_text(app->gui, app->msg_field, _kept.message);
        KA_GUI_WIDGET *w = ka_gui_get_widget(app->gui, app->msg_field);
        if (w && w->type == KA_GUI_TEXTAREA && w->data) {
            KA_GUI_TEXTAREA_DATA *t = (KA_GUI_TEXTAREA_DATA *)w->data;
            // Offsets from the old field fit the same text; clamped all the same.
            auto fit = [t](size_t v) { return v < t->text_len ? v : t->text_len; };
            t->cursor_pos = fit(_kept.caret.cursor_pos);
            t->sel_start = fit(_kept.caret.sel_start);
            t->sel_end = fit(_kept.caret.sel_end);
        }
    }
    if (_kept.refocus) ka_gui_set_focus(app->gui, app->msg_field);
}

static void _on_send(int, void *user) {
    screen_home_send((LUMIKEY_APP *)user);
}

static void _on_history(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    touch_list_scroll_top(&app->hist_list); // the newest message first
    app_set_screen(app, SCREEN_HISTORY);
}

static void _on_receive(int, void *user) {
    app_set_screen((LUMIKEY_APP *)user, SCREEN_RECEIVE);
}

static void _on_key(int, void *user) {
    app_set_screen((LUMIKEY_APP *)user, SCREEN_KEY);
}

static void _on_practice(int, void *user) {
    app_set_screen((LUMIKEY_APP *)user, SCREEN_PRACTICE);
}

static void _on_options(int, void *user) {
    app_set_screen((LUMIKEY_APP *)user, SCREEN_OPTIONS);
}

void screen_home_tick(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    touch_list_tick(&app->home_list);
}

// --- Layout ---

static void _add_toggles(LUMIKEY_APP *app, int win, float y, float W, float pad, float bh) {
    struct {
        const char *label;
        int *flag;
        int shown;
    } all[5] = {
        {I18N_TEXT("Screen"), &app->settings.out_screen, 1},
        {I18N_TEXT("Sound"), &app->settings.out_sound, tone_available()},
        {I18N_TEXT("Vibrate"), &app->settings.out_vibrate, vibrator_available()},
        {I18N_TEXT("Torch"), &app->settings.out_torch, torch_available()},
        {I18N_TEXT("Loop"), &app->settings.loop, 1},
    };
    int n = 0;
    for (auto &t : all) n += t.shown ? 1 : 0;
    float tw = (W - (float)(n + 1) * pad) / (float)n, x = pad;
    for (size_t i = 0; i < 5; i++) {
        _toggles[i] = {app, all[i].flag};
        if (!all[i].shown) continue;
        ka_gui_add_toggle_button(app->gui, win, i18n_tr(all[i].label), x, y, tw, bh, 1,
                                 *all[i].flag, _on_toggle, &_toggles[i]);
        x += tw + pad;
    }
}

static void _build_popups(LUMIKEY_APP *app, float W, float pad, float bh) {
    KA_GUI_CTX *g = app->gui;
    float pw = 0.8f * W, cw = pw - 2 * pad, hw = (cw - pad) / 2;
    int a = ui_popup(app, pw, 7 * (bh + pad) + pad);
    app->actions_win = a;
    if (a >= 0) {
        app->actions_title = ka_gui_add_label(g, a, "", pad, pad, cw, bh, KA_GUI_ALIGN_CENTER);
        ka_gui_add_button(g, a, i18n_tr("Play"), pad, bh + 2 * pad, cw, bh, 1, _on_act_play, app);
        ka_gui_add_button(g, a, i18n_tr("Edit"), pad, 2 * bh + 3 * pad, cw, bh, 1, _on_act_edit,
                          app);
        ka_gui_add_button(g, a, i18n_tr("Save as sound"), pad, 3 * bh + 4 * pad, cw, bh, 1,
                          _on_act_sound, app);
        ka_gui_add_button(g, a, i18n_tr("Move up"), pad, 4 * bh + 5 * pad, hw, bh, 1, _on_act_up,
                          app);
        ka_gui_add_button(g, a, i18n_tr("Move down"), 2 * pad + hw, 4 * bh + 5 * pad, hw, bh, 1,
                          _on_act_down, app);
        ka_gui_add_button(g, a, i18n_tr("Delete"), pad, 5 * bh + 6 * pad, cw, bh, 1, _on_act_delete,
                          app);
        ka_gui_add_button(g, a, i18n_tr("Cancel"), pad, 6 * bh + 7 * pad, cw, bh, 1, _on_cancel,
                          app);
    }
    int c = ui_popup(app, pw, 3 * bh + 3 * pad);
    app->confirm_win = c;
    if (c >= 0) {
        app->confirm_label = ka_gui_add_label(g, c, "", pad, pad, cw, 2 * bh, KA_GUI_ALIGN_JUSTIFY);
        ka_gui_add_button(g, c, i18n_tr("Yes"), pad, 2 * bh + 2 * pad, hw, bh, 1, _on_confirm_yes,
                          app);
        ka_gui_add_button(g, c, i18n_tr("No"), 2 * pad + hw, 2 * bh + 2 * pad, hw, bh, 1,
                          _on_cancel, app);
    }
    app->confirm_kind = 0;
}

void screen_home_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    KA_GUI_CTX *g = app->gui;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52);

    int win = app_add_fixed_window(app, "Lumikey", 0, 0, W, H);
    if (win < 0) return;

    float nw = app_px(app, 110), pw = app_px(app, 150);
    ka_gui_add_label(g, win, "Lumikey", pad, pad, W - nw - pw - 4 * pad, bh, KA_GUI_ALIGN_LEFT);
    ka_gui_add_button(g, win, i18n_tr("Practice"), W - nw - pw - 2 * pad, pad, pw, bh, 1,
                      _on_practice, app);
    ka_gui_add_button(g, win, i18n_tr("+ New"), W - nw - pad, pad, nw, bh, 1, _on_new, app);

    _add_toggles(app, win, bh + 2 * pad, W, pad, bh);

    float y_msg = H - app_px(app, 28) - bh;
    if (app->kb_overlap > 0) y_msg = H - (float)app->kb_overlap - pad - bh;
    float sw = app_px(app, 100);
    app->msg_field =
        ka_gui_add_textarea(g, win, pad, y_msg, W - sw - 3 * pad, bh, 0, 511, nullptr, nullptr);
    ka_gui_textarea_set_placeholder(g, app->msg_field, i18n_tr("Type a message..."));
    ka_gui_add_button(g, win, i18n_tr("Send"), W - sw - pad, y_msg, sw, bh, 1, _on_send, app);

    float y_nav = y_msg - bh - pad, nbw = (W - 5 * pad) / 4;
    const char *nav[4] = {I18N_TEXT("History"), I18N_TEXT("Receive"), I18N_TEXT("Key"),
                          I18N_TEXT("Options")};
    KA_GUI_CLICK_CB cbs[4] = {_on_history, _on_receive, _on_key, _on_options};
    for (int k = 0; k < 4; k++)
        ka_gui_add_button(g, win, i18n_tr(nav[k]), pad + (float)k * (nbw + pad), y_nav, nbw, bh, 1,
                          cbs[k], app);

    TOUCH_LIST_VIEW *list = &app->home_list;
    list->src = {_src_count, _src_row, _src_tap, _src_long, app};
    list->empty_text = i18n_tr("No presets: tap + New or Restore defaults");
    list->wrap = 0;
    float y_list = 2 * bh + 3 * pad;
    touch_list_add(app, list, win, 0, y_list, W, y_nav - pad - y_list);

    ka_gui_open_window(g, win);
    _build_popups(app, W, pad, bh);
    ui_sound_save_build(app);
}
