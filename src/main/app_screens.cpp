// src/main/app_screens.cpp: which function builds, ticks, answers the back key, cleans up when
// left and releases at shutdown for each screen. A new screen plugs in by replacing its row of
// the table.
#include "main/app.hpp"

#include "support/ka_common.hpp"
#include "ui/screen_edit.hpp"
#include "ui/screen_history.hpp"
#include "ui/screen_home.hpp"
#include "ui/screen_options.hpp"
#include "ui/screen_key.hpp"
#include "ui/screen_play.hpp"
#include "ui/screen_practice.hpp"
#include "ui/screen_progress.hpp"
#include "ui/screen_received.hpp"
#include "ui/screen_receive.hpp"

// The screen the back key leads to when the screen itself has nothing to close.
static APP_SCREEN _parent_of(APP_SCREEN screen) {
    if (screen == SCREEN_PROGRESS) return SCREEN_PRACTICE;
    return screen == SCREEN_RECEIVED ? SCREEN_RECEIVE : SCREEN_HOME;
}

// The send has ended by itself once the light says so and the player is idle.
static void _play_tick(LUMIKEY_APP *app) {
    if (screen_light_stopped(&app->light) && !player_is_playing(app->player)) {
        app_stop_playback(app);
        app_set_screen(app, SCREEN_HOME);
    }
}

static int _play_back(LUMIKEY_APP *app) {
    app_stop_playback(app);
    return 0;
}

static int _edit_back(LUMIKEY_APP *app) {
    if (app->gui) ka_gui_set_focus(app->gui, -1);
    return 0;
}

// At shutdown the message being received is saved before the preview bitmap goes.
static void _receive_release(LUMIKEY_APP *app) {
    if (app->rx_ready) receiver_stop(&app->rx);
    screen_receive_release(app);
}

// The key screen gives back the keyer, the sidetone and the outputs when left; at shutdown its
// decoder goes too.
static void _key_release(LUMIKEY_APP *app) {
    app_key_release(app);
    decoder_free(&app->key.decoder);
}

static void _practice_release(LUMIKEY_APP *app) {
    practice_free(&app->practice_log);
}

struct SCREEN_ROW {
    APP_SCREEN screen;
    APP_SCREEN_HOOKS hooks;
};

// Columns: build, tick, back, leave, release.
static const SCREEN_ROW _screens[] = {
    {SCREEN_HOME, {screen_home_build, screen_home_tick, screen_home_close_popup, nullptr, nullptr}},
    {SCREEN_PLAY, {screen_play_build, _play_tick, _play_back, nullptr, nullptr}},
    {SCREEN_EDIT, {screen_edit_build, nullptr, _edit_back, nullptr, nullptr}},
    {SCREEN_HISTORY,
     {screen_history_build, screen_history_tick, screen_history_close_popup, nullptr, nullptr}},
    {SCREEN_OPTIONS,
     {screen_options_build, screen_options_update, screen_options_close_popup, screen_options_leave,
      nullptr}},
    {SCREEN_RECEIVE,
     {screen_receive_build, screen_receive_update, screen_receive_back, screen_receive_leave,
      _receive_release}},
    {SCREEN_RECEIVED,
     {screen_received_build, screen_received_tick, screen_received_close_popup, nullptr, nullptr}},
    {SCREEN_KEY,
     {screen_key_build, screen_key_update, screen_key_back, screen_key_leave, _key_release}},
    {SCREEN_PRACTICE,
     {screen_practice_build, screen_practice_tick, screen_practice_back, screen_practice_leave,
      _practice_release}},
    {SCREEN_PROGRESS, {screen_progress_build, nullptr, nullptr, nullptr, nullptr}},
};

const APP_SCREEN_HOOKS *app_screen_hooks(APP_SCREEN screen) {
    for (const SCREEN_ROW &row : _screens)
        if (row.screen == screen) return &row.hooks;
    return &_screens[0].hooks;
}

APP_SCREEN app_screen_parent(APP_SCREEN screen) {
    return _parent_of(screen);
}
