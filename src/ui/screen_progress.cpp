// src/ui/screen_progress.cpp: four charts of the practice log, drawn with the primitives
// add-on in custom widgets, so they follow every resize like the rest of the screen.
#include "ui/screen_progress.hpp"

#include <allegro5/allegro_primitives.h>

#include <algorithm>
#include <cstdio>

#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "support/ka_common.hpp"
#include "ui/screen_send_practice.hpp"
#include "ui/ui_colors.hpp"

static const int64_t _DAY_S = 86400;
// Days the time chart spans at most: a year and a little.
static const int64_t _DAYS_SHOWN = 400;

static void _frame(LUMIKEY_APP *app, float x, float y, float w, float h) {
    al_draw_rectangle(x + 0.5f, y + 0.5f, x + w - 0.5f, y + h - 0.5f, app_rgb(UI_RULE_RGB),
                      app_px(app, 1));
}

// Copying only: a send is scored on a target the learner chose, and has a chart of its own.
static bool _charted_copy(const PRACTICE_SESSION &s) {
    return s.mode != PRACTICE_SEND && s.total;
}

static void _draw_accuracy(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    const PRACTICE_LOG *log = app->practice_log;
    _frame(app, x, y, w->w, w->h);
    float m = app_px(app, 6), cx = x + m, cw = w->w - 2 * m, cy = y + m, ch = w->h - 2 * m;
    float pass = cy + ch * (float)(1.0 - KOCH_PASS);
    al_draw_line(cx, pass, cx + cw, pass, app_rgb(UI_CHART_PASS_RGB), app_px(app, 1));
    if (!log) return;
    size_t first = log->count, last = 0, shown = 0;
    for (size_t i = 0; i < log->count; i++) {
        if (!_charted_copy(log->sessions[i])) continue;
        first = std::min(first, i), last = i, shown++;
    }
    if (!shown) return;
    int64_t t0 = log->sessions[first].when, t1 = log->sessions[last].when;
    double span = t1 > t0 ? (double)(t1 - t0) : 1.0;
    // Few sessions are dots to be seen; a year of them, a line that is not buried in dots.
    float r = app_px(app, shown < 30 ? 4.5f : 2.5f), px = 0, py = 0;
    for (size_t i = first; i <= last; i++) {
        const PRACTICE_SESSION &s = log->sessions[i];
        if (!_charted_copy(s)) continue;
        float sx = shown == 1 ? cx + cw / 2 : cx + cw * (float)((double)(s.when - t0) / span);
        float sy = cy + ch * (1.0f - (float)s.right / (float)s.total);
        if (i > first) al_draw_line(px, py, sx, sy, app_rgb(UI_CHART_POINT_RGB), app_px(app, 1));
        al_draw_filled_circle(sx, sy, r, app_rgb(UI_CHART_POINT_RGB));
        px = sx, py = sy;
    }
}

static void _draw_minutes(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *font, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    const PRACTICE_LOG *log = app->practice_log;
    _frame(app, x, y, w->w, w->h);
    if (!log || log->count == 0) return;
    // The scale's label on a line of its own above the bars, where no bar hides it.
    float lh = (float)al_get_font_line_height(font);
    float m = app_px(app, 6), cx = x + m, cw = w->w - 2 * m, cy = y + m + lh,
          ch = w->h - 2 * m - lh;
    if (ch < 1) return;
    // Seconds per day over the days shown, ending on the day of the last session.
    static uint32_t seconds[_DAYS_SHOWN];
    int64_t last_day = log->sessions[log->count - 1].when / _DAY_S;
    int64_t first_day = log->sessions[0].when / _DAY_S;
    if (last_day - first_day >= _DAYS_SHOWN) first_day = last_day - _DAYS_SHOWN + 1;
    int64_t days = last_day - first_day + 1;
    if (days < 7) days = 7; // a week at least, so one day is not one wide block
    if (days > _DAYS_SHOWN) days = _DAYS_SHOWN;
    for (int64_t d = 0; d < days; d++) seconds[d] = 0;
    uint32_t most = 60;
    for (size_t i = 0; i < log->count; i++) {
        int64_t d = log->sessions[i].when / _DAY_S - first_day;
        if (d < 0 || d >= days) continue;
        seconds[d] += log->sessions[i].seconds;
        if (seconds[d] > most) most = seconds[d];
    }
    float bw = cw / (float)days;
    for (int64_t d = 0; d < days; d++) {
        if (!seconds[d]) continue;
        float bh = ch * (float)seconds[d] / (float)most;
        float bx = cx + bw * (float)d;
        al_draw_filled_rectangle(bx, cy + ch - bh, bx + (bw > 2 ? bw - 1 : bw), cy + ch,
                                 app_rgb(UI_CHART_TIME_RGB));
    }
    char top[32];
    snprintf(top, sizeof top, i18n_tr("%u min"), (most + 59) / 60);
    al_draw_text(font, app_rgb(UI_CHART_TEXT_RGB), cx + app_px(app, 2), y + m / 2,
                 ALLEGRO_ALIGN_LEFT, top);
}

static void _draw_chars(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *font, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    const PRACTICE_LOG *log = app->practice_log;
    _frame(app, x, y, w->w, w->h);
    if (!log) return;
    // The lesson's characters, and any other that was ever sent (from words or callsigns).
    int shown = koch_lesson_size(log->lesson);
    for (int c = shown; c < KOCH_CHARS; c++)
        if (log->chars[c].sent) shown = c + 1;
    float m = app_px(app, 4), lh = (float)al_get_font_line_height(font);
    float cx = x + m, cw = w->w - 2 * m, cy = y + m, ch = w->h - 2 * m - lh;
    float bw = cw / (float)shown;
    float pass = cy + ch * (float)(1.0 - KOCH_PASS);
    al_draw_line(cx, pass, cx + cw, pass, app_rgb(UI_CHART_PASS_RGB), app_px(app, 1));
    for (int c = 0; c < shown; c++) {
        const PRACTICE_CHAR &pc = log->chars[c];
        float bx = cx + bw * (float)c;
        char name[2] = {KOCH_ORDER[c], '\0'};
        al_draw_text(font, app_rgb(UI_CHART_TEXT_RGB), bx + bw / 2, cy + ch, ALLEGRO_ALIGN_CENTRE,
                     name);
        if (!pc.sent) continue;
        double acc = (double)pc.right / (double)pc.sent;
        float bh = ch * (float)acc;
        al_draw_filled_rectangle(bx + 1, cy + ch - (bh < 1 ? 1 : bh), bx + bw - 1, cy + ch,
                                 app_rgb(acc >= KOCH_PASS ? UI_RIGHT_RGB : UI_WEAK_RGB));
    }
}

// Send sessions charted at most: the newest ones, each a bar still wide enough to see.
static const size_t _SENDS_SHOWN = 60;

// The legend's entries in their series' colours, left to right from x; an entry that would
// run past right is left out with those after it.
static void _legend(ALLEGRO_FONT *font, float x, float y, float right, const char *const *texts,
                    const uint32_t *rgb, int n, float gap) {
    for (int i = 0; i < n; i++) {
        float tw = (float)al_get_text_width(font, texts[i]);
        if (x + tw > right) return;
        al_draw_text(font, app_rgb(rgb[i]), x, y, ALLEGRO_ALIGN_LEFT, texts[i]);
        x += tw + gap;
    }
}

// Each send session: its score as a bar, its speed and how far its timing strays as two lines
// over the bars, the strayed one against the line of good keying.
static void _draw_sends(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *font, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    _frame(app, x, y, w->w, w->h);
    static PRACTICE_SEND_POINT points[_SENDS_SHOWN];
    size_t n =
        app->practice_log ? practice_send_history(app->practice_log, points, _SENDS_SHOWN) : 0;
    float lh = (float)al_get_font_line_height(font);
    if (n == 0) {
        al_draw_text(font, app_rgb(UI_CHART_TEXT_RGB), x + w->w / 2, y + (w->h - lh) / 2,
                     ALLEGRO_ALIGN_CENTRE, i18n_tr("No sends yet"));
        return;
    }
    float m = app_px(app, 6), cx = x + m, cw = w->w - 2 * m, cy = y + m + lh,
          ch = w->h - 2 * m - lh;
    if (ch < 1) return;
    double top_wpm = 20;
    for (size_t i = 0; i < n; i++)
        while (points[i].wpm > top_wpm) top_wpm += 10;
    // A few sessions are bars of a few sessions' width, not one block across the chart.
    float slot = cw / (float)(n < 8 ? 8 : n), line = app_px(app, 1.5f);
    float r = app_px(app, n < 30 ? 3.5f : 2.0f);
    float good = cy + ch * (1.0f - (float)FIST_TOLERANCE);
    al_draw_line(cx, good, cx + cw, good, app_rgb(UI_CHART_PASS_RGB), app_px(app, 1));
    auto at = [&](size_t i) { return cx + slot * ((float)i + 0.5f); };
    auto level = [&](double v) { return cy + ch * (1.0f - (float)(v < 0 ? 0 : v > 1 ? 1 : v)); };
    for (size_t i = 0; i < n; i++)
        if (points[i].score >= 0)
            al_draw_filled_rectangle(at(i) - slot * 0.35f, level(points[i].score),
                                     at(i) + slot * 0.35f, cy + ch, app_rgb(UI_CHART_SCORE_RGB));
    for (int series = 0; series < 2; series++) {
        uint32_t rgb = series ? UI_CHART_OFF_RGB : UI_CHART_SPEED_RGB;
        float px = 0, py = 0;
        for (size_t i = 0; i < n; i++) {
            float sy = level(series ? points[i].off : points[i].wpm / top_wpm);
            if (i > 0) al_draw_line(px, py, at(i), sy, app_rgb(rgb), line);
            al_draw_filled_circle(at(i), sy, r, app_rgb(rgb));
            px = at(i), py = sy;
        }
    }
    char speed[48];
    snprintf(speed, sizeof speed, i18n_tr("%u WPM"), (unsigned)top_wpm);
    const char *texts[3] = {i18n_tr("right"), speed, i18n_tr("timing off")};
    const uint32_t rgb[3] = {UI_RIGHT_RGB, UI_CHART_SPEED_RGB, UI_CHART_OFF_RGB};
    _legend(font, cx + app_px(app, 2), y + m / 2, cx + cw, texts, rgb, 3, app_px(app, 14));
}

static void _on_back(int, void *user) {
    app_set_screen((LUMIKEY_APP *)user, SCREEN_PRACTICE);
}

void screen_progress_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    KA_GUI_CTX *g = app->gui;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), lh = app_px(app, 34);
    int win = app_add_fixed_window(app, "Progress", 0, 0, W, H);
    if (win < 0) return;
    float bw = app_px(app, 130);
    ka_gui_add_label(g, win, i18n_tr("Progress"), pad, pad, W - bw - 3 * pad, bh,
                     KA_GUI_ALIGN_LEFT);
    ka_gui_add_button(g, win, i18n_tr("Back"), W - bw - pad, pad, bw, bh, 1, _on_back, app);
    float y = bh + 2 * pad;
    const PRACTICE_LOG *log = app->practice_log;
    uint64_t seconds = 0;
    for (size_t i = 0; log && i < log->count; i++) seconds += log->sessions[i].seconds;
    char summary[128];
    if (!log || log->count == 0)
        ka_copy_text(summary, sizeof summary, i18n_tr("No sessions yet"));
    else if (log->count == 1)
        snprintf(summary, sizeof summary, i18n_tr("1 session, %u min in all"),
                 (unsigned)((seconds + 59) / 60));
    else
        snprintf(summary, sizeof summary, i18n_tr("%zu sessions, %u min in all"), log->count,
                 (unsigned)((seconds + 59) / 60));
    ka_gui_add_label(g, win, summary, pad, y, W - 2 * pad, lh, KA_GUI_ALIGN_LEFT);
    y += lh + pad / 2;
    // The latest send practice's timing, in a word.
    for (size_t i = log ? log->count : 0; i-- > 0;) {
        if (log->sessions[i].mode != PRACTICE_SEND) continue;
        char hint[200], line[256];
        send_practice_session_hint(&log->sessions[i], hint, sizeof hint);
        snprintf(line, sizeof line, i18n_tr("Last sent: %s"), hint);
        ka_gui_add_label(g, win, line, pad, y, W - 2 * pad, 2 * lh, KA_GUI_ALIGN_JUSTIFY);
        y += 2 * lh + pad / 2;
        break;
    }

    struct {
        const char *title;
        KA_GUI_CUSTOM_DRAW_CB draw;
    } charts[4] = {{I18N_TEXT("Accuracy per session"), _draw_accuracy},
                   {I18N_TEXT("Minutes per day"), _draw_minutes},
                   {I18N_TEXT("Accuracy per character"), _draw_chars},
                   {I18N_TEXT("Sending per session"), _draw_sends}};
    // One column standing, two side by side lying down, where four rows would be too flat.
    int cols = W > H ? 2 : 1, rows = 4 / cols;
    float cw = (W - (float)(cols + 1) * pad) / (float)cols;
    float each = (H - app_px(app, 28) - y) / (float)rows - lh - pad;
    for (int k = 0; k < 4; k++) {
        float cx = pad + (float)(k % cols) * (cw + pad);
        float cy = y + (float)(k / cols) * (lh + each + pad);
        ka_gui_add_label(g, win, i18n_tr(charts[k].title), cx, cy, cw, lh, KA_GUI_ALIGN_LEFT);
        ka_gui_add_custom(g, win, cx, cy + lh, cw, each, charts[k].draw, app);
    }
    ka_gui_open_window(g, win);
}
