// src/morse/decoder_follow.cpp: following a hand-keying operator whose speed changes within a
// message. One set of thresholds cannot read a message that starts at 15 WPM and ends at 30:
// the slow letter gaps are as long as the fast word gaps. Here the speed is measured along the
// message from the marks alone (a dot or a dash is told by its neighbours), and when it really
// changes, every run is brought to the speed of the latest mark; the estimation then reads the
// rescaled message as if it were keyed at one speed. A message of steady speed is left alone,
// so it reads exactly as without this step. Further down: keying so uneven that the clustering
// of gaps fails, read with a fitted model of Morse timing instead.
#include "morse/decoder_private.hpp"

#include <algorithm>
#include <cmath>

// Marks on each side of a mark that tell its dots from its dashes.
constexpr size_t FOLLOW_CLASS_HALF = 6;
// Unit samples on each side of a mark whose median is its local unit; a median keeps a change
// of speed sharp instead of smearing it over the window.
constexpr size_t FOLLOW_UNIT_HALF = 4;
// Below this many marks a change of speed cannot be told from uneven keying.
constexpr size_t FOLLOW_MIN_MARKS = 16;
// Dots and dashes differ at least this much (log of 1.8): a window whose marks are closer is
// of one kind only.
static const double FOLLOW_KINDS_APART = std::log(1.8);
// The share of the spread of the unit samples that the local units must explain before the
// speed is taken to change: uneven keying at one speed leaves most of it unexplained.
constexpr double FOLLOW_EXPLAINED = 0.35;
// And the local unit must move at least this much (log of 1.2) along the message, and at least
// this many times the typical distance of a sample from its local unit.
static const double FOLLOW_MIN_RANGE = std::log(1.2);
constexpr double FOLLOW_STRAY_RANGE = 2.5;

// Two-means of a few log durations: the two centres, from the extremes, until they settle.
static void _centres(const double *v, size_t n, double *cs, double *cl) {
    double lo = v[0], hi = v[0];
    for (size_t i = 1; i < n; i++) {
        lo = std::min(lo, v[i]);
        hi = std::max(hi, v[i]);
    }
    for (int round = 0; round < 20; round++) {
        double ss = 0, sl = 0;
        size_t ns = 0, nl = 0;
        for (size_t i = 0; i < n; i++) {
            if (v[i] - lo <= hi - v[i]) {
                ss += v[i];
                ns++;
            } else {
                sl += v[i];
                nl++;
            }
        }
        double nlo = ns ? ss / ns : lo, nhi = nl ? sl / nl : nlo;
        if (nlo == lo && nhi == hi) break;
        lo = nlo;
        hi = nhi;
    }
    *cs = lo;
    *cl = hi;
}

// The window [first, last) of count items around i, of 2 half + 1 items where possible.
static void _window(size_t i, size_t half, size_t count, size_t *first, size_t *last) {
    size_t w = std::min(2 * half + 1, count);
    size_t a = i > half ? i - half : 0;
    if (a + w > count) a = count - w;
    *first = a;
    *last = a + w;
}

static double _median(double *v, size_t n) {
    std::nth_element(v, v + n / 2, v + n);
    double m = v[n / 2];
    if (n % 2 == 0) m = (m + *std::max_element(v, v + n / 2)) / 2;
    return m;
}

void _follow(MORSE_DECODER *d) {
    d->following = 0;
    // The marks' log durations, in order; those before the final windows are kept from the
    // last time (only the latest mark can still change).
    size_t nm = 0;
    for (size_t i = 0; i < d->nruns; i++) nm += d->runs[i].on != 0;
    // Marks and spaces alternate, so the marks fit; anything else is not keying to follow.
    if (nm > DECODER_MAX_MARKS) return;
    if (d->follow_final > nm) d->follow_final = d->follow_unit_final = 0; // a new message
    double *lm = d->follow_mark;
    for (size_t i = 0, j = 0; i < d->nruns; i++) {
        if (!d->runs[i].on) continue;
        if (j >= d->follow_final) lm[j] = std::log(std::max(d->runs[i].ms, 1e-3));
        j++;
    }
    if (nm < FOLLOW_MIN_MARKS) return;

    // Dots and dashes by their neighbours: the middle of the two centres of each window (not a
    // number when the window holds one kind only). A window that ends before the latest mark
    // never changes again, so it is worked out once per message.
    double *th = d->follow_th, *ratio = d->follow_ratio;
    for (size_t j = d->follow_final; j < nm; j++) {
        size_t a, b;
        _window(j, FOLLOW_CLASS_HALF, nm, &a, &b);
        double cs, cl;
        _centres(lm + a, b - a, &cs, &cl);
        th[j] = cl - cs >= FOLLOW_KINDS_APART ? (cs + cl) / 2 : NAN;
        ratio[j] = cl - cs;
    }
    d->follow_final = nm > FOLLOW_CLASS_HALF + 1 ? nm - FOLLOW_CLASS_HALF - 1 : 0;

    // Unit samples: a dot is a unit, a dash is its local ratio of units. A window of one kind
    // takes the threshold of the window before it (the first ones, of the first that had both).
    size_t first = 0;
    while (first < nm && std::isnan(th[first])) first++;
    if (first == nm) return; // marks of one kind all along: nothing to measure speed by
    double *s = d->follow_sample;
    double cur_th = th[first], cur_ratio = ratio[first];
    for (size_t j = 0; j < nm; j++) {
        if (!std::isnan(th[j])) {
            cur_th = th[j];
            cur_ratio = ratio[j];
        }
        s[j] = lm[j] >= cur_th ? lm[j] - cur_ratio : lm[j];
    }

    // The local unit: the median of the samples around each mark.
    double *unit = d->follow_unit;
    double window[2 * FOLLOW_UNIT_HALF + 1];
    double mean = 0;
    for (size_t j = 0; j < nm; j++) mean += s[j];
    mean /= (double)nm;
    double spread = 0, left = 0, lo = 0, hi = 0;
    // Medians of samples that are all final stay as they were.
    size_t keep = first == d->follow_first ? std::min(d->follow_unit_final, nm) : 0;
    d->follow_first = first;
    d->follow_unit_final =
        d->follow_final > FOLLOW_UNIT_HALF ? d->follow_final - FOLLOW_UNIT_HALF : 0;
    for (size_t j = 0; j < nm; j++) {
        if (j >= keep) {
            size_t a, b;
            _window(j, FOLLOW_UNIT_HALF, nm, &a, &b);
            std::copy(s + a, s + b, window);
            unit[j] = _median(window, b - a);
        }
        spread += (s[j] - mean) * (s[j] - mean);
        left += (s[j] - unit[j]) * (s[j] - unit[j]);
        lo = j ? std::min(lo, unit[j]) : unit[j];
        hi = j ? std::max(hi, unit[j]) : unit[j];
    }
    // The local unit must move clearly more than single samples stray from it, and explain
    // a good share of their spread.
    double stray = std::sqrt(left / (double)nm);
    if (hi - lo < std::max(FOLLOW_MIN_RANGE, FOLLOW_STRAY_RANGE * stray) || !(spread > 0) ||
        left > (1 - FOLLOW_EXPLAINED) * spread)
        return;

    // Every run to the speed of the latest mark; a space between two marks by both of them.
    double ref = unit[nm - 1];
    size_t k = 0; // marks before run i
    for (size_t i = 0; i < d->nruns; i++) {
        const RUN &r = d->runs[i];
        double local;
        if (r.on)
            local = unit[std::min(k++, nm - 1)];
        else if (k == 0)
            local = unit[0];
        else
            local = k < nm ? (unit[k - 1] + unit[k]) / 2 : unit[k - 1];
        d->scaled[i] = RUN{r.on, r.ms * std::exp(ref - local)};
    }
    d->following = 1;
}

// Uneven keying. Beyond about 15 % of timing jitter the classes of gaps overlap so much that
// the best splits of their spread cut through the symbol gaps, and every letter falls apart.
// Morse timing itself is then the better guide: a mixture of classes whose spread grows with
// their length (a hand errs by a share of what it means to key), started from dots and dashes
// and from gaps of 1, 3 and 7 dots, and fitted to the message; each threshold falls where its
// two neighbouring classes are equally likely.

// Within-class spread (log) of the marks beyond which keying counts as uneven.
constexpr double UNEVEN_SPREAD = 0.16;
// Marks needed before the spread can be told.
constexpr size_t UNEVEN_MIN_MARKS = 20;
// The most recent values a fit looks at, which bounds its cost.
constexpr size_t UNEVEN_MAX_VALUES = 256;

struct _MIXTURE {
    size_t k;
    double mu[3], w[3];
    double rho; // spread of every class as a share of its mean
};

// Negative log-likelihood of x in class c, up to a constant.
static double _cost(const _MIXTURE &m, size_t c, double x) {
    double sd = m.rho * m.mu[c], z = (x - m.mu[c]) / sd;
    return z * z / 2 + std::log(sd) - std::log(m.w[c]);
}

// Rounds of expectation and maximisation on the durations x, from the start in m, until the
// classes settle.
static void _fit(const double *x, size_t n, _MIXTURE *m) {
    for (int round = 0; round < 20; round++) {
        double inv[3], offset[3];
        for (size_t c = 0; c < m->k; c++) {
            double sd = m->rho * m->mu[c];
            inv[c] = 1 / (2 * sd * sd);
            offset[c] = std::log(sd) - std::log(m->w[c]);
        }
        double sr[3] = {0, 0, 0}, sx[3] = {0, 0, 0}, sxx[3] = {0, 0, 0};
        for (size_t i = 0; i < n; i++) {
            double cost[3], best = 0, p[3], total = 0;
            for (size_t c = 0; c < m->k; c++) {
                double dx = x[i] - m->mu[c];
                cost[c] = dx * dx * inv[c] + offset[c];
                best = c ? std::min(best, cost[c]) : cost[c];
            }
            for (size_t c = 0; c < m->k; c++) {
                p[c] = std::exp(best - cost[c]);
                total += p[c];
            }
            for (size_t c = 0; c < m->k; c++) {
                double r = p[c] / total;
                sr[c] += r;
                sx[c] += r * x[i];
                sxx[c] += r * x[i] * x[i];
            }
        }
        double var = 0, moved = 0;
        for (size_t c = 0; c < m->k; c++) {
            if (sr[c] < 1e-9) continue; // an empty class keeps its place
            double mu = std::max(sx[c] / sr[c], 1e-3);
            moved = std::max(moved, std::fabs(mu / m->mu[c] - 1));
            m->mu[c] = mu;
            m->w[c] = std::max(sr[c] / (double)n, 0.01);
            var += std::max(sxx[c] - 2 * mu * sx[c] + mu * mu * sr[c], 0.0) / (mu * mu);
        }
        double rho = std::clamp(std::sqrt(var / (double)n), 0.03, 0.6);
        moved = std::max(moved, std::fabs(rho / m->rho - 1));
        m->rho = rho;
        if (moved < 1e-3) break;
    }
}

// Where classes c and c + 1 are equally likely, between their means.
static double _boundary(const _MIXTURE &m, size_t c) {
    double a = m.mu[c], b = m.mu[c + 1];
    if (!(b > a)) return a;
    auto f = [&](double x) { return _cost(m, c, x) - _cost(m, c + 1, x); };
    if (f(a) >= 0 || f(b) <= 0) return std::sqrt(a * b); // one class rules the whole stretch
    for (int i = 0; i < 40; i++) {
        double mid = (a + b) / 2;
        (f(mid) < 0 ? a : b) = mid;
    }
    return (a + b) / 2;
}

int _estimate_uneven(MORSE_DECODER *d) {
    const RUN *runs = _view(d);
    // The latest marks.
    double *x = d->scratch_on; // collected again if the estimation goes on
    size_t n = 0;
    for (size_t i = d->nruns; i-- > 0 && n < UNEVEN_MAX_VALUES;) {
        if (runs[i].on) x[n++] = std::max(runs[i].ms, 1e-3);
    }
    if (n < UNEVEN_MIN_MARKS) return 0;
    double *lx = d->scratch_off;
    for (size_t i = 0; i < n; i++) lx[i] = std::log(x[i]);
    double cs, cl;
    _centres(lx, n, &cs, &cl);
    if (cl - cs < FOLLOW_KINDS_APART) return 0;
    double mid = (cs + cl) / 2, ss = 0;
    for (size_t i = 0; i < n; i++) {
        double dx = lx[i] - (lx[i] <= mid ? cs : cl);
        ss += dx * dx;
    }
    double spread = std::sqrt(ss / (double)n);
    if (spread < UNEVEN_SPREAD) return 0;

    _MIXTURE marks{2, {std::exp(cs), std::exp(cl), 0}, {0.6, 0.4, 0}, spread};
    _fit(x, n, &marks);
    double dot = marks.mu[0];
    double th_dash = _boundary(marks, 0);

    // The latest gaps that follow a mark, long pauses left out.
    n = 0;
    for (size_t i = d->nruns; i-- > 1 && n < UNEVEN_MAX_VALUES;) {
        if (runs[i].on || !runs[i - 1].on) continue;
        if (runs[i].ms >= 10 * dot) continue;
        x[n++] = std::max(runs[i].ms, 1e-3);
    }
    if (n < UNEVEN_MIN_MARKS / 2) return 0;
    _MIXTURE gaps{3, {dot, 3 * dot, 7 * dot}, {0.55, 0.3, 0.15}, marks.rho};
    _fit(x, n, &gaps);
    d->th_dash = th_dash;
    d->th_letter = d->th_letter_dash = _boundary(gaps, 0);
    d->th_word = d->th_word_dash = _boundary(gaps, 1);
    d->unit = (dot + gaps.mu[0]) / 2;
    d->bias = 0;
    d->uneven = 1;
    return 1;
}
