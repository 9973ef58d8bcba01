// tests/support/app_rig.cpp
#include "support/app_rig.hpp"

#include <cstdint>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include "audio/tone.hpp"
#include "ui/screen_key.hpp"

AppRig::AppRig(ALLEGRO_DISPLAY *display, bool real_fonts) {
    al_init_font_addon();
    al_init_primitives_addon();
    al_init_ttf_addon();
    app = new LUMIKEY_APP();
    LUMIKEY_APP *a = app;
    settings_default(&a->settings);
    a->settings.out_torch = a->settings.out_vibrate = 0;
    a->display = display;
    a->disp_w = al_get_display_width(display);
    a->disp_h = al_get_display_height(display);
    a->ui_scale = 1;
    if (real_fonts) app_reload_fonts(a);
    if (!a->font) a->font = al_create_builtin_font();
    if (!a->font_big) a->font_big = al_create_builtin_font();
    a->palette_win = -1;
    a->back_time = -1;
    a->msg_field = a->actions_win = a->actions_title = -1;
    a->sound_save.win = a->sound_save.status = -1;
    a->confirm_win = a->confirm_label = a->target_id = -1;
    a->hist_actions_win = a->recv_actions_win = a->recv_actions_title = -1;
    a->hist_target = a->recv_target = -1;
    a->light.index = SIZE_MAX;
    a->presets = presets_new();
    a->received = received_new();
    a->practice_log = practice_new();
    a->rx_ready = app_receiver_init(a);
    a->player = player_new();
    a->queue = al_create_event_queue();
    a->anim_timer = al_create_timer(1.0 / 30);
    al_init_user_event_source(&a->wake_source);
    a->wake_source_ready = 1;
    al_init_user_event_source(&injected_);
    al_register_event_source(a->queue, &injected_);
    tone_audio_init();
    a->screen = SCREEN_HOME;
    app_build_gui(a);
    a->running = 1;
}

AppRig::~AppRig() {
    LUMIKEY_APP *a = app;
    a->rx.active = 0;
    app_stop_playback(a);
    player_free(&a->player);
    if (a->rx_ready) receiver_stop(&a->rx);
    app_key_release(a);
    decoder_free(&a->key.decoder);
    tone_audio_shutdown();
    if (a->gui) ka_gui_destroy_ctx(&a->gui);
    presets_free(&a->presets);
    received_free(&a->received);
    practice_free(&a->practice_log);
    if (a->rx_ready) app_receiver_destroy(a);
    al_destroy_event_queue(a->queue);
    al_destroy_user_event_source(&injected_);
    al_destroy_user_event_source(&a->wake_source);
    al_destroy_timer(a->anim_timer);
    al_destroy_font(a->font);
    al_destroy_font(a->font_big);
    delete a;
}

void AppRig::inject(const ALLEGRO_EVENT &ev) {
    ALLEGRO_EVENT copy = ev;
    al_emit_user_event(&injected_, &copy, nullptr);
}

ALLEGRO_EVENT AppRig::display_event(unsigned type) const {
    ALLEGRO_EVENT ev{};
    ev.type = type;
    ev.display.source = app->display;
    ev.any.timestamp = al_get_time();
    return ev;
}
