// src/morse/decoder_estimate.cpp: timing estimation of the decoder. After every recorded run it
// looks at all runs of the current message and sets the unit, the mark/space bias and the five
// thresholds. Durations are clustered as logarithms, so that ratios, not differences, separate
// dots from dashes and one kind of gap from the next. Works only in the decoder's scratch arrays.
#include "morse/decoder_private.hpp"

#include <algorithm>
#include <cmath>

// Spaces at least this many units long are pauses: they would drag the clustering around.
constexpr double DECODER_PAUSE_UNITS = 10.0;

// The logarithm of a duration. A zero-length run (possible with a bounce filter of 0) is read
// as a thousandth of a millisecond rather than as minus infinity.
static double _ln(double ms) {
    return std::log(std::max(ms, 1e-3));
}

// Splits values into a short and a long class: 20 rounds of two-means on the logarithms, from
// the extremes. Overwrites v with the logarithms of its values.
static void _two_means(double *v, size_t n, double *short_c, double *long_c, size_t *n_short) {
    double lo = 0, hi = 0;
    for (size_t i = 0; i < n; i++) {
        v[i] = _ln(v[i]);
        if (i == 0 || v[i] < lo) lo = v[i];
        if (i == 0 || v[i] > hi) hi = v[i];
    }
    double cs = lo, cl = hi;
    size_t ns = 0;
    for (int round = 0; round < 20; round++) {
        double sum_s = 0, sum_l = 0;
        size_t count_s = 0, count_l = 0;
        for (size_t i = 0; i < n; i++) {
            // Halfway goes to the short class.
            if (std::fabs(v[i] - cs) <= std::fabs(v[i] - cl)) {
                sum_s += v[i];
                count_s++;
            } else {
                sum_l += v[i];
                count_l++;
            }
        }
        if (count_s) cs = sum_s / count_s;
        cl = count_l ? sum_l / count_l : cs;
        ns = count_s;
    }
    *short_c = std::exp(cs);
    *long_c = std::exp(cl);
    if (n_short) *n_short = ns;
}

// Keeps the latest DECODER_MAX_CLUSTER values of v (moved to its front) and sorts them.
static size_t _keep_recent_sorted(double *v, size_t n) {
    if (n > DECODER_MAX_CLUSTER) {
        std::copy(v + n - DECODER_MAX_CLUSTER, v + n, v);
        n = DECODER_MAX_CLUSTER;
    }
    std::sort(v, v + n);
    return n;
}

// Prefix sums of the logarithms of sorted values, so that any segment's mean and squared error
// cost O(1): ps in the first half of the scratch, ps2 (squares) in the second.
struct _SEGMENTS {
    const double *v;
    const double *ps;
    const double *ps2;
    size_t n;

    // Squared error of the logarithms of [a, b) around their mean.
    double sse(size_t a, size_t b) const {
        if (b <= a) return 0;
        double s = ps[b] - ps[a];
        double e = ps2[b] - ps2[a] - s * s / (double)(b - a);
        return e > 0 ? e : 0;
    }
    // Mean logarithm of [a, b): the logarithm of its geometric mean.
    double log_mean(size_t a, size_t b) const { return (ps[b] - ps[a]) / (double)(b - a); }
    double geo_mean(size_t a, size_t b) const { return std::exp(log_mean(a, b)); }
    // The boundary between the values at a - 1 and a.
    double boundary(size_t a) const { return std::sqrt(v[a - 1] * v[a]); }
};

static _SEGMENTS _segments(MORSE_DECODER *d, const double *v, size_t n) {
    double *ps = d->scratch_gap;
    double *ps2 = d->scratch_gap + DECODER_MAX_CLUSTER + 1;
    ps[0] = ps2[0] = 0;
    for (size_t i = 0; i < n; i++) {
        double l = _ln(v[i]);
        ps[i + 1] = ps[i] + l;
        ps2[i + 1] = ps2[i] + l * l;
    }
    return _SEGMENTS{v, ps, ps2, n};
}

// The thresholds of evenly timed Morse: a dash from 2 units, a letter gap from 2 units, a word
// gap from word_units; a positive bias (marks longer than spaces, as a blooming light makes
// them) moves all three the same way.
static void _unit_thresholds(MORSE_DECODER *d, double unit, double bias, double word_units) {
    d->th_dash = 2 * unit + bias;
    d->th_letter = 2 * unit - bias;
    d->th_word = word_units * unit - bias;
    d->th_letter_dash = d->th_letter;
    d->th_word_dash = d->th_word;
}

// Machine timing: marks and spaces are clean multiples of one unit, perhaps with a bias.
static void _estimate_machine(MORSE_DECODER *d, size_t non, size_t noff) {
    double on_s, on_l;
    _two_means(d->scratch_on, non, &on_s, &on_l, nullptr);
    bool one_kind = !(on_l > 2 * on_s);
    double unit = one_kind ? std::sqrt(on_s * on_l) : on_s;
    double bias = 0;
    if (noff > 0) {
        double off_s, off_l;
        _two_means(d->scratch_off, noff, &off_s, &off_l, nullptr);
        // Marks of one kind much longer than the shortest space can only be dashes.
        if (one_kind && unit > 2 * off_s) unit /= 3;
        if (0.3 * unit < off_s && off_s < 2.5 * unit) {
            // The symbol gap measures the unit too; the two differ by twice the bias.
            bias = (unit - off_s) / 2;
            unit = (unit + off_s) / 2;
        }
    }
    unit = std::max(unit, (double)d->cfg.min_unit_ms);
    unit = std::min(unit, (double)d->cfg.max_unit_ms);
    d->unit = unit;
    d->bias = bias;
    _unit_thresholds(d, unit, bias, 5);
}

// Classes of one family of spaces: symbol, letter and word gaps, found by the best split of
// the sorted logarithms into two or three segments. A class boundary is only believed when
// the classes are far enough apart and the split removes most of the spread.
static GAP_CLASSES _gap_clusters(MORSE_DECODER *d, double *v, size_t count, double dot,
                                 double dash) {
    GAP_CLASSES g{};
    // Below need: a symbol gap (one unit); above: a letter gap (three units). The boundary sits
    // near the geometric middle of the two, about 1.9 units. Taken above a dash, it would read
    // letter gaps as symbol gaps whenever a family holds no symbol gap, as in "AT" or "ET".
    // An operator with long dashes (4 units) and tight letter gaps (2.5) would still see his
    // letter gaps fall under a dash's share, so two dots bound it as well.
    const double need = std::min(dash / 1.6, 2 * dot);
    if (d->nruns == 1 || count == 0) {
        g.n = count;
        g.th_letter = 2 * dash / 3;
        g.th_word = 4.5 * dash / 3;
        return g;
    }
    size_t n = _keep_recent_sorted(v, count);
    _SEGMENTS s = _segments(d, v, n);
    g.n = n;
    g.lo = v[0];
    g.hi = v[n - 1];
    g.mean = s.geo_mean(0, n);
    double sse1 = s.sse(0, n);

    size_t best_a = 0, b3a = 0, b3b = 0;
    double sse2 = sse1, sse3 = sse1;
    if (n > 1) {
        for (size_t a = 1; a < n; a++) {
            double m0 = s.geo_mean(0, a), m1 = s.geo_mean(a, n);
            double r = m0 < need ? 1.7 : (n - a == 1 ? 1.5 : 1.35);
            if (!(m1 >= m0 * r)) continue;
            double e = s.sse(0, a) + s.sse(a, n);
            if (e < sse2) {
                sse2 = e;
                best_a = a;
            }
        }
        sse3 = sse2;
        // Ratios between segment means are compared as differences of mean logarithms: the
        // same test without two exponentials per pair in this quadratic search.
        const double l17 = std::log(1.7), l15 = std::log(1.5), l135 = std::log(1.35);
        for (size_t a = 1; n > 2 && a + 1 < n; a++) {
            double l0 = s.log_mean(0, a), e0 = s.sse(0, a);
            for (size_t b = a + 1; b < n; b++) {
                if (n - b > 3 * (b - a)) continue; // the top may not dwarf the middle
                double l1 = s.log_mean(a, b), l2 = s.log_mean(b, n);
                if (l1 - l0 < l17) continue;
                if (l2 - l1 < (n - b == 1 ? l15 : l135)) continue;
                double e = e0 + s.sse(a, b) + s.sse(b, n);
                if (e < sse3) {
                    sse3 = e;
                    b3a = a;
                    b3b = b;
                }
            }
        }
    }
    int classes;
    if (best_a != 0 && sse2 <= 0.7 * sse1)
        classes = (b3a != 0 && sse3 <= 0.7 * sse2) ? 3 : 2;
    else
        classes = (b3a != 0 && sse3 <= 0.7 * sse1) ? 3 : 1;

    g.classes = classes;
    if (classes == 3) {
        g.word = 1;
        g.sym = s.geo_mean(0, b3a);
        g.th_letter = s.boundary(b3a);
        g.th_word = s.boundary(b3b);
    } else if (classes == 2) {
        double cut = s.boundary(best_a);
        double m0 = s.geo_mean(0, best_a);
        if (m0 < need) { // symbol and letter gaps
            g.sym = m0;
            g.th_letter = cut;
            g.th_word = 1.3 * g.hi;
        } else { // letter and word gaps
            g.word = 1;
            g.th_letter = 0.6 * g.lo;
            g.th_word = cut;
        }
    } else if (g.mean < need) { // symbol gaps only
        g.sym = g.mean;
        g.th_letter = 1.5 * g.hi;
        g.th_word = 3 * g.hi;
    } else { // letter gaps only
        g.th_letter = 0.6 * g.lo;
        g.th_word = 1.3 * g.hi;
    }
    return g;
}

// The family that saw more structure lends its thresholds to the other one.
static void _gap_merge(GAP_CLASSES *g0, GAP_CLASSES *g1) {
    GAP_CLASSES *ref, *other;
    if (g0->classes != g1->classes)
        ref = g0->classes > g1->classes ? g0 : g1;
    else
        ref = g1->n > g0->n ? g1 : g0;
    other = ref == g0 ? g1 : g0;

    if (other->classes == 0) {
        *other = *ref;
    } else if (other->classes == 1 && ref->classes > 1) {
        double t_l = ref->th_letter, t_w = ref->th_word;
        if (other->mean < t_l) { // its spaces are symbol gaps
            other->th_letter = t_l;
            other->th_word = t_w;
        } else if (other->mean < t_w) { // letter gaps
            other->th_letter = std::min(t_l, 0.75 * other->lo);
            other->th_word = std::max(t_w, 1.3 * other->hi);
        } else { // word gaps
            other->word = 1;
            other->th_letter = t_l;
            other->th_word = std::min(t_w, 0.75 * other->lo);
        }
    } else if (!g0->word && g1->word && g1->th_word > 1.3 * g0->th_letter) {
        g0->th_word = g1->th_word;
    } else if (g0->word && !g1->word && g0->th_word > 1.3 * g1->th_letter) {
        g1->th_word = g0->th_word;
    }
}

// Word gaps from the spaces that already end a letter: a clear jump among them separates
// letter gaps from word gaps; without one, a word gap must be longer than all of them.
static void _word_cut(MORSE_DECODER *d, GAP_CLASSES *g0, GAP_CLASSES *g1, double th_dash) {
    double *v = d->scratch_off;
    const RUN *runs = _view(d);
    size_t count = 0;
    for (size_t i = 1; i < d->nruns; i++) {
        const RUN &r = runs[i];
        if (r.on || !runs[i - 1].on) continue;
        double th_letter = runs[i - 1].ms >= th_dash ? g1->th_letter : g0->th_letter;
        if (r.ms >= th_letter) v[count++] = r.ms;
    }
    if (count == 0) return;
    size_t n = _keep_recent_sorted(v, count);
    double cut;
    if (n == 1) {
        cut = 1.3 * v[0];
    } else {
        _SEGMENTS s = _segments(d, v, n);
        double sse1 = s.sse(0, n), best = sse1;
        size_t best_a = 0;
        for (size_t a = 1; a < n; a++) {
            double m0 = s.geo_mean(0, a), m1 = s.geo_mean(a, n);
            bool ok = n - a == 1 ? m1 >= 1.5 * m0 : (m1 >= 1.35 * m0 && n - a <= 3 * a);
            if (!ok || !(v[a] >= 1.12 * v[a - 1])) continue; // a real jump between neighbours
            double e = s.sse(0, a) + s.sse(a, n);
            if (e < best) {
                best = e;
                best_a = a;
            }
        }
        cut = (best_a != 0 && best <= 0.7 * sse1) ? s.boundary(best_a) : 1.3 * v[n - 1];
    }
    g0->th_word = std::max(cut, 1.3 * g0->th_letter);
    g1->th_word = std::max(cut, 1.3 * g1->th_letter);
}

// Hand keying: dots, dashes and gaps vary widely, and the gap after a dash is read on its own
// scale.
static void _estimate_human(MORSE_DECODER *d, size_t non, size_t noff) {
    double on_s, on_l, off_s = 0, off_l;
    _two_means(d->scratch_on, non, &on_s, &on_l, nullptr);
    if (noff > 0) _two_means(d->scratch_off, noff, &off_s, &off_l, nullptr);

    double dot, dash, th_dash;
    if (on_l > 1.8 * on_s) {
        dot = on_s;
        dash = on_l;
        th_dash = std::sqrt(on_s * on_l);
    } else {
        // One kind of mark: dots or dashes, judged against the spaces or the last message.
        double m = std::sqrt(on_s * on_l);
        bool dashes;
        if (noff > 0 && d->prev_dot > 0 && off_s > 1.8 * d->prev_dot)
            dashes = m > 2 * d->prev_dot;
        else if (noff > 0)
            dashes = m > 2 * off_s;
        else
            dashes = d->prev_dot > 0 && m > 2 * d->prev_dot;
        th_dash = dashes ? m / 2 : 2 * m;
        dot = dashes ? m / 3 : m;
        dash = 3 * dot;
    }

    // Spaces by the mark before them; marks too close to the dash threshold say nothing.
    const RUN *runs = _view(d);
    size_t n0 = 0, n1 = 0;
    for (size_t i = 1; i < d->nruns; i++) {
        const RUN &r = runs[i];
        if (r.on || !runs[i - 1].on) continue;
        if (d->unit > 0 && r.ms >= DECODER_PAUSE_UNITS * d->unit) continue;
        double mark = runs[i - 1].ms;
        if (mark <= th_dash / 1.25)
            d->scratch_off_dot[n0++] = r.ms;
        else if (mark >= 1.25 * th_dash)
            d->scratch_off_dash[n1++] = r.ms;
    }
    GAP_CLASSES g0 = _gap_clusters(d, d->scratch_off_dot, n0, dot, dash);
    GAP_CLASSES g1 = _gap_clusters(d, d->scratch_off_dash, n1, dot, dash);
    _gap_merge(&g0, &g1);
    if (d->nruns > 1 && (g0.sym > 0 || g1.sym > 0)) _word_cut(d, &g0, &g1, th_dash);
    if (g0.sym > 0) dot = (dot + g0.sym) / 2; // the gap after a dot measures a dot again

    d->unit = dot;
    d->bias = 0;
    d->th_dash = th_dash;
    d->th_letter = g0.th_letter;
    d->th_word = g0.th_word;
    d->th_letter_dash = g1.th_letter;
    d->th_word_dash = g1.th_word;
}

void _estimate(MORSE_DECODER *d) {
    if (d->cfg.fixed_unit_ms) {
        d->unit = d->cfg.fixed_unit_ms;
        d->bias = 0;
        _unit_thresholds(d, d->unit, 0, d->cfg.human ? 4.5 : 5);
        return;
    }
    if (d->nruns == 0) return;
    d->following = d->uneven = 0;
    if (d->cfg.human && !d->follow_off) {
        _follow(d);
        if (_estimate_uneven(d)) return;
    }
    const RUN *runs = _view(d);
    size_t non = 0, noff = 0;
    for (size_t i = 0; i < d->nruns; i++) {
        const RUN &r = runs[i];
        if (r.on)
            d->scratch_on[non++] = r.ms;
        else if (!(d->unit > 0 && r.ms >= DECODER_PAUSE_UNITS * d->unit))
            d->scratch_off[noff++] = r.ms;
    }
    if (non == 0) return;
    if (d->cfg.human) {
        _estimate_human(d, non, noff);
    } else {
        _estimate_machine(d, non, noff);
    }
}
