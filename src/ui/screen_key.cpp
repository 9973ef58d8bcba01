// src/ui/screen_key.cpp: the key screen. A pad to key on (straight key or iambic paddles) with
// the pointer, touches or the keyboard, the live decoding above it, and what can be done with a
// finished message.
//
// Straight-key edges are timed with the events' own time stamps (Allegro clock), so a busy
// loop does not stretch or shrink what the user keyed; paddle edges come from the keyer thread
// with its scheduled times (monotonic clock). Each decoder sees one clock only: a mode change
// makes a new decoder.
#include "ui/screen_key.hpp"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <allegro5/allegro_primitives.h>

#include "audio/sidetone.hpp"
#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "morse/keyer_run.hpp"
#include "phone/screen.hpp"
#include "phone/torch.hpp"
#include "phone/vibrator.hpp"
#include "platform/platform_desktop.hpp"
#include "platform/wake_event.hpp"
#include "support/ka_common.hpp"
#include "ui/screen_send_practice.hpp"
#include "ui/text_view.hpp"
#include "ui/text_wrap.hpp"
#include "ui/ui_colors.hpp"

// User data of a mode toggle.
struct MODE_BIND {
    LUMIKEY_APP *app;
    KEY_MODE mode;
};
static MODE_BIND _modes[3];

// Words the keyer thread shares with the main thread.
static int _load(const int *word) {
    return __atomic_load_n(word, __ATOMIC_ACQUIRE);
}
static void _store(int *word, int value) {
    __atomic_store_n(word, value, __ATOMIC_RELEASE);
}

// The time of the event the GUI is handling, else now; in ms on the Allegro clock.
static double _event_ms(const LUMIKEY_APP *app) {
    double t = app->event_time;
    if (t <= 0) t = al_get_time();
    return t * 1000.0;
}

static void _new_decoder(LUMIKEY_APP *app) {
    const SETTINGS &s = app->settings;
    DECODER_CONFIG cfg;
    decoder_config_default(&cfg);
    cfg.human = 1;
    cfg.eom_timeout_ms = s.eom_timeout_ms;
    cfg.bounce_ms = s.key_bounce_ms;
    // The keyer times its elements itself; estimating its speed would only add errors.
    if (app->key.mode == KEY_MODE_PADDLES || s.key_fixed_speed)
        cfg.fixed_unit_ms = s.timing.unit_ms;
    decoder_free(&app->key.decoder);
    app->key.decoder = decoder_new(&cfg);
}

// Brightness and sidetone follow the mode and the outputs chosen.
static void _engage_screen(LUMIKEY_APP *app) {
    KEYPAD *k = &app->key;
    int active = k->mode != KEY_MODE_TRANSCRIBE;
    int bright = active && app->settings.out_screen;
    if (bright != k->screen_engaged) {
        screen_max_brightness(bright);
        k->screen_engaged = bright;
    }
    int tone = active && app->settings.out_sound;
    if (tone && !_load(&k->sidetone_on)) {
        _store(&k->sidetone_on, sidetone_start(app->settings.tone_hz));
    } else if (!tone && _load(&k->sidetone_on)) {
        sidetone_stop();
        _store(&k->sidetone_on, 0);
    }
}

// Called on the main thread for the straight key and on the keyer thread for the paddles.
static void _outputs(LUMIKEY_APP *app, int down) {
    if (app->key.mode == KEY_MODE_TRANSCRIBE) return;
    if (app->settings.out_torch) torch_live(down);
    if (app->settings.out_vibrate) vibrator_live(down);
    if (_load(&app->key.sidetone_on)) sidetone_key(down);
}

// Keyer thread, with the keyer's lock held: quick, and no keyrun_ calls.
static void _keyer_out(int down, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    _store(&app->key.keyer_down, down);
    _outputs(app, down);
    if (app->wake_source_ready) lumikey_wake(&app->wake_source);
}

static void _clear_touches(KEYPAD *k) {
    for (int i = 0; i < 4; i++) k->touch_id[i] = -1;
}

static void _resume_keyer(LUMIKEY_APP *app) {
    if (app->key.mode != KEY_MODE_PADDLES || keyrun_running()) return;
    _clear_touches(&app->key);
    keyrun_start(app->settings.timing.unit_ms, app->settings.key_iambic_b, _keyer_out, app);
}

// The straight key is down while the pointer or Space holds it: one edge per change, so a
// second source joining or leaving in between keys nothing.
static void _straight_key(LUMIKEY_APP *app, double t_ms) {
    KEYPAD *k = &app->key;
    int want = k->pointer_on_pad || (k->kb_keys & KEYPAD_KB_SPACE);
    if (want == k->down) return;
    if (!k->decoder) _new_decoder(app);
    k->down = want;
    if (k->decoder) decoder_key(k->decoder, t_ms, want);
    _outputs(app, want);
    app->redraw = 1;
}

// A paddle is held when the pad or the keyboard holds it.
static int _dit_held(const KEYPAD *k) {
    return k->dit || (k->kb_keys & (KEYPAD_KB_LCTRL | KEYPAD_KB_LBRACKET));
}
static int _dah_held(const KEYPAD *k) {
    return k->dah || (k->kb_keys & (KEYPAD_KB_RCTRL | KEYPAD_KB_RBRACKET));
}

static void _paddles(LUMIKEY_APP *app) {
    keyrun_paddles(_dit_held(&app->key), _dah_held(&app->key));
    app->redraw = 1;
}

void app_key_release(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    KEYPAD *k = &app->key;
    if (keyrun_running()) {
        keyrun_stop();
        // The stop queues the key-up of an element cut short: the decoder gets it, so it does
        // not take the key for still down.
        KEYER_EDGE edges[64];
        size_t n;
        while ((n = keyrun_take_edges(edges, 64)) > 0)
            for (size_t i = 0; k->decoder && i < n; i++)
                decoder_key(k->decoder, edges[i].t, edges[i].down);
    }
    k->dit = k->dah = 0;
    _clear_touches(k);
    _store(&k->keyer_down, 0);
    k->pointer_on_pad = 0;
    k->kb_keys = 0;
    if (k->down) {
        k->down = 0;
        if (k->decoder) decoder_key(k->decoder, al_get_time() * 1000.0, 0);
    }
    torch_live(0);
    vibrator_live(0);
    if (_load(&k->sidetone_on)) {
        sidetone_stop();
        _store(&k->sidetone_on, 0);
    }
    if (k->screen_engaged) {
        screen_max_brightness(0);
        k->screen_engaged = 0;
    }
}

// ---- input

static int _pad_mouse(int, const KA_GUI_MOUSE_EVENT *ev, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    KEYPAD *k = &app->key;
    if (k->mode == KEY_MODE_PADDLES) {
        // On a touch screen the touches key, each finger on its own paddle.
        if (platform_uses_touch()) return ev->type == KA_GUI_MOUSE_PRESS;
        if (ev->type == KA_GUI_MOUSE_PRESS && ev->button == 1) {
            k->dit = ev->x < k->pad_w / 2;
            k->dah = !k->dit;
            _paddles(app);
        } else if (ev->type == KA_GUI_MOUSE_RELEASE) {
            k->dit = k->dah = 0;
            _paddles(app);
        }
        app->redraw = 1;
        return 1;
    }
    switch (ev->type) {
    case KA_GUI_MOUSE_PRESS:
        if (ev->button != 1) return 0;
        k->pointer_on_pad = 1;
        _straight_key(app, _event_ms(app));
        return 1;
    case KA_GUI_MOUSE_RELEASE:
        if (!k->pointer_on_pad) return 0;
        k->pointer_on_pad = 0;
        _straight_key(app, _event_ms(app));
        return 1;
    case KA_GUI_MOUSE_DRAG:
        return 1;
    default:
        return 0;
    }
}

int screen_key_touch(LUMIKEY_APP *app, const ALLEGRO_EVENT *ev) {
    __ka_assert(app, return 0);
    __ka_assert(ev, return 0);
    KEYPAD *k = &app->key;
    if (app->built_screen != SCREEN_KEY || k->mode != KEY_MODE_PADDLES || k->pad_w <= 0) return 0;
    const ALLEGRO_TOUCH_EVENT &t = ev->touch;
    if (ev->type == ALLEGRO_EVENT_TOUCH_BEGIN) {
        if (t.x < k->pad_x || t.x > k->pad_x + k->pad_w || t.y < k->pad_y ||
            t.y > k->pad_y + k->pad_h)
            return 0;
        for (int i = 0; i < 4; i++) {
            if (k->touch_id[i] != -1) continue;
            k->touch_id[i] = t.id;
            k->touch_paddle[i] = t.x >= k->pad_x + k->pad_w / 2;
            break;
        }
    } else if (ev->type == ALLEGRO_EVENT_TOUCH_END || ev->type == ALLEGRO_EVENT_TOUCH_CANCEL) {
        int freed = 0;
        for (int i = 0; i < 4; i++) {
            if (k->touch_id[i] != t.id) continue;
            k->touch_id[i] = -1;
            freed = 1;
        }
        if (!freed) return 0;
    } else {
        return 0;
    }
    k->dit = k->dah = 0;
    for (int i = 0; i < 4; i++) {
        if (k->touch_id[i] == -1) continue;
        if (k->touch_paddle[i])
            k->dah = 1;
        else
            k->dit = 1;
    }
    _paddles(app);
    return 1;
}

// The KEYPAD_KB_* bit of a key in this mode, 0 when the key does not key here.
static int _keying_bit(KEY_MODE mode, int keycode) {
    if (mode != KEY_MODE_PADDLES) return keycode == ALLEGRO_KEY_SPACE ? KEYPAD_KB_SPACE : 0;
    switch (keycode) {
    case ALLEGRO_KEY_LCTRL:
        return KEYPAD_KB_LCTRL;
    case ALLEGRO_KEY_RCTRL:
        return KEYPAD_KB_RCTRL;
    case ALLEGRO_KEY_OPENBRACE:
        return KEYPAD_KB_LBRACKET;
    case ALLEGRO_KEY_CLOSEBRACE:
        return KEYPAD_KB_RBRACKET;
    default:
        return 0;
    }
}

// Everything held goes up: after a focus change the key-up would never come.
static void _release_held(LUMIKEY_APP *app, double t_ms) {
    KEYPAD *k = &app->key;
    if (!k->kb_keys && !k->pointer_on_pad && !k->dit && !k->dah) return;
    k->kb_keys = 0;
    k->pointer_on_pad = 0;
    k->dit = k->dah = 0;
    _clear_touches(k);
    if (k->mode == KEY_MODE_PADDLES)
        _paddles(app);
    else
        _straight_key(app, t_ms);
    app->redraw = 1;
}

int screen_key_keyboard(LUMIKEY_APP *app, const ALLEGRO_EVENT *ev) {
    __ka_assert(app, return 0);
    __ka_assert(ev, return 0);
    KEYPAD *k = &app->key;
    double t_ms = ev->any.timestamp > 0 ? ev->any.timestamp * 1000.0 : al_get_time() * 1000.0;
    if (ev->type == ALLEGRO_EVENT_DISPLAY_SWITCH_OUT) {
        _release_held(app, t_ms);
        return 0;
    }
    if (ev->type != ALLEGRO_EVENT_KEY_DOWN && ev->type != ALLEGRO_EVENT_KEY_UP &&
        ev->type != ALLEGRO_EVENT_KEY_CHAR)
        return 0;
    int bit = _keying_bit(k->mode, ev->keyboard.keycode);
    if (!bit) return 0;
    // Auto-repeat arrives as key chars (and, from some servers, as further key-downs): only a
    // change of the held set keys anything.
    int held = k->kb_keys;
    if (ev->type == ALLEGRO_EVENT_KEY_DOWN)
        held |= bit;
    else if (ev->type == ALLEGRO_EVENT_KEY_UP)
        held &= ~bit;
    if (held == k->kb_keys) return 1;
    k->kb_keys = held;
    if (k->mode == KEY_MODE_PADDLES)
        _paddles(app);
    else
        _straight_key(app, t_ms);
    return 1;
}

// ---- the decoder's output

void screen_key_update(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    KEYPAD *k = &app->key;
    if (!k->decoder) return;
    double now;
    if (k->mode == KEY_MODE_PADDLES) {
        KEYER_EDGE edges[64];
        size_t n = keyrun_take_edges(edges, 64);
        for (size_t i = 0; i < n; i++) decoder_key(k->decoder, edges[i].t, edges[i].down);
        if (n) app->redraw = 1;
        now = keyrun_now_ms();
    } else {
        now = al_get_time() * 1000.0;
    }
    decoder_tick(k->decoder, now);
    if (decoder_poll_message(k->decoder, &k->last)) {
        k->has_last = 1;
        k->kept = 0;
        app->redraw = 1;
        ka_log(LOG_INFO, "keyed '%s' (unit %u ms)", k->last.text, k->last.unit_ms);
        if (app->send.active) send_practice_take(app, &k->last);
    }
}

int screen_key_back(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    if (!app->send.active) return 0;
    app_set_screen(app, SCREEN_PRACTICE);
    return 1;
}

void screen_key_leave(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    app_key_release(app);
    app->send.active = 0;
}

// The message the bottom buttons act on, finishing the one being keyed. 1 when there is one.
static int _current_message(LUMIKEY_APP *app) {
    KEYPAD *k = &app->key;
    if (k->decoder) {
        if (k->down) app_key_release(app);
        if (decoder_finish(k->decoder, &k->last)) {
            k->has_last = 1;
            k->kept = 0;
            if (app->send.active) send_practice_take(app, &k->last);
            return k->last.text[0] != '\0';
        }
    }
    return k->has_last && k->last.text[0] != '\0';
}

static size_t _text_fill(void *user, TEXT_PARA *paras, size_t max) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    KEYPAD *k = &app->key;
    // The view draws after this returns: the texts must outlive the call.
    static DECODED_MESSAGE live;
    static char wpm[64], message[1200];
    live.text[0] = live.symbols[0] = '\0';
    live.unit_ms = 0;
    if (k->decoder) decoder_live(k->decoder, &live);
    size_t n = 0;
    auto add = [&](ALLEGRO_FONT *font, uint32_t rgb, const char *text) {
        if (n >= max) return;
        paras[n].font = font;
        paras[n].rgb = rgb;
        paras[n].text = text;
        n++;
    };
    if (live.text[0])
        add(app->font_big, UI_TEXT_RGB, live.text);
    else
        add(app->font_big, UI_DIM_RGB, i18n_tr("(start keying)"));
    if (live.symbols[0]) add(app->font, UI_DIM_RGB, live.symbols);
    if (live.unit_ms) {
        snprintf(wpm, sizeof wpm, i18n_tr("about %u WPM"), 1200u / live.unit_ms);
        add(app->font, UI_DIM_RGB, wpm);
    }
    if (k->has_last) {
        snprintf(message, sizeof message, i18n_tr("Message: %s"), k->last.text);
        add(app->font, UI_GOOD_RGB, message);
        if (k->kept)
            add(app->font, UI_DIM_RGB,
                k->mode == KEY_MODE_TRANSCRIBE ? i18n_tr("Kept in Received")
                                               : i18n_tr("Kept in History"));
    }
    return n;
}

// ---- actions

static void _on_back(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app_set_screen(app, app->send.active ? SCREEN_PRACTICE : SCREEN_HOME);
}

static void _on_new_target(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    _current_message(app);
    send_practice_new_target(app);
    _engage_screen(app);
    _resume_keyer(app);
}

static void _on_clear(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app_key_release(app);
    _new_decoder(app);
    app->key.has_last = 0;
    text_view_reset(&app->key_text);
    _engage_screen(app);
    _resume_keyer(app);
    app->redraw = 1;
}

static void _on_mode(int, void *user) {
    MODE_BIND *bind = (MODE_BIND *)user;
    LUMIKEY_APP *app = bind->app;
    if (bind->mode != app->key.mode) {
        app_key_release(app);
        app->settings_dirty = 1;
        app->key.mode = bind->mode;
        app->settings.key_mode = (uint32_t)bind->mode;
        _new_decoder(app);
        app->key.has_last = 0;
    }
    // The rebuild shows exactly one toggle on, whichever was clicked.
    app->needs_rebuild = 1;
}

static void _on_done(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    _current_message(app);
    _engage_screen(app);
    _resume_keyer(app);
    app->redraw = 1;
}

static void _on_play(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (!_current_message(app)) return;
    app->play_from_message = 1;
    app_request_play(app, app->key.last.text);
}

static void _on_preset(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (_current_message(app)) app_edit_new_preset_from(app, app->key.last.text);
}

static void _on_keep(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    KEYPAD *k = &app->key;
    if (!_current_message(app) || k->kept) return;
    if (k->mode == KEY_MODE_TRANSCRIBE) {
        if (received_add(app->received, (int64_t)time(nullptr), k->last.text, k->last.symbols,
                         k->last.unit_ms) >= 0)
            app_save_received(app);
    } else if (history_push(&app->history, k->last.text)) {
        app_save_history(app);
    }
    k->kept = 1;
    _engage_screen(app);
    _resume_keyer(app);
    app->redraw = 1;
}

// ---- drawing

static void _draw_pad(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *font, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    KEYPAD *k = &app->key;
    float W = w->w, H = w->h, r = app_px(app, 12);
    k->pad_x = x;
    k->pad_y = y;
    k->pad_w = W;
    k->pad_h = H;
    int paddles = k->mode == KEY_MODE_PADDLES;
    int on = paddles ? _load(&k->keyer_down) : k->down;
    uint32_t fill;
    // Keying to be seen: the pad is the light, in the light's colours.
    if (k->mode != KEY_MODE_TRANSCRIBE && app->settings.out_screen)
        fill = on ? app->settings.color_dot : app->settings.color_gap;
    else
        fill = on ? UI_PRESSED_RGB : UI_CARD_RGB;
    al_draw_filled_rounded_rectangle(x, y, x + W, y + H, r, r, app_rgb(fill));
    float line = app_px(app, 2);
    al_draw_rounded_rectangle(x + 1, y + 1, x + W - 1, y + H - 1, r, r, app_rgb(UI_DIM_RGB), line);
    if (paddles) {
        int dit = _dit_held(k), dah = _dah_held(k);
        float mid = x + W / 2, cy = y + H / 2, d = app_px(app, 22);
        al_draw_line(mid, y + r, mid, y + H - r, app_rgb(UI_DIM_RGB), line);
        al_draw_filled_circle(x + W / 4, cy, d, app_rgb(dit ? UI_ACCENT_RGB : UI_DIM_RGB));
        float dx = x + 3 * W / 4;
        al_draw_filled_rounded_rectangle(dx - 2.5f * d, cy - d, dx + 2.5f * d, cy + d, d, d,
                                         app_rgb(dah ? UI_ACCENT_RGB : UI_DIM_RGB));
        float held = app_px(app, 3);
        if (dit)
            al_draw_rounded_rectangle(x + 4, y + 4, mid - 4, y + H - 4, r, r,
                                      app_rgb(UI_ACCENT_RGB), held);
        if (dah)
            al_draw_rounded_rectangle(mid + 4, y + 4, x + W - 4, y + H - 4, r, r,
                                      app_rgb(UI_ACCENT_RGB), held);
    } else if (!on && font) {
        const char *hint = k->mode == KEY_MODE_SEND
                               ? i18n_tr("Hold to send, release between signals")
                               : i18n_tr("Tap along with the signal you see or hear");
        // Beside the send-practice panel the pad is narrow: the hint wraps rather than touch
        // the pad's edges.
        TEXT_LINE lines[3];
        size_t n = text_wrap(hint, W - 2 * r, text_wrap_font_width, font, lines, 3);
        if (n > 3) n = 3;
        float lh = (float)al_get_font_line_height(font);
        text_wrap_draw(font, app_rgb(UI_DIM_RGB), x + W / 2, y + (H - (float)n * lh) / 2,
                       ALLEGRO_ALIGN_CENTRE, hint, lines, n);
    }
}

// ---- layout

// Send practice: the target, result and timeline panel takes the live text's place (beside the
// pad in landscape), with Done and a new target beneath it.
static void _build_practice(LUMIKEY_APP *app, int win, float top) {
    KA_GUI_CTX *ctx = app->gui;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), bottom = H - app_px(app, 28);
    int wide = W > H;
    float cw = wide ? (W - 3 * pad) / 2 : W - 2 * pad;
    float px = pad, py = top;
    float ph = wide ? bottom - top : send_practice_panel_height(app);
    float rx = wide ? 2 * pad + cw : pad;
    send_practice_add_panel(app, win, rx, py, cw, ph);
    float by = wide ? top : py + ph + pad, half = (cw - pad) / 2;
    ka_gui_add_button(ctx, win, i18n_tr("Done"), px, by, half, bh, 1, _on_done, app);
    ka_gui_add_button(ctx, win, i18n_tr("New target"), px + half + pad, by, half, bh, 1,
                      _on_new_target, app);
    float pady = by + bh + pad;
    int pad_id = ka_gui_add_custom(ctx, win, px, pady, cw, bottom - pady, _draw_pad, app);
    ka_gui_custom_set_mouse(ctx, pad_id, _pad_mouse, app);
}

void screen_key_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    KEYPAD *k = &app->key;
    KA_GUI_CTX *ctx = app->gui;
    __ka_assert(ctx, return );
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), bw = app_px(app, 110);
    if (!k->decoder) {
        k->mode = (KEY_MODE)app->settings.key_mode;
        _new_decoder(app);
    }
    // The pad is hit-tested by touches only once it has been drawn in this layout.
    k->pad_w = 0;

    int win = app_add_fixed_window(app, i18n_tr("Key"), 0, 0, W, H);

    ka_gui_add_button(ctx, win, i18n_tr("Back"), pad, pad, bw, bh, 1, _on_back, app);
    int practice = app->send.active;
    ka_gui_add_label(ctx, win, practice ? i18n_tr("Send practice") : i18n_tr("Key"), 2 * pad + bw,
                     pad, W - 2 * bw - 4 * pad, bh, KA_GUI_ALIGN_CENTER);
    ka_gui_add_button(ctx, win, i18n_tr("Clear"), W - bw - pad, pad, bw, bh, 1, _on_clear, app);

    static const struct {
        const char *label;
        KEY_MODE mode;
    } modes[3] = {{I18N_TEXT("Send by tap"), KEY_MODE_SEND},
                  {I18N_TEXT("Paddles"), KEY_MODE_PADDLES},
                  {I18N_TEXT("Transcribe"), KEY_MODE_TRANSCRIBE}};
    float mw = (W - 4 * pad) / 3, my = 2 * pad + bh;
    for (int i = 0; i < 3; i++) {
        _modes[i] = MODE_BIND{app, modes[i].mode};
        ka_gui_add_toggle_button(ctx, win, i18n_tr(modes[i].label), pad + (float)i * (mw + pad), my,
                                 mw, bh, 1, k->mode == modes[i].mode, _on_mode, &_modes[i]);
    }

    float ty = 3 * pad + 2 * bh;
    float th = (float)al_get_font_line_height(app->font_big) +
               4.0f * (float)al_get_font_line_height(app->font) + app_px(app, 24);
    if (practice) {
        _build_practice(app, win, ty);
        ka_gui_open_window(ctx, win);
        _engage_screen(app);
        if (k->mode == KEY_MODE_PADDLES && !keyrun_running()) {
            _new_decoder(app);
            _resume_keyer(app);
        }
        return;
    }
    text_view_add(app, &app->key_text, win, pad, ty, W - 2 * pad, th, _text_fill, app);

    static const struct {
        const char *label;
        KA_GUI_CLICK_CB on_click;
    } buttons[4] = {{I18N_TEXT("Done"), _on_done},
                    {I18N_TEXT("Play"), _on_play},
                    {I18N_TEXT("+ Preset"), _on_preset},
                    {I18N_TEXT("Keep"), _on_keep}};
    float by = ty + th + pad, bw4 = (W - 5 * pad) / 4;
    for (int i = 0; i < 4; i++)
        ka_gui_add_button(ctx, win, i18n_tr(buttons[i].label), pad + (float)i * (bw4 + pad), by,
                          bw4, bh, 1, buttons[i].on_click, app);

    float py = by + bh + pad;
    int pad_id =
        ka_gui_add_custom(ctx, win, pad, py, W - 2 * pad, H - app_px(app, 28) - py, _draw_pad, app);
    ka_gui_custom_set_mouse(ctx, pad_id, _pad_mouse, app);

    ka_gui_open_window(ctx, win);
    _engage_screen(app);
    if (k->mode == KEY_MODE_PADDLES && !keyrun_running()) {
        // A keyer that was stopped lost its timeline: its decoder starts afresh with it.
        _new_decoder(app);
        _resume_keyer(app);
    }
}
