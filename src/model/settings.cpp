// src/model/settings.cpp: defaults, limits, colour texts and the settings file.
//
// The file is read leniently: a member of the wrong type or out of the number range is ignored
// and the field keeps what it had (the caller fills the defaults first), so a settings file
// from an older or newer version, or edited by hand, never stops the program.
#include "model/settings.hpp"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "model/model_json.hpp"
#include "support/ka_common.hpp"

void settings_default(SETTINGS *s) {
    __ka_assert(s, return );
    memset(s, 0, sizeof *s);
    morse_timing_default(&s->timing);
    s->out_screen = 1;
    s->out_sound = 1;
    s->color_dot = 0xFFFFFF;
    s->color_dash = 0xFFFFFF;
    s->tone_hz = 700;
    s->audio_latency_ms = 60;
    s->torch_latency_ms = 50;
    s->vibrate_latency_ms = 20;
    s->duplex_torch_latency_ms = 290;
    s->roi_pct = 20;
    s->eom_timeout_ms = 5000;
    s->fps_target = 30;
    s->keep_screen_on = 1;
    s->run_locked = 1;
    s->key_bounce_ms = 15;
}

static void _flag(int *v) {
    *v = *v ? 1 : 0;
}

static void _clamp(uint32_t *v, uint32_t lo, uint32_t hi) {
    if (*v < lo) *v = lo;
    if (*v > hi) *v = hi;
}

static const char *const _languages[] = {"", "en", "fr", "es", "de", "it"};

void settings_sanitize(SETTINGS *s) {
    __ka_assert(s, return );
    morse_timing_sanitize(&s->timing);
    _flag(&s->loop);
    _flag(&s->out_screen);
    _flag(&s->out_torch);
    _flag(&s->out_sound);
    _flag(&s->out_vibrate);
    s->color_dot &= 0xFFFFFF;
    s->color_dash &= 0xFFFFFF;
    s->color_gap &= 0xFFFFFF;
    s->color_letter_gap &= 0xFFFFFF;
    s->color_word_gap &= 0xFFFFFF;
    _clamp(&s->tone_hz, 400, 1000);
    _clamp(&s->audio_latency_ms, 0, 500);
    _clamp(&s->torch_latency_ms, 0, 500);
    _clamp(&s->vibrate_latency_ms, 0, 500);
    _clamp(&s->duplex_torch_latency_ms, 0, 500);
    _clamp(&s->roi_pct, 5, 50);
    _clamp(&s->eom_timeout_ms, 1000, 15000);
    _flag(&s->debug_overlay);
    _flag(&s->rx_front_camera);
    if (s->fps_target != 15 && s->fps_target != 30 && s->fps_target != 60) s->fps_target = 30;
    _flag(&s->keep_screen_on);
    _flag(&s->run_locked);
    // The field may arrive without its NUL (a record filled by hand); a code is never longer.
    s->lang[sizeof s->lang - 1] = '\0';
    bool known = false;
    for (const char *code : _languages) known = known || strcmp(s->lang, code) == 0;
    if (!known) memset(s->lang, 0, sizeof s->lang);
    s->rx_camera[sizeof s->rx_camera - 1] = '\0';
    if (s->key_mode > 2) s->key_mode = 0;
    _flag(&s->key_iambic_b);
    _flag(&s->key_fixed_speed);
    _clamp(&s->key_bounce_ms, 5, 50);
}

uint32_t settings_color_for(const SETTINGS *s, int state) {
    __ka_assert(s, return 0);
    switch (state) {
    case MORSE_DOT:
        return s->color_dot;
    case MORSE_DASH:
        return s->color_dash;
    case MORSE_LETTER_GAP:
        return s->color_letter_gap;
    case MORSE_WORD_GAP:
        return s->color_word_gap;
    default:
        return s->color_gap;
    }
}

void settings_format_color(uint32_t rgb, char *out) {
    __ka_assert(out, return );
    snprintf(out, 8, "#%06X", rgb & 0xFFFFFF);
}

static int _hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int settings_parse_color(const char *text, uint32_t *rgb) {
    __ka_assert(text, return 0);
    __ka_assert(rgb, return 0);
    const char *p = text;
    while (*p == ' ') p++;
    if (*p == '#') p++;
    size_t n = 0;
    while (p[n] && p[n] != ' ') n++;
    for (const char *rest = p + n; *rest; rest++) {
        if (*rest != ' ') return 0;
    }
    if (n != 6 && n != 3) return 0;
    uint32_t value = 0;
    for (size_t i = 0; i < n; i++) {
        int d = _hex_digit(p[i]);
        if (d < 0) return 0;
        value = n == 6 ? (value << 4) | (uint32_t)d : (value << 8) | (uint32_t)(d * 17);
    }
    *rgb = value;
    return 1;
}

// The members of the file, in the order they are written, and where each lives in the record.
enum _KIND { _NUMBER, _FLAG, _COLOR, _LANG, _TEXT };
struct _MEMBER {
    const char *key;
    _KIND kind;
    size_t offset;
    size_t size; // of a _TEXT's buffer
};

#define _M(key, kind, field)                                                                       \
    { key, kind, offsetof(SETTINGS, field), sizeof(SETTINGS::field) }
static const _MEMBER _members[] = {
    _M("unit_ms", _NUMBER, timing.unit_ms),
    _M("dash_units", _NUMBER, timing.dash_units),
    _M("letter_gap_units", _NUMBER, timing.letter_gap_units),
    _M("word_gap_units", _NUMBER, timing.word_gap_units),
    _M("loop", _FLAG, loop),
    _M("out_screen", _FLAG, out_screen),
    _M("out_torch", _FLAG, out_torch),
    _M("out_sound", _FLAG, out_sound),
    _M("out_vibrate", _FLAG, out_vibrate),
    _M("color_dot", _COLOR, color_dot),
    _M("color_dash", _COLOR, color_dash),
    _M("color_gap", _COLOR, color_gap),
    _M("color_letter_gap", _COLOR, color_letter_gap),
    _M("color_word_gap", _COLOR, color_word_gap),
    _M("tone_hz", _NUMBER, tone_hz),
    _M("audio_latency_ms", _NUMBER, audio_latency_ms),
    _M("torch_latency_ms", _NUMBER, torch_latency_ms),
    _M("vibrate_latency_ms", _NUMBER, vibrate_latency_ms),
    _M("duplex_torch_latency_ms", _NUMBER, duplex_torch_latency_ms),
    _M("roi_pct", _NUMBER, roi_pct),
    _M("eom_timeout_ms", _NUMBER, eom_timeout_ms),
    _M("debug_overlay", _FLAG, debug_overlay),
    _M("rx_front_camera", _FLAG, rx_front_camera),
    _M("rx_camera", _TEXT, rx_camera),
    _M("fps_target", _NUMBER, fps_target),
    _M("keep_screen_on", _FLAG, keep_screen_on),
    _M("run_locked", _FLAG, run_locked),
    _M("lang", _LANG, lang),
    _M("key_mode", _NUMBER, key_mode),
    _M("key_iambic_b", _FLAG, key_iambic_b),
    _M("key_fixed_speed", _FLAG, key_fixed_speed),
    _M("key_bounce_ms", _NUMBER, key_bounce_ms),
};
#undef _M

char *settings_to_json(const SETTINGS *s) {
    __ka_assert(s, return nullptr);
    cJSON *o = cJSON_CreateObject();
    __ka_assert(o, return nullptr);
    CJSON_PTR root(o);
    bool ok = cJSON_AddNumberToObject(o, "version", 1) != nullptr;
    const char *base = (const char *)s;
    for (const _MEMBER &m : _members) {
        if (!ok) break;
        const void *field = base + m.offset;
        switch (m.kind) {
        case _NUMBER:
            ok = cJSON_AddNumberToObject(o, m.key, *(const uint32_t *)field) != nullptr;
            break;
        case _FLAG:
            ok = cJSON_AddBoolToObject(o, m.key, *(const int *)field) != nullptr;
            break;
        case _COLOR: {
            char text[8];
            settings_format_color(*(const uint32_t *)field, text);
            ok = cJSON_AddStringToObject(o, m.key, text) != nullptr;
            break;
        }
        case _LANG:
            ok = cJSON_AddStringToObject(o, m.key, s->lang) != nullptr;
            break;
        case _TEXT:
            ok = cJSON_AddStringToObject(o, m.key, (const char *)field) != nullptr;
            break;
        }
    }
    if (!ok) return nullptr;
    return _model_print(root.release());
}

int settings_from_json(SETTINGS *s, const char *json) {
    __ka_assert(s, return 0);
    __ka_assert(json, return 0);
    CJSON_PTR root(cJSON_Parse(json));
    if (!cJSON_IsObject(root.get())) {
        ka_log(LOG_ERR, "settings.json: not an object");
        return 0;
    }
    char *base = (char *)s;
    for (const _MEMBER &m : _members) {
        const cJSON *item = cJSON_GetObjectItemCaseSensitive(root.get(), m.key);
        if (!item) continue;
        void *field = base + m.offset;
        switch (m.kind) {
        case _NUMBER:
            if (cJSON_IsNumber(item) && item->valuedouble >= 0 && item->valuedouble <= 4.0e9)
                *(uint32_t *)field = (uint32_t)item->valuedouble;
            break;
        case _FLAG:
            if (cJSON_IsBool(item)) *(int *)field = cJSON_IsTrue(item) ? 1 : 0;
            break;
        case _COLOR:
            if (cJSON_IsString(item)) settings_parse_color(item->valuestring, (uint32_t *)field);
            break;
        case _LANG:
            if (cJSON_IsString(item)) ka_copy_text(s->lang, sizeof s->lang, item->valuestring);
            break;
        case _TEXT:
            // A longer text is no key of this program's: cut, it would name another device.
            if (cJSON_IsString(item) && strlen(item->valuestring) < m.size)
                ka_copy_text((char *)field, m.size, item->valuestring);
            break;
        }
    }
    settings_sanitize(s);
    return 1;
}
