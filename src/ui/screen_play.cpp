// src/ui/screen_play.cpp: the play screen. The whole display shows the colour of the element
// being sent, and a panel at the bottom follows the message letter by letter. It reads the
// screen light (ui/screen_light) the player thread keeps; all of it runs on the main thread.
#include "ui/screen_play.hpp"

#include <cstdio>
#include <cstring>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>

#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "support/ka_common.hpp"
#include "ui/text_wrap.hpp"
#include "ui/ui_colors.hpp"

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
    // With the screen output off the display must not flash, but should not look dead either.
    if (!app->settings.out_screen) return UI_LIGHT_OFF_RGB;
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
    int win = app_add_fixed_window(app, "Play", 0, H - ph, W, ph);
    if (win < 0) return;
    KA_GUI_WINDOW *w = ka_gui_get_window(app->gui, win);
    if (w) {
        w->theme.bg_normal = app_rgb(UI_PANEL_RGB);
        w->theme.border_normal = app_rgb(UI_PANEL_RGB);
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
    _draw_piece(font, UI_DIM_RGB, x, y0, text, pre);
    _draw_piece(font, UI_ACCENT_RGB, x + wp, y0, text + pre, cur);
    _draw_piece(font, UI_DIM_RGB, x + wp + wc, y0, text + pre + cur, post);
    if (cur) {
        float uy = y0 + (float)al_get_font_line_height(font) + app_px(app, 2);
        al_draw_line(x + wp, uy, x + wp + wc, uy, app_rgb(UI_ACCENT_RGB), app_px(app, 3));
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
        ALLEGRO_COLOR c = app_rgb(now ? UI_ACCENT_RGB : UI_DIM_RGB);
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
    al_draw_filled_rounded_rectangle(x0, y2, x0 + bw, y2 + bh, bh / 2, bh / 2,
                                     app_rgb(UI_TRACK_RGB));
    uint32_t elapsed = 0, rep = 0;
    player_position(app->player, &elapsed, &rep);
    if (seq->total_ms) {
        float frac = (float)elapsed / (float)seq->total_ms;
        if (frac > 1) frac = 1;
        if (frac > 0)
            al_draw_filled_rounded_rectangle(x0, y2, x0 + frac * bw, y2 + bh, bh / 2, bh / 2,
                                             app_rgb(UI_ACCENT_RGB));
    }

    char status[128];
    unsigned unit = seq->timing.unit_ms;
    if (player_is_looping(app->player)) {
        snprintf(status, sizeof status, i18n_tr("Loop  #%u    %u ms / unit"), rep + 1, unit);
    } else {
        snprintf(status, sizeof status, i18n_tr("%u.%u s    %u ms / unit"), seq->total_ms / 1000,
                 (seq->total_ms % 1000) / 100, unit);
    }
    al_draw_text(app->font, app_rgb(UI_DIM_RGB), W / 2, y2 + bh + 0.8f * p, ALLEGRO_ALIGN_CENTRE,
                 status);
}
