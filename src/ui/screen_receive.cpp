// src/ui/screen_receive.cpp: the receive screen. The capture thread feeds the decoder through
// the sink under the receiver's lock and queues what it finishes; the main thread saves the
// queue, draws the meter, the preview and the live text, and in "Send + receive" mode sends
// through the outputs while the camera keeps watching.
#include "ui/screen_receive.hpp"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <allegro5/allegro_primitives.h>

#include "audio/mic.hpp"
#include "audio/tone.hpp"
#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "model/json_store.hpp"
#include "phone/camera_capture.hpp"
#include "phone/torch.hpp"
#include "phone/vibrator.hpp"
#include "platform/platform_desktop.hpp"
#include "platform/wake_event.hpp"
#include "support/ka_common.hpp"
#include "ui/text_view.hpp"
#include "ui/touch_list.hpp"
#include "ui/ui_popup.hpp"

static const uint32_t TEXT_RGB = 0xE8EAF0;
static const uint32_t DIM_RGB = 0x7A8090;
static const uint32_t SAVED_RGB = 0x00E676;
static const uint32_t LAMP_OFF_RGB = 0x303540;
static const uint32_t RX_LAMP_RGB = 0xFFD54A;
static const uint32_t TX_LAMP_RGB = 0xFF5252;
static const uint32_t TRACK_RGB = 0x2C303A;
static const uint32_t BAND_SIGNAL_RGB = 0x3D4B6B;
static const uint32_t BAND_NOISE_RGB = 0x3A3A3A;
static const uint32_t PREVIEW_BG_RGB = 0x1C1F27;
static const uint32_t WARN_RGB = 0xFFB74D;

// The receiver's lock, held for a scope.
struct RX_HOLD {
    explicit RX_HOLD(RECEIVER *rx) : m(&rx->lock) { pthread_mutex_lock(m); }
    ~RX_HOLD() { pthread_mutex_unlock(m); }
    RX_HOLD(const RX_HOLD &) = delete;
    RX_HOLD &operator=(const RX_HOLD &) = delete;
    pthread_mutex_t *m;
};

// Set while screen_receive_build runs: the new widgets count as built before the loop notes it.
static int _building;

// The widget ids in rx name this screen's widgets (they mean nothing once another is built).
static int _built(LUMIKEY_APP *app) {
    return app->gui && app->screen == SCREEN_RECEIVE &&
           (_building || app->built_screen == SCREEN_RECEIVE);
}

int app_receiver_init(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    RECEIVER *rx = &app->rx;
    if (pthread_mutex_init(&rx->lock, nullptr) != 0) {
        ka_log(LOG_ERR, "could not create the receiver lock");
        return 0;
    }
    rx->status_label = rx->start_button = rx->msg_field = rx->send_button = rx->warn_win = -1;
    return 1;
}

void app_receiver_destroy(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    pthread_mutex_destroy(&app->rx.lock);
}

void screen_receive_status(LUMIKEY_APP *app, const char *text) {
    __ka_assert(app, return );
    RECEIVER *rx = &app->rx;
    if (text != rx->status) ka_copy_text(rx->status, sizeof rx->status, text ? text : "");
    if (_built(app) && rx->status_label >= 0)
        ka_gui_label_set_text(app->gui, rx->status_label, rx->status);
    app->redraw = 1;
}

static void _set_button(LUMIKEY_APP *app, int id, const char *label) {
    if (_built(app) && id >= 0) ka_gui_button_set_label(app->gui, id, i18n_tr(label));
}

// --- The capture thread's side ---

// With the hold taken: keeps a level for the trace when one is drawn.
static void _trace(RECEIVER *rx, double t_ms, float level) {
    if (!rx->tracing) return;
    size_t slot = rx->trace_count % RX_TRACE_MAX;
    rx->trace_t[slot] = (float)t_ms;
    rx->trace_luma[slot] = level;
    rx->trace_count++;
}

// With the hold taken: moves a finished message from the decoder to the queue. A full queue
// leaves finished messages with the decoder until the main thread has saved the others: none
// is lost, they only arrive a frame later.
static void _take_message(RECEIVER *rx) {
    if (rx->nqueue < (int)RX_QUEUE_MAX && decoder_poll_message(rx->decoder, &rx->queue[rx->nqueue]))
        rx->nqueue++;
}

void screen_receive_sink(double t_ms, float luma, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVER *rx = &app->rx;
    ALLEGRO_EVENT_SOURCE *wake;
    {
        RX_HOLD hold(rx);
        _trace(rx, t_ms, luma);
        if (rx->decoder) {
            decoder_feed(rx->decoder, t_ms, luma);
            _take_message(rx);
        }
        wake = rx->wake;
    }
    lumikey_wake(wake);
}

// The microphone's sink: the edges the tone detector found in one block of sound, and how far
// the keying is decided. Capture thread, like the camera's frames.
static void _mic_sink(const MIC_BLOCK *block, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVER *rx = &app->rx;
    ALLEGRO_EVENT_SOURCE *wake;
    {
        RX_HOLD hold(rx);
        _trace(rx, block->t_ms, block->level);
        if (rx->decoder) {
            mic_feed(block, rx->decoder);
            _take_message(rx);
        }
        wake = rx->wake;
    }
    lumikey_wake(wake);
}

// When the microphone's clock began (its times count the samples received since its start),
// so that its trace rows meet the screen light's edges. Main thread.
static int64_t _mic_t0_ns = -1;

static int64_t _mono_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

// --- Trace files ---

size_t screen_receive_format_trace(LUMIKEY_APP *app, const char *text, int64_t t0_mono_ns,
                                   char *out, size_t out_size) {
    __ka_assert(app, return 0);
    __ka_assert(out && out_size > 0, return 0);
    RECEIVER *rx = &app->rx;
    size_t len = 0;
    int w = snprintf(out, out_size, "# text: %s\n# t_ms,luma,tx\n", text ? text : "");
    if (w < 0 || (size_t)w >= out_size) {
        out[0] = '\0';
        return 0;
    }
    len = (size_t)w;

    // The light's edges, oldest first. The player thread may be writing the ring: every word
    // is read atomically and edges are matched by time, so a torn pair costs one row's tx.
    SCREEN_LIGHT *light = &app->light;
    size_t count = screen_light_edge_count(light);
    size_t nedges = count < SCREEN_LIGHT_EDGES ? count : SCREEN_LIGHT_EDGES;
    size_t first_edge = count - nedges, e = 0;
    int tx_on = 0;

    size_t n = rx->trace_count < RX_TRACE_MAX ? rx->trace_count : RX_TRACE_MAX;
    for (size_t k = rx->trace_count - n; k < rx->trace_count; k++) {
        size_t slot = k % RX_TRACE_MAX;
        int tx = -1;
        if (t0_mono_ns >= 0) {
            int64_t at = t0_mono_ns + (int64_t)llround((double)rx->trace_t[slot] * 1e6);
            while (e < nedges) {
                size_t s = (first_edge + e) % SCREEN_LIGHT_EDGES;
                uint64_t t =
                    std::atomic_ref<uint64_t>(light->edge_ns[s]).load(std::memory_order_relaxed);
                if (at < 0 || t > (uint64_t)at) break;
                tx_on = std::atomic_ref<uint8_t>(light->edge_on[s]).load(std::memory_order_relaxed);
                e++;
            }
            tx = tx_on ? 1 : 0;
        }
        char row[64];
        int rl = snprintf(row, sizeof row, "%.3f,%.2f,%d\n", (double)rx->trace_t[slot],
                          (double)rx->trace_luma[slot], tx);
        if (rl < 0 || len + (size_t)rl >= out_size) continue; // dropped, as the buffer says
        memcpy(out + len, row, (size_t)rl + 1);
        len += (size_t)rl;
    }
    return len;
}

// A name of the form trace_%Y%m%d_%H%M%S.csv that no earlier trace uses: two messages ending in
// the same second would otherwise share one file and the first trace would be lost.
static void _trace_name(char *name, size_t size) {
    time_t now = time(nullptr);
    struct tm local;
    char stamp[64];
    if (!localtime_r(&now, &local) || !strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local))
        snprintf(stamp, sizeof stamp, "%lld", (long long)now);
    snprintf(name, size, "trace_%s.csv", stamp);
    for (int k = 2; k < 100; k++) {
        char path[1024];
        struct stat st;
        if (!platform_save_path(name, path, sizeof path) || stat(path, &st) != 0) return;
        snprintf(name, size, "trace_%s_%d.csv", stamp, k);
    }
}

int screen_receive_dump_trace(LUMIKEY_APP *app, const char *text) {
    __ka_assert(app, return 0);
    RECEIVER *rx = &app->rx;
    if (!text) text = "";
    int64_t t0 = rx->source == RX_SOURCE_MIC ? _mic_t0_ns : capture_t0_mono_ns();
    char *buf = nullptr;
    size_t samples = 0;
    {
        RX_HOLD hold(rx);
        if (rx->trace_count == 0) return 0;
        samples = rx->trace_count < RX_TRACE_MAX ? rx->trace_count : RX_TRACE_MAX;
        size_t size = strlen(text) + 28 * samples + 96;
        if (rx->tracing) buf = (char *)malloc(size);
        if (buf) {
            screen_receive_format_trace(app, text, t0, buf, size);
        } else if (rx->tracing) {
            ka_log(LOG_ERR, "no memory for the debug trace");
        }
        rx->trace_count = 0;
    }
    if (!buf) return 0;
    char name[96];
    _trace_name(name, sizeof name);
    int ok = store_write_save(name, buf);
    free(buf);
    if (ok) {
        ka_log(LOG_INFO, "debug trace written: %s (%zu samples)", name, samples);
    } else {
        ka_log(LOG_ERR, "could not save %s", name);
    }
    return ok;
}

// --- Saving messages ---

// The line about the last message kept says whether received.json holds it.
static void _show_kept(LUMIKEY_APP *app, int saved) {
    RECEIVER *rx = &app->rx;
    rx->last_unsaved = !saved;
    snprintf(rx->last_saved, sizeof rx->last_saved,
             saved ? i18n_tr("Saved: %s") : i18n_tr("Not saved yet: %s"), rx->last_text);
    rx->last_saved[ka_utf8_cut_len(rx->last_saved, sizeof rx->last_saved - 1)] = '\0';
    app->redraw = 1;
}

static void _save(LUMIKEY_APP *app, const DECODED_MESSAGE *msg) {
    RECEIVER *rx = &app->rx;
    received_add(app->received, (int64_t)time(nullptr), msg->text, msg->symbols, msg->unit_ms);
    ka_copy_text(rx->last_text, sizeof rx->last_text, msg->text);
    _show_kept(app, app_save_received(app));
    screen_receive_dump_trace(app, msg->text);
    ka_log(LOG_INFO, "received '%s' (unit %u ms)", msg->text, msg->unit_ms);
    app->redraw = 1;
}

// Takes the queue's messages under the lock; the caller saves them outside it.
static int _take_queue(RECEIVER *rx, DECODED_MESSAGE *out) {
    RX_HOLD hold(rx);
    int n = rx->nqueue;
    for (int i = 0; i < n; i++) out[i] = rx->queue[i];
    rx->nqueue = 0;
    return n;
}

void app_receiver_stop(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    RECEIVER *rx = &app->rx;
    // Only the main thread creates and frees the decoder, so it reads the pointer unlocked.
    if (!rx->active && !rx->decoder) {
        rx->waiting_permission = 0;
        return;
    }
    // Not under the lock: the frame or block under way needs it to finish, and both stops wait
    // for it. Stopping the source that does not run costs nothing.
    capture_stop();
    mic_stop();
    static DECODED_MESSAGE taken[RX_QUEUE_MAX];
    static DECODED_MESSAGE last;
    int n, finished = 0;
    {
        RX_HOLD hold(rx);
        n = rx->nqueue;
        for (int i = 0; i < n; i++) taken[i] = rx->queue[i];
        rx->nqueue = 0;
        memset(&last, 0, sizeof last);
        if (rx->decoder) finished = decoder_finish(rx->decoder, &last);
        decoder_free(&rx->decoder);
    }
    for (int i = 0; i < n; i++)
        if (taken[i].text[0]) _save(app, &taken[i]);
    if (finished && last.text[0]) {
        _save(app, &last);
    } else {
        screen_receive_dump_trace(app, "");
    }
    rx->active = 0;
    rx->waiting_permission = 0;
}

// --- The main thread's pass ---

void screen_receive_update(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    RECEIVER *rx = &app->rx;
    // A later save, or the loop's retry, has written it since.
    if (rx->last_unsaved && !app_file_unsaved(app, APP_FILE_RECEIVED)) _show_kept(app, 1);
    int mic = rx->active && rx->source == RX_SOURCE_MIC ? mic_state() : 0;
    if (mic < 0) {
        app_receiver_stop(app);
        _set_button(app, rx->start_button, "Start");
        // A server that was never reached is not one that went away.
        screen_receive_status(app, mic == MIC_NO_INPUT
                                       ? i18n_tr("No sound input: is a sound server running?")
                                       : i18n_tr("The sound input stopped (sound server gone?)"));
    } else if (rx->active && rx->source == RX_SOURCE_CAMERA && capture_state() < 0) {
        app_receiver_stop(app);
        _set_button(app, rx->start_button, "Start");
        screen_receive_status(app, i18n_tr("The camera stopped (in use by another app?)"));
    }
    static DECODED_MESSAGE taken[RX_QUEUE_MAX];
    int n = _take_queue(rx, taken);
    for (int i = 0; i < n; i++)
        if (taken[i].text[0]) _save(app, &taken[i]);
    if (n > 0) app->redraw = 1;

    if (rx->sending && screen_light_stopped(&app->light) && !player_is_playing(app->player)) {
        int finished = std::atomic_ref<int>(app->light.finished).load();
        app_stop_playback(app);
        rx->sending = 0;
        _set_button(app, rx->send_button, "Send");
        screen_receive_status(app, finished ? i18n_tr("Sent") : i18n_tr("Sending stopped"));
    }
}

void screen_receive_leave(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if (app->rx.sending) {
        app_stop_playback(app);
        app->rx.sending = 0;
    }
    if (app->rx_ready) app_receiver_stop(app);
    app->rx.status[0] = '\0';
}

void screen_receive_release(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if (app->rx.preview_bmp) al_destroy_bitmap(app->rx.preview_bmp);
    app->rx.preview_bmp = nullptr;
}

// --- Start and stop ---

// A decoder for light or sound, with the user's end-of-message silence. Null when out of memory.
static MORSE_DECODER *_new_decoder(LUMIKEY_APP *app) {
    DECODER_CONFIG cfg;
    decoder_config_default(&cfg);
    cfg.eom_timeout_ms = app->settings.eom_timeout_ms;
    return decoder_new(&cfg);
}

// Hands the receiver a fresh decoder and an empty queue and trace before a source starts.
static void _arm(LUMIKEY_APP *app, MORSE_DECODER *dec) {
    RECEIVER *rx = &app->rx;
    RX_HOLD hold(rx);
    decoder_free(&rx->decoder);
    rx->decoder = dec;
    rx->nqueue = 0;
    rx->trace_count = 0;
    rx->tracing = app->settings.debug_overlay;
    rx->wake = app->wake_source_ready ? &app->wake_source : nullptr;
}

static void _disarm(RECEIVER *rx) {
    RX_HOLD hold(rx);
    decoder_free(&rx->decoder);
}

static void _start_mic(LUMIKEY_APP *app) {
    RECEIVER *rx = &app->rx;
    MORSE_DECODER *dec = _new_decoder(app);
    if (!dec) {
        screen_receive_status(app, i18n_tr("No sound input: is a sound server running?"));
        return;
    }
    _arm(app, dec);
    _mic_t0_ns = _mono_ns();
    rx->active = mic_start(_mic_sink, app) == 1;
    if (rx->active) {
        screen_receive_status(app, i18n_tr("Listening: play Morse to the microphone"));
    } else {
        _disarm(rx);
        screen_receive_status(app, i18n_tr("No sound input: is a sound server running?"));
    }
    _set_button(app, rx->start_button, rx->active ? "Stop" : "Start");
}

void screen_receive_start_stop(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    RECEIVER *rx = &app->rx;
    if (rx->active) {
        app_receiver_stop(app);
        _set_button(app, rx->start_button, "Start");
        screen_receive_status(app, i18n_tr("Stopped"));
        return;
    }
    if (rx->source == RX_SOURCE_MIC) {
        _start_mic(app);
        return;
    }
    if (!capture_supported()) {
        screen_receive_status(app, i18n_tr("The camera receiver needs Android"));
        return;
    }
    if (!capture_has_permission()) {
        rx->waiting_permission = 1;
        capture_request_permission();
        screen_receive_status(app, i18n_tr("Allow the camera to receive messages"));
        return;
    }
    // The camera session may need the flash; a send in duplex mode keeps its own.
    if (!rx->duplex) torch_shutdown();
    MORSE_DECODER *dec = _new_decoder(app);
    if (!dec) {
        screen_receive_status(app, i18n_tr("The camera could not be opened"));
        return;
    }
    _arm(app, dec);
    float cx = 0.5f, cy = 0.5f;
    capture_get_roi(&cx, &cy, nullptr);
    capture_set_roi(cx, cy, (float)app->settings.roi_pct / 100.0f);
    capture_set_front(app->settings.rx_front_camera);
    int rc = capture_start(320, 240, (int)app->settings.fps_target, screen_receive_sink, app);
    rx->active = rc == 1 || rc == 2;
    if (!rx->active) _disarm(rx);
    if (rx->active) {
        screen_receive_status(app, i18n_tr("Point the camera at the blinking light"));
    } else if (rc == -1) {
        screen_receive_status(app, i18n_tr("Camera permission needed"));
    } else {
        screen_receive_status(app, i18n_tr("The camera could not be opened"));
    }
    _set_button(app, rx->start_button, rx->active ? "Stop" : "Start");
}

static void _on_start(int, void *user) {
    screen_receive_start_stop((LUMIKEY_APP *)user);
}

// --- Live text ---

static size_t _live_fill(void *user, TEXT_PARA *paras, size_t max) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVER *rx = &app->rx;
    static DECODED_MESSAGE live;
    live.text[0] = live.symbols[0] = '\0';
    {
        RX_HOLD hold(rx);
        if (rx->decoder) decoder_live(rx->decoder, &live);
    }
    size_t n = 0;
    if (n < max) {
        paras[n].font = app->font_big;
        if (live.text[0]) {
            paras[n].rgb = TEXT_RGB;
            paras[n].text = live.text;
        } else {
            paras[n].rgb = DIM_RGB;
            paras[n].text = rx->active ? i18n_tr("(waiting for a signal)") : "";
        }
        n++;
    }
    if (n < max && live.symbols[0]) paras[n++] = {nullptr, DIM_RGB, live.symbols};
    if (n < max && rx->last_saved[0])
        paras[n++] = {nullptr, rx->last_unsaved ? WARN_RGB : SAVED_RGB, rx->last_saved};
    return n;
}

// --- Meter ---

static int _tx_on(LUMIKEY_APP *app) {
    if (!app->rx.sending || screen_light_stopped(&app->light)) return 0;
    const MORSE_SEQUENCE *seq = player_sequence(app->player);
    size_t i = screen_light_index(&app->light);
    return seq && i < seq->count && seq->events[i].state < MORSE_SYM_GAP;
}

static void _draw_meter(KA_GUI_WIDGET *widget, float x, float y, ALLEGRO_FONT *, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVER *rx = &app->rx;
    DECODER_STATUS st;
    memset(&st, 0, sizeof st);
    {
        RX_HOLD hold(rx);
        if (rx->decoder) decoder_status(rx->decoder, &st);
    }
    // The sound's level, noise, marks and thresholds take the place of the light's.
    if (rx->source == RX_SOURCE_MIC) mic_meter(&st);
    float W = widget->w, p = app_px(app, 8), l = app_px(app, 14), mh = app_px(app, 14);
    float my = y + p, mx = x + 2 * l + 2 * p, mw = W - 2 * l - 3 * p;
    if (rx->duplex) {
        mw -= 2 * l + p;
        al_draw_filled_circle(x + W - p - l, my + mh / 2, l,
                              app_rgb(_tx_on(app) ? TX_LAMP_RGB : LAMP_OFF_RGB));
    }
    al_draw_filled_circle(x + p + l, my + mh / 2, l, app_rgb(st.on ? RX_LAMP_RGB : LAMP_OFF_RGB));
    al_draw_filled_rectangle(mx, my, mx + mw, my + mh, app_rgb(TRACK_RGB));
    if (!rx->active) return;
    float k = mw / 255.0f;
    al_draw_filled_rectangle(mx + k * st.lo, my, mx + k * st.hi, my + mh,
                             app_rgb(st.has_signal ? BAND_SIGNAL_RGB : BAND_NOISE_RGB));
    al_draw_line(mx + k * st.th_on, my - 3, mx + k * st.th_on, my + mh + 3, app_rgb(RX_LAMP_RGB),
                 2);
    al_draw_line(mx + k * st.th_off, my - 3, mx + k * st.th_off, my + mh + 3, app_rgb(DIM_RGB), 2);
    al_draw_filled_rectangle(mx + k * st.luma - 2, my - 4, mx + k * st.luma + 2, my + mh + 4,
                             app_rgb(TEXT_RGB));
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
    RECEIVER *rx = &app->rx;
    if (!rx->preview_bmp) {
        int flags = al_get_new_bitmap_flags();
        al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR | ALLEGRO_MAG_LINEAR);
        rx->preview_bmp = al_create_bitmap(CAPTURE_PREVIEW_W, CAPTURE_PREVIEW_H);
        al_set_new_bitmap_flags(flags);
        if (!rx->preview_bmp) return 0;
    }
    ALLEGRO_LOCKED_REGION *lr =
        al_lock_bitmap(rx->preview_bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lr) return 0;
    for (int row = 0; row < CAPTURE_PREVIEW_H; row++) {
        uint8_t *px = (uint8_t *)lr->data + (ptrdiff_t)row * lr->pitch;
        for (int col = 0; col < CAPTURE_PREVIEW_W; col++) {
            uint8_t g = grey[row * CAPTURE_PREVIEW_W + col];
            px[4 * col] = px[4 * col + 1] = px[4 * col + 2] = g;
            px[4 * col + 3] = 255;
        }
    }
    al_unlock_bitmap(rx->preview_bmp);
    return 1;
}

static void _draw_preview(KA_GUI_WIDGET *widget, float x, float y, ALLEGRO_FONT *font, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVER *rx = &app->rx;
    float W = widget->w, H = widget->h;
    rx->box_x = x, rx->box_y = y, rx->box_w = W, rx->box_h = H;
    al_draw_filled_rectangle(x, y, x + W, y + H, app_rgb(PREVIEW_BG_RGB));
    int o = capture_orientation();
    app->rx_orientation = o;
    if (rx->active && _show_preview(app)) {
        int side = o == 90 || o == 270;
        float sx = side ? H / CAPTURE_PREVIEW_W : W / CAPTURE_PREVIEW_W;
        float sy = side ? W / CAPTURE_PREVIEW_H : H / CAPTURE_PREVIEW_H;
        al_draw_scaled_rotated_bitmap(rx->preview_bmp, CAPTURE_PREVIEW_W / 2.0f,
                                      CAPTURE_PREVIEW_H / 2.0f, x + W / 2, y + H / 2, sx, sy,
                                      (float)o * (float)M_PI / 180.0f, 0);
    } else if (font) {
        const char *msg = rx->active ? i18n_tr("Opening the camera...")
                                     : i18n_tr("Press Start, then point the camera at the light");
        float lh = (float)al_get_font_line_height(font);
        al_draw_text(font, app_rgb(DIM_RGB), x + W / 2, y + H / 2 - lh / 2, ALLEGRO_ALIGN_CENTRE,
                     msg);
    }
    float cx = 0.5f, cy = 0.5f, sd = 0.2f, u, v;
    capture_get_roi(&cx, &cy, &sd);
    _frame_to_box(o, cx, cy, &u, &v);
    float s = (W < H ? W : H) * sd;
    al_draw_rectangle(x + W * u - s / 2, y + H * v - s / 2, x + W * u + s / 2, y + H * v + s / 2,
                      app_rgb(SAVED_RGB), app_px(app, 2));
    if (!app->settings.debug_overlay || !rx->active || !font) return;
    DECODER_STATUS st;
    memset(&st, 0, sizeof st);
    {
        RX_HOLD hold(rx);
        if (rx->decoder) decoder_status(rx->decoder, &st);
    }
    char line[160];
    float lx = x + app_px(app, 4), ly = y + app_px(app, 4),
          lh = (float)al_get_font_line_height(font);
    ALLEGRO_COLOR c = app_rgb(RX_LAMP_RGB);
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
    RECEIVER *rx = &app->rx;
    if (e->type == KA_GUI_MOUSE_RELEASE) return 1;
    if (e->type != KA_GUI_MOUSE_PRESS && e->type != KA_GUI_MOUSE_DRAG) return 0;
    if (rx->box_w <= 0 || rx->box_h <= 0) return 1;
    float cx, cy, side = 0.2f;
    _box_to_frame(app->rx_orientation, e->x / rx->box_w, e->y / rx->box_h, &cx, &cy);
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
    RECEIVER *rx = &app->rx;
    if (!rx->duplex || rx->sending || rx->msg_field < 0 || !_built(app)) return;
    const char *text = ka_gui_textarea_get_text(app->gui, rx->msg_field);
    if (!text || !text[0]) return;
    if (!_can_send(app)) {
        screen_receive_status(app, i18n_tr("Turn on the flashlight, sound or vibration to send"));
        return;
    }
    app_send_message(app, text);
}

void screen_receive_send_started(LUMIKEY_APP *app, int fresh) {
    __ka_assert(app, return );
    RECEIVER *rx = &app->rx;
    _set_button(app, rx->send_button, "Stop");
    if (fresh) {
        if (_built(app) && rx->msg_field >= 0)
            ka_gui_textarea_set_text(app->gui, rx->msg_field, "");
        rx->msg_text[0] = '\0';
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
    if (app->rx.sending) {
        app_request_stop(app);
    } else {
        screen_receive_send(app);
    }
}

static int _warn_open(LUMIKEY_APP *app) {
    return app->gui && app->rx.warn_win >= 0 && ka_gui_window_is_open(app->gui, app->rx.warn_win);
}

static void _on_mode(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    RECEIVER *rx = &app->rx;
    if (rx->duplex) {
        if (rx->sending) app_request_stop(app);
        rx->duplex = 0;
        app->needs_rebuild = 1;
        return;
    }
    if (rx->warn_win < 0) return;
    ka_gui_open_window(app->gui, rx->warn_win);
    ka_gui_raise_window(app->gui, rx->warn_win);
    app->redraw = 1;
}

static void _on_enable(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    ka_gui_close_window(app->gui, app->rx.warn_win);
    app->rx.duplex = 1;
    app->needs_rebuild = 1;
}

static void _on_warn_cancel(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    ka_gui_close_window(app->gui, app->rx.warn_win);
    app->redraw = 1;
}

int screen_receive_back(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    if (_warn_open(app)) {
        ka_gui_close_window(app->gui, app->rx.warn_win);
        app->redraw = 1;
        return 1;
    }
    if (app->rx.sending) {
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
    if (rx->active) app_receiver_stop(app);
    // The status spoke of the other source.
    if (rx->source != source) rx->status[0] = '\0';
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
    app->rx.warn_win = win;
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

void screen_receive_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    KA_GUI_CTX *g = app->gui;
    RECEIVER *rx = &app->rx;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), bw = app_px(app, 120);
    float L = (float)al_get_font_line_height(app->font);
    float Lb = (float)al_get_font_line_height(app->font_big ? app->font_big : app->font);
    rx->warn_win = rx->msg_field = rx->send_button = -1;
    rx->status_label = rx->start_button = -1;

    int win = ka_gui_add_window(g, "Receive", 0, 0, W, H);
    if (win < 0) return;
    ka_gui_window_set_flags(g, win, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);

    ka_gui_add_button(g, win, i18n_tr("Back"), pad, pad, bw, bh, 1, _on_back, app);
    ka_gui_add_label(g, win, rx->duplex ? i18n_tr("Send + receive") : i18n_tr("Receive"),
                     2 * pad + bw, pad, W - 2 * bw - 4 * pad, bh, KA_GUI_ALIGN_CENTER);
    ka_gui_add_button(g, win, i18n_tr("Received"), W - bw - pad, pad, bw, bh, 1, _on_received, app);

    float y = 2 * pad + bh;
    // The source row, where the sound input can stand in for a camera.
    if (mic_supported()) {
        float hw = (W - 3 * pad) / 2;
        ka_gui_add_toggle_button(g, win, i18n_tr("Camera"), pad, y, hw, bh, 1,
                                 rx->source == RX_SOURCE_CAMERA, _on_camera, app);
        ka_gui_add_toggle_button(g, win, i18n_tr("Microphone"), 2 * pad + hw, y, hw, bh, 1,
                                 rx->source == RX_SOURCE_MIC, _on_mic, app);
        y += bh + pad;
    } else {
        rx->source = RX_SOURCE_CAMERA;
    }
    float bottom = H - app_px(app, 28) - bh - pad;
    float content_end = bottom;
    if (rx->duplex) {
        if (app->kb_overlap <= 0) {
            int warn = ka_gui_add_label(
                g, win,
                i18n_tr("Experimental: the camera can also pick up this phone's own flashlight."),
                pad, y, W - 2 * pad, L, KA_GUI_ALIGN_JUSTIFY);
            KA_GUI_WIDGET *w = ka_gui_get_widget(g, warn);
            if (w) w->theme.text_normal = app_rgb(WARN_RGB);
            y += _fit_label(app, warn, pad, y, W - 2 * pad, L, 0) + pad;
        }
        float row = app->kb_overlap > 0 ? H - (float)app->kb_overlap - pad - bh : bottom - bh;
        float sw = app_px(app, 100);
        rx->msg_field =
            ka_gui_add_textarea(g, win, pad, row, W - sw - 3 * pad, bh, 0, 511, nullptr, nullptr);
        ka_gui_textarea_set_placeholder(g, rx->msg_field, i18n_tr("Message to send..."));
        if (rx->msg_text[0]) ka_gui_textarea_set_text(g, rx->msg_field, rx->msg_text);
        rx->send_button = ka_gui_add_button(g, win, rx->sending ? i18n_tr("Stop") : i18n_tr("Send"),
                                            W - sw - pad, row, sw, bh, 1, _on_send, app);
        content_end = row - pad;
    }

    int o = capture_orientation();
    app->rx_orientation = o;
    float a = (o == 90 || o == 270) ? 0.75f : 4.0f / 3.0f;
    float mh = app_px(app, 30), sh = 0.7f * bh;
    float room = content_end - y;
    float avail = room - pad - mh - (Lb + 2 * L) - sh - pad;
    float limit = room * (rx->duplex ? 0.5f : 0.6f);
    float box_h = avail < limit ? avail : limit;
    float pw, ph;
    if ((W - 2 * pad) / a > box_h) {
        pw = a * box_h;
        ph = box_h;
    } else {
        pw = W - 2 * pad;
        ph = (W - 2 * pad) / a;
    }
    if (ph >= 2 * L && rx->source == RX_SOURCE_CAMERA) {
        int prev = ka_gui_add_custom(g, win, (W - pw) / 2, y, pw, ph, _draw_preview, app);
        ka_gui_custom_set_mouse(g, prev, _preview_mouse, app);
        y += ph + pad;
    }

    ka_gui_add_custom(g, win, pad, y, W - 2 * pad, mh, _draw_meter, app);
    y += mh + pad;

    float th = content_end - y - sh;
    if (th < L) th = L;
    text_view_add(app, &app->rx_text, win, pad, y, W - 2 * pad, th, _live_fill, app);
    rx->status_label =
        ka_gui_add_label(g, win, "", pad, y + th, W - 2 * pad, 0.6f * bh, KA_GUI_ALIGN_CENTER);

    float by = bottom + pad, sw = 0.58f * (W - 3 * pad);
    rx->start_button = ka_gui_add_button(g, win, rx->active ? i18n_tr("Stop") : i18n_tr("Start"),
                                         pad, by, sw, bh, 1, _on_start, app);
    ka_gui_add_button(g, win, rx->duplex ? i18n_tr("Receive only") : i18n_tr("Send + receive"),
                      sw + 2 * pad, by, W - 3 * pad - sw, bh, 1, _on_mode, app);
    ka_gui_open_window(g, win);

    if (!rx->duplex) _build_warning(app, W, H, pad, bh);

    _building = 1;
    if (rx->source == RX_SOURCE_CAMERA && !capture_supported()) {
        screen_receive_status(app, i18n_tr("The camera receiver needs Android"));
    } else if (rx->sending) {
        screen_receive_send_started(app, 0);
    } else if (rx->duplex && !_can_send(app)) {
        screen_receive_status(app, i18n_tr("Turn on the flashlight, sound or vibration to send"));
    } else if (rx->status[0]) {
        screen_receive_status(app, rx->status);
    } else if (!rx->active && rx->source == RX_SOURCE_MIC) {
        screen_receive_status(app, i18n_tr("Press Start to listen to the microphone"));
    } else if (!rx->active) {
        screen_receive_status(app, i18n_tr("Tap the preview to move the detection square"));
    }
    _building = 0;
}
