// src/morse/sequencer.cpp: turns a text into the timed list of dots, dashes and gaps that the
// player and every output share, and answers the few questions the outputs ask about it.
#include "morse/sequencer.hpp"

#include <cstring>

#include "morse/morse_table.hpp"
#include "support/ka_common.hpp"

// The event array under construction and how many events it can hold before it must grow.
struct _SEQ_BUILDER {
    MORSE_SEQUENCE *seq;
    size_t cap;
    bool too_long; // the last push failed on the 32-bit totals, not on memory
};

static const size_t _first_capacity = 64;

void morse_timing_default(MORSE_TIMING *t) {
    __ka_assert(t, return );
    t->unit_ms = 100;
    t->dash_units = 3;
    t->letter_gap_units = 3;
    t->word_gap_units = 7;
}

static int _clamp(uint32_t *v, uint32_t lo, uint32_t hi) {
    if (*v < lo)
        *v = lo;
    else if (*v > hi)
        *v = hi;
    else
        return 1;
    return 0;
}

int morse_timing_sanitize(MORSE_TIMING *t) {
    __ka_assert(t, return 0);
    // Every field is clamped even after the first change, so one call always leaves a valid record.
    int ok = _clamp(&t->unit_ms, 20, 2000);
    ok &= _clamp(&t->dash_units, 2, 6);
    ok &= _clamp(&t->letter_gap_units, 2, 10);
    ok &= _clamp(&t->word_gap_units, 4, 20);
    return ok;
}

uint32_t morse_wpm_to_unit_ms(uint32_t wpm) {
    if (wpm == 0) wpm = 1;
    return (1200 + wpm / 2) / wpm;
}

// Adds units to the totals and fills the event's times; 0 when the totals would no longer fit
// in 32 bits (start times would wrap and every output would lose its place).
static int _account(MORSE_SEQUENCE *seq, MORSE_EVENT *ev, MORSE_STATE state, uint32_t units,
                    size_t offset, size_t len) {
    uint64_t duration = (uint64_t)units * seq->timing.unit_ms;
    if ((uint64_t)seq->total_ms + duration > UINT32_MAX ||
        (uint64_t)seq->total_units + units > UINT32_MAX) {
        ka_log(LOG_ERR, "message too long: more than %u ms of Morse", UINT32_MAX);
        return 0;
    }
    ev->state = state;
    ev->units = units;
    ev->duration_ms = (uint32_t)duration;
    ev->start_ms = seq->total_ms;
    ev->text_offset = offset;
    ev->text_len = len;
    seq->total_units += units;
    seq->total_ms += (uint32_t)duration;
    return 1;
}

// Resizes the event array to cap events. The guarded Realloc keeps the old block on failure but
// cannot say so, and an in-place success returns the same pointer, so the checked helper is
// called directly; its failure message still names the array and its type.
static int _grow(MORSE_SEQUENCE *seq, size_t cap) {
    void *block = _ka_realloc(seq->events, cap, sizeof(MORSE_EVENT), "seq->events", "MORSE_EVENT",
                              __LINE__, __FILE__);
    if (!block) return 0;
    seq->events = (MORSE_EVENT *)block;
    return 1;
}

static int _push(_SEQ_BUILDER *b, MORSE_STATE state, uint32_t units, size_t offset, size_t len) {
    MORSE_SEQUENCE *seq = b->seq;
    if (seq->count == b->cap) {
        size_t cap = b->cap ? b->cap * 2 : _first_capacity;
        if (cap < b->cap || !_grow(seq, cap)) return 0;
        b->cap = cap;
    }
    if (!_account(seq, &seq->events[seq->count], state, units, offset, len)) {
        b->too_long = true;
        return 0;
    }
    seq->count++;
    return 1;
}

static bool _is_space(uint32_t cp) {
    return cp == 0x09 || cp == 0x0A || cp == 0x0D || cp == 0x20 || cp == 0xA0 || cp == 0x202F;
}

// Pushes the symbols of one table character with one-unit gaps between them.
static int _push_code(_SEQ_BUILDER *b, uint32_t ch, size_t offset, size_t len) {
    const char *code = morse_code_of(ch);
    if (!code) return 1; // normalisation only yields table characters
    const MORSE_TIMING &t = b->seq->timing;
    for (const char *c = code; *c; c++) {
        if (c != code && !_push(b, MORSE_SYM_GAP, 1, offset, len)) return 0;
        MORSE_STATE state = *c == '.' ? MORSE_DOT : MORSE_DASH;
        if (!_push(b, state, state == MORSE_DOT ? 1 : t.dash_units, offset, len)) return 0;
    }
    return 1;
}

MORSE_SEQUENCE *morse_sequence_build(const char *text, const MORSE_TIMING *timing) {
    __ka_assert(text, return nullptr);
    __ka_assert(timing, return nullptr);
    MORSE_SEQUENCE *seq;
    if (!Malloc(seq, MORSE_SEQUENCE, 1)) return nullptr;
    seq->timing = *timing;
    morse_timing_sanitize(&seq->timing);
    const MORSE_TIMING &t = seq->timing;

    _SEQ_BUILDER b{seq, 0, false};
    bool any_sent = false;
    int pending = 0; // 2: a word gap separates the next character, else a letter gap
    const char *p = text;
    for (;;) {
        size_t offset = (size_t)(p - text);
        uint32_t cp = morse_utf8_next(&p);
        if (!cp) break;
        size_t len = (size_t)(p - text) - offset;
        if (_is_space(cp)) {
            if (any_sent) pending = 2;
            continue;
        }
        uint32_t chars[2];
        int n = morse_normalize(cp, chars);
        if (n == 0) {
            seq->skipped++;
            ka_log(LOG_INFO, "skipping unsupported character U+%04X at byte %zu", cp, offset);
            continue;
        }
        bool ok = true;
        if (any_sent) {
            ok = pending == 2 ? _push(&b, MORSE_WORD_GAP, t.word_gap_units, offset, len)
                              : _push(&b, MORSE_LETTER_GAP, t.letter_gap_units, offset, len);
        }
        for (int i = 0; ok && i < n; i++) {
            if (i > 0) ok = _push(&b, MORSE_LETTER_GAP, t.letter_gap_units, offset, len);
            ok = ok && _push_code(&b, chars[i], offset, len);
        }
        if (!ok) {
            if (!b.too_long) ka_log(LOG_ERR, "out of memory building a sequence");
            morse_sequence_free(&seq);
            return nullptr;
        }
        any_sent = true;
        pending = 1;
    }
    return seq;
}

int morse_sequence_close(MORSE_SEQUENCE *seq, uint32_t units) {
    __ka_assert(seq, return 0);
    if (seq->count == 0 || !seq->events) return 0;
    if (seq->events[seq->count - 1].state >= MORSE_SYM_GAP) return 1;
    // The record does not keep the builder's capacity, so grow to exactly one more event.
    if (!_grow(seq, seq->count + 1)) return 0;
    const MORSE_EVENT &prev = seq->events[seq->count - 1];
    size_t offset = prev.text_offset + prev.text_len;
    if (!_account(seq, &seq->events[seq->count], MORSE_WORD_GAP, units, offset, 0)) return 0;
    seq->count++;
    return 1;
}

double morse_farnsworth_gap_unit_ms(const MORSE_TIMING *timing, uint32_t effective_wpm) {
    __ka_assert(timing, return 0);
    MORSE_TIMING t = *timing;
    morse_timing_sanitize(&t);
    if (effective_wpm == 0) return t.unit_ms;
    // PARIS: ten dots, four dashes and nine gaps inside its letters keep the character speed;
    // its four letter gaps and the word gap after it take up the rest of the word's time.
    double marks = 10.0 + 4.0 * t.dash_units + 9.0;
    double gaps = 4.0 * t.letter_gap_units + t.word_gap_units;
    double gap_unit = (60000.0 / effective_wpm - marks * t.unit_ms) / gaps;
    return gap_unit > t.unit_ms ? gap_unit : t.unit_ms;
}

int morse_sequence_spread(MORSE_SEQUENCE *seq, uint32_t effective_wpm) {
    __ka_assert(seq, return 0);
    double gap_unit = morse_farnsworth_gap_unit_ms(&seq->timing, effective_wpm);
    if (gap_unit <= seq->timing.unit_ms) return 1;
    uint64_t total = 0;
    for (size_t i = 0; i < seq->count; i++) {
        const MORSE_EVENT &ev = seq->events[i];
        uint64_t d = ev.duration_ms;
        if (ev.state == MORSE_LETTER_GAP || ev.state == MORSE_WORD_GAP)
            d = (uint64_t)(ev.units * gap_unit + 0.5);
        total += d;
    }
    if (total > UINT32_MAX) {
        ka_log(LOG_ERR, "message too long: more than %u ms of Morse", UINT32_MAX);
        return 0;
    }
    uint32_t at = 0;
    for (size_t i = 0; i < seq->count; i++) {
        MORSE_EVENT &ev = seq->events[i];
        if (ev.state == MORSE_LETTER_GAP || ev.state == MORSE_WORD_GAP)
            ev.duration_ms = (uint32_t)(ev.units * gap_unit + 0.5);
        ev.start_ms = at;
        at += ev.duration_ms;
    }
    seq->total_ms = at;
    return 1;
}

void morse_sequence_free(MORSE_SEQUENCE **seq) {
    if (!seq || !*seq) return;
    free((*seq)->events);
    Free(*seq);
}

size_t morse_sequence_event_at(const MORSE_SEQUENCE *seq, uint32_t t_ms) {
    __ka_assert(seq, return 0);
    if (seq->count == 0) return 0;
    if (t_ms >= seq->total_ms) return seq->count;
    // Largest index whose start is at most t_ms; the first event starts at 0, so one exists.
    size_t lo = 0, hi = seq->count;
    while (hi - lo > 1) {
        size_t mid = lo + (hi - lo) / 2;
        if (seq->events[mid].start_ms <= t_ms)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

size_t morse_sequence_to_symbols(const MORSE_SEQUENCE *seq, char *out, size_t out_size) {
    __ka_assert(seq, return 0);
    __ka_assert(out, return 0);
    if (out_size == 0) return 0;
    size_t len = 0;
    out[0] = '\0';
    for (size_t i = 0; i < seq->count; i++) {
        const char *piece = "";
        switch (seq->events[i].state) {
        case MORSE_DOT:
            piece = ".";
            break;
        case MORSE_DASH:
            piece = "-";
            break;
        case MORSE_LETTER_GAP:
            piece = " ";
            break;
        case MORSE_WORD_GAP:
            piece = " / ";
            break;
        default:
            break;
        }
        size_t n = strlen(piece);
        if (len + n + 1 > out_size) break;
        memcpy(out + len, piece, n);
        len += n;
        out[len] = '\0';
    }
    return len;
}

size_t morse_sequence_on_off_ms(const MORSE_SEQUENCE *seq, uint32_t *out, size_t max) {
    __ka_assert(seq, return 0);
    if (seq->count == 0) return 0;
    if (out && max > 0) out[0] = 0;
    for (size_t i = 0; i < seq->count; i++)
        if (out && i + 1 < max) out[i + 1] = seq->events[i].duration_ms;
    return seq->count + 1;
}
