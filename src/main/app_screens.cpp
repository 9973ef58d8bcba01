// src/main/app_screens.cpp: each screen's hooks (what builds, ticks, answers the back key, cleans
// up when left, releases at shutdown, carries its widgets' content through a rebuild, names its
// message field, takes its own events and draws under or over the GUI), and the queries main
// makes over them. A new screen plugs in with a row of the table naming only the hooks it has.
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

// Keys that key, and touches on the paddles, are the key screen's alone.
static int _key_event(LUMIKEY_APP *app, const ALLEGRO_EVENT *ev) {
    if (ev->type == ALLEGRO_EVENT_TOUCH_BEGIN || ev->type == ALLEGRO_EVENT_TOUCH_END ||
        ev->type == ALLEGRO_EVENT_TOUCH_CANCEL)
        screen_key_touch(app, ev);
    return screen_key_keyboard(app, ev);
}

static void _practice_release(LUMIKEY_APP *app) {
    practice_free(&app->practice_log);
}

struct SCREEN_ROW {
    APP_SCREEN screen;
    APP_SCREEN_HOOKS hooks;
};

static const SCREEN_ROW _screens[] = {
    {SCREEN_HOME,
     {.build = screen_home_build,
      .tick = screen_home_tick,
      .back = screen_home_close_popup,
      .keep = screen_home_keep,
      .restore = screen_home_restore,
      .message_field = screen_home_message_field,
      .send = screen_home_send}},
    {SCREEN_PLAY,
     {.build = screen_play_build,
      .tick = _play_tick,
      .back = _play_back,
      .draw_under = screen_play_draw,
      .draw_over = screen_play_draw_overlay}},
    {SCREEN_EDIT,
     {.build = screen_edit_build,
      .back = _edit_back,
      .keep = screen_edit_keep,
      .restore = screen_edit_restore}},
    {SCREEN_HISTORY,
     {.build = screen_history_build,
      .tick = screen_history_tick,
      .back = screen_history_close_popup}},
    {SCREEN_OPTIONS,
     {.build = screen_options_build,
      .tick = screen_options_update,
      .back = screen_options_close_popup,
      .leave = screen_options_leave}},
    {SCREEN_RECEIVE,
     {.build = screen_receive_build,
      .tick = screen_receive_update,
      .back = screen_receive_back,
      .leave = screen_receive_leave,
      .release = _receive_release,
      .keep = screen_receive_keep,
      .restore = screen_receive_restore,
      .message_field = screen_receive_message_field,
      .send = screen_receive_send,
      .at_home = screen_receive_at_home}},
    {SCREEN_RECEIVED,
     {.build = screen_received_build,
      .tick = screen_received_tick,
      .back = screen_received_close_popup}},
    {SCREEN_KEY,
     {.build = screen_key_build,
      .tick = screen_key_update,
      .back = screen_key_back,
      .leave = screen_key_leave,
      .release = _key_release,
      .event = _key_event}},
    {SCREEN_PRACTICE,
     {.build = screen_practice_build,
      .tick = screen_practice_tick,
      .back = screen_practice_back,
      .leave = screen_practice_leave,
      .release = _practice_release,
      .event = screen_practice_keyboard}},
    {SCREEN_PROGRESS, {.build = screen_progress_build}},
};

const APP_SCREEN_HOOKS *app_screen_hooks(APP_SCREEN screen) {
    for (const SCREEN_ROW &row : _screens)
        if (row.screen == screen) return &row.hooks;
    return &_screens[0].hooks;
}

APP_SCREEN app_screen_parent(APP_SCREEN screen) {
    return _parent_of(screen);
}

int app_message_field(const LUMIKEY_APP *app) {
    __ka_assert(app, return -1);
    const APP_SCREEN_HOOKS *hooks = app_screen_hooks(app->built_screen);
    return hooks->message_field ? hooks->message_field(app) : -1;
}

void app_screens_at_home(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    for (const SCREEN_ROW &row : _screens)
        if (row.hooks.at_home) row.hooks.at_home(app);
}

int app_screen_count() {
    return (int)(sizeof _screens / sizeof _screens[0]);
}
