// src/ui/screen_send_practice.cpp: send practice, a panel of the key screen. The keying, the
// sidetone and the live decoder are the key screen's own; this adds the target, the score and
// the measured timing drawn over the ideal one.
#include "ui/screen_send_practice.hpp"

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <allegro5/allegro_primitives.h>

#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "morse/decoder.hpp"
#include "support/ka_common.hpp"
#include "ui/screen_practice.hpp"
#include "ui/text_wrap.hpp"
#include "ui/ui_colors.hpp"

void send_practice_new_target(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    SEND_PRACTICE *p = &app->send;
    p->target[0] = '\0';
    for (size_t i = 0; i < SEND_TARGET_WORDS; i++) {
        char word[KOCH_GROUP_MAX + 1];
        screen_practice_make_group(app, word);
        if (!word[0]) continue;
        if (p->target[0]) strncat(p->target, " ", sizeof p->target - strlen(p->target) - 1);
        strncat(p->target, word, sizeof p->target - strlen(p->target) - 1);
    }
    p->started_at = al_get_time();
    app->redraw = 1;
}

void send_practice_start(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    if (!app->practice_log) return;
    SEND_PRACTICE *p = &app->send;
    p->active = 1;
    p->has_result = 0;
    send_practice_new_target(app);
    ka_log(LOG_INFO, "send practice: target '%s'", p->target);
    app_set_screen(app, SCREEN_KEY);
}

// The n-th word (split on spaces) of text into out; "" past the last.
static void _word(const char *text, size_t n, char *out) {
    out[0] = '\0';
    const char *s = text;
    for (size_t i = 0;; i++) {
        while (*s == ' ') s++;
        if (!*s) return;
        size_t len = strcspn(s, " ");
        if (i == n) {
            size_t keep = len < KOCH_GROUP_MAX ? len : KOCH_GROUP_MAX;
            memcpy(out, s, keep);
            out[keep] = '\0';
            return;
        }
        s += len;
    }
}

void send_practice_score(SEND_PRACTICE *p, const char *target, const char *keyed) {
    __ka_assert(p && target && keyed, return );
    p->nwords = 0;
    p->right = p->total = 0;
    size_t max = sizeof p->words / sizeof p->words[0];
    for (size_t i = 0; i < max; i++) {
        char want[KOCH_GROUP_MAX + 1], got[KOCH_GROUP_MAX + 1];
        _word(target, i, want);
        _word(keyed, i, got);
        if (!want[0] && !got[0]) break;
        KOCH_SCORE &s = p->words[p->nwords];
        if (!koch_score(want, got, &s)) break;
        p->right += s.right;
        p->total += s.total;
        p->nwords++;
    }
}

static uint32_t _x100(double v) {
    return v > 0 ? (uint32_t)lround(v * 100) : 0;
}

void send_practice_take(LUMIKEY_APP *app, const DECODED_MESSAGE *msg) {
    __ka_assert(app && msg, return );
    SEND_PRACTICE *p = &app->send;
    if (!p->active || !app->key.decoder) return;
    ka_copy_text(p->keyed, sizeof p->keyed, msg->text);
    size_t n = decoder_last_elements(app->key.decoder, p->kinds, p->ms, SEND_MAX_RUNS);
    p->nruns = n < SEND_MAX_RUNS ? n : SEND_MAX_RUNS;
    fist_measure(p->kinds, p->ms, p->nruns, &p->fist);
    send_practice_score(p, p->target, p->keyed);
    p->has_result = 1;
    app->redraw = 1;

    PRACTICE_LOG *log = app->practice_log;
    if (!log) return;
    PRACTICE_SESSION s{};
    s.when = (int64_t)time(nullptr);
    s.mode = PRACTICE_SEND;
    s.source = log->source;
    s.lesson = log->lesson;
    s.wpm = (uint32_t)lround(p->fist.wpm);
    s.effective_wpm = s.wpm;
    s.right = p->right;
    s.total = p->total;
    double spent = al_get_time() - p->started_at;
    s.seconds = spent > 0 && spent < 86400 ? (uint32_t)spent : 0;
    const FIST_REPORT &f = p->fist;
    s.fist = PRACTICE_FIST{(uint32_t)f.fault,
                           (uint32_t)lround(f.wpm),
                           (uint32_t)lround(f.start_wpm),
                           (uint32_t)lround(f.end_wpm),
                           (uint32_t)lround(100 * f.unevenness),
                           _x100(f.dash_ratio),
                           _x100(f.element_gap),
                           _x100(f.letter_gap),
                           _x100(f.word_gap)};
    for (size_t w = 0; w < p->nwords; w++) {
        for (size_t i = 0; i < p->words[w].count; i++) {
            const KOCH_MARK &m = p->words[w].marks[i];
            int c = koch_index(m.expected);
            if (m.kind == KOCH_EXTRA || c < 0) continue;
            s.char_sent[c]++;
            if (m.kind == KOCH_RIGHT) s.char_right[c]++;
        }
    }
    practice_add_session(log, &s);
    app_save_practice(app);
    ka_log(LOG_INFO, "send practice: '%s' for '%s', %u of %u right, %.1f WPM, fault %d", p->keyed,
           p->target, p->right, p->total, f.wpm, (int)f.fault);
}

void send_practice_hint(const FIST_REPORT *f, char *out, size_t out_size) {
    __ka_assert(f && out && out_size > 0, return );
    double m = f->measured, st = f->standard;
    switch (f->fault) {
    case FIST_DASH_SHORT:
        snprintf(out, out_size, i18n_tr("dashes too short: %.1f dots instead of 3"), m);
        break;
    case FIST_DASH_LONG:
        snprintf(out, out_size, i18n_tr("dashes too long: %.1f dots instead of 3"), m);
        break;
    case FIST_ELEMENT_GAP_SHORT:
        snprintf(out, out_size, i18n_tr("gaps inside letters too short: %.1f units instead of 1"),
                 m);
        break;
    case FIST_ELEMENT_GAP_LONG:
        snprintf(out, out_size, i18n_tr("gaps inside letters too long: %.1f units instead of 1"),
                 m);
        break;
    case FIST_LETTER_GAP_SHORT:
        snprintf(out, out_size, i18n_tr("letter gaps too short: %.1f units instead of 3"), m);
        break;
    case FIST_LETTER_GAP_LONG:
        snprintf(out, out_size, i18n_tr("letter gaps too long: %.1f units instead of 3"), m);
        break;
    case FIST_WORD_GAP_SHORT:
        snprintf(out, out_size, i18n_tr("word gaps too short: %.1f units instead of 7"), m);
        break;
    case FIST_WORD_GAP_LONG:
        snprintf(out, out_size, i18n_tr("word gaps too long: %.1f units instead of 7"), m);
        break;
    case FIST_SPEEDING_UP:
        snprintf(out, out_size, i18n_tr("speeding up: from %.0f to %.0f WPM"), m, st);
        break;
    case FIST_SLOWING_DOWN:
        snprintf(out, out_size, i18n_tr("slowing down: from %.0f to %.0f WPM"), m, st);
        break;
    case FIST_UNEVEN:
        snprintf(out, out_size, i18n_tr("uneven marks: they vary by %.0f %%"), 100 * m);
        break;
    default:
        snprintf(out, out_size, "%s",
                 i18n_tr("well keyed: every proportion close to the standard"));
        break;
    }
    i18n_decimals(out);
}

void send_practice_session_hint(const PRACTICE_SESSION *s, char *out, size_t out_size) {
    __ka_assert(s && out && out_size > 0, return );
    FIST_REPORT f{};
    const PRACTICE_FIST &k = s->fist;
    f.fault = k.fault < FIST_FAULT_COUNT ? (FIST_FAULT)k.fault : FIST_GOOD;
    switch (f.fault) {
    case FIST_DASH_SHORT:
    case FIST_DASH_LONG:
        f.measured = k.dash_x100 / 100.0;
        break;
    case FIST_ELEMENT_GAP_SHORT:
    case FIST_ELEMENT_GAP_LONG:
        f.measured = k.element_x100 / 100.0;
        break;
    case FIST_LETTER_GAP_SHORT:
    case FIST_LETTER_GAP_LONG:
        f.measured = k.letter_x100 / 100.0;
        break;
    case FIST_WORD_GAP_SHORT:
    case FIST_WORD_GAP_LONG:
        f.measured = k.word_x100 / 100.0;
        break;
    case FIST_SPEEDING_UP:
    case FIST_SLOWING_DOWN:
        f.measured = k.start_wpm;
        f.standard = k.end_wpm;
        break;
    case FIST_UNEVEN:
        f.measured = k.uneven_pct / 100.0;
        break;
    default:
        break;
    }
    send_practice_hint(&f, out, out_size);
}

// ---- drawing

// One row of the timeline: the marks of durations ms[] (on where on[i]) from x at scale px/ms.
static void _timeline_row(LUMIKEY_APP *app, float x, float y, float h, float scale,
                          const MORSE_STATE *kinds, const double *ms, size_t n, uint32_t rgb) {
    double t = 0;
    for (size_t i = 0; i < n; i++) {
        if (kinds[i] <= MORSE_DASH)
            al_draw_filled_rectangle(x + (float)(t * scale), y, x + (float)((t + ms[i]) * scale),
                                     y + h, app_rgb(rgb));
        t += ms[i];
    }
    (void)app;
}

// The keyed marks above the marks of the target at the measured speed, on one time scale, so
// a short dash or a gap run into the next shows as an offset between the rows.
static float _draw_timeline(LUMIKEY_APP *app, float x, float y, float w, ALLEGRO_FONT *font) {
    SEND_PRACTICE *p = &app->send;
    if (!p->nruns || !(p->fist.unit_ms > 0)) return y;
    MORSE_TIMING timing;
    morse_timing_default(&timing);
    timing.unit_ms = (uint32_t)lround(p->fist.unit_ms);
    morse_timing_sanitize(&timing);
    MORSE_SEQUENCE *seq = morse_sequence_build(p->target, &timing);
    if (!seq) return y;
    static MORSE_STATE ideal_kinds[SEND_MAX_RUNS];
    static double ideal_ms[SEND_MAX_RUNS];
    size_t ni = 0;
    for (size_t i = 0; i < seq->count && ni < SEND_MAX_RUNS; i++, ni++) {
        ideal_kinds[ni] = seq->events[i].state;
        ideal_ms[ni] = seq->events[i].duration_ms;
    }
    morse_sequence_free(&seq);
    double keyed_total = 0, ideal_total = 0;
    for (size_t i = 0; i < p->nruns; i++) keyed_total += p->ms[i];
    for (size_t i = 0; i < ni; i++) ideal_total += ideal_ms[i];
    double total = keyed_total > ideal_total ? keyed_total : ideal_total;
    if (total <= 0) return y;
    float lw = 0;
    const char *names[2] = {i18n_tr("Keyed"), i18n_tr("Ideal")};
    for (const char *n : names) {
        float tw = (float)al_get_text_width(font, n);
        if (tw > lw) lw = tw;
    }
    lw += app_px(app, 8);
    float lh = (float)al_get_font_line_height(font), rh = app_px(app, 12);
    float scale = (float)((w - lw) / total);
    al_draw_text(font, app_rgb(UI_ACCENT_RGB), x, y, 0, names[0]);
    _timeline_row(app, x + lw, y + (lh - rh) / 2, rh, scale, p->kinds, p->ms, p->nruns,
                  UI_ACCENT_RGB);
    y += lh + app_px(app, 2);
    al_draw_text(font, app_rgb(UI_CHART_POINT_RGB), x, y, 0, names[1]);
    _timeline_row(app, x + lw, y + (lh - rh) / 2, rh, scale, ideal_kinds, ideal_ms, ni,
                  UI_CHART_POINT_RGB);
    return y + lh;
}

// Draws text from (x, y) within w: in big when it fits on one line, else wrapped in font.
// Returns the y below it.
static float _text(ALLEGRO_FONT *big, ALLEGRO_FONT *font, uint32_t rgb, float x, float y, float w,
                   const char *text) {
    if (big && (float)al_get_text_width(big, text) <= w) {
        al_draw_text(big, app_rgb(rgb), x, y, 0, text);
        return y + (float)al_get_font_line_height(big);
    }
    TEXT_LINE lines[4];
    size_t n = std::min<size_t>(text_wrap(text, w, text_wrap_font_width, font, lines, 4), 4);
    text_wrap_draw(font, app_rgb(rgb), x, y, 0, text, lines, n);
    return y + (float)n * (float)al_get_font_line_height(font);
}

// The spaces within a group of figures ("1.0 / 3.0", "(3, 1 / 3 / 7)", "98 %") and before a
// figure (its name) become no-break spaces, so a narrow panel wraps between a name with its
// figures and the next rather than leaving a "7)" or a "%" alone on a line.
static void _bind_figures(const char *in, char *out, size_t out_size) {
    size_t o = 0;
    int depth = 0;
    for (size_t i = 0; in[i] && o + 3 < out_size; i++) {
        char c = in[i];
        depth += c == '(' ? 1 : (c == ')' && depth > 0 ? -1 : 0);
        if (c == ' ' && (depth > 0 || (i > 0 && in[i - 1] == '/') || in[i + 1] == '/' ||
                         in[i + 1] == '%' || (in[i + 1] >= '0' && in[i + 1] <= '9'))) {
            out[o++] = (char)0xC2; // U+00A0
            out[o++] = (char)0xA0;
        } else {
            out[o++] = c;
        }
    }
    out[o] = '\0';
}

static void _draw_panel(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *font, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    SEND_PRACTICE *p = &app->send;
    ALLEGRO_FONT *big = app->font_big ? app->font_big : font;
    float m = app_px(app, 8), W = w->w - 2 * m;
    float lh = (float)al_get_font_line_height(font);
    x += m;
    y += m / 2;
    char line[256];
    snprintf(line, sizeof line, i18n_tr("Key: %s"), p->target);
    y = _text(big, font, UI_TEXT_RGB, x, y, W, line);
    static DECODED_MESSAGE live;
    live.text[0] = '\0';
    if (app->key.decoder) decoder_live(app->key.decoder, &live);
    if (live.text[0]) y = _text(big, font, UI_DIM_RGB, x, y, W, live.text);
    if (!p->has_result) {
        if (!live.text[0])
            al_draw_text(font, app_rgb(UI_DIM_RGB), x, y, 0, i18n_tr("(start keying)"));
        return;
    }
    // Each letter as read, in the colour of its score, the target's letter beneath.
    float col = (float)al_get_text_width(font, "W") + app_px(app, 3), cx = x;
    for (size_t wd = 0; wd < p->nwords; wd++) {
        for (size_t i = 0; i < p->words[wd].count; i++) {
            const KOCH_MARK &mk = p->words[wd].marks[i];
            char typed[2] = {mk.kind == KOCH_MISSED ? '_' : mk.typed, '\0'};
            char want[2] = {mk.kind == KOCH_EXTRA ? ' ' : mk.expected, '\0'};
            float mx = cx + col / 2;
            al_draw_text(font, app_rgb(mk.kind == KOCH_RIGHT ? UI_RIGHT_RGB : UI_WRONG_RGB), mx, y,
                         ALLEGRO_ALIGN_CENTRE, typed);
            al_draw_text(font, app_rgb(UI_TEXT_RGB), mx, y + lh, ALLEGRO_ALIGN_CENTRE, want);
            cx += col;
        }
        cx += col;
    }
    y += 2 * lh + m / 2;
    const FIST_REPORT &f = p->fist;
    char bound[384];
    snprintf(line, sizeof line, i18n_tr("%u of %u right, %.0f WPM, steadiness %.0f %%"), p->right,
             p->total, f.wpm, f.unevenness < 1 ? 100 * (1 - f.unevenness) : 0.0);
    _bind_figures(line, bound, sizeof bound);
    y = _text(nullptr, font, UI_TEXT_RGB, x, y, W, bound);
    snprintf(line, sizeof line, i18n_tr("dash %.1f, gaps %.1f / %.1f / %.1f (3, 1 / 3 / 7)"),
             f.dash_ratio, f.element_gap, f.letter_gap, f.word_gap);
    i18n_decimals(line);
    _bind_figures(line, bound, sizeof bound);
    y = _text(nullptr, font, UI_TEXT_RGB, x, y, W, bound);
    send_practice_hint(&f, line, sizeof line);
    y = _text(nullptr, font, f.fault == FIST_GOOD ? UI_RIGHT_RGB : UI_WRONG_RGB, x, y, W, line);
    y += m / 2;
    _draw_timeline(app, x, y, W, font);
}

float send_practice_panel_height(const LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    float lh = (float)al_get_font_line_height(app->font);
    float bh = (float)al_get_font_line_height(app->font_big ? app->font_big : app->font);
    return 2 * bh + 9 * lh + app_px(app, 24);
}

void send_practice_add_panel(LUMIKEY_APP *app, int win, float x, float y, float w, float h) {
    __ka_assert(app && app->gui, return );
    ka_gui_add_custom(app->gui, win, x, y, w, h, _draw_panel, app);
}
