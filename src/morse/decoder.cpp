// src/morse/decoder.cpp: the decoder's inputs (brightness samples, key edges), the run recorder
// with its glitch and bounce rules, and the decoding of the run list into text. The timing
// estimation that sets the thresholds lives in decoder_estimate.cpp.
#include "morse/decoder_private.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "morse/morse_table.hpp"
#include "support/ka_common.hpp"

// The symbols of one letter that are kept; an overlong letter is cut (it reads as "?" anyway).
constexpr size_t DECODER_MAX_CODE = 15;
// Two samples this far apart belong to different sessions, not to one frame interval.
constexpr double DECODER_MAX_FRAME_MS = 500.0;
// Samples of differences needed before the light input trusts its noise and range.
constexpr size_t DECODER_MIN_DIFFS = 16;

// Rounds a duration for the integer fields of the outputs, saturating instead of overflowing
// (a hand-keyed unit is not clamped and may be anything).
static uint32_t _round_ms(double v) {
    if (!(v > 0)) return 0;
    if (v >= 4294967295.0) return UINT32_MAX;
    return (uint32_t)(v + 0.5);
}

void decoder_config_default(DECODER_CONFIG *cfg) {
    __ka_assert(cfg, return );
    cfg->eom_timeout_ms = 5000;
    cfg->min_unit_ms = 20;
    cfg->max_unit_ms = 2000;
    cfg->min_contrast = 12.0f;
    cfg->baseline_tau_ms = 2000.0f;
    cfg->human = 0;
    cfg->fixed_unit_ms = 0;
    cfg->bounce_ms = 15;
}

MORSE_DECODER *decoder_new(const DECODER_CONFIG *cfg) {
    MORSE_DECODER *d = nullptr;
    Malloc(d, MORSE_DECODER, 1);
    if (!d) return nullptr;
    if (cfg)
        d->cfg = *cfg;
    else
        decoder_config_default(&d->cfg);
    return d;
}

void decoder_free(MORSE_DECODER **dec) {
    if (!dec || !*dec) return;
    Free(*dec);
}

void decoder_reset(MORSE_DECODER *dec) {
    __ka_assert(dec, return );
    DECODER_CONFIG cfg = dec->cfg;
    memset((void *)dec, 0, sizeof *dec);
    dec->cfg = cfg;
}

// Records one finished run of the current message, absorbing what cannot be a real element:
// leading spaces, a too-short first mark, key bounce and light glitches.
static void _push_run(MORSE_DECODER *d, int on, double ms) {
    d->last_run = ms;
    const DECODER_CONFIG &c = d->cfg;
    if (d->nruns == 0) {
        if (!on) return; // a message starts with a mark
        if (d->unit <= 0) {
            if (ms < c.min_unit_ms) return;
            if (c.human && ms < c.bounce_ms) return;
        } else if (c.human && ms < c.bounce_ms) {
            return;
        }
        d->runs[0] = RUN{1, ms};
        d->nruns = 1;
        _estimate(d);
        return;
    }
    double glitch = d->unit > 0 ? d->unit / 4 : c.min_unit_ms / 2.0;
    if (d->frame_ms > 0 && d->frame_ms < glitch) glitch = d->frame_ms;
    if (c.human) glitch = c.bounce_ms;
    if (d->merge_next) {
        // The glitch went into the run before it; this run continues that same run.
        d->runs[d->nruns - 1].ms += ms;
        d->merge_next = 0;
        _estimate(d);
        return;
    }
    if (ms < glitch) {
        d->runs[d->nruns - 1].ms += ms;
        d->merge_next = 1;
        return;
    }
    if (d->nruns >= DECODER_MAX_RUNS) return;
    d->runs[d->nruns++] = RUN{on, ms};
    _estimate(d);
}

// The light is taken as on above 60 % of the range between the dark and bright baselines and
// as off below 40 %; the gap between the two keeps noise near one level from toggling it.
static constexpr double _ON_LEVEL = 0.6, _OFF_LEVEL = 0.4;

// The range a signal must span before a first mark is believed: well clear of the noise
// measured so far, and never below the configured contrast.
static double _signal_range(const MORSE_DECODER *d) {
    return std::max(8.0 * d->noise, (double)d->cfg.min_contrast);
}

// Remembers how much consecutive samples differ while nothing is being received; the median
// of the latest differences is a robust noise figure that a real signal must stand out from.
static void _note_noise(MORSE_DECODER *d, float sample) {
    d->diffs[d->ndiffs % DECODER_NOISE_RING] = std::fabs(sample - d->luma);
    d->ndiffs++;
    if (d->ndiffs < 8) return;
    size_t count = std::min(d->ndiffs, DECODER_NOISE_RING);
    float v[DECODER_NOISE_RING];
    memcpy(v, d->diffs, sizeof v); // a full ring holds exactly the latest 32
    std::nth_element(v, v + count / 2, v + count);
    // The median of absolute differences of Gaussian noise is 0.954 times its deviation.
    d->noise = v[count / 2] / 0.954f;
}

void decoder_feed(MORSE_DECODER *dec, double t_ms, float luma) {
    __ka_assert(dec, return );
    MORSE_DECODER *d = dec;
    // A non-finite value would poison the baselines for good.
    if (!std::isfinite(t_ms) || !std::isfinite(luma)) return;
    if (!d->primed) {
        d->primed = 1;
        d->luma = d->lo = d->hi = luma;
        d->t_state = d->t_last = t_ms;
        return;
    }
    double dt = t_ms - d->t_last;
    if (dt <= 0) return;
    if (dt < DECODER_MAX_FRAME_MS) {
        d->frame_ms = d->frame_ms == 0 ? dt : d->frame_ms + 0.05 * (dt - d->frame_ms);
    }
    if (d->nruns == 0 && !d->on && d->cand_frames == 0) _note_noise(d, luma);

    // The baselines follow slow changes of light and exposure but jump to a new extreme.
    double tau = d->cfg.baseline_tau_ms;
    double k = tau > 0 ? std::exp(-dt / tau) : 0.0;
    double s = luma, hi = d->hi, lo = d->lo;
    hi = s > hi ? s : hi + (1 - k) * (s - hi);
    lo = s < lo ? s : lo + (1 - k) * (s - lo);
    d->hi = (float)hi;
    d->lo = (float)lo;
    double range = hi - lo;
    double on_level = lo + _ON_LEVEL * range, off_level = lo + _OFF_LEVEL * range;
    double release_level = lo + 0.3 * range;
    const double contrast = d->cfg.min_contrast;
    bool strong = range >= contrast && d->ndiffs >= DECODER_MIN_DIFFS;

    int target = -1;
    if (!d->on) {
        if (d->nruns == 0) {
            // The first mark must also stand well clear of the noise measured so far.
            if (range >= _signal_range(d) && d->ndiffs >= DECODER_MIN_DIFFS && s > on_level)
                target = 1;
        } else if (strong && s > on_level) {
            target = 1;
        }
    } else if (!(strong && s >= off_level)) {
        if (s < release_level) {
            // Clearly dark again: no need to wait for a second frame.
            double edge = (d->t_last + t_ms) / 2;
            _push_run(d, 1, edge - d->t_state);
            d->on = 0;
            d->t_state = edge;
        } else {
            target = 0;
        }
    }
    if (target >= 0) {
        if (d->cand_frames == 0 || d->cand != target) {
            // One frame is not enough: a transition needs the next frame to agree.
            d->cand = target;
            d->cand_frames = 1;
            d->cand_edge = (d->t_last + t_ms) / 2;
            d->t_last = t_ms;
            d->luma = luma;
            return;
        }
        d->cand_frames++;
        _push_run(d, d->on, d->cand_edge - d->t_state);
        d->on = d->cand;
        d->t_state = d->cand_edge;
    }
    d->cand_frames = 0;
    d->t_last = t_ms;
    d->luma = luma;
}

void decoder_key(MORSE_DECODER *dec, double t_ms, int down) {
    __ka_assert(dec, return );
    if (!std::isfinite(t_ms)) return;
    if (!dec->primed) {
        dec->primed = 1;
        dec->on = 0;
        dec->t_last = dec->t_state = t_ms;
    }
    double t = std::max(t_ms, dec->t_last);
    int want = down ? 1 : 0;
    if (want != dec->on) {
        _push_run(dec, dec->on, t - dec->t_state);
        dec->on = want;
        dec->t_state = t;
    }
    dec->t_last = t;
}

void decoder_tick(MORSE_DECODER *dec, double t_ms) {
    __ka_assert(dec, return );
    if (dec->primed && t_ms > dec->t_last) dec->t_last = t_ms;
}

// A fixed-size text field being filled. Once a piece has been cut, nothing more is added, so
// a full field never shows a later piece after a missing one.
struct _FIELD {
    char *buf;
    size_t size;
    size_t len;
    bool full;
};

static void _append(_FIELD *f, const char *piece) {
    if (f->full) return;
    size_t n = ka_copy_text(f->buf + f->len, f->size - f->len, piece);
    f->len += n;
    if (piece[n] != '\0') f->full = true;
}

static void _flush_letter(_FIELD *text, _FIELD *symbols, char *code, size_t *ncode) {
    if (*ncode == 0) return;
    code[*ncode] = '\0';
    uint32_t cp = morse_char_of(code);
    char utf8[8];
    if (cp == 0 || morse_utf8_encode(cp, utf8) == 0) ka_copy_text(utf8, sizeof utf8, "?");
    _append(text, utf8);
    _append(symbols, code);
    *ncode = 0;
}

// The element of a letter most likely misread: the gap inside it closest to ending the letter
// and the mark closest to the other kind, each with its distance (log) to its threshold.
struct _DOUBT {
    size_t gap_at = 0; // symbols before that gap (0: none yet)
    double gap = INFINITY;
    size_t mark_at = 0;
    double mark = INFINITY;
};

// Very uneven keying misreads an element now and then, and a letter that reads as no character
// at all is the trace: it is read again with its most doubtful element the other way round
// (a gap that ends the letter, or a dot for a dash), when that gives characters.
static void _flush_doubtful(const MORSE_DECODER *d, _FIELD *text, _FIELD *symbols, char *code,
                            size_t *ncode, _DOUBT *doubt) {
    _DOUBT seen = *doubt;
    *doubt = _DOUBT{};
    code[*ncode] = '\0';
    if (!d->uneven || *ncode == 0 || morse_char_of(code) != 0) {
        _flush_letter(text, symbols, code, ncode);
        return;
    }
    const double most = std::log(1.6); // no further from its threshold than this
    for (int pass = 0; pass < 2; pass++) {
        bool split = (pass == 0) == (seen.gap <= seen.mark);
        if (split && seen.gap_at > 0 && seen.gap < most) {
            char head[DECODER_MAX_CODE + 1], tail[DECODER_MAX_CODE + 1];
            size_t nh = seen.gap_at, nt = *ncode - seen.gap_at;
            memcpy(head, code, nh);
            head[nh] = '\0';
            memcpy(tail, code + nh, nt);
            tail[nt] = '\0';
            if (morse_char_of(head) && morse_char_of(tail)) {
                _flush_letter(text, symbols, head, &nh);
                _append(symbols, " ");
                _flush_letter(text, symbols, tail, &nt);
                *ncode = 0;
                return;
            }
        } else if (!split && seen.mark < most) {
            code[seen.mark_at] = code[seen.mark_at] == '-' ? '.' : '-';
            if (morse_char_of(code)) break;
            code[seen.mark_at] = code[seen.mark_at] == '-' ? '.' : '-';
        }
    }
    _flush_letter(text, symbols, code, ncode);
}

// Reads the whole run list with the current thresholds.
static void _decode(const MORSE_DECODER *d, DECODED_MESSAGE *out) {
    memset((void *)out, 0, sizeof *out);
    if (d->nruns == 0 || d->unit <= 0) return;
    _FIELD text{out->text, sizeof out->text, 0, false};
    _FIELD symbols{out->symbols, sizeof out->symbols, 0, false};
    char code[DECODER_MAX_CODE + 1];
    size_t ncode = 0;
    bool after_dash = false;
    const RUN *runs = _view(d);
    _DOUBT doubt;
    for (size_t i = 0; i < d->nruns; i++) {
        const RUN &r = runs[i];
        if (r.on) {
            after_dash = r.ms >= d->th_dash;
            double off = std::fabs(std::log(std::max(r.ms, 1e-3) / d->th_dash));
            if (ncode < DECODER_MAX_CODE && off < doubt.mark) {
                doubt.mark = off;
                doubt.mark_at = ncode;
            }
            if (ncode < DECODER_MAX_CODE) code[ncode++] = after_dash ? '-' : '.';
            continue;
        }
        // Hand keying stretches the gap after a dash differently from the one after a dot.
        double th_letter = after_dash ? d->th_letter_dash : d->th_letter;
        double th_word = after_dash ? d->th_word_dash : d->th_word;
        if (r.ms < th_letter) {
            double off = std::log(th_letter / std::max(r.ms, 1e-3));
            if (off < doubt.gap && ncode < DECODER_MAX_CODE) {
                doubt.gap = off;
                doubt.gap_at = ncode;
            }
            continue;
        }
        _flush_doubtful(d, &text, &symbols, code, &ncode, &doubt);
        if (r.ms >= th_word) {
            _append(&text, " ");
            _append(&symbols, " / ");
        } else {
            _append(&symbols, " ");
        }
    }
    _flush_doubtful(d, &text, &symbols, code, &ncode, &doubt);
    out->unit_ms = _round_ms(d->unit);
}

void decoder_live(const MORSE_DECODER *dec, DECODED_MESSAGE *out) {
    __ka_assert(dec, return );
    __ka_assert(out, return );
    _decode(dec, out);
}

// Logs the runs of a keyed message in lines of bounded length, for tuning from user reports.
static void _log_runs(const MORSE_DECODER *d) {
    char line[1024];
    size_t len = 0;
    line[0] = '\0';
    for (size_t i = 0; i < d->nruns; i++) {
        int n = snprintf(line + len, sizeof line - len, " %c%.0f", d->runs[i].on ? '+' : '-',
                         d->runs[i].ms);
        if (n > 0) len = std::min(len + (size_t)n, sizeof line - 1);
        if (len > 400) {
            ka_log(LOG_INFO, "runs:%s", line);
            len = 0;
            line[0] = '\0';
        }
    }
    if (len > 0) ka_log(LOG_INFO, "runs:%s", line);
}

// Hands out the current message and starts the next one with the speed learnt so far.
static int _take(MORSE_DECODER *d, DECODED_MESSAGE *out) {
    if (d->on && d->primed) {
        _push_run(d, 1, d->t_last - d->t_state);
        d->on = 0;
        d->t_state = d->t_last;
    }
    _decode(d, out);
    int result = out->text[0] != '\0';
    if (d->cfg.human && result) {
        if (d->unit > 0) d->prev_dot = d->unit;
        ka_log(LOG_INFO,
               "keyed '%s' thresholds dash %.0f, letter %.0f / %.0f, word %.0f / %.0f ms (after "
               "a dot / a dash), %zu runs",
               out->text, d->th_dash, d->th_letter, d->th_letter_dash, d->th_word, d->th_word_dash,
               d->nruns);
        _log_runs(d);
    }
    d->nruns = 0;
    d->merge_next = 0;
    return result;
}

int decoder_poll_message(MORSE_DECODER *dec, DECODED_MESSAGE *out) {
    __ka_assert(dec, return 0);
    __ka_assert(out, return 0);
    if (dec->nruns == 0 || dec->on) return 0;
    if (dec->t_last - dec->t_state < dec->cfg.eom_timeout_ms) return 0;
    return _take(dec, out);
}

int decoder_finish(MORSE_DECODER *dec, DECODED_MESSAGE *out) {
    __ka_assert(dec, return 0);
    __ka_assert(out, return 0);
    if (dec->nruns == 0 && !dec->on) return 0;
    return _take(dec, out);
}

void decoder_status(const MORSE_DECODER *dec, DECODER_STATUS *out) {
    __ka_assert(dec, return );
    __ka_assert(out, return );
    memset((void *)out, 0, sizeof *out);
    out->luma = dec->luma;
    out->lo = dec->lo;
    out->hi = dec->hi;
    double range = (double)dec->hi - dec->lo;
    out->th_on = (float)(dec->lo + _ON_LEVEL * range);
    out->th_off = (float)(dec->lo + _OFF_LEVEL * range);
    out->on = dec->on;
    out->has_signal = range >= _signal_range(dec);
    out->unit_ms = _round_ms(dec->unit);
    out->last_run_ms = _round_ms(dec->last_run);
    out->receiving = dec->nruns > 0 || dec->on;
}

void decoder_dump(const MORSE_DECODER *dec, FILE *f) {
    __ka_assert(dec, return );
    __ka_assert(f, return );
    fprintf(f, "unit %.1f bias %.1f runs %zu:", dec->unit, dec->bias, dec->nruns);
    for (size_t i = 0; i < dec->nruns; i++) {
        fprintf(f, " %c%.0f", dec->runs[i].on ? '+' : '-', dec->runs[i].ms);
    }
    fputc('\n', f);
}
