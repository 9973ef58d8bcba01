// src/main/app_life.cpp: what the loop keeps in step with the program once per pass (the soft
// keyboard and the room it takes, the screen-on lock, the announcement of background work), and
// the display going away (halt) and coming back (resume).
//
// On a phone these follow the system; on the desktop the platform layer answers most of the
// calls with nothing, the screen-on lock holds off the screen saver, and a hidden window halts
// and resumes like a phone's display.
#include "main/app.hpp"

#include <allegro5/allegro.h>

#include "audio/tone.hpp"
#include "i18n/i18n.hpp"
#include "phone/background.hpp"
#include "phone/screen.hpp"
#include "phone/torch.hpp"
#include "phone/vibrator.hpp"
#include "platform/platform_desktop.hpp"
#include "support/ka_common.hpp"

// Keyboard heights are polled at most this often, and a change this small is the keyboard's
// own jitter (suggestion bars, rounding), not worth a rebuild.
static const double KB_POLL_S = 0.2;
static const int KB_JITTER_PX = 7;

// Background kinds, as the background service numbers them.
static const int BG_SENDING = 1;
static const int BG_RECEIVING = 2;

static int _is_text_field(const LUMIKEY_APP *app, int id) {
    if (id < 0) return 0;
    switch (app->built_screen) {
    case SCREEN_HOME:
        return id == app->msg_field;
    case SCREEN_RECEIVE:
        return app->receive.msg_field >= 0 && id == app->receive.msg_field;
    default:
        return 0;
    }
}

static int _keyboard_visible(const LUMIKEY_APP *app) {
    int visible = platform_keyboard_visible();
    return visible < 0 ? app->keyboard_shown : visible > 0;
}

// Shown while a text field has the focus; a tap on the focused field brings back a keyboard the
// user dismissed. A focus that leaves while the pointer is still held may be on its way to
// another field, so the keyboard stays until the pointer is let go.
static void _sync_keyboard(LUMIKEY_APP *app) {
    int focus = app->gui ? ka_gui_get_focus(app->gui) : -1;
    if (_is_text_field(app, focus)) {
        if (app->focus_was_text && !app->tapped) return;
        app->focus_was_text = 1;
        app->tapped = 0;
        if (!_keyboard_visible(app)) {
            platform_show_keyboard();
            app->keyboard_shown = 1;
        }
        return;
    }
    if (app->focus_was_text && app->pointer_down) return;
    if (app->focus_was_text) {
        app->focus_was_text = 0;
        app->tapped = 0;
        if (_keyboard_visible(app)) {
            platform_hide_keyboard();
            app->keyboard_shown = 0;
        }
        return;
    }
    app->tapped = 0;
}

static void _sync_keyboard_overlap(LUMIKEY_APP *app) {
    if (!app->focus_was_text && !app->kb_overlap) return;
    double now = al_get_time();
    if (now - app->kb_poll_time < KB_POLL_S) return;
    app->kb_poll_time = now;
    int over = platform_keyboard_overlap();
    if (over < 0) {
        // Unknown: a typical keyboard's share of a portrait display while one is asked for.
        over = app->focus_was_text && app->keyboard_shown ? (int)(app->disp_h * 0.42) : 0;
    }
    int most = app->disp_h / 2 + app->disp_h / 4;
    if (over > most) over = most;
    if (over < 0) over = 0;
    int change = over - app->kb_overlap;
    if (change >= -KB_JITTER_PX && change <= KB_JITTER_PX) return;
    ka_log(LOG_INFO, "soft keyboard covers %d px", over);
    app->kb_overlap = over;
    // Only these two place their content above the keyboard.
    if (app->built_screen == SCREEN_HOME ||
        (app->built_screen == SCREEN_RECEIVE && app->receive.duplex)) {
        app->needs_rebuild = 1;
        app_redraw_burst(app);
    }
}

static void _sync_keep_on(LUMIKEY_APP *app) {
    int busy = player_is_playing(app->player) || app->rx.active ||
               (app->built_screen == SCREEN_KEY && app->key.screen_engaged);
    int want = app->settings.keep_screen_on && busy ? 1 : 0;
    if (want == app->keep_on) return;
    app->keep_on = want;
    screen_keep_on(want);
}

static void _sync_background(LUMIKEY_APP *app) {
    if (!app->settings.run_locked) {
        if (app->bg_kinds) {
            background_stop();
            app->bg_kinds = 0;
        }
        return;
    }
    int sending = app->play_bg && player_is_playing(app->player);
    int wanted = (sending ? BG_SENDING : 0) | (app->rx.active ? BG_RECEIVING : 0);
    // With the display away nothing new may be announced (a phone's system would not let
    // background work begin then), so until the resume the announcement only narrows: work
    // that ended leaves it even when other work began meanwhile.
    if (app->display_halted) wanted &= app->bg_kinds;
    if (!wanted) {
        if (app->bg_kinds) {
            background_stop();
            app->bg_kinds = 0;
        }
        return;
    }
    if (wanted == app->bg_kinds) return;
    static const char *const texts[] = {"", I18N_TEXT("Sending Morse"),
                                        I18N_TEXT("Receiving Morse light"),
                                        I18N_TEXT("Sending and receiving Morse")};
    background_ask_notifications();
    background_start(wanted, "Lumikey", i18n_tr(texts[wanted]));
    app->bg_kinds = wanted;
}

void app_sync_system(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    _sync_keyboard(app);
    _sync_keyboard_overlap(app);
    _sync_keep_on(app);
    _sync_background(app);
}

// A send or a receiver announced as background work goes on; everything else that holds a
// device or needs the display is let go, and nothing unsaved is left behind.
void app_on_halt(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    app->pointer_down = 0;
    int keep_send = (app->bg_kinds & BG_SENDING) && player_is_playing(app->player);
    int keep_receive = (app->bg_kinds & BG_RECEIVING) && app->rx.active;
    if (!keep_send) app_stop_playback(app);
    if (!keep_receive && app->rx_ready) receiver_stop(&app->rx);
    screen_receive_release(app);
    app_key_release(app);
    app_save_pending(app);
    if (!keep_send) {
        if (app->screen == SCREEN_PLAY) app->screen = SCREEN_HOME;
        tone_audio_shutdown();
        torch_shutdown();
        vibrator_shutdown();
    }
    // Nobody sees the frames of a halted display; a kept send's wake events still come.
    if (app->anim_timer) al_stop_timer(app->anim_timer);
    ka_log(LOG_INFO, "halted: playback %s, receiver %s", keep_send ? "kept" : "stopped",
           keep_receive ? "kept" : "stopped");
    app->display_halted = 1;
    platform_on_halt();
    if (app->display) al_acknowledge_drawing_halt(app->display);
    ka_log(LOG_INFO, "halted drawing");
}

void app_on_resume(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if (app->display) al_acknowledge_drawing_resume(app->display);
    // What queued up while halted describes a display that is gone; only resizes need an
    // answer, and the size is read afresh below.
    ALLEGRO_EVENT ev;
    while (app->queue && al_get_next_event(app->queue, &ev))
        if (ev.type == ALLEGRO_EVENT_DISPLAY_RESIZE && app->display)
            al_acknowledge_resize(app->display);
    if (app->display) al_set_target_backbuffer(app->display);
    platform_on_resume(app->queue);
    tone_audio_init();
    app->display_halted = 0;
    app_reload_fonts(app);
    if (app->display) {
        app->disp_w = al_get_display_width(app->display);
        app->disp_h = al_get_display_height(app->display);
    }
    app->needs_rebuild = 1;
    app_redraw_burst(app);
    ka_log(LOG_INFO, "resumed drawing, display %dx%d", app->disp_w, app->disp_h);
}

// The halted pass: the receiver keeps decoding, a kept send that ended leaves its screen, and
// the announcement follows.
void app_background_tick(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if ((app->rx.active || app->receive.sending) && app->built_screen == SCREEN_RECEIVE)
        screen_receive_update(app);
    if (app->screen == SCREEN_PLAY && screen_light_stopped(&app->light) &&
        !player_is_playing(app->player)) {
        app_stop_playback(app);
        app->needs_rebuild = 1;
        app->screen = SCREEN_HOME;
    }
    // A hidden desktop window must not hold the screen saver off for a send that ended or was
    // stopped at the halt.
    _sync_keep_on(app);
    _sync_background(app);
}
