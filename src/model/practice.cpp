// src/model/practice.cpp: the practice log and "practice.json".
#include "model/practice.hpp"

#include <cmath>
#include <cstring>

#include "model/model_json.hpp"
#include "support/ka_common.hpp"

PRACTICE_LOG *practice_new() {
    PRACTICE_LOG *log;
    if (!Malloc(log, PRACTICE_LOG, 1)) return nullptr;
    if (!Malloc(log->sessions, PRACTICE_SESSION, PRACTICE_MAX_SESSIONS)) {
        Free(log);
        return nullptr;
    }
    log->lesson = 1;
    log->wpm = 20;
    log->effective_wpm = 10;
    log->group_len = 5;
    log->minutes = 5;
    log->source = KOCH_SOURCE_GROUPS;
    log->mode = PRACTICE_COPY;
    log->goal_ms = 1000;
    log->show_light = 0;
    return log;
}

void practice_free(PRACTICE_LOG **log) {
    if (!log || !*log) return;
    if ((*log)->sessions) Free((*log)->sessions);
    Free(*log);
}

static uint32_t _clamp(uint32_t v, uint32_t lo, uint32_t hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

void practice_sanitize(PRACTICE_LOG *log) {
    __ka_assert(log, return );
    log->lesson = koch_lesson_clamp(log->lesson);
    log->wpm = _clamp(log->wpm, 5, 50);
    log->effective_wpm = _clamp(log->effective_wpm, 5, log->wpm);
    log->group_len = _clamp(log->group_len, 1, 10);
    log->minutes = _clamp(log->minutes, 1, 10);
    if (log->source < 0 || log->source >= KOCH_SOURCE_COUNT) log->source = KOCH_SOURCE_GROUPS;
    if (log->mode != PRACTICE_INSTANT) log->mode = PRACTICE_COPY;
    log->goal_ms = _clamp(log->goal_ms, 100, 5000);
    log->show_light = log->show_light ? 1 : 0;
}

void practice_count(PRACTICE_LOG *log, const KOCH_SCORE *score, PRACTICE_SESSION *session) {
    __ka_assert(log, return );
    __ka_assert(score, return );
    for (size_t i = 0; i < score->count && i < sizeof score->marks / sizeof score->marks[0]; i++) {
        const KOCH_MARK &m = score->marks[i];
        int c = koch_index(m.expected);
        if (m.kind == KOCH_EXTRA || c < 0) continue;
        PRACTICE_CHAR &ch = log->chars[c];
        ch.sent++;
        if (session) session->char_sent[c]++;
        if (m.kind == KOCH_RIGHT) {
            ch.right++;
            if (session) session->char_right[c]++;
        } else if (m.kind == KOCH_WRONG) {
            int t = koch_index(m.typed);
            if (t >= 0) ch.taken_for[t]++;
        }
    }
    if (session) {
        session->right += score->right;
        session->total += score->total;
    }
}

int practice_add_session(PRACTICE_LOG *log, const PRACTICE_SESSION *session) {
    __ka_assert(log, return 0);
    __ka_assert(session, return 0);
    if (log->count >= PRACTICE_MAX_SESSIONS) {
        memmove(&log->sessions[0], &log->sessions[1],
                (PRACTICE_MAX_SESSIONS - 1) * sizeof(PRACTICE_SESSION));
        log->count = PRACTICE_MAX_SESSIONS - 1;
    }
    log->sessions[log->count++] = *session;
    return 1;
}

// "K": [sent, right] for each character that was sent, in Koch order.
static bool _add_counts(cJSON *parent, const char *key, const uint32_t *sent,
                        const uint32_t *right) {
    cJSON *o = cJSON_AddObjectToObject(parent, key);
    if (!o) return false;
    for (int c = 0; c < KOCH_CHARS; c++) {
        if (!sent[c]) continue;
        const char name[2] = {KOCH_ORDER[c], '\0'};
        cJSON *pair = cJSON_AddArrayToObject(o, name);
        if (!pair || !cJSON_AddItemToArray(pair, cJSON_CreateNumber(sent[c])) ||
            !cJSON_AddItemToArray(pair, cJSON_CreateNumber(right[c])))
            return false;
    }
    return true;
}

static const char *_mode_name(int mode) {
    return mode == PRACTICE_INSTANT ? "instant" : (mode == PRACTICE_SEND ? "send" : "copy");
}

static const struct {
    const char *key;
    uint32_t PRACTICE_FIST::*field;
} _FIST_FIELDS[] = {
    {"fault", &PRACTICE_FIST::fault},
    {"wpm", &PRACTICE_FIST::wpm},
    {"start_wpm", &PRACTICE_FIST::start_wpm},
    {"end_wpm", &PRACTICE_FIST::end_wpm},
    {"uneven_pct", &PRACTICE_FIST::uneven_pct},
    {"dash_x100", &PRACTICE_FIST::dash_x100},
    {"element_gap_x100", &PRACTICE_FIST::element_x100},
    {"letter_gap_x100", &PRACTICE_FIST::letter_x100},
    {"word_gap_x100", &PRACTICE_FIST::word_x100},
};

static bool _add_fist(cJSON *o, const PRACTICE_FIST &f) {
    cJSON *fist = cJSON_AddObjectToObject(o, "fist");
    bool ok = fist != nullptr;
    for (const auto &m : _FIST_FIELDS)
        ok = ok && cJSON_AddNumberToObject(fist, m.key, f.*m.field) != nullptr;
    return ok;
}

char *practice_to_json(const PRACTICE_LOG *log) {
    __ka_assert(log, return nullptr);
    cJSON *array = nullptr;
    CJSON_PTR root(_model_new_list("sessions", nullptr, &array));
    bool ok = root != nullptr;
    cJSON *r = root.get();
    ok = ok && cJSON_AddNumberToObject(r, "lesson", log->lesson) &&
         cJSON_AddNumberToObject(r, "wpm", log->wpm) &&
         cJSON_AddNumberToObject(r, "effective_wpm", log->effective_wpm) &&
         cJSON_AddNumberToObject(r, "group_len", log->group_len) &&
         cJSON_AddNumberToObject(r, "minutes", log->minutes) &&
         cJSON_AddNumberToObject(r, "source", log->source) &&
         cJSON_AddNumberToObject(r, "mode", log->mode) &&
         cJSON_AddNumberToObject(r, "goal_ms", log->goal_ms) &&
         cJSON_AddBoolToObject(r, "show_light", log->show_light);
    cJSON *chars = ok ? cJSON_AddObjectToObject(r, "chars") : nullptr;
    ok = ok && chars;
    for (int c = 0; ok && c < KOCH_CHARS; c++) {
        const PRACTICE_CHAR &ch = log->chars[c];
        if (!ch.sent) continue;
        const char name[2] = {KOCH_ORDER[c], '\0'};
        cJSON *o = cJSON_AddObjectToObject(chars, name);
        ok = o && cJSON_AddNumberToObject(o, "sent", ch.sent) &&
             cJSON_AddNumberToObject(o, "right", ch.right);
        cJSON *taken = ok ? cJSON_AddObjectToObject(o, "taken_for") : nullptr;
        ok = ok && taken;
        for (int t = 0; ok && t < KOCH_CHARS; t++) {
            if (!ch.taken_for[t]) continue;
            const char other[2] = {KOCH_ORDER[t], '\0'};
            ok = cJSON_AddNumberToObject(taken, other, ch.taken_for[t]) != nullptr;
        }
    }
    for (size_t i = 0; ok && i < log->count && i < PRACTICE_MAX_SESSIONS; i++) {
        const PRACTICE_SESSION &s = log->sessions[i];
        cJSON *o = _model_add_object(array);
        ok = o && cJSON_AddNumberToObject(o, "when", (double)s.when) &&
             cJSON_AddStringToObject(o, "mode", _mode_name(s.mode)) &&
             cJSON_AddNumberToObject(o, "source", s.source) &&
             cJSON_AddNumberToObject(o, "lesson", s.lesson) &&
             cJSON_AddNumberToObject(o, "wpm", s.wpm) &&
             cJSON_AddNumberToObject(o, "effective_wpm", s.effective_wpm) &&
             cJSON_AddNumberToObject(o, "right", s.right) &&
             cJSON_AddNumberToObject(o, "total", s.total) &&
             cJSON_AddNumberToObject(o, "seconds", s.seconds) &&
             cJSON_AddNumberToObject(o, "reaction_ms", s.reaction_ms) &&
             _add_counts(o, "chars", s.char_sent, s.char_right);
        if (ok && s.mode == PRACTICE_SEND) ok = _add_fist(o, s.fist);
    }
    if (!ok) return nullptr;
    return _model_print(root.release());
}

// A whole number member within [lo, hi], else fallback: a damaged file may hold values beyond
// the target type, whose conversion would be undefined.
static double _number(const cJSON *o, const char *key, double lo, double hi, double fallback) {
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(o, key);
    if (!cJSON_IsNumber(item)) return fallback;
    double v = item->valuedouble;
    return (v >= lo && v <= hi) ? (double)(int64_t)v : fallback;
}

static const double _COUNT_MAX = 4294967295.0;
// As in the received list: beyond 10^15 s a time would not read back exactly.
static const double _WHEN_MAX = 999999999999999.0;

// A character's name in the file: one character of the Koch order.
static int _char_of(const char *name) {
    return name && name[0] && !name[1] ? koch_index(name[0]) : -1;
}

static void _read_chars(PRACTICE_LOG *log, const cJSON *chars) {
    if (!cJSON_IsObject(chars)) return;
    const cJSON *e;
    cJSON_ArrayForEach(e, chars) {
        int c = _char_of(e->string);
        if (c < 0 || !cJSON_IsObject(e)) continue;
        PRACTICE_CHAR &ch = log->chars[c];
        ch.sent = (uint32_t)_number(e, "sent", 0, _COUNT_MAX, 0);
        ch.right = (uint32_t)_number(e, "right", 0, ch.sent, 0);
        const cJSON *taken = cJSON_GetObjectItemCaseSensitive(e, "taken_for");
        const cJSON *t;
        // A character never sent was never taken for another: such counts are noise.
        if (!ch.sent || !cJSON_IsObject(taken)) continue;
        cJSON_ArrayForEach(t, taken) {
            int other = _char_of(t->string);
            if (other >= 0 && cJSON_IsNumber(t) && t->valuedouble >= 0 &&
                t->valuedouble <= _COUNT_MAX)
                ch.taken_for[other] = (uint32_t)t->valuedouble;
        }
    }
}

static bool _read_session(const cJSON *o, PRACTICE_SESSION *s) {
    memset(s, 0, sizeof *s);
    const cJSON *when = cJSON_GetObjectItemCaseSensitive(o, "when");
    const cJSON *mode = cJSON_GetObjectItemCaseSensitive(o, "mode");
    if (!cJSON_IsNumber(when) || !cJSON_IsString(mode)) return false;
    if (!strcmp(mode->valuestring, "instant"))
        s->mode = PRACTICE_INSTANT;
    else if (!strcmp(mode->valuestring, "send"))
        s->mode = PRACTICE_SEND;
    else if (strcmp(mode->valuestring, "copy"))
        return false;
    const cJSON *fist = cJSON_GetObjectItemCaseSensitive(o, "fist");
    if (s->mode == PRACTICE_SEND && cJSON_IsObject(fist))
        for (const auto &m : _FIST_FIELDS)
            s->fist.*m.field = (uint32_t)_number(fist, m.key, 0, 100000, 0);
    s->when = (int64_t)_number(o, "when", -_WHEN_MAX, _WHEN_MAX, 0);
    s->source = (int)_number(o, "source", 0, KOCH_SOURCE_COUNT - 1, 0);
    s->lesson = (int)_number(o, "lesson", 1, KOCH_LESSONS, 1);
    s->wpm = (uint32_t)_number(o, "wpm", 1, 1000, 0);
    s->effective_wpm = (uint32_t)_number(o, "effective_wpm", 1, 1000, s->wpm);
    s->total = (uint32_t)_number(o, "total", 0, _COUNT_MAX, 0);
    s->right = (uint32_t)_number(o, "right", 0, s->total, 0);
    s->seconds = (uint32_t)_number(o, "seconds", 0, _COUNT_MAX, 0);
    s->reaction_ms = (uint32_t)_number(o, "reaction_ms", 0, _COUNT_MAX, 0);
    const cJSON *chars = cJSON_GetObjectItemCaseSensitive(o, "chars");
    const cJSON *e;
    if (cJSON_IsObject(chars)) {
        cJSON_ArrayForEach(e, chars) {
            int c = _char_of(e->string);
            if (c < 0 || !cJSON_IsArray(e) || cJSON_GetArraySize(e) != 2) continue;
            const cJSON *sent = cJSON_GetArrayItem(e, 0), *right = cJSON_GetArrayItem(e, 1);
            if (!cJSON_IsNumber(sent) || !cJSON_IsNumber(right) || sent->valuedouble < 0 ||
                sent->valuedouble > _COUNT_MAX || right->valuedouble < 0 ||
                right->valuedouble > sent->valuedouble)
                continue;
            s->char_sent[c] = (uint32_t)sent->valuedouble;
            s->char_right[c] = (uint32_t)right->valuedouble;
        }
    }
    return true;
}

int practice_from_json(PRACTICE_LOG *log, const char *json) {
    __ka_assert(log, return 0);
    __ka_assert(json, return 0);
    CJSON_PTR root;
    const cJSON *array =
        _model_parse_list(json, "sessions", "practice.json: not a practice document", &root);
    if (!array) return 0;
    PRACTICE_LOG *fresh = practice_new();
    if (!fresh) return 0;
    const cJSON *r = root.get();
    fresh->lesson = (int)_number(r, "lesson", 1, KOCH_LESSONS, fresh->lesson);
    fresh->wpm = (uint32_t)_number(r, "wpm", 0, 1000, fresh->wpm);
    fresh->effective_wpm = (uint32_t)_number(r, "effective_wpm", 0, 1000, fresh->effective_wpm);
    fresh->group_len = (uint32_t)_number(r, "group_len", 0, 1000, fresh->group_len);
    fresh->minutes = (uint32_t)_number(r, "minutes", 0, 1000, fresh->minutes);
    fresh->source = (int)_number(r, "source", 0, KOCH_SOURCE_COUNT - 1, fresh->source);
    fresh->mode = (int)_number(r, "mode", 0, 1, fresh->mode);
    fresh->goal_ms = (uint32_t)_number(r, "goal_ms", 0, 100000, fresh->goal_ms);
    fresh->show_light = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(r, "show_light"));
    practice_sanitize(fresh);
    _read_chars(fresh, cJSON_GetObjectItemCaseSensitive(r, "chars"));
    // A file longer than the bound (edited, or from a later version) keeps its newest sessions.
    int n = cJSON_GetArraySize(array),
        skip = n > PRACTICE_MAX_SESSIONS ? n - PRACTICE_MAX_SESSIONS : 0;
    const cJSON *e;
    cJSON_ArrayForEach(e, array) {
        if (skip > 0) {
            skip--;
            continue;
        }
        if (cJSON_IsObject(e) && _read_session(e, &fresh->sessions[fresh->count])) fresh->count++;
    }
    // The caller's log keeps its own storage; only the contents move.
    PRACTICE_SESSION *keep = log->sessions;
    memcpy(keep, fresh->sessions, fresh->count * sizeof(PRACTICE_SESSION));
    *log = *fresh;
    log->sessions = keep;
    practice_free(&fresh);
    return 1;
}

// A measured proportion against its standard on the log scale the fist is judged on, turned
// back into a fraction, so a dash of 2 dots and one of 4.5 are both 0.5 off.
static double _off(uint32_t x100, double standard) {
    if (!x100) return 0;
    return std::exp(std::fabs(std::log(x100 / 100.0 / standard))) - 1;
}

size_t practice_send_history(const PRACTICE_LOG *log, PRACTICE_SEND_POINT *out, size_t max) {
    __ka_assert(log && (out || !max), return 0);
    size_t first = log->count, taken = 0;
    while (first > 0 && taken < max)
        if (log->sessions[--first].mode == PRACTICE_SEND) taken++;
    size_t n = 0;
    for (size_t i = first; i < log->count && n < taken; i++) {
        const PRACTICE_SESSION &s = log->sessions[i];
        if (s.mode != PRACTICE_SEND) continue;
        const PRACTICE_FIST &f = s.fist;
        PRACTICE_SEND_POINT &p = out[n++];
        p.when = s.when;
        p.score = s.total ? (double)s.right / (double)s.total : -1;
        p.wpm = f.wpm;
        p.off = 0;
        for (double o : {_off(f.dash_x100, 3), _off(f.element_x100, 1), _off(f.letter_x100, 3),
                         _off(f.word_x100, 7)})
            if (o > p.off) p.off = o;
        p.fault = (int)f.fault;
    }
    return n;
}
