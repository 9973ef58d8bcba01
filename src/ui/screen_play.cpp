// src/ui/screen_play.cpp: the play screen. The whole display shows the colour of the element
// being sent, and a panel at the bottom follows the message letter by letter.
//
// The light channel's callbacks run on the player thread and only record: the current event,
// the on/off edges with their times (the receive screen matches its camera samples against
// them), and a wake event so the main loop draws. Everything else runs on the main thread.
#include "ui/screen_play.hpp"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>

#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "platform/wake_event.hpp"
#include "support/ka_common.hpp"
#include "ui/text_wrap.hpp"

static const uint32_t PANEL_RGB = 0x14161C;
static const uint32_t DIM_RGB = 0x7A8090;
static const uint32_t MARK_RGB = 0xFFD54A;
static const uint32_t TRACK_RGB = 0x2C303A;
// With the screen output off the display must not flash, but should not look dead either.
static const uint32_t LIGHT_OFF_RGB = 0x20232B;

// --- The light channel (player thread) ---

static uint64_t _now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1'000'000'000ull + (uint64_t)ts.tv_nsec;
}

// The slot is filled before the count is published, so a reader that sees the count sees the
// edge.
static void _record_edge(SCREEN_LIGHT *light, int on) {
    std::atomic_ref<size_t> count(light->edge_count);
    size_t n = count.load(std::memory_order_relaxed);
    light->edge_ns[n % SCREEN_LIGHT_EDGES] = _now_ns();
    light->edge_on[n % SCREEN_LIGHT_EDGES] = (uint8_t)on;
    count.store(n + 1, std::memory_order_release);
}

static int _last_edge_on(const SCREEN_LIGHT *light, size_t count) {
    return count ? light->edge_on[(count - 1) % SCREEN_LIGHT_EDGES] : 0;
}

static void _light_rep(const MORSE_SEQUENCE *, uint32_t rep, uint64_t, void *user) {
    SCREEN_LIGHT *light = (SCREEN_LIGHT *)user;
    std::atomic_ref<uint32_t>(light->rep).store(rep);
}

static void _light_event(const MORSE_SEQUENCE *seq, size_t index, uint32_t, void *user) {
    SCREEN_LIGHT *light = (SCREEN_LIGHT *)user;
    int on = index < seq->count && seq->events[index].state < MORSE_SYM_GAP;
    size_t count = light->edge_count; // only this thread writes it
    if (count == 0 || on != _last_edge_on(light, count)) _record_edge(light, on);
    std::atomic_ref<size_t>(light->index).store(index);
    lumikey_wake(light->wake);
}

static void _light_stop(int finished, void *user) {
    SCREEN_LIGHT *light = (SCREEN_LIGHT *)user;
    size_t count = light->edge_count;
    if (count && _last_edge_on(light, count)) _record_edge(light, 0);
    std::atomic_ref<int>(light->finished).store(finished);
    std::atomic_ref<int>(light->stopped).store(1);
    lumikey_wake(light->wake);
}

PLAYER_CHANNEL screen_light_channel(LUMIKEY_APP *app) {
    PLAYER_CHANNEL ch{};
    __ka_assert(app, return ch);
    SCREEN_LIGHT *light = &app->light;
    // No player uses the light now (the send before has been stopped), so plain writes do.
    light->wake = &app->wake_source;
    light->index = SIZE_MAX;
    light->rep = 0;
    light->stopped = 0;
    light->finished = 0;
    ch.name = "screen";
    ch.lead_ms = 0;
    ch.on_rep_start = _light_rep;
    ch.on_event = _light_event;
    ch.on_stop = _light_stop;
    ch.user = light;
    return ch;
}

size_t screen_light_index(const SCREEN_LIGHT *light) {
    return std::atomic_ref<size_t>(const_cast<SCREEN_LIGHT *>(light)->index).load();
}

int screen_light_stopped(const SCREEN_LIGHT *light) {
    return std::atomic_ref<int>(const_cast<SCREEN_LIGHT *>(light)->stopped).load();
}

size_t screen_light_edge_count(const SCREEN_LIGHT *light) {
    return std::atomic_ref<size_t>(const_cast<SCREEN_LIGHT *>(light)->edge_count)
        .load(std::memory_order_acquire);
}

size_t screen_light_edges(const SCREEN_LIGHT *light, uint64_t *ns, uint8_t *on, size_t max) {
    __ka_assert(light && ns && on, return 0);
    // The player thread may be writing the ring: every word is read atomically, and a reader
    // matches edges by time, so a torn pair costs one row's tx.
    SCREEN_LIGHT *l = const_cast<SCREEN_LIGHT *>(light);
    size_t count = screen_light_edge_count(light);
    size_t n = count < SCREEN_LIGHT_EDGES ? count : SCREEN_LIGHT_EDGES;
    if (n > max) n = max;
    for (size_t e = 0; e < n; e++) {
        size_t s = (count - n + e) % SCREEN_LIGHT_EDGES;
        ns[e] = std::atomic_ref<uint64_t>(l->edge_ns[s]).load(std::memory_order_relaxed);
        on[e] = std::atomic_ref<uint8_t>(l->edge_on[s]).load(std::memory_order_relaxed);
    }
    return n;
}

// --- Drawing (main thread) ---

// The event being sent now, or null before the first and after a sequence change.
static const MORSE_EVENT *_current(LUMIKEY_APP *app, const MORSE_SEQUENCE **seq_out,
                                   size_t *index_out) {
    const MORSE_SEQUENCE *seq = player_sequence(app->player);
    if (seq_out) *seq_out = seq;
    if (!seq) return nullptr;
    size_t index = screen_light_index(&app->light);
    if (index >= seq->count) return nullptr;
    if (index_out) *index_out = index;
    return &seq->events[index];
}

uint32_t screen_play_light_rgb(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    const MORSE_EVENT *ev = _current(app, nullptr, nullptr);
    if (!app->settings.out_screen) return LIGHT_OFF_RGB;
    return ev ? settings_color_for(&app->settings, ev->state) : 0x000000;
}

void screen_play_draw(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    al_clear_to_color(app_rgb(screen_play_light_rgb(app)));
}

float screen_play_panel_h(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    float p = app_px(app, 14);
    float Lb = (float)al_get_font_line_height(app->font_big);
    float L = (float)al_get_font_line_height(app->font);
    float needed = p + Lb + 2 * p + app_px(app, 24) + 1.5f * p + app_px(app, 8) + 0.8f * p + L + p +
                   app_px(app, 56) + app_px(app, 28) + p;
    float share = 0.36f * (float)app->disp_h;
    return needed > share ? needed : share;
}

static void _on_stop(int, void *user) {
    app_request_stop((LUMIKEY_APP *)user);
}

static void _on_save_preset(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app->save_after_stop = 1;
    app_request_stop(app);
}

void screen_play_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float ph = screen_play_panel_h(app);
    int win = ka_gui_add_window(app->gui, "Play", 0, H - ph, W, ph);
    if (win < 0) return;
    ka_gui_window_set_flags(app->gui, win, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    KA_GUI_WINDOW *w = ka_gui_get_window(app->gui, win);
    if (w) {
        w->theme.bg_normal = app_rgb(PANEL_RGB);
        w->theme.border_normal = app_rgb(PANEL_RGB);
    }
    float m = app_px(app, 16), bh = app_px(app, 56);
    float by = ph - bh - app_px(app, 28);
    if (app->play_from_message) {
        float bw = 0.5f * (W - 3 * m);
        ka_gui_add_button(app->gui, win, i18n_tr("Save as preset"), m, by, bw, bh, 1,
                          _on_save_preset, app);
        ka_gui_add_button(app->gui, win, i18n_tr("Stop"), 2 * m + bw, by, bw, bh, 1, _on_stop, app);
    } else {
        ka_gui_add_button(app->gui, win, i18n_tr("Stop"), W / 4, by, W / 2, bh, 1, _on_stop, app);
    }
    ka_gui_open_window(app->gui, win);
}

static void _draw_piece(ALLEGRO_FONT *font, uint32_t rgb, float x, float y, const char *s,
                        size_t n) {
    if (!n) return;
    ALLEGRO_USTR_INFO info;
    al_draw_ustr(font, app_rgb(rgb), x, y, 0, al_ref_buffer(&info, s, n));
}

static void _draw_message(LUMIKEY_APP *app, const MORSE_EVENT *ev, float y0) {
    const char *text = app->play_text;
    size_t n = strlen(text);
    size_t pre = n, cur = 0;
    if (ev && ev->text_offset + ev->text_len <= n) {
        pre = ev->text_offset;
        if (ev->state != MORSE_LETTER_GAP && ev->state != MORSE_WORD_GAP) cur = ev->text_len;
    }
    size_t post = n - pre - cur;
    ALLEGRO_FONT *font = app->font_big;
    float W = (float)app->disp_w;
    float wp = text_wrap_font_width(text, pre, font),
          wc = text_wrap_font_width(text + pre, cur, font);
    float wa = wp + wc + text_wrap_font_width(text + pre + cur, post, font);
    // A line too wide for the display keeps the current character in the middle.
    float x = wa <= W - 2 * app_px(app, 16) ? (W - wa) / 2 : W / 2 - (wc / 2 + wp);
    _draw_piece(font, DIM_RGB, x, y0, text, pre);
    _draw_piece(font, MARK_RGB, x + wp, y0, text + pre, cur);
    _draw_piece(font, DIM_RGB, x + wp + wc, y0, text + pre + cur, post);
    if (cur) {
        float uy = y0 + (float)al_get_font_line_height(font) + app_px(app, 2);
        al_draw_line(x + wp, uy, x + wp + wc, uy, app_rgb(MARK_RGB), app_px(app, 3));
    }
}

static int _is_letter_break(const MORSE_EVENT &e) {
    return e.state == MORSE_LETTER_GAP || e.state == MORSE_WORD_GAP;
}

static void _draw_letter_code(LUMIKEY_APP *app, const MORSE_SEQUENCE *seq, size_t index, float y1) {
    if (_is_letter_break(seq->events[index])) return;
    size_t first = index, last = index;
    while (first > 0 && !_is_letter_break(seq->events[first - 1])) first--;
    while (last + 1 < seq->count && !_is_letter_break(seq->events[last + 1])) last++;
    float r = app_px(app, 12), dash = 5 * r, gap = 1.6f * r;
    float total = 0;
    for (size_t i = first; i <= last; i++) {
        if (seq->events[i].state == MORSE_DOT) total += 2 * r + gap;
        if (seq->events[i].state == MORSE_DASH) total += dash + gap;
    }
    total -= gap;
    float x = ((float)app->disp_w - total) / 2, cy = y1 + r;
    float thick = app_px(app, 2);
    for (size_t i = first; i <= last; i++) {
        MORSE_STATE st = seq->events[i].state;
        if (st != MORSE_DOT && st != MORSE_DASH) continue;
        int now = i == index;
        ALLEGRO_COLOR c = app_rgb(now ? MARK_RGB : DIM_RGB);
        if (st == MORSE_DOT) {
            if (now)
                al_draw_filled_circle(x + r, cy, r, c);
            else
                al_draw_circle(x + r, cy, r, c, thick);
            x += 2 * r + gap;
        } else {
            if (now)
                al_draw_filled_rounded_rectangle(x, cy - r, x + dash, cy + r, r, r, c);
            else
                al_draw_rounded_rectangle(x, cy - r, x + dash, cy + r, r, r, c, thick);
            x += dash + gap;
        }
    }
}

void screen_play_draw_overlay(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    const MORSE_SEQUENCE *seq = nullptr;
    size_t index = 0;
    const MORSE_EVENT *ev = _current(app, &seq, &index);
    if (!seq) return;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float top = H - screen_play_panel_h(app), p = app_px(app, 14);
    float Lb = (float)al_get_font_line_height(app->font_big);

    float y0 = top + p;
    _draw_message(app, ev, y0);
    float y1 = y0 + Lb + 2 * p;
    if (ev) _draw_letter_code(app, seq, index, y1);

    float y2 = y1 + 2 * app_px(app, 12) + 1.5f * p, bh = app_px(app, 8);
    float x0 = 2 * p, bw = W - 4 * p;
    al_draw_filled_rounded_rectangle(x0, y2, x0 + bw, y2 + bh, bh / 2, bh / 2, app_rgb(TRACK_RGB));
    uint32_t elapsed = 0, rep = 0;
    player_position(app->player, &elapsed, &rep);
    if (seq->total_ms) {
        float frac = (float)elapsed / (float)seq->total_ms;
        if (frac > 1) frac = 1;
        if (frac > 0)
            al_draw_filled_rounded_rectangle(x0, y2, x0 + frac * bw, y2 + bh, bh / 2, bh / 2,
                                             app_rgb(MARK_RGB));
    }

    char status[128];
    unsigned unit = seq->timing.unit_ms;
    if (player_is_looping(app->player)) {
        snprintf(status, sizeof status, i18n_tr("Loop  #%u    %u ms / unit"), rep + 1, unit);
    } else {
        snprintf(status, sizeof status, i18n_tr("%u.%u s    %u ms / unit"), seq->total_ms / 1000,
                 (seq->total_ms % 1000) / 100, unit);
    }
    al_draw_text(app->font, app_rgb(DIM_RGB), W / 2, y2 + bh + 0.8f * p, ALLEGRO_ALIGN_CENTRE,
                 status);
}
