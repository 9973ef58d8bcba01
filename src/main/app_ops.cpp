// src/main/app_ops.cpp: operations the screens and the loop ask of the application.
#include "main/app.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/tone.hpp"
#include "i18n/i18n.hpp"
#include "model/json_store.hpp"
#include "phone/camera_capture.hpp"
#include "phone/screen.hpp"
#include "phone/torch.hpp"
#include "phone/vibrator.hpp"
#include "platform/platform_desktop.hpp"
#include "support/ka_common.hpp"

// The flashlight cannot switch faster than this; a shorter unit would blur its dots together.
static const uint32_t TORCH_UNIT_FLOOR_MS = 60;

// A send made while the receiver runs keeps the camera and stays on the receive screen.
static const uint32_t DUPLEX_TORCH_UNIT_FLOOR_MS = 150;

void app_set_screen(LUMIKEY_APP *app, APP_SCREEN screen) {
    __ka_assert(app, return );
    // A switch to the screen already shown only rebuilds it: its state must survive.
    if (screen != app->screen) {
        const APP_SCREEN_HOOKS *old = app_screen_hooks(app->screen);
        if (old->leave) old->leave(app);
    }
    if (screen == SCREEN_HOME) {
        app->receive.duplex = 0;
        app->receive.msg_text[0] = '\0';
    }
    app->screen = screen;
    app->needs_rebuild = 1;
}

void app_request_play(LUMIKEY_APP *app, const char *text) {
    __ka_assert(app, return );
    __ka_assert(text, return );
    ka_copy_text(app->play_text, sizeof app->play_text, text);
    app->play_requested = 1;
}

void app_request_stop(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    app->stop_requested = 1;
}

void app_send_message(LUMIKEY_APP *app, const char *text) {
    __ka_assert(app, return );
    __ka_assert(text, return );
    // The text may be a history entry, which the push moves: it is copied for the send first.
    app_request_play(app, text);
    app->play_from_message = 1;
    if (history_push(&app->history, text)) app_save_history(app);
}

size_t app_playback_channels(LUMIKEY_APP *app, const MORSE_SEQUENCE *seq,
                             PLAYER_CHANNEL *channels) {
    __ka_assert(app, return 0);
    __ka_assert(seq, return 0);
    __ka_assert(channels, return 0);
    const SETTINGS &s = app->settings;
    size_t n = 0;
    // The light always takes part: the play screen follows the send through it, even when the
    // screen output is off.
    channels[n++] = screen_light_channel(app);
    if (s.out_sound && tone_prepare(seq, s.tone_hz, s.audio_latency_ms, &channels[n])) n++;
    if (s.out_torch && torch_available()) {
        // The camera's session drives the flash with its own delay.
        int camera_flash = app->screen == SCREEN_RECEIVE && app->receive.duplex &&
                           capture_state() > 0 && capture_has_flash();
        channels[n++] =
            torch_channel(camera_flash ? s.duplex_torch_latency_ms : s.torch_latency_ms);
    }
    if (s.out_vibrate && vibrator_prepare(seq, s.vibrate_latency_ms, &channels[n])) n++;
    return n;
}

void app_stop_playback(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    int was_playing = player_is_playing(app->player);
    player_stop(app->player);
    tone_release();
    if (app->anim_timer) al_stop_timer(app->anim_timer);
    if (was_playing || app->screen == SCREEN_PLAY) screen_max_brightness(0);
}

int app_start_playback(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    __ka_assert(app->player, return 0);
    app_stop_playback(app);
    MORSE_TIMING timing = app->settings.timing;
    uint32_t effective_wpm = app->play_effective_wpm;
    int in_place = app->play_in_place;
    if (app->play_unit_ms) timing.unit_ms = app->play_unit_ms;
    app->play_unit_ms = app->play_effective_wpm = 0;
    app->play_in_place = 0;
    int duplex = app->screen == SCREEN_RECEIVE && app->receive.duplex;
    int camera_flash = duplex && capture_state() > 0 && capture_has_flash();
    // A send from any other screen takes the outputs (and the flash) from the camera.
    if (!duplex && (capture_state() != 0 || app->rx.active) && app->rx_ready)
        receiver_stop(&app->rx);
    uint32_t floor_ms = camera_flash ? DUPLEX_TORCH_UNIT_FLOOR_MS : TORCH_UNIT_FLOOR_MS;
    if (app->settings.out_torch && torch_available() && timing.unit_ms < floor_ms) {
        ka_log(LOG_INFO, "unit %u ms raised to %u ms for the flashlight", timing.unit_ms, floor_ms);
        timing.unit_ms = floor_ms;
    }
    MORSE_SEQUENCE *seq = morse_sequence_build(app->play_text, &timing);
    if (!seq) return 0;
    if (seq->skipped) ka_log(LOG_INFO, "%zu unsupported character(s) skipped", seq->skipped);
    if (effective_wpm && !morse_sequence_spread(seq, effective_wpm)) {
        morse_sequence_free(&seq);
        return 0;
    }

    PLAYER_CHANNEL channels[PLAYER_MAX_CHANNELS];
    // A send that stays in place is practice by ear: it sounds whatever the home toggle says.
    int out_sound = app->settings.out_sound;
    if (in_place) app->settings.out_sound = 1;
    size_t n = app_playback_channels(app, seq, channels);
    app->settings.out_sound = out_sound;
    // Anything beyond the light may go on with the display off.
    app->play_bg = n > 1;

    if (in_place) {
        uint32_t lead = 0, end_ms = 0;
        for (size_t c = 0; c < n; c++)
            if (channels[c].lead_ms > lead) lead = channels[c].lead_ms;
        if (lead > PLAYER_MAX_LEAD_MS) lead = PLAYER_MAX_LEAD_MS;
        if (seq->count)
            end_ms = seq->events[seq->count - 1].start_ms + seq->events[seq->count - 1].duration_ms;
        double start = al_get_time();
        if (!player_start(app->player, seq, 0, channels, n)) {
            tone_release();
            return 0;
        }
        // The player's lead-in of 30 ms and the largest lead come before the first element.
        app->play_heard_end = start + (30.0 + lead + end_ms) / 1000.0;
        if (app->anim_timer) al_start_timer(app->anim_timer);
        return 1;
    }
    if (duplex) {
        if (!player_start(app->player, seq, app->settings.loop, channels, n)) {
            tone_release();
            return 0;
        }
        app->receive.sending = 1;
        screen_receive_send_started(app, 1);
        if (app->anim_timer) al_start_timer(app->anim_timer);
        return 1;
    }

    if (app->settings.out_screen) screen_max_brightness(1);
    app_set_screen(app, SCREEN_PLAY);
    // The play screen is on the display before the first element is due.
    app_build_gui(app);
    if (!app->display_halted) app_draw(app);
    if (!player_start(app->player, seq, app->settings.loop, channels, n)) {
        // Nothing uses the prepared tone or the raised brightness now.
        tone_release();
        screen_max_brightness(0);
        app_set_screen(app, SCREEN_HOME);
        return 0;
    }
    if (app->anim_timer) al_start_timer(app->anim_timer);
    return 1;
}

void app_edit_new_preset_from(LUMIKEY_APP *app, const char *text) {
    __ka_assert(app, return );
    ka_copy_text(app->draft_text, sizeof app->draft_text, text);
    app->draft_name[0] = '\0';
    app->draft_cat = PRESET_CAT_CUSTOM;
    app->draft_valid = 1;
    app->target_id = -1;
    app_set_screen(app, SCREEN_EDIT);
}

void app_apply_requests(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if (app->stop_requested) {
        app->stop_requested = 0;
        app_stop_playback(app);
        if (app->save_after_stop) {
            app_edit_new_preset_from(app, app->play_text);
        } else if (app->screen != SCREEN_RECEIVE) {
            app_set_screen(app, SCREEN_HOME);
        }
        app->save_after_stop = 0;
    }
    if (app->play_requested) {
        app->play_requested = 0;
        if (!app_start_playback(app)) {
            ka_log(LOG_INFO, "nothing playable in '%s'", app->play_text);
            if (app->screen == SCREEN_RECEIVE && app->receive.duplex)
                screen_receive_send_failed(app);
        }
    }
}

void app_defaults_asset_name(const LUMIKEY_APP *app, char *out, size_t out_size) {
    __ka_assert(app, return );
    __ka_assert(out, return );
    snprintf(out, out_size, "presets/defaults_%s.json", i18n_language());
}

// The receiver's hooks: a saved message is written at once and shown; the traces' tx column is
// the screen light's.
static void _rx_saved(const DECODED_MESSAGE *, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app_save_received(app);
    app->redraw = 1;
}

static size_t _rx_tx_edges(uint64_t *ns, uint8_t *on, size_t max, void *user) {
    return screen_light_edges(&((LUMIKEY_APP *)user)->light, ns, on, max);
}

int app_receiver_init(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    RECEIVER_HOOKS hooks{_rx_saved, _rx_tx_edges, app};
    if (!receiver_init(&app->rx, &hooks)) return 0;
    RECEIVE_SCREEN *rs = &app->receive;
    rs->status_label = rs->start_button = rs->msg_field = rs->send_button = rs->warn_win = -1;
    return 1;
}

void app_receiver_destroy(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    receiver_destroy(&app->rx);
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
