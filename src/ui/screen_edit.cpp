// src/ui/screen_edit.cpp: the preset editor. The message is previewed as dots and dashes with
// its sending time and the number of characters that cannot be sent, keystroke by keystroke;
// Save adds or updates the preset and saves the list, Cancel and Back leave it untouched.
#include "ui/screen_edit.hpp"

#include <cstdio>
#include <cstring>

#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "morse/sequencer.hpp"
#include "support/ka_common.hpp"

static const char *const _cat_names[PRESET_CAT_COUNT] = {
    I18N_TEXT("Emergency"), I18N_TEXT("Status"),   I18N_TEXT("Social"),
    I18N_TEXT("Radio"),     I18N_TEXT("Practice"), I18N_TEXT("My presets"),
};

// The symbols fill what a label holds, less room for the time and the count behind them.
static const size_t PREVIEW_SYMBOLS_MAX = 3968;

static void _update_preview(LUMIKEY_APP *app, const char *text) {
    char out[KA_GUI_TEXT_SIZE];
    out[0] = '\0';
    MORSE_SEQUENCE *seq =
        text && text[0] ? morse_sequence_build(text, &app->settings.timing) : nullptr;
    if (seq && seq->count > 0) {
        size_t n = morse_sequence_to_symbols(seq, out, PREVIEW_SYMBOLS_MAX);
        n += (size_t)snprintf(out + n, sizeof out - n, "   (%u.%u s)", seq->total_ms / 1000,
                              (seq->total_ms % 1000) / 100);
        if (seq->skipped && n < sizeof out)
            snprintf(out + n, sizeof out - n, i18n_tr("  -  %zu character(s) cannot be sent"),
                     seq->skipped);
    } else {
        ka_copy_text(out, sizeof out, i18n_tr("Type the message to send"));
    }
    morse_sequence_free(&seq);
    ka_gui_label_set_text(app->gui, app->edit_preview, out);
    app->redraw = 1;
}

static void _on_text(int, const char *text, void *user) {
    _update_preview((LUMIKEY_APP *)user, text);
}

static void _on_save(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    const char *name = ka_gui_textarea_get_text(app->gui, app->edit_name);
    const char *text = ka_gui_textarea_get_text(app->gui, app->edit_text);
    int cat = ka_gui_combobox_get_selected(app->gui, app->edit_cat);
    if (cat < 0 || cat >= PRESET_CAT_COUNT) cat = PRESET_CAT_CUSTOM;
    int ok;
    if (app->target_id < 0) {
        ok = presets_add(app->presets, name, text, cat, 0, "") >= 0;
    } else {
        ok = presets_update(app->presets, app->target_id, name, text, cat);
    }
    if (!ok && app->target_id < 0 && app->presets->count >= PRESETS_MAX) {
        char full[128];
        snprintf(full, sizeof full, i18n_tr("The list is full: %d presets at most"), PRESETS_MAX);
        full[ka_utf8_cut_len(full, sizeof full - 1)] = '\0';
        ka_gui_label_set_text(app->gui, app->edit_preview, full);
        app->redraw = 1;
        return;
    }
    if (!ok) {
        ka_gui_label_set_text(app->gui, app->edit_preview, i18n_tr("The message is empty"));
        app->redraw = 1;
        return;
    }
    app_save_presets(app);
    ka_gui_set_focus(app->gui, -1);
    app_set_screen(app, SCREEN_HOME);
}

static void _on_cancel(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    ka_gui_set_focus(app->gui, -1);
    app_set_screen(app, SCREEN_HOME);
}

// The field that had the focus when the editor was last kept.
static int _refocus_text, _refocus_name;

void screen_edit_keep(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    _refocus_text = _refocus_name = 0;
    if (!app->gui || app->screen != SCREEN_EDIT || app->edit_text < 0) return;
    int focus = ka_gui_get_focus(app->gui);
    _refocus_text = focus == app->edit_text;
    _refocus_name = app->edit_name >= 0 && focus == app->edit_name;
    ka_copy_text(app->draft_text, sizeof app->draft_text,
                 ka_gui_textarea_get_text(app->gui, app->edit_text));
    ka_copy_text(app->draft_name, sizeof app->draft_name,
                 ka_gui_textarea_get_text(app->gui, app->edit_name));
    app->draft_cat = ka_gui_combobox_get_selected(app->gui, app->edit_cat);
    app->draft_valid = 1;
}

void screen_edit_restore(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    int text = _refocus_text, name = _refocus_name;
    _refocus_text = _refocus_name = 0;
    if (!app->gui) return;
    if (name && app->edit_name >= 0) {
        ka_gui_set_focus(app->gui, app->edit_name);
    } else if (text && app->edit_text >= 0) {
        ka_gui_set_focus(app->gui, app->edit_text);
    }
}

void screen_edit_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    KA_GUI_CTX *g = app->gui;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), row = app_px(app, 52), lab = app_px(app, 30), fw = W - 2 * pad;
    // A landscape display is too low for one column: the name, category and buttons move to a
    // second column beside the message and its preview.
    float x2 = pad;
    if (W > H) {
        fw = (W - 3 * pad) / 2;
        x2 = 2 * pad + fw;
    }

    // A preset deleted meanwhile is saved as a new one rather than lost.
    const PRESET *p = presets_get(app->presets, app->target_id);
    if (!p) app->target_id = -1;

    int win = app_add_fixed_window(app, "Edit", 0, 0, W, H);
    if (win < 0) return;
    ka_gui_add_label(g, win, p ? i18n_tr("Edit preset") : i18n_tr("New preset"), pad, pad, fw, row,
                     KA_GUI_ALIGN_LEFT);

    ka_gui_add_label(g, win, i18n_tr("Message"), pad, row + pad, fw, lab, KA_GUI_ALIGN_LEFT);
    app->edit_text =
        ka_gui_add_textarea(g, win, pad, row + pad + lab, fw, 2 * row, 1, 511, _on_text, app);
    ka_gui_textarea_set_placeholder(g, app->edit_text, i18n_tr("e.g. MEET AT NOON"));

    float y_prev = row + pad + lab + 2 * row + pad / 2;
    app->edit_preview =
        ka_gui_add_label(g, win, "", pad, y_prev, fw, 1.4f * row, KA_GUI_ALIGN_JUSTIFY);

    float y_name = x2 > pad ? row + pad : y_prev + 1.4f * row + pad;
    ka_gui_add_label(g, win, i18n_tr("Name (optional)"), x2, y_name, fw, lab, KA_GUI_ALIGN_LEFT);
    app->edit_name =
        ka_gui_add_textarea(g, win, x2, y_name + lab, fw, row, 0, 63, nullptr, nullptr);

    float y_cat = y_name + lab + row + pad;
    ka_gui_add_label(g, win, i18n_tr("Category"), x2, y_cat, fw, lab, KA_GUI_ALIGN_LEFT);
    app->edit_cat = ka_gui_add_combobox(g, win, x2, y_cat + lab, fw, row, nullptr, nullptr);
    for (const char *name : _cat_names) ka_gui_combobox_add_item(g, app->edit_cat, i18n_tr(name));

    float y_btn = y_cat + lab + row + 2 * pad, bw = (fw - pad) / 2;
    ka_gui_add_button(g, win, i18n_tr("Cancel"), x2, y_btn, bw, row, 1, _on_cancel, app);
    ka_gui_add_button(g, win, i18n_tr("Save"), x2 + pad + bw, y_btn, bw, row, 1, _on_save, app);

    if (p) ka_gui_combobox_set_selected(g, app->edit_cat, (int)p->category);
    if (app->draft_valid) {
        app->draft_valid = 0;
        int cat = app->draft_cat;
        if (cat < 0 || cat >= PRESET_CAT_COUNT) cat = PRESET_CAT_CUSTOM;
        ka_gui_textarea_set_text(g, app->edit_text, app->draft_text);
        ka_gui_textarea_set_text(g, app->edit_name, app->draft_name);
        ka_gui_combobox_set_selected(g, app->edit_cat, cat);
        _update_preview(app, app->draft_text);
    } else if (p) {
        ka_gui_textarea_set_text(g, app->edit_text, p->text);
        ka_gui_textarea_set_text(g, app->edit_name, p->name);
        _update_preview(app, p->text);
    } else {
        ka_gui_combobox_set_selected(g, app->edit_cat, PRESET_CAT_CUSTOM);
        _update_preview(app, nullptr);
    }

    ka_gui_open_window(g, win);
    ka_gui_set_focus(g, app->edit_text);
}
