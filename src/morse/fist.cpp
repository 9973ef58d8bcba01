// src/morse/fist.cpp: measuring a fist. Proportions are judged on a log scale, so a dash
// half as long again as it should be counts the same as one two thirds as long, and the fault
// named is the one furthest from the standard.
#include "morse/fist.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "support/ka_common.hpp"

// A change of speed over the message, or a spread of the letters' speeds, this large or
// larger is a fault; smaller ones are the ordinary unevenness of a hand.
static const double _DRIFT_TOLERANCE = 0.15;
static const double _UNEVEN_TOLERANCE = 0.10;

static double _median(double *v, size_t n) {
    if (n == 0) return 0;
    std::sort(v, v + n);
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Candidate faults are kept when they are worse than the one held.
struct _WORST {
    FIST_FAULT fault = FIST_GOOD;
    double score = 0, measured = 0, standard = 0;
    void offer(FIST_FAULT f, double s, double m, double st) {
        if (s > score) {
            fault = f;
            score = s;
            measured = m;
            standard = st;
        }
    }
    // A proportion against its standard; the tolerance is subtracted so all kinds compare.
    void ratio(double m, double st, FIST_FAULT shorter, FIST_FAULT longer) {
        if (m <= 0) return;
        double s = std::fabs(std::log(m / st)) - std::log(1 + FIST_TOLERANCE);
        if (s > 0) offer(m < st ? shorter : longer, s, m, st);
    }
};

// The letters' speeds: each letter's local unit from its marks and inner gaps, fitted by least
// squares on a log scale against the letter's middle in time.
static void _speed_fit(const MORSE_STATE *kinds, const double *ms, size_t n, FIST_REPORT *r) {
    size_t cap = n / 2 + 1, letters = 0;
    double *t = (double *)calloc(cap, sizeof *t), *u = (double *)calloc(cap, sizeof *u);
    if (!t || !u) {
        free(t);
        free(u);
        return;
    }
    double clock = 0, start = 0, dur = 0, units = 0;
    for (size_t i = 0; i <= n; i++) {
        int ends = i == n || kinds[i] >= MORSE_LETTER_GAP;
        if (ends && units > 0 && letters < cap) {
            t[letters] = start + dur / 2;
            u[letters] = std::log(dur / units);
            letters++;
        }
        if (i == n) break;
        if (ends) {
            units = dur = 0;
            start = clock + ms[i];
        } else {
            dur += ms[i];
            units += kinds[i] == MORSE_DASH ? 3 : 1;
        }
        clock += ms[i];
    }
    r->letters = (uint32_t)letters;
    double mt = 0, mu = 0;
    for (size_t k = 0; k < letters; k++) {
        mt += t[k] / (double)letters;
        mu += u[k] / (double)letters;
    }
    double stt = 0, stu = 0;
    for (size_t k = 0; k < letters; k++) {
        stt += (t[k] - mt) * (t[k] - mt);
        stu += (t[k] - mt) * (u[k] - mu);
    }
    double slope = letters >= 3 && stt > 0 ? stu / stt : 0;
    // Unevenness: how far each mark strays from its own kind's length at the fitted speed of
    // its moment, so neither a personal dash ratio nor a steady drift counts as uneven.
    double dash = r->dash_ratio > 0 ? r->dash_ratio : 3.0;
    double s1 = 0, s2 = 0, at = 0;
    size_t marks = 0;
    for (size_t i = 0; i < n; i++) {
        if (kinds[i] <= MORSE_DASH && ms[i] > 0) {
            double e = std::log(ms[i] / (kinds[i] == MORSE_DASH ? dash : 1.0)) -
                       (mu + slope * (at + ms[i] / 2 - mt));
            s1 += e;
            s2 += e * e;
            marks++;
        }
        at += ms[i];
    }
    double var = marks >= 3 ? (s2 - s1 * s1 / (double)marks) / (double)(marks - 1) : 0;
    r->unevenness = var > 0 ? std::sqrt(var) : 0;
    if (letters > 0) {
        r->start_wpm = 1200.0 / std::exp(mu + slope * (t[0] - mt));
        r->end_wpm = 1200.0 / std::exp(mu + slope * (t[letters - 1] - mt));
    }
    free(t);
    free(u);
}

int fist_measure(const MORSE_STATE *kinds, const double *ms, size_t n, FIST_REPORT *out) {
    __ka_assert(out, return 0);
    memset((void *)out, 0, sizeof *out);
    __ka_assert(n == 0 || (kinds && ms), return 0);
    double *dots = (double *)calloc(n + 1, sizeof *dots);
    double *dashes = (double *)calloc(n + 1, sizeof *dashes);
    if (!dots || !dashes) {
        free(dots);
        free(dashes);
        return 0;
    }
    double sum[5] = {0, 0, 0, 0, 0};
    uint32_t count[5] = {0, 0, 0, 0, 0};
    for (size_t i = 0; i < n; i++) {
        int k = kinds[i];
        if (k < MORSE_DOT || k > MORSE_WORD_GAP || !(ms[i] > 0)) continue;
        if (k == MORSE_DOT) dots[count[k]] = ms[i];
        if (k == MORSE_DASH) dashes[count[k]] = ms[i];
        sum[k] += ms[i];
        count[k]++;
    }
    out->dots = count[MORSE_DOT];
    out->dashes = count[MORSE_DASH];
    out->element_gaps = count[MORSE_SYM_GAP];
    out->letter_gaps = count[MORSE_LETTER_GAP];
    out->word_gaps = count[MORSE_WORD_GAP];
    double unit = count[MORSE_DOT] ? _median(dots, count[MORSE_DOT])
                                   : _median(dashes, count[MORSE_DASH]) / 3.0;
    free(dots);
    free(dashes);
    if (!(unit > 0)) {
        memset((void *)out, 0, sizeof *out);
        return 0;
    }
    out->unit_ms = unit;
    out->wpm = 1200.0 / unit;
    auto mean = [&](int k) { return count[k] ? sum[k] / count[k] : 0.0; };
    if (count[MORSE_DOT] && count[MORSE_DASH]) out->dash_ratio = mean(MORSE_DASH) / mean(MORSE_DOT);
    out->element_gap = mean(MORSE_SYM_GAP) / unit;
    out->letter_gap = mean(MORSE_LETTER_GAP) / unit;
    out->word_gap = mean(MORSE_WORD_GAP) / unit;
    _speed_fit(kinds, ms, n, out);

    _WORST w;
    w.ratio(out->dash_ratio, 3, FIST_DASH_SHORT, FIST_DASH_LONG);
    w.ratio(out->element_gap, 1, FIST_ELEMENT_GAP_SHORT, FIST_ELEMENT_GAP_LONG);
    w.ratio(out->letter_gap, 3, FIST_LETTER_GAP_SHORT, FIST_LETTER_GAP_LONG);
    w.ratio(out->word_gap, 7, FIST_WORD_GAP_SHORT, FIST_WORD_GAP_LONG);
    if (out->start_wpm > 0 && out->end_wpm > 0) {
        double drift = std::fabs(std::log(out->end_wpm / out->start_wpm));
        if (drift > std::log(1 + _DRIFT_TOLERANCE))
            w.offer(out->end_wpm > out->start_wpm ? FIST_SPEEDING_UP : FIST_SLOWING_DOWN,
                    drift - std::log(1 + _DRIFT_TOLERANCE), out->start_wpm, out->end_wpm);
    }
    if (out->unevenness > _UNEVEN_TOLERANCE)
        w.offer(FIST_UNEVEN, out->unevenness - _UNEVEN_TOLERANCE, out->unevenness, 0);
    out->fault = w.fault;
    out->measured = w.measured;
    out->standard = w.standard;
    return 1;
}
