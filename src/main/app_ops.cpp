// src/main/app_ops.cpp: operations the screens and the loop ask of the application.
#include "main/app.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "i18n/i18n.hpp"
#include "model/json_store.hpp"
#include "platform/platform_desktop.hpp"
#include "support/ka_common.hpp"

void app_set_screen(LUMIKEY_APP *app, APP_SCREEN screen) {
    app->screen = screen;
    app->needs_rebuild = 1;
}

void app_defaults_asset_name(const LUMIKEY_APP *app, char *out, size_t out_size) {
    __ka_assert(app, return );
    __ka_assert(out, return );
    snprintf(out, out_size, "presets/defaults_%s.json", i18n_language());
}

// Writes the text a model serialised to (null when it could not) and frees it.
static int _save(const char *filename, char *text) {
    int ok = text && store_write_save(filename, text);
    free(text);
    if (!ok) ka_log(LOG_ERR, "could not save %s", filename);
    return ok;
}

int app_save_settings(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    if (!_save("settings.json", settings_to_json(&app->settings))) return 0;
    app->settings_dirty = 0;
    return 1;
}

int app_save_presets(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    __ka_assert(app->presets, return 0);
    return _save("presets.json", presets_to_json(app->presets));
}

int app_save_history(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    return _save("sent_history.json", history_to_json(&app->history));
}

int app_save_received(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    __ka_assert(app->received, return 0);
    return _save("received.json", received_to_json(app->received));
}

int app_save_settings_if_due(LUMIKEY_APP *app, double now) {
    __ka_assert(app, return 0);
    if (!app->settings_dirty || now < app->settings_retry_at) return 0;
    if (app_save_settings(app)) {
        app->settings_retry_s = 0;
        app->settings_retry_at = 0;
        return 1;
    }
    double wait = app->settings_retry_s * 2;
    app->settings_retry_s = wait < 1.0 ? 1.0 : (wait > 30.0 ? 30.0 : wait);
    app->settings_retry_at = now + app->settings_retry_s;
    return 0;
}

int app_merge_default_presets(LUMIKEY_APP *app, char *name, size_t name_size) {
    __ka_assert(app, return -1);
    __ka_assert(app->presets, return -1);
    __ka_assert(name, return -1);
    app_defaults_asset_name(app, name, name_size);
    char *text = store_read_asset(name);
    int n = text ? presets_restore_defaults(app->presets, text) : -1;
    free(text);
    return n;
}

int app_restore_default_presets(LUMIKEY_APP *app) {
    char name[64];
    int n = app_merge_default_presets(app, name, sizeof name);
    ka_log(LOG_INFO, "restored %d default presets", n);
    if (n >= 0) app_save_presets(app);
    return n;
}
