// src/main/app.cpp: start-up, the main event loop and the orderly shutdown.
//
// The loop is single-threaded and event-driven: it waits up to 100 ms for an event, hands it
// on, applies what the handlers asked for, and draws only when something changed and no
// further event is waiting, so an idle program draws nothing and costs next to no CPU.
#include "main/app.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <allegro5/allegro_image.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include "audio/tone.hpp"
#include "i18n/i18n.hpp"
#include "model/json_store.hpp"
#include "phone/background.hpp"
#include "phone/screen.hpp"
#include "phone/torch.hpp"
#include "phone/vibrator.hpp"
#include "platform/instance_lock.hpp"
#include "platform/platform_desktop.hpp"
#include "platform/platform_end.hpp"
#include "support/ka_common.hpp"
#include "ui/ui_colors.hpp"

static LUMIKEY_APP app_record;

float app_px(const LUMIKEY_APP *app, float v) {
    return roundf(v * app->ui_scale);
}

int app_add_fixed_window(LUMIKEY_APP *app, const char *name, float x, float y, float w, float h) {
    __ka_assert(app && app->gui, return -1);
    int win = ka_gui_add_window(app->gui, name, x, y, w, h);
    if (win >= 0)
        ka_gui_window_set_flags(app->gui, win, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    return win;
}

ALLEGRO_COLOR app_rgb(uint32_t rgb) {
    return al_map_rgb((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Loads DejaVuSans at px base pixels into *slot. A font already there is kept when the load
// fails; an empty slot falls back to Allegro's built-in font. 1 when the slot holds a font.
static int _load_font(LUMIKEY_APP *app, ALLEGRO_FONT **slot, int px) {
    char path[512];
    platform_asset_path("fonts/DejaVuSans.ttf", path, sizeof path);
    int size = (int)roundf((float)px * app->ui_scale);
    ALLEGRO_FONT *font = al_load_ttf_font(path, size, 0);
    if (font) {
        if (*slot) al_destroy_font(*slot);
        *slot = font;
        return 1;
    }
    ka_log(LOG_ERR, "could not load font %s", path);
    if (!*slot) *slot = al_create_builtin_font();
    return *slot ? 1 : 0;
}

// The window manager shows the program's own icon (the drawing the menu entry shows too). The
// pixels are copied into the window's property at once, so the bitmap goes right after. A
// missing icon leaves the window manager's default and is no reason not to start.
static void _set_window_icon(ALLEGRO_DISPLAY *display) {
    char path[512];
    platform_asset_path("icons/org.lumikey.Lumikey.png", path, sizeof path);
    if (!al_is_image_addon_initialized() && !al_init_image_addon()) return;
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP *icon = al_load_bitmap(path);
    al_set_new_bitmap_flags(flags);
    if (!icon) {
        ka_log(LOG_INFO, "no window icon: %s could not be read", path);
        return;
    }
    al_set_display_icon(display, icon);
    al_destroy_bitmap(icon);
}

static int _load_fonts(LUMIKEY_APP *app) {
    int normal = _load_font(app, &app->font, 18);
    int big = _load_font(app, &app->font_big, 34);
    return normal && big;
}

int app_reload_fonts(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    return _load_fonts(app);
}

// Keeps 30 Hz frames coming for 0.6 s, so a rebuild or resize settles visibly.
void app_redraw_burst(LUMIKEY_APP *app) {
    app->redraw = 1;
    app->redraw_until = al_get_time() + 0.6;
    if (app->anim_timer) al_start_timer(app->anim_timer);
}

static void _sync_display_size(LUMIKEY_APP *app) {
    if (!app->display) return;
    int w = al_get_display_width(app->display);
    int h = al_get_display_height(app->display);
    if (w == app->disp_w && h == app->disp_h) return;
    ka_log(LOG_INFO, "display size %dx%d -> %dx%d", app->disp_w, app->disp_h, w, h);
    app->disp_w = w;
    app->disp_h = h;
    app->needs_rebuild = 1;
    app_redraw_burst(app);
}

void app_forget_widget_ids(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    app->msg_field = app->actions_win = app->actions_title = -1;
    app->confirm_win = app->confirm_label = -1;
    app->hist_actions_win = app->recv_actions_win = app->recv_actions_title = -1;
    RECEIVE_SCREEN *rs = &app->receive;
    rs->msg_field = rs->send_button = rs->warn_win = rs->status_label = rs->start_button = -1;
    app->options_status = app->palette_win = app->palette_hex = -1;
    app->edit_text = app->edit_name = app->edit_cat = app->edit_preview = -1;
    app->save_notice_win = app->save_notice_label = -1;
    app->sound_save.win = app->sound_save.status = -1;
    app->practice.status_label = -1;
    for (int &id : app->practice.step_labels) id = -1;
}

// Builds the GUI of app->screen anew on a fresh context. The new context is made before the
// old one goes, so the clipboard service (and what the user copied) lives on across the
// rebuild. A rebuild of the same screen (a resize) keeps the typed message and the focus.
// The toolkit's measures at the current UI scale; fingers want larger scroll bars.
static void _style_gui(LUMIKEY_APP *app) {
    KA_GUI_STYLE *style = &app->gui->style;
    float s = app->ui_scale;
    float bar = roundf((platform_uses_touch() ? 30 : 16) * s);
    style->scrollbar_size = bar;
    style->global_scrollbar_size = bar;
    if (platform_uses_touch()) style->tooltip_delay = 0;
    style->checkbox_max_size = roundf(26 * s);
    style->checkbox_mark_margin = roundf(5 * s);
    style->checkbox_mark_thickness = roundf(2.5f * s);
    style->checkbox_label_gap = roundf(10 * s);
    style->checkbox_label_offset = roundf(6 * s);
    style->textarea_padding = roundf(6 * s);
    style->slider_track_size = roundf(6 * s);
}

void app_build_gui(LUMIKEY_APP *app) {
    if (!app->display) return;
    APP_SCREEN was = app->built_screen;
    int had_gui = app->gui != nullptr;
    // What the built screen must carry over goes out of the old context before it goes.
    const APP_SCREEN_HOOKS *old = app_screen_hooks(was);
    if (had_gui && old->keep) old->keep(app);
    KA_GUI_CTX *fresh = ka_gui_new_ctx(app->font);
    // The next loop pass tries again; until then the old screen (or a blank one) stays.
    __ka_assert(fresh, app->needs_rebuild = 1; return );
    if (app->gui) ka_gui_destroy_ctx(&app->gui);
    app->gui = fresh;
    // Widget ids of the old context mean nothing in the new one.
    app_forget_widget_ids(app);
    ka_gui_set_display(app->gui, app->display);
    ka_gui_set_display_size(app->gui, (float)app->disp_w, (float)app->disp_h);
    _style_gui(app);

    const APP_SCREEN_HOOKS *hooks = app_screen_hooks(app->screen);
    if (hooks->build) hooks->build(app);
    app_save_notice_build(app);
    if (had_gui && app->screen == was && hooks->restore) hooks->restore(app);

    app->built_screen = app->screen;
    app->needs_rebuild = 0;
    app->redraw = 1;
}

void app_draw(LUMIKEY_APP *app) {
    if (!app->display) return;
    const APP_SCREEN_HOOKS *hooks = app_screen_hooks(app->built_screen);
    if (hooks->draw_under) {
        hooks->draw_under(app);
    } else {
        al_clear_to_color(app_rgb(UI_BACKGROUND_RGB));
    }
    if (app->gui) ka_gui_draw(app->gui);
    if (hooks->draw_over) hooks->draw_over(app);
    al_flip_display();
    app->redraw = 0;
}

// Timed by the event, not by when the loop gets to it: after a stall (a slow clipboard owner, a
// slow disk) two deliberate presses are handled back to back, and only their own time stamps
// still tell them from a bounce.
void app_back(LUMIKEY_APP *app, double event_time) {
    __ka_assert(app, return );
    if (app->back_time >= 0 && event_time - app->back_time < 0.3) return;
    app->back_time = event_time;
    if (ui_sound_save_close(app)) return;
    if (app_save_notice_close(app)) return;
    const APP_SCREEN_HOOKS *hooks = app_screen_hooks(app->screen);
    if (hooks->back && hooks->back(app)) return;
    if (app->screen == SCREEN_HOME) {
        app->running = 0;
    } else {
        app_set_screen(app, app_screen_parent(app->screen));
    }
}

// Reads a save file and hands its text to accept (a model's reader). A file that is there but
// cannot be used (damaged, edited wrongly, too large) would be overwritten by the next save of
// the defaults or of an empty list, so it is kept aside instead. 1 when accepted.
template <typename ACCEPT> static int _load_file(const char *filename, ACCEPT accept) {
    char *text = store_read_save(filename);
    int accepted = text && accept(text);
    free(text);
    char kept[1100];
    if (!accepted && store_set_aside(filename, kept, sizeof kept))
        ka_log(LOG_ERR, "%s could not be used, kept as %s", filename, kept);
    return accepted;
}

// A missing or rejected settings file leaves the defaults.
static void _load_settings(LUMIKEY_APP *app) {
    settings_default(&app->settings);
    if (_load_file("settings.json",
                   [app](const char *t) { return settings_from_json(&app->settings, t); }))
        ka_log(LOG_INFO, "settings loaded");
}

// The user's presets, or on first run (or after a rejected file) the defaults of the interface
// language. 0 when there is neither: the program has nothing to offer on its home screen.
static int _load_presets(LUMIKEY_APP *app) {
    app->presets = presets_new();
    __ka_assert(app->presets, return 0);
    if (_load_file("presets.json",
                   [app](const char *t) { return presets_from_json(app->presets, t); })) {
        ka_log(LOG_INFO, "%zu presets loaded", app->presets->count);
        // A file with more presets than the list holds (written by hand, or by an older
        // version) is kept whole beside the list's own, which the next save would write over it.
        char kept[1100];
        if (app->presets->left_out && store_set_aside("presets.json", kept, sizeof kept)) {
            ka_log(LOG_WARNING, "presets.json held %zu presets more than %d, kept whole as %s",
                   app->presets->left_out, PRESETS_MAX, kept);
            app_save_presets(app);
        }
        return 1;
    }
    char name[64];
    int n = app_merge_default_presets(app, name, sizeof name);
    ka_log(LOG_INFO, "first run: %d default presets installed (%s)", n, name);
    if (n > 0) app_save_presets(app);
    return n >= 0;
}

static void _load_history(LUMIKEY_APP *app) {
    history_clear(&app->history);
    if (_load_file("sent_history.json",
                   [app](const char *t) { return history_from_json(&app->history, t); }))
        ka_log(LOG_INFO, "%zu sent messages loaded", app->history.count);
}

static int _load_received(LUMIKEY_APP *app) {
    app->received = received_new();
    __ka_assert(app->received, return 0);
    if (_load_file("received.json",
                   [app](const char *t) { return received_from_json(app->received, t); }))
        ka_log(LOG_INFO, "%zu received messages loaded", app->received->count);
    return 1;
}

int app_load_practice(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    practice_free(&app->practice_log);
    app->practice_log = practice_new();
    __ka_assert(app->practice_log, return 0);
    if (_load_file("practice.json",
                   [app](const char *t) { return practice_from_json(app->practice_log, t); }))
        ka_log(LOG_INFO, "%zu practice sessions loaded", app->practice_log->count);
    return 1;
}

// What is still unsaved when the program ends, however it ends.
static void _save_before_end(LUMIKEY_APP *app) {
    app_save_at_exit(app);
}

static void _save_before_lost_display(void *app) {
    _save_before_end((LUMIKEY_APP *)app);
}

// Another copy runs on this save folder: its window comes to the front and this one ends
// without writing anything. -1 when the window was brought forward, -2 when it could not be.
static int _hand_over() {
    int holder = 0;
    if (instance_lock_raise_holder(3.0, &holder)) {
        ka_log(LOG_INFO,
               "Lumikey already runs on this save folder (process %d): its window is brought to "
               "the front",
               holder);
        return -1;
    }
    ka_log(LOG_ERR,
           "Lumikey already runs on this save folder (process %d), but its window could not be "
           "brought to the front",
           holder);
    return -2;
}

// The record as the program starts: zero, the default settings, no widget and nothing chosen.
static void _reset_record(LUMIKEY_APP *app) {
    memset(app, 0, sizeof *app);
    settings_default(&app->settings);
    app_forget_widget_ids(app);
    app->back_time = -1;
    app->target_id = app->color_target = app->hist_target = app->recv_target = -1;
    app->light.index = SIZE_MAX;
}

// The window at its first size, its title and icon, the UI scale of the display's density and
// the fonts at that scale. 0 when any of it failed.
static int _open_display(LUMIKEY_APP *app) {
    al_init_font_addon();
    al_init_ttf_addon();
    al_init_primitives_addon();

    al_set_new_display_option(ALLEGRO_VSYNC, 2, ALLEGRO_SUGGEST);
    al_set_new_display_flags(platform_display_flags());
    app->display = al_create_display(480, 800);
    if (!app->display) {
        ka_log(LOG_EMERG, "al_create_display failed");
        return 0;
    }
    al_set_window_title(app->display, "Lumikey");
    _set_window_icon(app->display);
    instance_lock_publish(app->display);
    app->disp_w = al_get_display_width(app->display);
    app->disp_h = al_get_display_height(app->display);

    float density = platform_display_density();
    app->ui_scale = fminf(fmaxf(density / 1.5f, 1.0f), 2.5f);
    return _load_fonts(app);
}

// The saved files into the models, the language the settings ask for and the receiver that
// saves into received.json. 0 when a file the program cannot run without is unusable.
static int _load_files(LUMIKEY_APP *app) {
    _load_settings(app);
    ka_log(LOG_INFO, "language: %s", i18n_set_language(app->settings.lang));
    if (!_load_presets(app)) return 0;
    _load_history(app);
    if (!app_receiver_init(app)) return 0;
    app->rx_ready = 1;
    if (!_load_received(app)) return 0;
    if (!app_load_practice(app)) return 0;
    platform_on_display_lost(_save_before_lost_display, app);
    return 1;
}

// The player, the sound, and the one event queue the loop waits on with every source in it.
static int _open_events(LUMIKEY_APP *app) {
    tone_audio_init();
    app->player = player_new();
    __ka_assert(app->player, return 0);
    app->queue = al_create_event_queue();
    __ka_assert(app->queue, return 0);
    app->anim_timer = al_create_timer(1.0 / 30);
    __ka_assert(app->anim_timer, return 0);

    al_init_user_event_source(&app->wake_source);
    app->wake_source_ready = 1;
    al_register_event_source(app->queue, al_get_display_event_source(app->display));
    if (al_is_keyboard_installed())
        al_register_event_source(app->queue, al_get_keyboard_event_source());
    if (al_is_mouse_installed()) al_register_event_source(app->queue, al_get_mouse_event_source());
    al_register_event_source(app->queue, al_get_timer_event_source(app->anim_timer));
    al_register_event_source(app->queue, &app->wake_source);
    platform_register_event_sources(app->queue);
    return 1;
}

// 1 when the program is ready to run; 0 when start-up failed; -1 or -2 when another copy
// holds the save folder (_hand_over).
static int _app_init(LUMIKEY_APP *app) {
    _reset_record(app);
    set_log_level(LOG_INFO);

    if (!al_init()) {
        ka_log(LOG_EMERG, "al_init failed");
        return 0;
    }
    al_install_keyboard();
    al_install_mouse();

    if (!platform_init()) return 0;
    // Before anything is read or written: a second copy must leave the files alone.
    if (!instance_lock_take()) return _hand_over();

    if (!_open_display(app)) return 0;
    if (!_load_files(app)) return 0;
    if (!_open_events(app)) return 0;

    app->screen = SCREEN_HOME;
    app_build_gui(app);
    platform_watch_quit_signals(&app->wake_source);

    ka_log(LOG_INFO, "Lumikey %s started, display %dx%d, density %.2f, ui scale %.2f",
           LUMIKEY_VERSION, app->disp_w, app->disp_h, (double)platform_display_density(),
           (double)app->ui_scale);
    app->running = 1;
    return 1;
}

// Enter in the built screen's message field sends the message.
static void _enter(LUMIKEY_APP *app) {
    int field = app_message_field(app);
    if (!app->gui || field < 0 || ka_gui_get_focus(app->gui) != field) return;
    const APP_SCREEN_HOOKS *hooks = app_screen_hooks(app->built_screen);
    if (hooks->send) hooks->send(app);
}

static void _handle_event(LUMIKEY_APP *app, const ALLEGRO_EVENT &ev) {
    switch (ev.type) {
    case ALLEGRO_EVENT_KEY_DOWN:
        if (ev.keyboard.keycode == ALLEGRO_KEY_BACK || ev.keyboard.keycode == ALLEGRO_KEY_ESCAPE)
            app_back(app, ev.any.timestamp);
        if (ev.keyboard.keycode == ALLEGRO_KEY_ENTER ||
            ev.keyboard.keycode == ALLEGRO_KEY_PAD_ENTER)
            _enter(app);
        break;
    case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
        app->pointer_down = 1;
        break;
    case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
        app->tapped = 1;
        app->pointer_down = 0;
        break;
    case ALLEGRO_EVENT_TIMER:
        app->redraw = 1;
        if (!player_is_playing(app->player) && al_get_time() > app->redraw_until)
            al_stop_timer(app->anim_timer);
        break;
    case ALLEGRO_EVENT_DISPLAY_RESIZE:
        al_acknowledge_resize(app->display);
        _sync_display_size(app);
        break;
    case ALLEGRO_EVENT_DISPLAY_CLOSE:
        if (platform_display_close_quits()) app->running = 0;
        break;
    case ALLEGRO_EVENT_DISPLAY_EXPOSE:
        app->redraw = 1;
        break;
    case ALLEGRO_EVENT_DISPLAY_HALT_DRAWING:
        app_on_halt(app);
        break;
    case ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING:
        app_on_resume(app);
        break;
    default:
        if (ev.type == LUMIKEY_WAKE_EVENT) app->redraw = 1;
        break;
    }
}

void app_loop_pass(LUMIKEY_APP *app, const ALLEGRO_EVENT *event) {
    __ka_assert(app, return );
    if (event) {
        const ALLEGRO_EVENT &ev = *event;
        _handle_event(app, ev);
        // A screen may take an event for itself (the keys that key): a focused widget never
        // sees it then.
        int keyed = 0;
        const APP_SCREEN_HOOKS *shown = app_screen_hooks(app->screen);
        if (app->screen == app->built_screen && !app->display_halted && shown->event)
            keyed = shown->event(app, &ev);
        // The halt itself never reaches the GUI: it has let go of everything already.
        if (app->gui && !app->display_halted && !keyed) {
            app->event_time = ev.any.timestamp;
            ka_gui_process_event(app->gui, ev);
            app->event_time = 0;
        }
    } else if (!app->display_halted) {
        _sync_display_size(app);
    }
    // A halted display builds and draws nothing; what goes on in the background goes on.
    if (app->display_halted) {
        app_background_tick(app);
        return;
    }
    app_apply_requests(app);
    const APP_SCREEN_HOOKS *hooks = app_screen_hooks(app->screen);
    if (app->screen == app->built_screen && hooks->tick) hooks->tick(app);
    // Settings a screen changed, and files whose save failed, are written here, never while a
    // send plays: the write could delay the player's next element.
    if (!player_is_playing(app->player)) app_save_due(app, al_get_time());
    if (app->needs_rebuild) app_build_gui(app);
    app_sync_system(app);
    int wanted = app->redraw || (app->gui && ka_gui_needs_redraw(app->gui));
    if (wanted && app->queue && al_is_event_queue_empty(app->queue)) app_draw(app);
}

static void _app_run(LUMIKEY_APP *app) {
    while (app->running) {
        ALLEGRO_EVENT ev;
        int got = platform_wait_event(app->queue, &ev);
        // Nothing more may be drawn: a call on the dead connection would never return.
        if (platform_display_lost()) platform_end_after_display_lost();
        if (int signo = platform_quit_signal()) {
            ka_log(LOG_INFO, "SIG%s received, quitting", sigabbrev_np(signo));
            app->running = 0;
            break;
        }
        app_loop_pass(app, got ? &ev : nullptr);
    }
}

static void _app_shutdown(LUMIKEY_APP *app) {
    if (app->bg_kinds) {
        background_stop();
        app->bg_kinds = 0;
    }
    if (app->player) {
        app_stop_playback(app);
        player_free(&app->player);
    }
    for (int screen = 0; screen < app_screen_count(); screen++) {
        const APP_SCREEN_HOOKS *hooks = app_screen_hooks((APP_SCREEN)screen);
        if (hooks->release) hooks->release(app);
    }
    ui_sound_save_release(app);
    // Every file is written when it changes; what is pending here is a failed save waiting for
    // its retry, or settings changed in the last pass.
    _save_before_end(app);
    platform_on_display_lost(nullptr, nullptr);
    tone_audio_shutdown();
    torch_shutdown();
    vibrator_shutdown();
    screen_shutdown();
    app->keep_on = 0;
    if (app->gui) ka_gui_destroy_ctx(&app->gui);
    presets_free(&app->presets);
    received_free(&app->received);
    if (app->rx_ready) app_receiver_destroy(app);
    app->rx_ready = 0;
    i18n_shutdown();
    if (app->font) al_destroy_font(app->font);
    if (app->font_big) al_destroy_font(app->font_big);
    app->font = app->font_big = nullptr;
    if (app->queue) {
        al_destroy_event_queue(app->queue);
        app->queue = nullptr;
    }
    platform_release_quit_signals();
    if (app->wake_source_ready) {
        al_destroy_user_event_source(&app->wake_source);
        app->wake_source_ready = 0;
    }
    if (app->anim_timer) {
        al_destroy_timer(app->anim_timer);
        app->anim_timer = nullptr;
    }
    if (app->display) {
        al_destroy_display(app->display);
        app->display = nullptr;
    }
    instance_lock_release();
    ka_log(LOG_INFO, "Lumikey shut down");
}

int app_main(int, char **) {
    LUMIKEY_APP *app = &app_record;
    // Before Allegro starts its threads (they must inherit the blocked signals) and opens its
    // connection to the X server.
    platform_catch_quit_signals();
    platform_catch_display_loss();
    int state = _app_init(app);
    if (state == 1) {
        _app_run(app);
    } else if (state == 0) {
        ka_log(LOG_EMERG, "init failed, exiting");
    }
    _app_shutdown(app);
    return state == 1 || state == -1 ? 0 : 1;
}
