// src/ui/screen_practice.cpp: learning by ear. Before a session the learner sets the lesson,
// the speeds, the group and session lengths, the source and the mode; during it each group is
// sent through the ordinary send path (as sound, the screen light optional), typed back and
// scored by edit distance the moment it is complete; at the end the accuracy decides whether
// the next lesson is offered.
#include "ui/screen_practice.hpp"

#include <allegro5/allegro_primitives.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "morse/sequencer.hpp"
#include "support/ka_common.hpp"
#include "ui/screen_send_practice.hpp"
#include "ui/ui_colors.hpp"

// Between a scored group and the next: long enough to see the score, short enough to keep
// the rhythm of copying.
static const double _PAUSE_S = 0.6;

static const char *const _source_names[KOCH_SOURCE_COUNT] = {
    I18N_TEXT("Koch groups"),  I18N_TEXT("Weakest letters"), I18N_TEXT("Callsigns"),
    I18N_TEXT("Common words"), I18N_TEXT("My presets"),
};
static const char *const _mode_names[2] = {I18N_TEXT("Copy groups"),
                                           I18N_TEXT("Instant recognition")};

// The steppers of the choices, in the order shown.
enum STEP {
    STEP_LESSON,
    STEP_WPM,
    STEP_EFFECTIVE,
    STEP_GROUP,
    STEP_MINUTES,
    STEP_GOAL,
    STEP_COUNT
};
struct STEP_BIND {
    LUMIKEY_APP *app;
    int step;
    int delta;
};
static STEP_BIND _steps[STEP_COUNT * 2];

// --- The log's choices ---

static void _step_caption(LUMIKEY_APP *app, int step, char *out, size_t size) {
    const PRACTICE_LOG *log = app->practice_log;
    switch (step) {
    case STEP_LESSON: {
        char chars[2 * KOCH_CHARS + 1];
        size_t n = (size_t)koch_lesson_size(log->lesson), at = 0;
        // The newest characters are the ones to show; a long lesson starts with an ellipsis.
        size_t first = n > 6 ? n - 6 : 0;
        if (first > 0) at += (size_t)snprintf(chars, sizeof chars, "… ");
        for (size_t i = first; i < n; i++) {
            chars[at++] = KOCH_ORDER[i];
            chars[at++] = ' ';
        }
        chars[at ? at - 1 : 0] = '\0';
        snprintf(out, size, i18n_tr("Lesson %d: %s"), log->lesson, chars);
        break;
    }
    case STEP_WPM:
        snprintf(out, size, i18n_tr("Character speed: %u wpm"), log->wpm);
        break;
    case STEP_EFFECTIVE:
        snprintf(out, size, i18n_tr("Effective speed: %u wpm"), log->effective_wpm);
        break;
    case STEP_GROUP:
        snprintf(out, size, i18n_tr("Group length: %u"), log->group_len);
        break;
    case STEP_MINUTES:
        snprintf(out, size, i18n_tr("Session: %u min"), log->minutes);
        break;
    default:
        snprintf(out, size, i18n_tr("Goal: %u ms"), log->goal_ms);
        break;
    }
}

static void _refresh_captions(LUMIKEY_APP *app) {
    for (int s = 0; s < STEP_COUNT; s++) {
        char text[160];
        _step_caption(app, s, text, sizeof text);
        ka_gui_label_set_text(app->gui, app->practice.step_labels[s], text);
    }
}

static void _on_step(int, void *user) {
    STEP_BIND *b = (STEP_BIND *)user;
    PRACTICE_LOG *log = b->app->practice_log;
    int d = b->delta;
    switch (b->step) {
    case STEP_LESSON:
        log->lesson += d;
        break;
    case STEP_WPM:
        log->wpm = (uint32_t)((int)log->wpm + d);
        // A character speed below the effective one drags it down with it.
        if (log->effective_wpm > log->wpm) log->effective_wpm = log->wpm;
        break;
    case STEP_EFFECTIVE:
        log->effective_wpm = (uint32_t)((int)log->effective_wpm + d);
        break;
    case STEP_GROUP:
        log->group_len = (uint32_t)((int)log->group_len + d);
        break;
    case STEP_MINUTES:
        log->minutes = (uint32_t)((int)log->minutes + d);
        break;
    default:
        log->goal_ms = (uint32_t)((int)log->goal_ms + 100 * d);
        break;
    }
    practice_sanitize(log);
    _refresh_captions(b->app);
    app_save_practice(b->app);
    b->app->redraw = 1;
}

static void _on_source(int, int index, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app->practice_log->source = index;
    practice_sanitize(app->practice_log);
    app_save_practice(app);
}

static void _on_mode(int, int index, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app->practice_log->mode = index;
    practice_sanitize(app->practice_log);
    app_save_practice(app);
}

static void _on_light(int, int checked, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app->practice_log->show_light = checked;
    app_save_practice(app);
}

// --- The groups ---

static void _lesson_chars(const PRACTICE_LOG *log, char *out) {
    size_t n = (size_t)koch_lesson_size(log->lesson);
    memcpy(out, KOCH_ORDER, n);
    out[n] = '\0';
}

static void _weak_chars(const PRACTICE_LOG *log, char *out) {
    uint32_t sent[KOCH_CHARS], right[KOCH_CHARS];
    for (int c = 0; c < KOCH_CHARS; c++) {
        sent[c] = log->chars[c].sent;
        right[c] = log->chars[c].right;
    }
    koch_weak_chars(sent, right, log->lesson, 5, out);
}

// A word of the user's presets, chosen at random among all of them; "" when they have none.
static void _preset_word(LUMIKEY_APP *app, char *out) {
    out[0] = '\0';
    const PRESET_LIST *list = app->presets;
    if (!list) return;
    size_t total = 0;
    for (size_t i = 0; i < list->count; i++)
        total += koch_text_word(list->items[i].text, SIZE_MAX, out);
    if (total == 0) return;
    size_t pick = koch_random(&app->practice.rng) % total;
    for (size_t i = 0; i < list->count; i++) {
        size_t n = koch_text_word(list->items[i].text, pick, out);
        if (pick < n) return;
        pick -= n;
    }
}

static void _make_group(LUMIKEY_APP *app, char *out) {
    const PRACTICE_LOG *log = app->practice_log;
    PRACTICE_SCREEN *p = &app->practice;
    char chars[KOCH_CHARS + 1];
    size_t len = log->mode == PRACTICE_INSTANT ? 1 : log->group_len;
    out[0] = '\0';
    switch (log->mode == PRACTICE_INSTANT && log->source > KOCH_SOURCE_WEAK ? KOCH_SOURCE_GROUPS
                                                                            : log->source) {
    case KOCH_SOURCE_WEAK:
        _weak_chars(log, chars);
        break;
    case KOCH_SOURCE_CALLSIGNS:
        koch_callsign(&p->rng, out);
        return;
    case KOCH_SOURCE_WORDS:
        koch_word(&p->rng, out);
        return;
    case KOCH_SOURCE_PRESETS:
        _preset_word(app, out);
        if (out[0]) return;
        _lesson_chars(log, chars);
        break;
    default:
        _lesson_chars(log, chars);
        break;
    }
    koch_group(chars, len, &p->rng, out);
}

void screen_practice_make_group(LUMIKEY_APP *app, char *out) {
    __ka_assert(app && out, return );
    out[0] = '\0';
    if (!app->practice_log) return;
    if (!app->practice.rng)
        app->practice.rng = ((uint64_t)time(nullptr) << 20) ^ (uint64_t)(al_get_time() * 1e6);
    _make_group(app, out);
}

// The group goes out through the ordinary send, at the practice's speeds, on this screen.
static void _send(LUMIKEY_APP *app) {
    const PRACTICE_LOG *log = app->practice_log;
    app->play_unit_ms = morse_wpm_to_unit_ms(log->wpm);
    app->play_effective_wpm = log->effective_wpm < log->wpm ? log->effective_wpm : 0;
    app->play_in_place = 1;
    app->play_from_message = 0;
    app_request_play(app, app->practice.group);
}

static void _next_group(LUMIKEY_APP *app) {
    PRACTICE_SCREEN *p = &app->practice;
    _make_group(app, p->group);
    p->answer[0] = '\0';
    p->phase = PRACTICE_LISTEN;
    _send(app);
    app->redraw = 1;
}

// Keeps the loop ticking at the animation rate until t (Allegro time).
static void _keep_ticking(LUMIKEY_APP *app, double t) {
    if (app->redraw_until < t) app->redraw_until = t;
    if (app->anim_timer) al_start_timer(app->anim_timer);
}

void screen_practice_start(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->practice_log, return );
    PRACTICE_SCREEN *p = &app->practice;
    PRACTICE_LOG *log = app->practice_log;
    practice_sanitize(log);
    memset(&p->session, 0, sizeof p->session);
    p->session.when = (int64_t)time(nullptr);
    p->session.mode = log->mode;
    p->session.source = log->source;
    p->session.lesson = log->lesson;
    p->session.wpm = log->wpm;
    p->session.effective_wpm = log->effective_wpm;
    p->started_at = al_get_time();
    p->has_score = p->groups = p->offer_next = 0;
    p->reaction_ms = p->reactions = 0;
    p->reaction_sum = 0;
    if (!p->rng) p->rng = ((uint64_t)time(nullptr) << 20) ^ (uint64_t)(al_get_time() * 1e6);
    ka_log(LOG_INFO, "practice started: lesson %d, %u/%u wpm, source %d, mode %d", log->lesson,
           log->wpm, log->effective_wpm, log->source, log->mode);
    _next_group(app);
    app_set_screen(app, SCREEN_PRACTICE);
}

// Ends the session: it is kept when anything was scored, and the screen shows its result
// (rebuilt unless the screen is being left).
static void _finish(LUMIKEY_APP *app, int rebuild) {
    PRACTICE_SCREEN *p = &app->practice;
    PRACTICE_LOG *log = app->practice_log;
    app_stop_playback(app);
    PRACTICE_SESSION &s = p->session;
    double spent = al_get_time() - p->started_at;
    s.seconds = spent > 0 ? (uint32_t)(spent + 0.5) : 0;
    s.reaction_ms = p->reactions ? (uint32_t)(p->reaction_sum / p->reactions) : 0;
    // Koch's rule is about the lesson's own characters; other sources only train.
    p->offer_next = s.source <= KOCH_SOURCE_WEAK && s.lesson == log->lesson &&
                    koch_next_lesson(s.lesson, s.right, s.total) > s.lesson;
    if (s.total > 0) {
        practice_add_session(log, &s);
        app_save_practice(app);
    }
    ka_log(LOG_INFO, "practice ended: %u of %u right in %u s, next lesson %s", s.right, s.total,
           s.seconds, p->offer_next ? "offered" : "not offered");
    p->phase = PRACTICE_DONE;
    p->end_requested = 0;
    if (rebuild) app_set_screen(app, SCREEN_PRACTICE);
}

// Scores the answer as typed at time t (the key's own time stamp, Allegro clock).
static void _score(LUMIKEY_APP *app, double t) {
    PRACTICE_SCREEN *p = &app->practice;
    koch_score(p->group, p->answer, &p->score);
    practice_count(app->practice_log, &p->score, &p->session);
    ka_copy_text(p->scored, sizeof p->scored, p->group);
    p->has_score = 1;
    p->groups++;
    if (app->practice_log->mode == PRACTICE_INSTANT && p->score.right == p->score.total) {
        double late = (t - app->play_heard_end) * 1000.0;
        // An answer before the sound has ended counts as instant.
        p->reaction_ms = late > 0 ? (uint32_t)(late + 0.5) : 0;
        p->reactions++;
        p->reaction_sum += p->reaction_ms;
    } else {
        p->reaction_ms = 0;
    }
    ka_log(LOG_INFO, "practice group %d: sent %s, typed %s, %u of %u right", p->groups, p->group,
           p->answer, p->score.right, p->score.total);
    p->answer[0] = '\0';
    p->phase = PRACTICE_PAUSE;
    p->next_at = al_get_time() + _PAUSE_S;
    _keep_ticking(app, p->next_at + 0.2);
    app->redraw = 1;
}

int screen_practice_keyboard(LUMIKEY_APP *app, const ALLEGRO_EVENT *ev) {
    __ka_assert(app, return 0);
    __ka_assert(ev, return 0);
    PRACTICE_SCREEN *p = &app->practice;
    if (ev->type != ALLEGRO_EVENT_KEY_CHAR || !app->practice_log) return 0;
    if (p->phase != PRACTICE_LISTEN && p->phase != PRACTICE_PAUSE) return 0;
    int code = ev->keyboard.keycode;
    if (code == ALLEGRO_KEY_ESCAPE || code == ALLEGRO_KEY_BACK) return 0;
    // Keys typed in the pause belong to no group yet.
    if (p->phase == PRACTICE_PAUSE) return 1;
    double t = ev->any.timestamp > 0 ? ev->any.timestamp : al_get_time();
    size_t len = strlen(p->answer);
    if (code == ALLEGRO_KEY_BACKSPACE) {
        if (len > 0) p->answer[len - 1] = '\0';
    } else if (code == ALLEGRO_KEY_ENTER || code == ALLEGRO_KEY_PAD_ENTER ||
               code == ALLEGRO_KEY_SPACE) {
        if (len > 0) _score(app, t);
    } else {
        int uc = ev->keyboard.unichar;
        if (uc <= 0 || uc >= 128 || koch_index((char)uc) < 0 || len >= KOCH_GROUP_MAX) return 1;
        p->answer[len] = (char)(uc >= 'a' && uc <= 'z' ? uc - 'a' + 'A' : uc);
        p->answer[len + 1] = '\0';
        if (len + 1 >= strlen(p->group)) _score(app, t);
    }
    app->redraw = 1;
    return 1;
}

static void _update_status(LUMIKEY_APP *app, double now) {
    PRACTICE_SCREEN *p = &app->practice;
    if (p->status_label >= 0) {
        double left = 60.0 * app->practice_log->minutes - (now - p->started_at);
        int s = left > 0 ? (int)left : 0;
        char text[128];
        snprintf(text, sizeof text, i18n_tr("Group %d, %d:%02d left"), p->groups + 1, s / 60,
                 s % 60);
        ka_gui_label_set_text(app->gui, p->status_label, text);
    }
}

void screen_practice_tick(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    PRACTICE_SCREEN *p = &app->practice;
    if (!app->practice_log || (p->phase != PRACTICE_LISTEN && p->phase != PRACTICE_PAUSE)) return;
    double now = al_get_time();
    // The clock on the screen runs for the whole session.
    _keep_ticking(app, now + 1.5);
    if (p->end_requested) {
        _finish(app, 1);
        return;
    }
    if (p->phase == PRACTICE_PAUSE && now >= p->next_at && !player_is_playing(app->player)) {
        if (now - p->started_at >= 60.0 * app->practice_log->minutes) {
            _finish(app, 1);
            return;
        }
        _next_group(app);
    }
    _update_status(app, now);
}

int screen_practice_back(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    PRACTICE_SCREEN *p = &app->practice;
    if (p->phase != PRACTICE_LISTEN && p->phase != PRACTICE_PAUSE) return 0;
    _finish(app, 1);
    return 1;
}

void screen_practice_leave(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    PRACTICE_SCREEN *p = &app->practice;
    if (p->phase == PRACTICE_LISTEN || p->phase == PRACTICE_PAUSE) _finish(app, 0);
    app_stop_playback(app);
    p->phase = PRACTICE_SETUP;
}

// --- Actions ---

static void _on_start(int, void *user) {
    screen_practice_start((LUMIKEY_APP *)user);
}

// The session ends in the loop's tick, after the GUI: ending it stops the send.
static void _on_end(int, void *user) {
    ((LUMIKEY_APP *)user)->practice.end_requested = 1;
}

static void _on_repeat(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (app->practice.phase == PRACTICE_LISTEN) _send(app);
}

static void _on_next_lesson(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    app->practice_log->lesson = koch_lesson_clamp(app->practice_log->lesson + 1);
    app->practice.offer_next = 0;
    app->practice.phase = PRACTICE_SETUP;
    app_save_practice(app);
    app_set_screen(app, SCREEN_PRACTICE);
}

static void _on_send_practice(int, void *user) {
    send_practice_start((LUMIKEY_APP *)user);
}

// A session's worth of groups at the practice's speeds, to take away as a sound file.
static void _on_save_sound(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    const PRACTICE_LOG *log = app->practice_log;
    size_t groups = (size_t)log->minutes * log->effective_wpm * 5 / (log->group_len + 1) + 1;
    size_t size = groups * (KOCH_GROUP_MAX + 1) + 1, len = 0;
    char *text = (char *)malloc(size);
    if (!text) return;
    text[0] = '\0';
    for (size_t i = 0; i < groups; i++) {
        char group[KOCH_GROUP_MAX + 1];
        screen_practice_make_group(app, group);
        len += (size_t)snprintf(text + len, size - len, "%s%s", i ? " " : "", group);
    }
    MORSE_TIMING timing = app->settings.timing;
    timing.unit_ms = morse_wpm_to_unit_ms(log->wpm);
    ui_sound_save_open(app, text, &timing, log->effective_wpm < log->wpm ? log->effective_wpm : 0);
    free(text);
}

static void _on_progress(int, void *user) {
    app_set_screen((LUMIKEY_APP *)user, SCREEN_PROGRESS);
}

// --- Drawing ---

static void _draw_lamp(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    const MORSE_SEQUENCE *seq = player_sequence(app->player);
    size_t i = screen_light_index(&app->light);
    int on = player_is_playing(app->player) && seq && i < seq->count &&
             seq->events[i].state < MORSE_SYM_GAP;
    float r = app_px(app, 10);
    al_draw_filled_rounded_rectangle(x, y, x + w->w, y + w->h, r, r,
                                     app_rgb(on ? app->settings.color_dot : UI_LIGHT_OFF_RGB));
}

// The last group as typed, each letter in the colour of its score, the right text beneath;
// above them the answer being typed.
static void _draw_copy(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *font, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    const PRACTICE_SCREEN *p = &app->practice;
    ALLEGRO_FONT *big = app->font_big ? app->font_big : font;
    float big_h = (float)al_get_font_line_height(big), h = (float)al_get_font_line_height(font);
    float cx = x + w->w / 2, cy = y + app_px(app, 8);
    if (p->phase == PRACTICE_LISTEN) {
        char shown[KOCH_GROUP_MAX + 2];
        snprintf(shown, sizeof shown, "%s_", p->answer);
        al_draw_text(big, app_rgb(UI_TEXT_RGB), cx, cy, ALLEGRO_ALIGN_CENTRE, shown);
    } else {
        al_draw_text(font, app_rgb(UI_DIM_RGB), cx, cy + (big_h - h) / 2, ALLEGRO_ALIGN_CENTRE,
                     i18n_tr("Type what you hear"));
    }
    if (!p->has_score) return;
    cy += big_h + app_px(app, 24);
    // Each column as wide as the widest character, so a letter sits above the one it stands for.
    float col = (float)al_get_text_width(big, "W") + app_px(app, 6);
    float left = cx - col * (float)p->score.count / 2;
    for (size_t i = 0; i < p->score.count; i++) {
        const KOCH_MARK &m = p->score.marks[i];
        char typed[2] = {m.kind == KOCH_MISSED ? '_' : m.typed, '\0'};
        char right[2] = {m.kind == KOCH_EXTRA ? ' ' : m.expected, '\0'};
        float mx = left + col * ((float)i + 0.5f);
        al_draw_text(big, app_rgb(m.kind == KOCH_RIGHT ? UI_RIGHT_RGB : UI_WRONG_RGB), mx, cy,
                     ALLEGRO_ALIGN_CENTRE, typed);
        al_draw_text(big, app_rgb(UI_TEXT_RGB), mx, cy + big_h + app_px(app, 4),
                     ALLEGRO_ALIGN_CENTRE, right);
    }
    if (app->practice_log->mode == PRACTICE_INSTANT && p->reaction_ms) {
        char text[128];
        snprintf(text, sizeof text, i18n_tr("Reaction %u ms, goal %u ms"), p->reaction_ms,
                 app->practice_log->goal_ms);
        uint32_t rgb = p->reaction_ms <= app->practice_log->goal_ms ? UI_RIGHT_RGB : UI_WRONG_RGB;
        al_draw_text(font, app_rgb(rgb), cx, cy + 2 * big_h + app_px(app, 16), ALLEGRO_ALIGN_CENTRE,
                     text);
    }
}

// --- Layout ---

// A column of rows from y0 downwards.
struct COLUMN {
    float x, w, y;
};

static void _add_stepper(LUMIKEY_APP *app, int win, COLUMN *c, int step, float rh, float pad) {
    KA_GUI_CTX *g = app->gui;
    float bw = app_px(app, 52);
    char text[160];
    _step_caption(app, step, text, sizeof text);
    app->practice.step_labels[step] =
        ka_gui_add_label(g, win, text, c->x, c->y, c->w - 2 * bw - 2 * pad, rh, KA_GUI_ALIGN_LEFT);
    _steps[2 * step] = {app, step, -1};
    _steps[2 * step + 1] = {app, step, +1};
    ka_gui_add_button(g, win, "-", c->x + c->w - 2 * bw - pad, c->y, bw, rh, 1, _on_step,
                      &_steps[2 * step]);
    ka_gui_add_button(g, win, "+", c->x + c->w - bw, c->y, bw, rh, 1, _on_step,
                      &_steps[2 * step + 1]);
    c->y += rh + pad / 2;
}

static void _build_choices(LUMIKEY_APP *app, int win, float top) {
    KA_GUI_CTX *g = app->gui;
    PRACTICE_LOG *log = app->practice_log;
    PRACTICE_SCREEN *p = &app->practice;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), rh = app_px(app, 46);
    int wide = W > H;
    // Landscape: the steppers' captions take the wider column.
    float cw = wide ? (W - 3 * pad) * 0.6f : W - 2 * pad;
    COLUMN a{pad, cw, top};
    for (int s = 0; s < STEP_COUNT; s++) _add_stepper(app, win, &a, s, rh, pad);
    COLUMN b = wide ? COLUMN{2 * pad + cw, W - 3 * pad - cw, top} : COLUMN{pad, cw, a.y + pad / 2};

    int src = ka_gui_add_combobox(g, win, b.x, b.y, b.w, bh, _on_source, app);
    for (const char *name : _source_names) ka_gui_combobox_add_item(g, src, i18n_tr(name));
    ka_gui_combobox_set_selected(g, src, log->source);
    b.y += bh + pad;
    int mode = ka_gui_add_combobox(g, win, b.x, b.y, b.w, bh, _on_mode, app);
    for (const char *name : _mode_names) ka_gui_combobox_add_item(g, mode, i18n_tr(name));
    ka_gui_combobox_set_selected(g, mode, log->mode);
    b.y += bh + pad;
    ka_gui_add_checkbox(g, win, i18n_tr("Screen light"), b.x, b.y, b.w, rh, log->show_light,
                        _on_light, app);
    b.y += rh + pad;

    if (p->phase == PRACTICE_DONE) {
        const PRACTICE_SESSION &s = p->session;
        char text[160];
        unsigned pct = s.total ? (unsigned)((uint64_t)s.right * 100 / s.total) : 0;
        snprintf(text, sizeof text, i18n_tr("Accuracy %u %%: %u of %u right"), pct, s.right,
                 s.total);
        ka_gui_add_label(g, win, text, b.x, b.y, b.w, rh, KA_GUI_ALIGN_JUSTIFY);
        b.y += rh;
        char note[160];
        // Against the clock the mean reaction is the result to see; otherwise what to aim for.
        if (s.mode == PRACTICE_INSTANT && s.reaction_ms)
            snprintf(note, sizeof note, i18n_tr("Reaction %u ms, goal %u ms"), s.reaction_ms,
                     log->goal_ms);
        else if (!p->offer_next)
            snprintf(note, sizeof note, i18n_tr("%u %% or better opens the next lesson"),
                     (unsigned)(KOCH_PASS * 100 + 0.5));
        else
            note[0] = '\0';
        if (note[0]) ka_gui_add_label(g, win, note, b.x, b.y, b.w, rh, KA_GUI_ALIGN_JUSTIFY);
        b.y += rh + pad / 2;
    }
    float half = (b.w - pad) / 2;
    if (p->phase == PRACTICE_DONE && p->offer_next) {
        ka_gui_add_button(g, win, i18n_tr("Next lesson"), b.x, b.y, half, bh, 1, _on_next_lesson,
                          app);
        ka_gui_add_button(g, win, i18n_tr("Start"), b.x + half + pad, b.y, half, bh, 1, _on_start,
                          app);
    } else {
        ka_gui_add_button(g, win, i18n_tr("Start"), b.x, b.y, b.w, bh, 1, _on_start, app);
    }
    b.y += bh + pad;
    ka_gui_add_button(g, win, i18n_tr("Send practice"), b.x, b.y, half, bh, 1, _on_send_practice,
                      app);
    ka_gui_add_button(g, win, i18n_tr("Save audio"), b.x + half + pad, b.y, half, bh, 1,
                      _on_save_sound, app);
}

static void _build_session(LUMIKEY_APP *app, int win, float top) {
    KA_GUI_CTX *g = app->gui;
    PRACTICE_SCREEN *p = &app->practice;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), rh = app_px(app, 46);
    p->status_label = ka_gui_add_label(g, win, "", pad, top, W - 2 * pad, rh, KA_GUI_ALIGN_CENTER);
    float y = top + rh + pad;
    if (app->practice_log->show_light) {
        float lh = app_px(app, 72);
        ka_gui_add_custom(g, win, pad, y, W - 2 * pad, lh, _draw_lamp, app);
        y += lh + pad;
    }
    float by = H - app_px(app, 28) - bh;
    ka_gui_add_custom(g, win, pad, y, W - 2 * pad, by - pad - y, _draw_copy, app);
    float half = (W - 3 * pad) / 2;
    ka_gui_add_button(g, win, i18n_tr("Repeat"), pad, by, half, bh, 1, _on_repeat, app);
    ka_gui_add_button(g, win, i18n_tr("End session"), 2 * pad + half, by, half, bh, 1, _on_end,
                      app);
}

void screen_practice_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    KA_GUI_CTX *g = app->gui;
    PRACTICE_SCREEN *p = &app->practice;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52);
    p->status_label = -1;
    for (int &id : p->step_labels) id = -1;
    int win = app_add_fixed_window(app, "Practice", 0, 0, W, H);
    if (win < 0) return;
    float pw = app_px(app, 150);
    ka_gui_add_label(g, win, i18n_tr("Practice"), pad, pad, W - pw - 3 * pad, bh,
                     KA_GUI_ALIGN_LEFT);
    if (!app->practice_log) {
        ka_gui_open_window(g, win);
        return;
    }
    float top = bh + 2 * pad;
    if (p->phase == PRACTICE_LISTEN || p->phase == PRACTICE_PAUSE) {
        _build_session(app, win, top);
        _update_status(app, al_get_time());
    } else {
        ka_gui_add_button(g, win, i18n_tr("Progress"), W - pw - pad, pad, pw, bh, 1, _on_progress,
                          app);
        _build_choices(app, win, top);
    }
    ka_gui_open_window(g, win);
    ui_sound_save_build(app);
}
