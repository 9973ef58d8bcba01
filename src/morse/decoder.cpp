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

// A key's contact chatters for a few milliseconds at each edge; the configured bounce time
// covers the worst key, and before the speed is known it is the limit. Once it is known, a fast
// and uneven hand keys real elements shorter than that (a jittered dot at 50 WPM lasts 10 to
// 15 ms), so the limit is then at most this share of a dot...
constexpr double BOUNCE_DOT_SHARE = 0.4;
// ... but never below this many milliseconds, which covers the chatter of a real contact.
constexpr double BOUNCE_FLOOR_MS = 5.0;
// Runs so few that the estimate may have taken a dash for the dot (a message that starts with
// T or M): the shortest of them, a dot or a gap inside a letter, stands for the dot instead.
constexpr size_t BOUNCE_EARLY_RUNS = 9;

// The longest run that counts as key bounce, merged into its neighbours instead of recorded.
static double _bounce_limit(const MORSE_DECODER *d) {
    double limit = d->cfg.bounce_ms;
    if (d->follow_off || !(d->unit > 0)) return limit;
    double dot = d->unit;
    if (d->nruns < BOUNCE_EARLY_RUNS) {
        for (size_t i = 0; i < d->nruns; i++) dot = std::min(dot, d->runs[i].ms);
    }
    return std::min(limit, std::max(BOUNCE_FLOOR_MS, BOUNCE_DOT_SHARE * dot));
}

// Records one finished run of the current message, absorbing what cannot be a real element:
// leading spaces, a too-short first mark, key bounce and light glitches.
//
// A hand key bounces at an edge: closing, it touches, lifts and touches again; opening, it
// lifts, touches and lifts again. Either way the edge is where the contact first changed, so
// the two short runs of a bounce belong to the run after them. A lone short run inside a run
// is a glitch of that run and joins it whole.
static void _push_run(MORSE_DECODER *d, int on, double ms) {
    d->last_run = ms;
    const DECODER_CONFIG &c = d->cfg;
    if (c.human) {
        ms += d->carry;
        d->carry = 0;
    }
    if (d->nruns == 0) {
        if (!on) {
            // A message starts with a mark; a short space after a bounce is part of it.
            if (c.human && d->lent > 0 && ms < _bounce_limit(d)) d->carry = d->lent + ms;
            d->lent = 0;
            return;
        }
        int drop = d->unit <= 0 ? ms < c.min_unit_ms || (c.human && ms < c.bounce_ms)
                                : c.human && ms < _bounce_limit(d);
        if (drop) {
            // Kept aside: the mark that follows began here, if a short space comes next.
            d->lent = c.human ? ms : 0;
            return;
        }
        d->lent = 0;
        d->runs[0] = RUN{1, ms};
        d->nruns = 1;
        _estimate(d);
        return;
    }
    double glitch = d->unit > 0 ? d->unit / 4 : c.min_unit_ms / 2.0;
    if (d->frame_ms > 0 && d->frame_ms < glitch) glitch = d->frame_ms;
    if (c.human) glitch = _bounce_limit(d);
    if (d->merge_next) {
        d->merge_next = 0;
        if (c.human && ms < glitch) {
            // Two short runs in a row: a bounce at the edge, which the next run began at.
            d->runs[d->nruns - 1].ms -= d->lent;
            d->carry = d->lent + ms;
            d->lent = 0;
            return;
        }
        // The glitch went into the run before it; this run continues that same run.
        d->runs[d->nruns - 1].ms += ms;
        d->lent = 0;
        _estimate(d);
        return;
    }
    if (ms < glitch) {
        d->runs[d->nruns - 1].ms += ms;
        d->merge_next = 1;
        d->lent = ms;
        return;
    }
    if (d->nruns >= DECODER_MAX_RUNS) return;
    d->runs[d->nruns++] = RUN{on, ms};
    _estimate(d);
}

// The light is taken as on above 60 % of the range between the dark and bright baselines and
// as off below 40 %; the gap between the two keeps noise near one level from toggling it.
static constexpr double _ON_LEVEL = 0.6, _OFF_LEVEL = 0.4;
// Below this the light is plainly off again: the mark ends without waiting for a second frame.
static constexpr double _RELEASE_LEVEL = 0.3;
// The baseline of the state not being seen (the bright one in a space, the dark one in a mark)
// fades this many times slower than each follows its own state: slow enough to carry the lamp's
// level over the longest pause in a message, fast enough to forget a lamp that has gone, so
// that noise is then never read against a contrast that no longer exists.
static constexpr double _FORGET_FACTOR = 10.0;
// A crossing of the middle level older than this many frames belongs to an earlier flicker,
// not to the transition being confirmed.
static constexpr double _EDGE_FRAMES = 2.5;
// Frames after an edge that still tell more about the lamp than about the sensor's noise.
static constexpr double _SETTLE_FRAMES = 3.0;
// How much clearer than any other mark the first mark of a message must stand.
static constexpr double _FIRST_MARK_MARGIN = 1.5;
// A sample within this fraction of the range from a baseline is taken as a sample of it.
static constexpr double _NEAR_LEVEL = 0.25;
// ... and so is one within this many times the noise figure: a band narrower than the noise
// would keep only one side of it, and the figure and the baseline would both drift off.
static constexpr double _NEAR_NOISE = 4.0;
// A state that has lasted this long shows its level, even far from the old baseline.
static constexpr double _LONG_STATE_MS = 1000.0;

// The range a signal must span before it is believed: well clear of the noise measured in the
// dark, and never below the configured contrast. Applies to every mark, not just the first:
// once a lamp has gone, noise alone must never become text.
static double _signal_range(const MORSE_DECODER *d) {
    return std::max(8.0 * d->noise, (double)d->cfg.min_contrast);
}

// Whether a brightness range is a signal: only once the noise has been measured, so that a
// camera just started on a noisy dark scene does not show a signal for its first second.
static bool _light_signal(const MORSE_DECODER *d, double range) {
    return d->ndiffs >= DECODER_MIN_DIFFS && range >= _signal_range(d);
}

// Remembers how much the latest settled dark samples wobble; the median of the latest figures
// is a robust noise figure that a real signal must stand out from. The figure is a second
// difference (s - 2 s1 + s2): a drifting room or the fading glow of a lamp is a slope, which
// it cancels, so it can be kept up to date during a message, between the marks.
static void _note_noise(MORSE_DECODER *d, float sample) {
    d->diffs[d->ndiffs % DECODER_NOISE_RING] = std::fabs(sample - 2.0f * d->luma + d->luma_before);
    d->ndiffs++;
    if (d->ndiffs < 8) return;
    size_t count = std::min(d->ndiffs, DECODER_NOISE_RING);
    float v[DECODER_NOISE_RING];
    memcpy(v, d->diffs, sizeof v); // a full ring holds exactly the latest 32
    std::nth_element(v, v + count / 2, v + count);
    // A second difference of Gaussian noise has sqrt(6) times its deviation, and the median of
    // its absolute value is 0.6745 of that.
    d->noise = v[count / 2] / 1.6522f;
}

// Notes when the brightness crossed the middle of the range between the previous sample and
// this one, by linear interpolation. A camera integrating over its frame turns a switched lamp
// into a ramp one frame long; the middle of that ramp, unlike the frame boundaries, is where
// every edge is delayed by the same amount, so marks and spaces keep their true lengths.
static void _note_crossing(MORSE_DECODER *d, double t_ms, double s) {
    double p = d->luma, mid = d->lo + 0.5 * ((double)d->hi - d->lo);
    if (p < mid && s >= mid)
        d->t_up = d->t_last + (mid - p) / (s - p) * (t_ms - d->t_last);
    else if (p >= mid && s < mid)
        d->t_down = d->t_last + (p - mid) / (p - s) * (t_ms - d->t_last);
}

// The time of an edge into state on (1: light, 0: dark), confirmed at t_ms: the latest crossing of
// the middle level in that direction when it is recent and after the current state began, else
// fallback.
static double _light_edge(const MORSE_DECODER *d, int on, double t_ms, double fallback) {
    double t = on ? d->t_up : d->t_down;
    double recent = d->frame_ms > 0 ? t_ms - _EDGE_FRAMES * d->frame_ms : d->t_last;
    if (t > d->t_state && t > recent && t <= t_ms) return t;
    return fallback;
}

// How far from a baseline a sample may lie and still be taken as a sample of that level.
static double _near_band(const MORSE_DECODER *d) {
    return std::max(_NEAR_LEVEL * ((double)d->hi - d->lo), _NEAR_NOISE * d->noise);
}

// Each baseline follows the samples of its own state that lie near it; the other one fades
// slowly towards them. Frames at an edge are left out, and so is the glow of a lamp that is
// still fading, which belongs to neither level, unless the state has lasted long enough for
// whatever is seen to be the new level (a room that got brighter).
static void _follow_baselines(MORSE_DECODER *d, double t_ms, double dt, double s, bool signal) {
    double tau = d->cfg.baseline_tau_ms;
    double k = tau > 0 ? std::exp(-dt / tau) : 0.0;
    // Between messages the lamp is gone as far as anyone knows: its level is let go at the
    // baselines' own pace, and a lamp that comes back is believed again at once (above).
    double forget = d->on || d->nruns > 0 ? _FORGET_FACTOR * tau : tau;
    double k_forget = tau > 0 ? std::exp(-dt / forget) : 0.0;
    double band = _near_band(d);
    bool near = !signal || t_ms - d->t_state >= _LONG_STATE_MS ||
                (d->on ? s > d->hi - band : s < d->lo + band);
    double own = near ? 1 - k : 0.0;
    double follow_hi = d->on ? own : 1 - k_forget;
    double follow_lo = d->on ? 1 - k_forget : own;
    d->hi = (float)(d->hi + follow_hi * (s - d->hi));
    d->lo = (float)(d->lo + follow_lo * (s - d->lo));
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

    // In the dark a light that stands clear of the noise is believed at once, so that the
    // first mark is seen as it comes; otherwise the bright baseline is a mean, which noise
    // peaks do not lift.
    double s = luma;
    if (!d->on && s > d->hi && _light_signal(d, s - d->lo)) d->hi = luma;
    _note_crossing(d, t_ms, s);
    double lo = d->lo, range = (double)d->hi - d->lo, mid = lo + 0.5 * range;
    double on_level = lo + _ON_LEVEL * range, off_level = lo + _OFF_LEVEL * range;
    // How clear of the noise the range must stand depends on what is at stake. A mark already
    // begun is kept at half the usual range: the noise figure wanders by a factor of two over a
    // few dozen frames, and a dash cut in two costs more than a late end. The first mark of a
    // message needs half as much again: it is the one that turns a dark room into text, and
    // the dark level may lag a drifting room by a few levels.
    bool signal = _light_signal(d, range);
    bool strong = d->on           ? _light_signal(d, 2 * range)
                  : d->nruns == 0 ? _light_signal(d, range / _FIRST_MARK_MARGIN)
                                  : signal;
    // A transition starts beyond the far level and is confirmed by the next frame beyond the
    // middle: a short element seen by a slow camera may fill one frame and half of the next.
    bool pending_on = d->cand_frames > 0 && d->cand == 1;
    bool pending_off = d->cand_frames > 0 && d->cand == 0;

    int target = -1;
    bool moved = false;
    if (!d->on) {
        if (strong && (s > on_level || (pending_on && s > mid))) target = 1;
    } else if (strong && s >= off_level) {
        if (pending_off && s < mid) target = 0;
    } else {
        if (s < lo + _RELEASE_LEVEL * range) {
            // Clearly dark again: no need to wait for a second frame.
            double edge = _light_edge(d, 0, t_ms, (d->t_last + t_ms) / 2);
            _push_run(d, 1, edge - d->t_state);
            d->on = 0;
            d->t_state = edge;
            moved = true;
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
            d->quiet = 0;
            d->t_last = t_ms;
            d->luma_before = d->luma;
            d->luma = luma;
            return;
        }
        d->cand_frames++;
        double edge = _light_edge(d, d->cand, t_ms, d->cand_edge);
        _push_run(d, d->on, edge - d->t_state);
        d->on = d->cand;
        d->t_state = edge;
        moved = true;
    }
    d->cand_frames = 0;
    if (!moved) _follow_baselines(d, t_ms, dt, s, signal);
    // Dark for a few frames and near the dark level: the edge's half-lit frame and most of a
    // lamp's afterglow are past.
    bool quiet = !moved && !d->on && t_ms - d->t_state >= _SETTLE_FRAMES * d->frame_ms &&
                 (!signal || s < lo + _near_band(d));
    if (quiet && d->quiet >= 2) _note_noise(d, luma);
    d->quiet = quiet ? d->quiet + 1 : 0;
    d->t_last = t_ms;
    d->luma_before = d->luma;
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

// Reads the whole run list with the current thresholds; kinds (when not null) gets what each
// run was read as.
static void _decode(const MORSE_DECODER *d, DECODED_MESSAGE *out, unsigned char *kinds = nullptr) {
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
            if (kinds) kinds[i] = after_dash ? MORSE_DASH : MORSE_DOT;
            continue;
        }
        // Hand keying stretches the gap after a dash differently from the one after a dot.
        double th_letter = after_dash ? d->th_letter_dash : d->th_letter;
        double th_word = after_dash ? d->th_word_dash : d->th_word;
        if (kinds)
            kinds[i] = r.ms < th_letter ? MORSE_SYM_GAP
                                        : (r.ms >= th_word ? MORSE_WORD_GAP : MORSE_LETTER_GAP);
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
    _decode(d, out, d->last_kind);
    // Kept as keyed, without the silences around the marks, for whoever studies the timing.
    size_t first = 0, end = d->nruns;
    while (first < end && !d->runs[first].on) first++;
    while (end > first && !d->runs[end - 1].on) end--;
    d->nlast = out->unit_ms ? end - first : 0;
    for (size_t i = 0; i < d->nlast; i++) {
        d->last_ms[i] = d->runs[first + i].ms;
        d->last_kind[i] = d->last_kind[first + i];
    }
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
    d->lent = d->carry = 0;
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

size_t decoder_last_elements(const MORSE_DECODER *dec, MORSE_STATE *kinds, double *ms, size_t max) {
    __ka_assert(dec, return 0);
    __ka_assert(max == 0 || (kinds && ms), return 0);
    for (size_t i = 0; i < dec->nlast && i < max; i++) {
        kinds[i] = (MORSE_STATE)dec->last_kind[i];
        ms[i] = dec->last_ms[i];
    }
    return dec->nlast;
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
    out->has_signal = _light_signal(dec, range);
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
