// src/ui/screen_receive.cpp: the receive screen over the receiver. The main thread's pass lets
// the receiver save what it finished, draws the meter, the preview and the live text, and in
// "Send + receive" mode sends through the outputs while the camera keeps watching.
#include "ui/screen_receive.hpp"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <allegro5/allegro_primitives.h>

#include "audio/mic.hpp"
#include "audio/tone.hpp"
#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "phone/camera_capture.hpp"
#include "phone/torch.hpp"
#include "phone/vibrator.hpp"
#include "support/ka_common.hpp"
#include "ui/text_view.hpp"
#include "ui/touch_list.hpp"
#include "ui/ui_colors.hpp"
#include "ui/ui_popup.hpp"

// Set while screen_receive_build runs: the new widgets count as built before the loop notes it.
static int _building;

// The widget ids in rx name this screen's widgets (they mean nothing once another is built).
static int _built(LUMIKEY_APP *app) {
    return app->gui && app->screen == SCREEN_RECEIVE &&
           (_building || app->built_screen == SCREEN_RECEIVE);
}

void screen_receive_status(LUMIKEY_APP *app, const char *text) {
    __ka_assert(app, return );
    RECEIVE_SCREEN *rs = &app->receive;
    if (text != rs->status) ka_copy_text(rs->status, sizeof rs->status, text ? text : "");
    if (_built(app) && rs->status_label >= 0)
        ka_gui_label_set_text(app->gui, rs->status_label, rs->status);
    app->redraw = 1;
}

static void _set_button(LUMIKEY_APP *app, int id, const char *label) {
    if (_built(app) && id >= 0) ka_gui_button_set_label(app->gui, id, i18n_tr(label));
}

// --- The main thread's pass ---

void screen_receive_update(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    RECEIVE_SCREEN *rs = &app->receive;
    int lost = receiver_poll(&app->rx);
    if (lost != RX_RUNNING) {
        _set_button(app, rs->start_button, "Start");
        screen_receive_status(
            app, lost == RX_LOST_NO_INPUT ? i18n_tr("No sound input: is a sound server running?")
                 : lost == RX_LOST_SOUND  ? i18n_tr("The sound input stopped (sound server gone?)")
                                          : i18n_tr("The camera stopped (in use by another app?)"));
    }

    if (rs->sending && screen_light_stopped(&app->light) && !player_is_playing(app->player)) {
        int finished = std::atomic_ref<int>(app->light.finished).load();
        app_stop_playback(app);
        rs->sending = 0;
        _set_button(app, rs->send_button, "Send");
        screen_receive_status(app, finished ? i18n_tr("Sent") : i18n_tr("Sending stopped"));
    }
}

void screen_receive_leave(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if (app->receive.sending) {
        app_stop_playback(app);
        app->receive.sending = 0;
    }
    if (app->rx_ready) receiver_stop(&app->rx);
    app->receive.status[0] = '\0';
}

int screen_receive_message_field(const LUMIKEY_APP *app) {
    __ka_assert(app, return -1);
    return app->receive.msg_field;
}

int screen_receive_duplex(const LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    return app->screen == SCREEN_RECEIVE && app->receive.duplex;
}

// A rebuild of this screen itself gives the focus back to the message field that had it.
static int _refocus_message;

void screen_receive_keep(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    RECEIVE_SCREEN *rs = &app->receive;
    _refocus_message = 0;
    if (!app->gui || rs->msg_field < 0) return;
    _refocus_message = app->screen == SCREEN_RECEIVE && ka_gui_get_focus(app->gui) == rs->msg_field;
    ka_copy_text(rs->msg_text, sizeof rs->msg_text,
                 ka_gui_textarea_get_text(app->gui, rs->msg_field));
}

void screen_receive_restore(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    int refocus = _refocus_message;
    _refocus_message = 0;
    if (refocus && app->gui && app->receive.msg_field >= 0)
        ka_gui_set_focus(app->gui, app->receive.msg_field);
}

void screen_receive_at_home(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    app->receive.duplex = 0;
    app->receive.msg_text[0] = '\0';
}

void screen_receive_release(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if (app->receive.preview_bmp) al_destroy_bitmap(app->receive.preview_bmp);
    app->receive.preview_bmp = nullptr;
}

// --- Start and stop ---

// The status line for what receiver_start reported.
static const char *_start_status(int source, int rc) {
    if (source == RX_SOURCE_MIC)
        return rc == RX_STARTED ? i18n_tr("Listening: play Morse to the microphone")
                                : i18n_tr("No sound input: is a sound server running?");
    switch (rc) {
    case RX_STARTED:
        return i18n_tr("Point the camera at the blinking light");
    case RX_UNSUPPORTED:
        return i18n_tr("No webcam found");
    case RX_ASKED:
        return i18n_tr("Allow the camera to receive messages");
    case RX_NO_PERMISSION:
        return i18n_tr("Camera permission needed");
    default:
        return i18n_tr("The camera could not be opened");
    }
}

void screen_receive_start_stop(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    RECEIVER *rx = &app->rx;
    RECEIVE_SCREEN *rs = &app->receive;
    if (rx->active) {
        receiver_stop(rx);
        _set_button(app, rs->start_button, "Start");
        screen_receive_status(app, i18n_tr("Stopped"));
        return;
    }
    const SETTINGS &s = app->settings;
    RECEIVER_START cfg{};
    cfg.source = rx->source;
    cfg.eom_timeout_ms = s.eom_timeout_ms;
    cfg.tracing = s.debug_overlay;
    cfg.wake = app->wake_source_ready ? &app->wake_source : nullptr;
    cfg.received = app->received;
    cfg.fps = (int)s.fps_target;
    cfg.roi_side = (float)s.roi_pct / 100.0f;
    cfg.front = s.rx_front_camera;
    cfg.keep_torch = rs->duplex; // a send in duplex mode keeps its own flash
    int rc = receiver_start(rx, &cfg);
    screen_receive_status(app, _start_status(cfg.source, rc));
    // Before the camera is asked or found, the button's label stays as it was.
    if (rc == RX_STARTED || rc == RX_FAILED || rc == RX_NO_PERMISSION)
        _set_button(app, rs->start_button, rx->active ? "Stop" : "Start");
}

static void _on_start(int, void *user) {
    screen_receive_start_stop((LUMIKEY_APP *)user);
}

// --- Live text ---

static size_t _live_fill(void *user, TEXT_PARA *paras, size_t max) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVER *rx = &app->rx;
    static DECODED_MESSAGE live;
    static char saved[sizeof rx->last_saved + 32];
    receiver_live(rx, &live);
    size_t n = 0;
    if (n < max) {
        paras[n].font = app->font_big;
        if (live.text[0]) {
            paras[n].rgb = UI_TEXT_RGB;
            paras[n].text = live.text;
        } else {
            paras[n].rgb = UI_DIM_RGB;
            paras[n].text = rx->active ? i18n_tr("(waiting for a signal)") : "";
        }
        n++;
    }
    if (n < max && live.symbols[0]) paras[n++] = {nullptr, UI_DIM_RGB, live.symbols};
    if (n < max && rx->last_saved[0]) {
        // The last message is the newest change to the list: while received.json lacks any
        // change (its save failed and waits for a retry), it lacks this message.
        int unsaved = app_file_unsaved(app, APP_FILE_RECEIVED);
        snprintf(saved, sizeof saved, unsaved ? i18n_tr("Not saved yet: %s") : i18n_tr("Saved: %s"),
                 rx->last_saved);
        saved[ka_utf8_cut_len(saved, sizeof saved - 1)] = '\0';
        paras[n++] = {nullptr, unsaved ? UI_WARN_RGB : UI_GOOD_RGB, saved};
    }
    return n;
}

// --- Meter ---

static int _tx_on(LUMIKEY_APP *app) {
    if (!app->receive.sending || screen_light_stopped(&app->light)) return 0;
    const MORSE_SEQUENCE *seq = player_sequence(app->player);
    size_t i = screen_light_index(&app->light);
    return seq && i < seq->count && seq->events[i].state < MORSE_SYM_GAP;
}

static void _draw_meter(KA_GUI_WIDGET *widget, float x, float y, ALLEGRO_FONT *, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVER *rx = &app->rx;
    RECEIVE_SCREEN *rs = &app->receive;
    DECODER_STATUS st;
    // The sound's level, noise, marks and thresholds take the place of the light's.
    receiver_status(rx, &st);
    float W = widget->w, p = app_px(app, 8), l = app_px(app, 14), mh = app_px(app, 14);
    float my = y + p, mx = x + 2 * l + 2 * p, mw = W - 2 * l - 3 * p;
    if (rs->duplex) {
        mw -= 2 * l + p;
        al_draw_filled_circle(x + W - p - l, my + mh / 2, l,
                              app_rgb(_tx_on(app) ? UI_SEND_RGB : UI_LAMP_OFF_RGB));
    }
    al_draw_filled_circle(x + p + l, my + mh / 2, l,
                          app_rgb(st.on ? UI_ACCENT_RGB : UI_LAMP_OFF_RGB));
    al_draw_filled_rectangle(mx, my, mx + mw, my + mh, app_rgb(UI_TRACK_RGB));
    if (!rx->active) return;
    float k = mw / 255.0f;
    al_draw_filled_rectangle(mx + k * st.lo, my, mx + k * st.hi, my + mh,
                             app_rgb(st.has_signal ? UI_BAND_SIGNAL_RGB : UI_BAND_NOISE_RGB));
    al_draw_line(mx + k * st.th_on, my - 3, mx + k * st.th_on, my + mh + 3, app_rgb(UI_ACCENT_RGB),
                 2);
    al_draw_line(mx + k * st.th_off, my - 3, mx + k * st.th_off, my + mh + 3, app_rgb(UI_DIM_RGB),
                 2);
    al_draw_filled_rectangle(mx + k * st.luma - 2, my - 4, mx + k * st.luma + 2, my + mh + 4,
                             app_rgb(UI_TEXT_RGB));
}

// --- Preview and its detection square ---

static void _frame_to_box(int orientation, float cx, float cy, float *u, float *v) {
    switch (orientation) {
    case 90:
        *u = 1 - cy, *v = cx;
        break;
    case 180:
        *u = 1 - cx, *v = 1 - cy;
        break;
    case 270:
        *u = cy, *v = 1 - cx;
        break;
    default:
        *u = cx, *v = cy;
        break;
    }
}

// The inverse of a quarter turn is the opposite quarter turn; a half turn undoes itself.
static void _box_to_frame(int orientation, float u, float v, float *cx, float *cy) {
    _frame_to_box(orientation == 90 ? 270 : orientation == 270 ? 90 : orientation, u, v, cx, cy);
}

static int _show_preview(LUMIKEY_APP *app) {
    static uint8_t grey[CAPTURE_PREVIEW_BYTES];
    if (!capture_preview(grey)) return 0;
    RECEIVE_SCREEN *rs = &app->receive;
    if (!rs->preview_bmp) {
        int flags = al_get_new_bitmap_flags();
        al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR | ALLEGRO_MAG_LINEAR);
        rs->preview_bmp = al_create_bitmap(CAPTURE_PREVIEW_W, CAPTURE_PREVIEW_H);
        al_set_new_bitmap_flags(flags);
        if (!rs->preview_bmp) return 0;
    }
    ALLEGRO_LOCKED_REGION *lr =
        al_lock_bitmap(rs->preview_bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lr) return 0;
    for (int row = 0; row < CAPTURE_PREVIEW_H; row++) {
        uint8_t *px = (uint8_t *)lr->data + (ptrdiff_t)row * lr->pitch;
        for (int col = 0; col < CAPTURE_PREVIEW_W; col++) {
            uint8_t g = grey[row * CAPTURE_PREVIEW_W + col];
            px[4 * col] = px[4 * col + 1] = px[4 * col + 2] = g;
            px[4 * col + 3] = 255;
        }
    }
    al_unlock_bitmap(rs->preview_bmp);
    return 1;
}

static void _draw_preview(KA_GUI_WIDGET *widget, float x, float y, ALLEGRO_FONT *font, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVER *rx = &app->rx;
    RECEIVE_SCREEN *rs = &app->receive;
    float W = widget->w, H = widget->h;
    rs->box_x = x, rs->box_y = y, rs->box_w = W, rs->box_h = H;
    al_draw_filled_rectangle(x, y, x + W, y + H, app_rgb(UI_CARD_RGB));
    int o = capture_orientation();
    app->rx_orientation = o;
    if (rx->active && _show_preview(app)) {
        int side = o == 90 || o == 270;
        float sx = side ? H / CAPTURE_PREVIEW_W : W / CAPTURE_PREVIEW_W;
        float sy = side ? W / CAPTURE_PREVIEW_H : H / CAPTURE_PREVIEW_H;
        al_draw_scaled_rotated_bitmap(rs->preview_bmp, CAPTURE_PREVIEW_W / 2.0f,
                                      CAPTURE_PREVIEW_H / 2.0f, x + W / 2, y + H / 2, sx, sy,
                                      (float)o * (float)M_PI / 180.0f, 0);
    } else if (font) {
        const char *msg = rx->active ? i18n_tr("Opening the camera...")
                                     : i18n_tr("Press Start, then point the camera at the light");
        float lh = (float)al_get_font_line_height(font);
        al_draw_text(font, app_rgb(UI_DIM_RGB), x + W / 2, y + H / 2 - lh / 2, ALLEGRO_ALIGN_CENTRE,
                     msg);
    }
    float cx = 0.5f, cy = 0.5f, sd = 0.2f, u, v;
    capture_get_roi(&cx, &cy, &sd);
    _frame_to_box(o, cx, cy, &u, &v);
    float s = (W < H ? W : H) * sd;
    al_draw_rectangle(x + W * u - s / 2, y + H * v - s / 2, x + W * u + s / 2, y + H * v + s / 2,
                      app_rgb(UI_GOOD_RGB), app_px(app, 2));
    if (!app->settings.debug_overlay || !rx->active || !font) return;
    DECODER_STATUS st;
    receiver_status(rx, &st);
    char line[160];
    float lx = x + app_px(app, 4), ly = y + app_px(app, 4),
          lh = (float)al_get_font_line_height(font);
    ALLEGRO_COLOR c = app_rgb(UI_ACCENT_RGB);
    snprintf(line, sizeof line, "luma %.1f  lo %.1f  hi %.1f", (double)st.luma, (double)st.lo,
             (double)st.hi);
    al_draw_text(font, c, lx, ly, 0, line);
    snprintf(line, sizeof line, "th %.1f / %.1f  %s", (double)st.th_on, (double)st.th_off,
             st.has_signal ? "signal" : "no signal");
    al_draw_text(font, c, lx, ly + lh, 0, line);
    snprintf(line, sizeof line, "unit %u ms  last run %u ms  %.1f fps", st.unit_ms, st.last_run_ms,
             (double)capture_fps());
    al_draw_text(font, c, lx, ly + 2 * lh, 0, line);
}

static int _preview_mouse(int, const KA_GUI_MOUSE_EVENT *e, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVE_SCREEN *rs = &app->receive;
    if (e->type == KA_GUI_MOUSE_RELEASE) return 1;
    if (e->type != KA_GUI_MOUSE_PRESS && e->type != KA_GUI_MOUSE_DRAG) return 0;
    if (rs->box_w <= 0 || rs->box_h <= 0) return 1;
    float cx, cy, side = 0.2f;
    _box_to_frame(app->rx_orientation, e->x / rs->box_w, e->y / rs->box_h, &cx, &cy);
    capture_get_roi(nullptr, nullptr, &side);
    capture_set_roi(cx, cy, side);
    app->redraw = 1;
    return 1;
}

// --- Send + receive ---

static int _can_send(LUMIKEY_APP *app) {
    const SETTINGS &s = app->settings;
    return (s.out_torch && torch_available()) || (s.out_sound && tone_available()) ||
           (s.out_vibrate && vibrator_available());
}

void screen_receive_short_text(const char *text, char *out, size_t out_size) {
    __ka_assert(out && out_size > 0, return );
    if (!text) text = "";
    size_t len = strlen(text);
    if (len < 48) {
        ka_copy_text(out, out_size, text);
        return;
    }
    size_t cut = 44;
    while (cut > 0 && ((unsigned char)text[cut] & 0xC0) == 0x80) cut--;
    snprintf(out, out_size, "%.*s...", (int)cut, text);
}

void screen_receive_send(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    RECEIVE_SCREEN *rs = &app->receive;
    if (!rs->duplex || rs->sending || rs->msg_field < 0 || !_built(app)) return;
    const char *text = ka_gui_textarea_get_text(app->gui, rs->msg_field);
    if (!text || !text[0]) return;
    if (!_can_send(app)) {
        screen_receive_status(app, i18n_tr("Turn on the flashlight, sound or vibration to send"));
        return;
    }
    app_send_message(app, text);
}

void screen_receive_send_started(LUMIKEY_APP *app, int fresh) {
    __ka_assert(app, return );
    RECEIVE_SCREEN *rs = &app->receive;
    _set_button(app, rs->send_button, "Stop");
    if (fresh) {
        if (_built(app) && rs->msg_field >= 0)
            ka_gui_textarea_set_text(app->gui, rs->msg_field, "");
        rs->msg_text[0] = '\0';
    }
    char shown[64], status[160];
    screen_receive_short_text(app->play_text, shown, sizeof shown);
    snprintf(status, sizeof status, i18n_tr("Sending: %s"), shown);
    status[ka_utf8_cut_len(status, 111)] = '\0';
    screen_receive_status(app, status);
}

void screen_receive_send_failed(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    screen_receive_status(app,
                          i18n_tr("Nothing to send: no character of the message has a Morse code"));
}

static void _on_send(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (app->receive.sending) {
        app_request_stop(app);
    } else {
        screen_receive_send(app);
    }
}

static int _warn_open(LUMIKEY_APP *app) {
    return app->gui && app->receive.warn_win >= 0 &&
           ka_gui_window_is_open(app->gui, app->receive.warn_win);
}

static void _on_mode(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVE_SCREEN *rs = &app->receive;
    if (rs->duplex) {
        if (rs->sending) app_request_stop(app);
        rs->duplex = 0;
        app->needs_rebuild = 1;
        return;
    }
    if (rs->warn_win < 0) return;
    ka_gui_open_window(app->gui, rs->warn_win);
    ka_gui_raise_window(app->gui, rs->warn_win);
    app->redraw = 1;
}

static void _on_enable(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    ka_gui_close_window(app->gui, app->receive.warn_win);
    app->receive.duplex = 1;
    app->needs_rebuild = 1;
}

static void _on_warn_cancel(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    ka_gui_close_window(app->gui, app->receive.warn_win);
    app->redraw = 1;
}

int screen_receive_back(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    if (_warn_open(app)) {
        ka_gui_close_window(app->gui, app->receive.warn_win);
        app->redraw = 1;
        return 1;
    }
    if (app->receive.sending) {
        app_request_stop(app);
        return 1;
    }
    return 0;
}

static void _on_back(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app_set_screen(app, SCREEN_HOME);
}

static void _on_received(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    touch_list_scroll_top(&app->recv_list); // the newest message first
    app_set_screen(app, SCREEN_RECEIVED);
}

void screen_receive_set_source(LUMIKEY_APP *app, int source) {
    __ka_assert(app, return );
    __ka_assert(source == RX_SOURCE_CAMERA || source == RX_SOURCE_MIC, return );
    RECEIVER *rx = &app->rx;
    RECEIVE_SCREEN *rs = &app->receive;
    if (rx->active) receiver_stop(rx);
    // The status spoke of the other source.
    if (rx->source != source) rs->status[0] = '\0';
    rx->source = source;
    app->needs_rebuild = 1;
}

static void _on_camera(int, void *user) {
    screen_receive_set_source((LUMIKEY_APP *)user, RX_SOURCE_CAMERA);
}

static void _on_mic(int, void *user) {
    screen_receive_set_source((LUMIKEY_APP *)user, RX_SOURCE_MIC);
}

// --- Layout ---

// A wrapped label whose height follows its text (at least min_h, at most max_h).
static float _fit_label(LUMIKEY_APP *app, int id, float x, float y, float w, float min_h,
                        float max_h) {
    float need_w = 0, need_h = min_h;
    ka_gui_label_fits(app->gui, id, &need_w, &need_h);
    float h = need_h < min_h ? min_h : need_h;
    if (max_h > 0 && h > max_h) h = max_h;
    ka_gui_widget_set_rect(app->gui, id, x, y, w, h);
    return h;
}

static void _build_warning(LUMIKEY_APP *app, float W, float H, float pad, float bh) {
    KA_GUI_CTX *g = app->gui;
    float pw = W - 4 * pad;
    int win = ui_popup(app, pw, H / 2);
    app->receive.warn_win = win;
    if (win < 0) return;
    ka_gui_add_label(g, win, i18n_tr("Send + receive (experimental)"), pad, pad, pw - 2 * pad, bh,
                     KA_GUI_ALIGN_CENTER);
    int text = ka_gui_add_label(
        g, win,
        i18n_tr("Sending and receiving at the same time is experimental. The camera can pick up "
                "this phone's own flashlight and its reflections: what you send may also be "
                "decoded as received. Prefer sound or vibration, or keep the camera away from "
                "your own light."),
        pad, pad + bh, pw - 2 * pad, bh, KA_GUI_ALIGN_JUSTIFY);
    float th =
        _fit_label(app, text, pad, pad + bh, pw - 2 * pad,
                   (float)al_get_font_line_height(app->font), H - 2 * pad - (3 * pad + 2 * bh));
    float ph = 3 * pad + 2 * bh + th;
    float top = H / 4;
    if (top + ph > H - pad) top = H - pad - ph;
    ka_gui_window_set_rect_axes(g, win, (W - pw) / 2, top, pw, ph, 0, 0);
    float hw = (pw - 3 * pad) / 2, by = 2 * pad + bh + th;
    ka_gui_add_button(g, win, i18n_tr("Enable"), pad, by, hw, bh, 1, _on_enable, app);
    ka_gui_add_button(g, win, i18n_tr("Cancel"), 2 * pad + hw, by, hw, bh, 1, _on_warn_cancel, app);
}

// The receive window's measures, worked out once per build and shared by its rows.
struct RX_LAYOUT {
    KA_GUI_CTX *g;
    int win;
    float W, H, pad, bh, bw, L, Lb;
    float y;           // top of the next row
    float bottom;      // top of the bottom row's margin
    float content_end; // where the rows above the bottom stop
};

static void _build_title_row(LUMIKEY_APP *app, RX_LAYOUT &l) {
    RECEIVE_SCREEN *rs = &app->receive;
    ka_gui_add_button(l.g, l.win, i18n_tr("Back"), l.pad, l.pad, l.bw, l.bh, 1, _on_back, app);
    ka_gui_add_label(l.g, l.win, rs->duplex ? i18n_tr("Send + receive") : i18n_tr("Receive"),
                     2 * l.pad + l.bw, l.pad, l.W - 2 * l.bw - 4 * l.pad, l.bh,
                     KA_GUI_ALIGN_CENTER);
    ka_gui_add_button(l.g, l.win, i18n_tr("Received"), l.W - l.bw - l.pad, l.pad, l.bw, l.bh, 1,
                      _on_received, app);
    l.y = 2 * l.pad + l.bh;
}

// Coming to the screen on a machine without a camera, the microphone is the one that can
// start; choosing the camera afterwards stays the user's choice. Says whether it was switched.
static int _choose_source(LUMIKEY_APP *app) {
    RECEIVER *rx = &app->rx;
    int no_camera = !rx->active && rx->source == RX_SOURCE_CAMERA && !capture_supported();
    int to_mic = no_camera && app->built_screen != SCREEN_RECEIVE && mic_supported();
    if (to_mic) rx->source = RX_SOURCE_MIC;
    return to_mic;
}

// The source row, where the sound input can stand in for a camera.
static void _build_source_row(LUMIKEY_APP *app, RX_LAYOUT &l) {
    RECEIVER *rx = &app->rx;
    if (!mic_supported()) {
        rx->source = RX_SOURCE_CAMERA;
        return;
    }
    float hw = (l.W - 3 * l.pad) / 2;
    ka_gui_add_toggle_button(l.g, l.win, i18n_tr("Camera"), l.pad, l.y, hw, l.bh, 1,
                             rx->source == RX_SOURCE_CAMERA, _on_camera, app);
    ka_gui_add_toggle_button(l.g, l.win, i18n_tr("Microphone"), 2 * l.pad + hw, l.y, hw, l.bh, 1,
                             rx->source == RX_SOURCE_MIC, _on_mic, app);
    l.y += l.bh + l.pad;
}

// Send + receive: the warning under the source row (unless the soft keyboard takes the room)
// and the message row above the bottom, or above the keyboard.
static void _build_send_row(LUMIKEY_APP *app, RX_LAYOUT &l) {
    RECEIVE_SCREEN *rs = &app->receive;
    KA_GUI_CTX *g = l.g;
    float W = l.W, pad = l.pad, bh = l.bh;
    if (app->kb_overlap <= 0) {
        int warn = ka_gui_add_label(
            g, l.win,
            i18n_tr("Experimental: the camera can also pick up this phone's own flashlight."), pad,
            l.y, W - 2 * pad, l.L, KA_GUI_ALIGN_JUSTIFY);
        KA_GUI_WIDGET *w = ka_gui_get_widget(g, warn);
        if (w) w->theme.text_normal = app_rgb(UI_WARN_RGB);
        l.y += _fit_label(app, warn, pad, l.y, W - 2 * pad, l.L, 0) + pad;
    }
    float row = app->kb_overlap > 0 ? l.H - (float)app->kb_overlap - pad - bh : l.bottom - bh;
    float sw = app_px(app, 100);
    rs->msg_field =
        ka_gui_add_textarea(g, l.win, pad, row, W - sw - 3 * pad, bh, 0, 511, nullptr, nullptr);
    ka_gui_textarea_set_placeholder(g, rs->msg_field, i18n_tr("Message to send..."));
    if (rs->msg_text[0]) ka_gui_textarea_set_text(g, rs->msg_field, rs->msg_text);
    rs->send_button = ka_gui_add_button(g, l.win, rs->sending ? i18n_tr("Stop") : i18n_tr("Send"),
                                        W - sw - pad, row, sw, bh, 1, _on_send, app);
    l.content_end = row - pad;
}

// The camera preview, as large as the room left for it allows in the camera's orientation;
// none for the microphone or when it would be too small to aim with.
static void _build_preview(LUMIKEY_APP *app, RX_LAYOUT &l, float mh, float sh) {
    RECEIVE_SCREEN *rs = &app->receive;
    float W = l.W, pad = l.pad, L = l.L;
    int o = capture_orientation();
    app->rx_orientation = o;
    float a = (o == 90 || o == 270) ? 0.75f : 4.0f / 3.0f;
    float room = l.content_end - l.y;
    float avail = room - pad - mh - (l.Lb + 2 * L) - sh - pad;
    float limit = room * (rs->duplex ? 0.5f : 0.6f);
    float box_h = avail < limit ? avail : limit;
    float pw, ph;
    if ((W - 2 * pad) / a > box_h) {
        pw = a * box_h;
        ph = box_h;
    } else {
        pw = W - 2 * pad;
        ph = (W - 2 * pad) / a;
    }
    if (ph >= 2 * L && app->rx.source == RX_SOURCE_CAMERA) {
        int prev = ka_gui_add_custom(l.g, l.win, (W - pw) / 2, l.y, pw, ph, _draw_preview, app);
        ka_gui_custom_set_mouse(l.g, prev, _preview_mouse, app);
        l.y += ph + pad;
    }
}

// The level meter, the live text and the status line under it.
static void _build_live(LUMIKEY_APP *app, RX_LAYOUT &l, float mh, float sh) {
    float W = l.W, pad = l.pad;
    ka_gui_add_custom(l.g, l.win, pad, l.y, W - 2 * pad, mh, _draw_meter, app);
    l.y += mh + pad;
    float th = l.content_end - l.y - sh;
    if (th < l.L) th = l.L;
    text_view_add(app, &app->rx_text, l.win, pad, l.y, W - 2 * pad, th, _live_fill, app);
    app->receive.status_label = ka_gui_add_label(l.g, l.win, "", pad, l.y + th, W - 2 * pad,
                                                 0.6f * l.bh, KA_GUI_ALIGN_CENTER);
}

static void _build_bottom_row(LUMIKEY_APP *app, RX_LAYOUT &l) {
    RECEIVE_SCREEN *rs = &app->receive;
    float W = l.W, pad = l.pad;
    float by = l.bottom + pad, sw = 0.58f * (W - 3 * pad);
    rs->start_button =
        ka_gui_add_button(l.g, l.win, app->rx.active ? i18n_tr("Stop") : i18n_tr("Start"), pad, by,
                          sw, l.bh, 1, _on_start, app);
    ka_gui_add_button(l.g, l.win, rs->duplex ? i18n_tr("Receive only") : i18n_tr("Send + receive"),
                      sw + 2 * pad, by, W - 3 * pad - sw, l.bh, 1, _on_mode, app);
}

// The status line a fresh build starts with: what stands in the way, else what to do next.
static void _show_first_status(LUMIKEY_APP *app, int to_mic) {
    RECEIVER *rx = &app->rx;
    RECEIVE_SCREEN *rs = &app->receive;
    _building = 1;
    if (to_mic) {
        screen_receive_status(app, i18n_tr("No webcam found: microphone selected"));
    } else if (rx->source == RX_SOURCE_CAMERA && !capture_supported()) {
        screen_receive_status(app, i18n_tr("No webcam found"));
    } else if (rs->sending) {
        screen_receive_send_started(app, 0);
    } else if (rs->duplex && !_can_send(app)) {
        screen_receive_status(app, i18n_tr("Turn on the flashlight, sound or vibration to send"));
    } else if (rs->status[0]) {
        screen_receive_status(app, rs->status);
    } else if (!rx->active && rx->source == RX_SOURCE_MIC) {
        screen_receive_status(app, capture_supported()
                                       ? i18n_tr("Press Start to listen to the microphone")
                                       : i18n_tr("No webcam found: microphone selected"));
    } else if (!rx->active) {
        screen_receive_status(app, i18n_tr("Tap the preview to move the detection square"));
    }
    _building = 0;
}

void screen_receive_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    RECEIVE_SCREEN *rs = &app->receive;
    RX_LAYOUT l{};
    l.g = app->gui;
    l.W = (float)app->disp_w;
    l.H = (float)app->disp_h;
    l.pad = app_px(app, 12);
    l.bh = app_px(app, 52);
    l.bw = app_px(app, 120);
    l.L = (float)al_get_font_line_height(app->font);
    l.Lb = (float)al_get_font_line_height(app->font_big ? app->font_big : app->font);
    rs->warn_win = rs->msg_field = rs->send_button = -1;
    rs->status_label = rs->start_button = -1;

    l.win = app_add_fixed_window(app, "Receive", 0, 0, l.W, l.H);
    if (l.win < 0) return;

    _build_title_row(app, l);
    int to_mic = _choose_source(app);
    _build_source_row(app, l);
    l.bottom = l.H - app_px(app, 28) - l.bh - l.pad;
    l.content_end = l.bottom;
    if (rs->duplex) _build_send_row(app, l);
    float mh = app_px(app, 30), sh = 0.7f * l.bh; // meter and status heights
    _build_preview(app, l, mh, sh);
    _build_live(app, l, mh, sh);
    _build_bottom_row(app, l);
    ka_gui_open_window(l.g, l.win);

    if (!rs->duplex) _build_warning(app, l.W, l.H, l.pad, l.bh);
    _show_first_status(app, to_mic);
}
