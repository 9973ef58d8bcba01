// src/ui/ui_sound_save.cpp: saving a text as a sound file, from any screen that has one.
#include "ui/ui_sound_save.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "audio/sound_export.hpp"
#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "platform/platform_desktop.hpp"
#include "support/ka_common.hpp"
#include "ui/ui_popup.hpp"

// User data of the three format buttons.
struct FORMAT_BIND {
    LUMIKEY_APP *app;
    int format;
};
static FORMAT_BIND _formats[SOUND_FORMAT_COUNT];

static void _set_status(LUMIKEY_APP *app, const char *text) {
    SOUND_SAVE_POPUP *p = &app->sound_save;
    if (app->gui && p->status >= 0) ka_gui_label_set_text(app->gui, p->status, text);
    app->redraw = 1;
}

int ui_sound_save_to(LUMIKEY_APP *app, int format) {
    __ka_assert(app, return 0);
    SOUND_SAVE_POPUP *p = &app->sound_save;
    if (!p->text || format < 0 || format >= SOUND_FORMAT_COUNT) return 0;
    if (!p->text[0]) {
        ka_log(LOG_INFO, "sound file not saved: no text");
        _set_status(app, i18n_tr("The message field is empty: type a message first."));
        return 0;
    }
    char dir[900], line[1200];
    if (!platform_music_dir(dir, sizeof dir)) {
        _set_status(app, i18n_tr("There is no music folder to save to."));
        return 0;
    }
    SOUND_EXPORT e{};
    e.text = p->text;
    e.timing = p->timing;
    e.effective_wpm = p->effective_wpm;
    e.tone_hz = app->settings.tone_hz;
    e.format = (SOUND_FORMAT)format;
    char path[1024], shown[1100];
    SOUND_EXPORT_RESULT r = sound_export_write(&e, dir, (int64_t)time(nullptr), path, sizeof path);
    switch (r) {
    case SOUND_SAVED:
        ka_copy_text(p->path, sizeof p->path, path);
        // A path has no spaces to wrap at: the file's name goes on a line of its own.
        snprintf(shown, sizeof shown, "%s/\n%s", dir, path + strlen(dir) + 1);
        snprintf(line, sizeof line, i18n_tr("Saved: %s"), shown);
        break;
    case SOUND_NO_DIR:
        snprintf(line, sizeof line, i18n_tr("The music folder %s does not exist."), dir);
        break;
    case SOUND_NOT_WRITABLE:
        snprintf(line, sizeof line, i18n_tr("The music folder %s cannot be written to."), dir);
        break;
    case SOUND_NOTHING:
        snprintf(line, sizeof line, "%s", i18n_tr("Nothing in this text can be sent."));
        break;
    default:
        snprintf(line, sizeof line, "%s", i18n_tr("The sound file could not be written."));
        break;
    }
    if (r != SOUND_SAVED) ka_log(LOG_ERR, "sound file not saved (%d) in %s", (int)r, dir);
    _set_status(app, line);
    return r == SOUND_SAVED;
}

static void _on_format(int, void *user) {
    FORMAT_BIND *b = (FORMAT_BIND *)user;
    ui_sound_save_to(b->app, b->format);
}

static void _on_copy(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    SOUND_SAVE_POPUP *p = &app->sound_save;
    if (!p->path[0]) return;
    if (app->display && al_set_clipboard_text(app->display, p->path))
        _set_status(app, i18n_tr("Path copied"));
    else
        ka_log(LOG_ERR, "clipboard copy failed");
}

static void _on_close(int, void *user) {
    ui_sound_save_close((LUMIKEY_APP *)user);
}

void ui_sound_save_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    SOUND_SAVE_POPUP *p = &app->sound_save;
    p->win = p->title = p->status = p->copy = -1;
    if (!app->gui) return;
    KA_GUI_CTX *g = app->gui;
    float W = (float)app->disp_w, pad = app_px(app, 12), bh = app_px(app, 52);
    float pw = 0.9f * W, cw = pw - 2 * pad;
    // Room for a long path over three lines.
    float sh = 3.0f * (float)al_get_font_line_height(app->font) + pad;
    int win = ui_popup(app, pw, 3 * bh + sh + 5 * pad);
    if (win < 0) return;
    p->win = win;
    p->title =
        ka_gui_add_label(g, win, i18n_tr("Save as sound"), pad, pad, cw, bh, KA_GUI_ALIGN_CENTER);
    float y = bh + 2 * pad, fw = (cw - 2 * pad) / 3;
    static const char *const names[SOUND_FORMAT_COUNT] = {"WAV", "FLAC", "Ogg"};
    for (int i = 0; i < SOUND_FORMAT_COUNT; i++) {
        _formats[i] = FORMAT_BIND{app, i};
        ka_gui_add_button(g, win, names[i], pad + (float)i * (fw + pad), y, fw, bh, 1, _on_format,
                          &_formats[i]);
    }
    y += bh + pad;
    p->status =
        ka_gui_add_label(g, win, i18n_tr("Choose a format"), pad, y, cw, sh, KA_GUI_ALIGN_JUSTIFY);
    y += sh + pad;
    float hw = (cw - pad) / 2;
    p->copy = ka_gui_add_button(g, win, i18n_tr("Copy path"), pad, y, hw, bh, 1, _on_copy, app);
    ka_gui_add_button(g, win, i18n_tr("Close"), 2 * pad + hw, y, hw, bh, 1, _on_close, app);
}

void ui_sound_save_open(LUMIKEY_APP *app, const char *text, const MORSE_TIMING *timing,
                        uint32_t effective_wpm) {
    __ka_assert(app, return );
    __ka_assert(text && timing, return );
    SOUND_SAVE_POPUP *p = &app->sound_save;
    char *copy = strdup(text);
    if (!copy) return;
    free(p->text);
    p->text = copy;
    p->timing = *timing;
    p->effective_wpm = effective_wpm;
    p->path[0] = '\0';
    _set_status(app, copy[0] ? i18n_tr("Choose a format")
                             : i18n_tr("The message field is empty: type a message first."));
    if (p->win >= 0) ui_popup_show(app, p->win);
}

int ui_sound_save_close(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    return app->sound_save.win >= 0 && ui_popup_close(app, app->sound_save.win);
}

void ui_sound_save_release(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    free(app->sound_save.text);
    app->sound_save.text = nullptr;
}
