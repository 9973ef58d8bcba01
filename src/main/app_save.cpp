// src/main/app_save.cpp: writing the save files from their models, trying again what
// failed, and telling the user how it went.
//
// A write that fails (a full disk, a read-only folder) must not lose what the user did: the
// model in memory keeps the change and the file is marked unsaved. It is then written again by
// the next change, by the loop after a pause that grows from 1 s to 30 s, and once more at
// exit. The user hears of the failure, and of the recovery, through one popup that every screen
// but the play screen carries.
#include "main/app.hpp"

#include <cstdlib>

#include "i18n/i18n.hpp"
#include "model/json_store.hpp"
#include "support/ka_common.hpp"
#include "ui/ui_popup.hpp"

static const double RETRY_FIRST_S = 1.0;
static const double RETRY_MOST_S = 30.0;

struct SAVE_FILE {
    const char *name; // the file in the save directory
    const char *what; // how the log names its content
};

static const SAVE_FILE _files[APP_FILE_COUNT] = {
    {"settings.json", "settings"},          {"presets.json", "presets"},
    {"sent_history.json", "sent messages"}, {"received.json", "received messages"},
    {"practice.json", "practice sessions"},
};

static int _valid(APP_FILE file) {
    return file >= 0 && file < APP_FILE_COUNT;
}

// The text of file's model (caller frees), or null when it cannot be made.
static char *_serialise(const LUMIKEY_APP *app, APP_FILE file) {
    switch (file) {
    case APP_FILE_SETTINGS:
        return settings_to_json(&app->settings);
    case APP_FILE_PRESETS:
        return app->presets ? presets_to_json(app->presets) : nullptr;
    case APP_FILE_HISTORY:
        return history_to_json(&app->history);
    case APP_FILE_RECEIVED:
        return app->received ? received_to_json(app->received) : nullptr;
    case APP_FILE_PRACTICE:
        return app->practice_log ? practice_to_json(app->practice_log) : nullptr;
    default:
        return nullptr;
    }
}

int app_file_unsaved(const LUMIKEY_APP *app, APP_FILE file) {
    __ka_assert(app, return 0);
    if (!_valid(file)) return 0;
    if (file == APP_FILE_SETTINGS) return app->settings_dirty || app->saves[file].unsaved;
    return app->saves[file].unsaved;
}

static int _any_unsaved(const LUMIKEY_APP *app) {
    for (int f = 0; f < APP_FILE_COUNT; f++)
        if (app_file_unsaved(app, (APP_FILE)f)) return 1;
    return 0;
}

static const char *_notice_text(APP_SAVE_NOTICE notice) {
    if (notice == SAVE_NOTICE_FAILED)
        return i18n_tr("Your changes could not be saved. Is the disk full? Lumikey keeps them "
                       "and tries again.");
    if (notice == SAVE_NOTICE_RECOVERED) return i18n_tr("Your changes are saved now.");
    return "";
}

// Puts notice on the popup and opens it. It stays open, through every rebuild and screen
// change, until the user closes it; where there is no popup (the play screen) it opens at the
// next build that has one.
static void _notify(LUMIKEY_APP *app, APP_SAVE_NOTICE notice) {
    app->save_notice = notice;
    app->save_notice_due = 1;
    if (!app->gui || app->save_notice_win <= 0) return;
    ka_gui_label_set_text(app->gui, app->save_notice_label, _notice_text(notice));
    ui_popup_show(app, app->save_notice_win);
}

// One write of file. A failure opens the notice when told (a change the user just made) or when
// the file was saved until now; the loop's retries of a file already failing pass in silence.
static int _write(LUMIKEY_APP *app, APP_FILE file, int told) {
    char *text = _serialise(app, file);
    int ok = text && store_write_save(_files[file].name, text);
    free(text);
    APP_SAVE_STATE *st = &app->saves[file];
    if (!ok) {
        ka_log(LOG_ERR, "could not save %s", _files[file].name);
        // A first failure is news to the user wherever it happens.
        if (!st->unsaved) {
            ka_log(LOG_WARNING, "%s kept unsaved, to be saved again", _files[file].what);
            told = 1;
        }
        st->unsaved = 1;
        if (file == APP_FILE_SETTINGS) app->settings_dirty = 1;
        if (told) _notify(app, SAVE_NOTICE_FAILED);
        return 0;
    }
    int was_unsaved = st->unsaved;
    st->unsaved = 0;
    st->retry_at = 0;
    st->retry_s = 0;
    if (file == APP_FILE_SETTINGS) app->settings_dirty = 0;
    if (was_unsaved) ka_log(LOG_INFO, "%s saved again", _files[file].what);
    // The user was told of a failure: the news that nothing waits any more is theirs too.
    if (app->save_notice == SAVE_NOTICE_FAILED && !_any_unsaved(app))
        _notify(app, SAVE_NOTICE_RECOVERED);
    return 1;
}

int app_save_file(LUMIKEY_APP *app, APP_FILE file) {
    __ka_assert(app, return 0);
    if (!_valid(file)) return 0;
    return _write(app, file, 1);
}

int app_save_settings(LUMIKEY_APP *app) {
    return app_save_file(app, APP_FILE_SETTINGS);
}

int app_save_presets(LUMIKEY_APP *app) {
    __ka_assert(app && app->presets, return 0);
    return app_save_file(app, APP_FILE_PRESETS);
}

int app_save_history(LUMIKEY_APP *app) {
    return app_save_file(app, APP_FILE_HISTORY);
}

int app_save_received(LUMIKEY_APP *app) {
    __ka_assert(app && app->received, return 0);
    return app_save_file(app, APP_FILE_RECEIVED);
}

int app_save_practice(LUMIKEY_APP *app) {
    __ka_assert(app && app->practice_log, return 0);
    return app_save_file(app, APP_FILE_PRACTICE);
}

int app_save_due(LUMIKEY_APP *app, double now) {
    __ka_assert(app, return 0);
    int written = 0;
    for (int f = 0; f < APP_FILE_COUNT; f++) {
        APP_FILE file = (APP_FILE)f;
        APP_SAVE_STATE *st = &app->saves[f];
        if (!app_file_unsaved(app, file) || now < st->retry_at) continue;
        if (_write(app, file, 0)) {
            written++;
            continue;
        }
        double wait = st->retry_s * 2;
        st->retry_s =
            wait < RETRY_FIRST_S ? RETRY_FIRST_S : (wait > RETRY_MOST_S ? RETRY_MOST_S : wait);
        st->retry_at = now + st->retry_s;
    }
    return written;
}

int app_save_pending(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    int written = 0;
    for (int f = 0; f < APP_FILE_COUNT; f++)
        if (app_file_unsaved(app, (APP_FILE)f) && _write(app, (APP_FILE)f, 0)) written++;
    return written;
}

int app_save_at_exit(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    int written = 0;
    for (int f = 0; f < APP_FILE_COUNT; f++) {
        APP_FILE file = (APP_FILE)f;
        if (!app_file_unsaved(app, file)) continue;
        if (_write(app, file, 0)) {
            ka_log(LOG_INFO, "%s saved at exit", _files[f].what);
            written++;
        } else {
            ka_log(LOG_ERR, "%s changed since the last save are lost", _files[f].what);
        }
    }
    return written;
}

void app_save_notice_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    app->save_notice_win = app->save_notice_label = -1;
    // Nothing may cover the light of a send; the notice waits for the next screen.
    if (!app->gui || app->screen == SCREEN_PLAY) return;
    float W = (float)app->disp_w;
    float pad = app_px(app, 12), bh = app_px(app, 52);
    float pw = 0.8f * W, cw = pw - 2 * pad;
    int win = ui_popup(app, pw, 3 * bh + 3 * pad);
    if (win < 0) return;
    app->save_notice_win = win;
    app->save_notice_label = ka_gui_add_label(app->gui, win, _notice_text(app->save_notice), pad,
                                              pad, cw, 2 * bh, KA_GUI_ALIGN_JUSTIFY);
    ka_gui_add_button(
        app->gui, win, i18n_tr("Close"), pad, 2 * bh + 2 * pad, cw, bh, 1,
        [](int, void *user) { app_save_notice_close((LUMIKEY_APP *)user); }, app);
    if (app->save_notice_due && app->save_notice != SAVE_NOTICE_NONE) ui_popup_show(app, win);
}

int app_save_notice_close(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    if (!ui_popup_close(app, app->save_notice_win)) return 0;
    app->save_notice_due = 0;
    return 1;
}
