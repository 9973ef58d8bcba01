// src/morse/ear_segment.cpp: the sequence decision over whole marks and spaces. The tone is cut
// into frames of a seventh of a unit; a mark over any run of frames scores the likelihood that a
// tone of the local level, with a phase of its own, lies under the noise there (the sum over
// the run is the filter matched to that mark), plus how likely its length is for Morse at this
// unit. The best chain of marks and spaces over the whole stretch is found by dynamic
// programming over the frame where each one ends. Levels come from the previous reading: the
// tone's from the nearest marks (a fade moves it within a second), the noise's from the
// spaces of the two seconds around; the reading is then done again with them. The last one is
// over letters, and a machine's is read once more with whole letters on its grid of units.
#include "morse/ear_segment.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "morse/ear_blank.hpp"
#include "morse/ear_letters.hpp"

namespace {

using cplxd = std::complex<double>;

// Frames per unit. A mark's sum counts a frame its edge splits as half tone, half noise, and
// the edges of a unit that is no whole number of frames fall anywhere in them. A seventh of a
// unit reads machine keying near the limit with up to nearly half the errors of a fifth, for a
// third more time; an eighth or a tenth read no better.
constexpr int SEG_FRAMES_PER_UNIT = 7;
// The marks' costs were set on a grid of five frames a unit. A length's odds are a density,
// counted once for each length in frames, so on a finer grid a mark (with the space before it)
// has that many more lengths to be read at and comes that much cheaper: noise let in then in
// the first readings, which set the levels and choose the unit, added a letter after a
// message's end. They charge it back once per mark (twice read worse, and the reading over
// letters, charged too, read no better).
constexpr double SEG_COST_GRID = 5.0;
// The longest mark and space read in one piece, in units; longer spaces are read as a chain.
constexpr double SEG_MAX_MARK = 7.0;
constexpr double SEG_MAX_SPACE = 10.0;
// Readings of a frame this far (log-likelihood) below its best are dropped: none comes back.
constexpr double SEG_BEAM = 25.0;
// The longest gap inside a letter, in units (an operator's are at most half as long again).
constexpr double SEG_MAX_INSIDE = 3.0;
// A space followed by a space costs this much: only a pause too long for one piece is split.
constexpr double SEG_CHAIN = 0.5;
// Readings, each with the levels of the one before.
constexpr int SEG_ROUNDS = 3;
// Levels are kept on a grid of this step.
constexpr int SEG_GRID_MS = 100;
// The tone's level at a moment: the median of this many marks each side.
constexpr int SEG_NEAR_MARKS = 3;
// The tone's level through a fade: a line through the marks this close to a moment.
constexpr double SEG_FADE_MS = 1000.0;
constexpr double SEG_FADE_MOVED = 0.15;
constexpr double SEG_FADE_SURE = 3.0;
// A fade deeper than a line can follow (a trough, where the marks read are the few that noise
// lifted): a curve through the logarithms of the marks' levels within a reach of those below,
// the one that best foretells each mark's level from the others (a fast fade needs a short
// reach, a slow one is steadier with a long one), taken for the whole stretch when it swings by
// more than SEG_CURVE_SWING between its upper and lower tenths, about 10 dB (a steady tone's
// levels scatter in noise, sparse marks between wide gaps most, and a shallow fade is followed
// well enough by the line).
constexpr double SEG_CURVE_MS[] = {1000.0, 1300.0, 1600.0};
constexpr double SEG_CURVE_SWING = 3.0;
// A fast fade (two seconds' period) is cut short by any reach: its curve swings less, and is
// taken from SEG_CURVE_SWUNG when it also foretells the marks' levels well within
// SEG_CURVE_BETTER of the nearest marks' levels (which a steady tone's curve never does).
constexpr double SEG_CURVE_SWUNG = 2.5;
constexpr double SEG_CURVE_BETTER = 0.85;
constexpr int SEG_CURVE_MARKS = 6;
// Through a fast fade the level drawn runs above the marks in a trough: the marks lost there
// leave it to those at the crests around and to the few that noise lifted, and a faint real
// mark scored at a level it does not reach is lost as well. Where the marks within SEG_LOW_MS
// of a moment read below the level, on average, a mark there may be as faint as that share of
// it raised to SEG_LOW_TIMES (the shortfall is in the marks the trough left), down to
// SEG_LOW_LEAST of it, and is scored at the level its own sum shows. Only where the level
// swings by more than SEG_LOW_SWING between its upper and lower tenths over the marks (4 dB):
// a steady tone's marks in deep noise read a little below their median, and the freedom would
// let noise in there for nothing.
constexpr double SEG_LOW_MS = 600.0;
constexpr double SEG_LOW_TIMES = 2.0;
constexpr double SEG_LOW_LEAST = 0.5;
constexpr double SEG_LOW_SWING = 1.6;
// The noise's level: spaces within this distance.
constexpr double SEG_NOISE_MS = 2000.0;
// Marks this long (in units) set the tone's level; shorter ones may be noise.
constexpr double SEG_SURE_MARK = 0.7;
// The first guess of the tone's level looks this many units each side, at least SEG_TONE_MS:
// a fade of two seconds' period must show in it.
constexpr double SEG_TONE_UNITS = 10.0;
constexpr double SEG_TONE_MS = 400.0;
// Each mark costs this much: a bump of noise in a long space must earn its place.
constexpr double SEG_MARK_COST = 3.0;
// A crash blanked leaves no noise there to make such a bump: a mark over a blank pays the cost
// only for its share heard, though at least this share of it (a dot blanked whole, paying it
// all, lost to the gap its letter's gaps then make between letters; but a mark wholly in a
// blank must still not come for nothing).
constexpr double SEG_MARK_COST_BLANKED = 0.7;
// In the reading over letters, where the marks share no phase (a keyer that restarts its tone
// for each element), a mark costs only this much: scored over every phase, a real one falls
// short of what it would score at a phase known by about half the logarithm of its energy (some
// 2 for a dot in deep noise), so that at the full cost faint dots are dropped and dashes cut in
// two. The readings before it keep the full cost: they set the levels, where noise taken for
// marks would drag the tone's level down in long gaps and draw a fade's trough where there is
// none, and they choose the unit, where a lower cost lets a unit far too fast explain the
// noise as marks and win (a hand's message once read at a quarter of its unit).
// Where the marks stand clear of the noise, a real dot scores far above either cost and the
// full one keeps out what little noise passes for a mark (a dot of it in a word gap once made X
// and J one letter): the cost rises back from SEG_FREE_CLEAR_LO to SEG_FREE_CLEAR_HI of the
// signal-to-noise over a unit where the mark lies (at 35 WPM, about 0 and +3 dB in 500 Hz).
constexpr double SEG_MARK_COST_FREE = 2.0;
constexpr double SEG_FREE_CLEAR_LO = 12.0;
constexpr double SEG_FREE_CLEAR_HI = 24.0;
// A lone short mark between letter gaps needs this score of its own (noise rarely reaches it).
constexpr double SEG_LONE_SCORE = 8.0;
// Between gaps of the operator's own, a lone mark needs only SEG_LONE_OWN; a gap is the
// operator's own within SEG_LONE_NEAR (logarithm, about 16 %) of the letter gap learnt, or of
// the word gap that goes with it. A real E keeps its letter's gaps, while a bump of noise in a
// word gap seldom splits it that exactly: held that close, the check can ask less of the score.
// (Scored over a phase of its own, a real E at 0 dB and 35 WPM scores about 10, spread by 5,
// while the best bump of noise in a word gap there stays under 4. With ±50 % taken as the
// operator's own, every place noise could stand in a word gap passed, the need had to be 5, and
// real E's were lost, most of sox's errors at 0 dB and 35 WPM.)
constexpr double SEG_LONE_OWN = 3.0;
constexpr double SEG_LONE_NEAR = 0.15;
// The best signal-to-noise ratio a unit's sum is taken to have (20 dB), for units of at least
// SEG_TOP_MS (25 WPM).
constexpr double SEG_TOP_SNR = 100.0;
constexpr double SEG_TOP_MS = 48.0;
// Lengths of marks and spaces, in logarithms of units, spread this much around each kind.
constexpr double SEG_SPREAD = 0.35;
// An operator's own marks, measured: each kind is spread this many times the robust spread
// its lengths show, at least SEG_FIST_NARROW; a share SEG_FIST_WIDE of a mark's odds keeps the
// standard spread, so an odd one (a dash held long, a dot clipped) still reads as what it is.
constexpr double SEG_FIST_TIMES = 0.8;
constexpr double SEG_FIST_NARROW = 0.08;
constexpr double SEG_FIST_NARROW_BOTH[2] = {SEG_FIST_NARROW, SEG_FIST_NARROW};
// Gaps inside letters are measured the same way, at least this spread: a gap's length is read
// between two edges, each of which noise moves.
constexpr double SEG_FIST_NARROW_INSIDE = 0.12;
constexpr double SEG_FIST_WIDE = 0.3;
// Where the marks stand well above the noise, their lengths are measured well, and between the
// operator's dots and dashes the kind is told by how both of them spread, as sharply as the key
// decoder's threshold does, rather than by the standard spread that leaves a dash keyed short
// in a rare letter to the letter's odds. Sharp from SEG_FIST_CLEAR_HI (signal-to-noise over a
// unit: some +15 dB in 500 Hz at 25 WPM), not at all under SEG_FIST_CLEAR_LO (+5 dB), where
// noise moves edges and the letters must be able to mend a length. The sharp odds are held
// within SEG_FIST_SURE either way.
constexpr double SEG_FIST_CLEAR_LO = 100.0;
constexpr double SEG_FIST_CLEAR_HI = 1000.0;
constexpr double SEG_FIST_SURE = 10.0;
// Clearness is told in this many steps.
constexpr int SEG_CLEAR_STEPS = 4;
// Lengths are looked up in steps of this share of a frame.
constexpr int SEG_LEN_STEPS = 4;

// Where x lies from lo to hi on a logarithmic scale, 0 below lo and 1 above hi.
double log_ramp(double x, double lo, double hi) {
    return std::clamp(log(std::max(x, 1e-9) / lo) / log(hi / lo), 0.0, 1.0);
}

// ln I0(x), the Bessel function that averages a tone's likelihood over its unknown phase
// (polynomials of Abramowitz and Stegun 9.8.1-2). The reading asks it for every run of frames
// that may be a mark, millions of times a minute of sound: ln_i0 below is this, looked
// up.
double ln_i0_exact(double x) {
    if (x < 3.75) {
        double t = x / 3.75;
        t *= t;
        return log(1.0 +
                   t * (3.5156229 +
                        t * (3.0899424 +
                             t * (1.2067492 + t * (0.2659732 + t * (0.0360768 + t * 0.0045813))))));
    }
    double t = 3.75 / x;
    double p = 0.39894228 +
               t * (0.01328592 +
                    t * (0.00225319 +
                         t * (-0.00157565 +
                              t * (0.00916281 +
                                   t * (-0.02057706 +
                                        t * (0.02635537 + t * (-0.01647633 + t * 0.00392377)))))));
    return x - 0.5 * log(x) + log(p);
}

// ln I0 is tabulated up to LN_I0_TOP in steps of 1/LN_I0_STEPS; beyond, its asymptotic series
// (x - ln(2 pi x) / 2 + 1 / 8x + 1 / 16x^2) is off by under 1e-5, and the logarithm there is
// looked up from the mantissa's top LN_MANTISSA_BITS (1 + m / LN_MANTISSAS). Both are linear
// between entries, within 1e-4 of the exact value: far finer than a score needs.
constexpr int LN_I0_TOP = 16;
constexpr int LN_I0_STEPS = 32;
constexpr int LN_MANTISSA_BITS = 8;
constexpr int LN_MANTISSAS = 1 << LN_MANTISSA_BITS;
constexpr double LN_2PI = 1.8378770664093453;

struct LN_TABLES {
    double i0[LN_I0_TOP * LN_I0_STEPS + 2];
    double mantissa[LN_MANTISSAS + 1];
    LN_TABLES() {
        for (int k = 0; k <= LN_I0_TOP * LN_I0_STEPS + 1; k++)
            i0[k] = ln_i0_exact((double)k / LN_I0_STEPS);
        for (int k = 0; k <= LN_MANTISSAS; k++) mantissa[k] = log(1.0 + (double)k / LN_MANTISSAS);
    }
};
const LN_TABLES g_ln;

// ln x for x of at least 1 (a normal double), from its exponent and its mantissa's table.
double ln_fast(double x) {
    uint64_t bits;
    memcpy(&bits, &x, sizeof bits);
    int e = (int)((bits >> 52) & 0x7ff) - 1023;
    uint64_t m = bits & ((1ULL << 52) - 1);
    constexpr int below = 52 - LN_MANTISSA_BITS; // the bits between the table's entries
    int k = (int)(m >> below);
    double f = (double)(m & ((1ULL << below) - 1)) / (double)(1ULL << below);
    return e * M_LN2 + g_ln.mantissa[k] + f * (g_ln.mantissa[k + 1] - g_ln.mantissa[k]);
}

double ln_i0(double x) {
    if (x < LN_I0_TOP) {
        double p = std::max(0.0, x) * LN_I0_STEPS;
        int k = (int)p;
        return g_ln.i0[k] + (p - k) * (g_ln.i0[k + 1] - g_ln.i0[k]);
    }
    double r = 1.0 / x;
    return x - 0.5 * (ln_fast(x) + LN_2PI) + r * (0.125 + 0.0625 * r);
}

// The modulus of a complex sum: hypot guards against overflow that sums of samples never reach.
double modulus(cplxd y) {
    return sqrt(std::norm(y));
}

// How likely a length of lr (logarithm of units) is, from kinds at centres with weights, and
// a small flat share from lo to hi for what an operator may do besides; below lo it falls off
// fast (a mark or space under half a unit is noise). A share wide of each kind's odds keeps the
// standard spread around it, whatever its own.
double log_length(double lr, const double *centres, const double *weights, int n, double lo,
                  double hi, double spread = SEG_SPREAD, double wide = 0.0,
                  double flat_share = 0.1) {
    double p = 0;
    for (int i = 0; i < n; i++) {
        double u = (lr - centres[i]) / spread, w = (lr - centres[i]) / SEG_SPREAD;
        p += weights[i] * ((1.0 - wide) * exp(-0.5 * u * u) / (spread * 2.5066283) +
                           wide * exp(-0.5 * w * w) / (SEG_SPREAD * 2.5066283));
    }
    double flat = flat_share / (hi - lo);
    if (lr < lo) flat *= exp(-0.5 * ((lo - lr) / 0.15) * ((lo - lr) / 0.15));
    return log(p + flat + 1e-300);
}

double median_of(std::vector<double> &v) {
    std::nth_element(v.begin(), v.begin() + (long)(v.size() / 2), v.end());
    return v[v.size() / 2];
}

struct TIMED {
    double ms, value, weight = 1.0; // weight: how much the value is to be trusted
};

struct SEGMENTER {
    const std::vector<cplxd> *pre; // prefix sums of z, per ms
    double unit;
    int frame;  // ms per frame
    int frames; // whole frames in z
    std::vector<uint8_t> on;
    std::vector<int8_t> kind;      // per frame: dot or dash, gap inside or between letters; -1
    double score = 0;              // the last reading's, against silence throughout
    std::vector<double> amp, nvar; // per grid step: the tone's amplitude per ms, the noise's
                                   // power in a sum over one unit
    std::vector<double> heard;     // per frame: the share of its ms not blanked, from the start
    // Per grid step, how clear the marks stand above the noise there (0 to 1, from their
    // signal-to-noise ratio over a unit before the ceiling): through a fade's trough they are not
    // as clear as at its crest, and a stretch's median would judge them all by the crest.
    std::vector<double> clear;
    std::vector<double> snr; // per grid step: that signal-to-noise ratio itself
    // Per grid step, how faint a mark may be against the tone's level (SEG_LOW_MS; empty: 1).
    std::vector<double> low;
    // Per frame boundary, how far (ms) the first reading's rising and falling edges near it lie
    // from it: that reading's edges are finer than a frame, and a length on the boundaries is
    // measured between them (a dash keyed short reads a frame shorter than it sounds otherwise).
    // In noise the first reading's edges wander with it: each counts as clear as the marks
    // are around it (fine, per frame boundary; empty: not at all).
    std::vector<float> up_off, down_off, fine;

    // The length in ms of a mark over frames a..b, and of a space.
    double mark_ms(int a, int b) const {
        return (b - a) * frame + (fine.empty() ? 0.0
                                               : fine[(size_t)b] * down_off[(size_t)b] -
                                                     fine[(size_t)a] * up_off[(size_t)a]);
    }
    double space_ms(int a, int b) const {
        return (b - a) * frame + (fine.empty() ? 0.0
                                               : fine[(size_t)b] * up_off[(size_t)b] -
                                                     fine[(size_t)a] * down_off[(size_t)a]);
    }
    cplxd sum(int a, int b) const { return (*pre)[(size_t)b * frame] - (*pre)[(size_t)a * frame]; }
    // How many frames' worth of a..b was heard (not blanked).
    double heard_in(int a, int b) const { return heard[(size_t)b] - heard[(size_t)a]; }
    size_t grid(double ms) const {
        return std::min(amp.size() - 1, (size_t)std::max(0.0, ms / SEG_GRID_MS));
    }
    // A mark's own amplitude over frames a..b, the noise's share taken out; only the part of
    // it heard counts. 0 when none of it was.
    double level_of(int a, int b) const {
        double len = heard_in(a, b) * frame;
        if (len <= 0) return 0;
        double var = nvar[grid(0.5 * (a + b) * frame)] * len / unit;
        return sqrt(std::max(0.0, std::norm(sum(a, b)) - var)) / len;
    }
    // A value kept on the grid, at ms between its steps.
    static double between(const std::vector<double> &v, double ms) {
        double p = std::clamp(ms / SEG_GRID_MS - 0.5, 0.0, (double)(v.size() - 1));
        size_t i = std::min((size_t)p, v.size() - 1), j = std::min(i + 1, v.size() - 1);
        return v[i] + (p - (double)i) * (v[j] - v[i]);
    }
    // The levels at ms, between the grid's steps.
    void at(double ms, double *a, double *nv) const {
        *a = between(amp, ms);
        *nv = between(nvar, ms);
    }
};

// The tone's level at mid, from the marks' levels around it (in time order): a line fitted
// through those within SEG_FADE_MS, the nearer and the longer weighing more (a dash's level is
// measured over three times a dot's sound). A fade of a few seconds rises or falls all through
// the marks nearest a moment, and their median then lags it by the slope; the line follows it.
// A mark far off the median (a dot of noise, a crash half heard) counts for little. 0 when too
// few marks are near, most of them lie on one side or the line lands far from the median: the
// median is kept.
double _seg_fade_fit(const std::vector<TIMED> &tone, double mid, double median) {
    auto first = std::lower_bound(tone.begin(), tone.end(), mid - SEG_FADE_MS,
                                  [](const TIMED &t, double v) { return t.ms < v; });
    auto weight = [&](const TIMED &m) {
        double u = fabs(m.ms - mid) / SEG_FADE_MS, near = 1 - u * u * u;
        double w = near * near * near * m.weight;
        return fabs(m.value - median) > median ? 0.1 * w : w;
    };
    double sw = 0, st = 0, sv = 0, stt = 0, stv = 0, before = 0;
    int used = 0;
    for (auto it = first; it != tone.end() && it->ms < mid + SEG_FADE_MS; ++it) {
        double w = weight(*it), t = it->ms - mid;
        sw += w;
        before += t < 0 ? w : 0;
        st += w * t;
        sv += w * it->value;
        stt += w * t * t;
        stv += w * t * it->value;
        used++;
    }
    // Only between marks: a line leaning out past the last of them is a guess.
    if (used < 4 || sw <= 0 || before < 0.25 * sw || before > 0.75 * sw) return 0;
    double mt = st / sw, mv = sv / sw, var = stt / sw - mt * mt;
    if (var <= 1e-9) return 0;
    double slope = (stv / sw - mt * mv) / var;
    double at = mv - slope * mt;
    // The slope must stand out of the marks' scatter about the line: levels in noise scatter,
    // and a line through a few of them leans any way (in a long gap it would call noise a mark).
    double sr = 0, sw2 = 0;
    for (auto it = first; it != tone.end() && it->ms < mid + SEG_FADE_MS; ++it) {
        double w = weight(*it), r = it->value - (at + slope * (it->ms - mid));
        sr += w * r * r;
        sw2 += w * w;
    }
    double n_eff = sw * sw / std::max(sw2, 1e-300);
    double spread = sqrt(sr / sw / std::max(n_eff - 2.0, 1.0) / var);
    if (fabs(slope) < SEG_FADE_SURE * spread) return 0;
    // Marks' levels scatter in noise: the line is taken only where it says the level has moved
    // well away from the median (a steady tone keeps the median, which noise moves less).
    double moved = fabs(at / median - 1.0);
    return moved > SEG_FADE_MOVED && at > 0.3 * median && at < 3.0 * median ? at : 0;
}

// The tone's level at mid through a deep fade: a quadratic fitted by weighted least squares to
// the logarithms of the marks' levels within SEG_CURVE_MS (a fade multiplies the tone, and in
// decibels its trough is as round as its crest, which a line through it would cut short), the
// nearer and the longer weighing more and a mark far off the median little. 0 when too few
// marks are near or the curve lands far from the median.
double _seg_fade_curve(const std::vector<TIMED> &tone, double mid, double median, double reach,
                       const TIMED *skip = nullptr) {
    auto first = std::lower_bound(tone.begin(), tone.end(), mid - reach,
                                  [](const TIMED &t, double v) { return t.ms < v; });
    // The normal equations on 1, t, t^2 (t in seconds), the right-hand side in column 3.
    double m[3][4] = {};
    int used = 0;
    for (auto it = first; it != tone.end() && it->ms < mid + reach; ++it) {
        if (it->value <= 0 || &*it == skip) continue;
        double u = fabs(it->ms - mid) / reach, near = 1 - u * u * u;
        double w = near * near * near * it->weight * (fabs(it->value - median) > median ? 0.1 : 1);
        double t = (it->ms - mid) / 1000.0, b[3] = {1, t, t * t}, y = log(it->value);
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++) m[i][j] += w * b[i] * b[j];
            m[i][3] += w * b[i] * y;
        }
        used++;
    }
    if (used < SEG_CURVE_MARKS) return 0;
    for (int i = 0; i < 3; i++) {
        int p = i;
        for (int r = i + 1; r < 3; r++)
            if (fabs(m[r][i]) > fabs(m[p][i])) p = r;
        std::swap(m[i], m[p]);
        if (fabs(m[i][i]) < 1e-12) return 0;
        for (int r = 0; r < 3; r++) {
            if (r == i) continue;
            double f = m[r][i] / m[i][i];
            for (int c = 0; c < 4; c++) m[r][c] -= f * m[i][c];
        }
    }
    double at = exp(m[0][3] / m[0][0]);
    return at > 0.2 * median && at < 3.0 * median ? at : 0;
}

// Through a deep fade, the tone's level on the grid from _seg_fade_curve, at the reach that best
// foretells each mark's level from the others (errors in logarithms, each counted at most as a
// 10 dB miss: a dot of noise must not choose); medians are the levels the nearest marks give.
// Left as they are when the stretch does not fade that deeply.
void _seg_fade_curves(SEGMENTER *s, const std::vector<TIMED> &tone,
                      const std::vector<double> &medians) {
    size_t cells = s->amp.size();
    std::vector<double> curve(cells, 0.0), swing;
    auto draw = [&](double reach) {
        for (size_t c = 0; c < cells; c++)
            curve[c] = _seg_fade_curve(tone, (c + 0.5) * SEG_GRID_MS, medians[c], reach);
    };
    draw(SEG_CURVE_MS[1]);
    for (double v : curve)
        if (v > 0) swing.push_back(v);
    if (swing.size() < 10) return;
    std::sort(swing.begin(), swing.end());
    double swung = swing[swing.size() - 1 - swing.size() / 10] / swing[swing.size() / 10];
    if (swung <= SEG_CURVE_SWUNG) return;
    // Each mark's level foretold (a miss of 10 dB at most), by the curve from the others at a
    // reach r, or by the levels the nearest marks give when r is 0.
    auto miss_at = [&](double r) {
        double miss = 0;
        for (const TIMED &t : tone) {
            if (t.value <= 0) continue;
            double f = r > 0 ? _seg_fade_curve(tone, t.ms, medians[s->grid(t.ms)], r, &t)
                             : s->amp[s->grid(t.ms)];
            double e = f > 0 ? log(t.value / f) : 1.0;
            miss += t.weight * std::min(e * e, 1.3);
        }
        return miss;
    };
    double reach = SEG_CURVE_MS[1], best = HUGE_VAL;
    for (double r : SEG_CURVE_MS) {
        double miss = miss_at(r);
        if (miss < best) {
            best = miss;
            reach = r;
        }
    }
    if (swung <= SEG_CURVE_SWING && best >= SEG_CURVE_BETTER * miss_at(0.0)) return;
    if (reach != SEG_CURVE_MS[1]) draw(reach);
    for (size_t c = 0; c < cells; c++)
        if (curve[c] > 0) s->amp[c] = curve[c];
}

// A tone that holds one level (no fading, no AGC working on it) is best measured on all its
// marks at once: near the limit the few marks around a moment put a level of their own on each
// (at -3 dB a dot's own level is off by a quarter), and the reading then loses dots where the
// noise made the level high and takes in noise where it made it low. The marks' levels are
// taken to be one when they scatter about their median no more than the noise in them accounts
// for, SEG_STEADY times over, mark by mark and in means of SEG_STEADY_BLOCK marks in a row
// (SEG_STEADY_BLOCKS times over; a slow fade shows in the means long after the noise hides it
// in single marks), median against median so that marks of noise and crashes half heard do not
// count. Steady tones from +3 to -3 dB come out at 0.3 to 2.5 mark by mark and mostly under 3
// in means; a fade of 12 dB at 0.3 Hz at 7 and over mark by mark at +3 dB, and in means at about
// 14 at -3 dB, 50 at 0 dB. A clean tone's levels stray far beyond its little noise: it keeps the
// levels around each moment, which serve it well. Fewer than SEG_STEADY_MARKS marks tell too
// little.
constexpr double SEG_STEADY = 3.0;
constexpr double SEG_STEADY_BLOCKS = 5.0;
constexpr size_t SEG_STEADY_BLOCK = 8;
constexpr size_t SEG_STEADY_MARKS = 12;

// How far the marks [from, to) stray from level, against the noise in them: their mean's
// squared distance over its variance (the noise's power in each mark's sum over its squared
// length, half of it along the tone's phase).
double _seg_stray(const SEGMENTER *s, const std::vector<TIMED> &tone, size_t from, size_t to,
                  double level) {
    double mean = 0, var = 0, n = (double)(to - from);
    for (size_t i = from; i < to; i++) {
        mean += tone[i].value / n;
        var += s->nvar[s->grid(tone[i].ms)] / (2.0 * s->unit * tone[i].weight * s->unit) / (n * n);
    }
    return (mean - level) * (mean - level) / var;
}

// The level all the marks share, or 0 when they do not share one.
double _seg_steady_level(const SEGMENTER *s, const std::vector<TIMED> &tone) {
    if (tone.size() < SEG_STEADY_MARKS) return 0;
    std::vector<double> v, blocks;
    for (const TIMED &t : tone) v.push_back(t.value);
    double level = median_of(v);
    v.clear();
    for (size_t i = 0; i < tone.size(); i++) v.push_back(_seg_stray(s, tone, i, i + 1, level));
    for (size_t i = 0; i + SEG_STEADY_BLOCK <= tone.size(); i += SEG_STEADY_BLOCK)
        blocks.push_back(_seg_stray(s, tone, i, i + SEG_STEADY_BLOCK, level));
    // The median of a squared normal deviate is 0.455 of its variance.
    constexpr double MEDIAN = 0.455;
    if (median_of(v) > SEG_STEADY * MEDIAN) return 0;
    if (blocks.size() >= 3 && median_of(blocks) > SEG_STEADY_BLOCKS * MEDIAN) return 0;
    return level;
}

// The noise's power and the tone's level along the stretch, from the frames now read as
// spaces and marks.
void _seg_levels(SEGMENTER *s, bool first) {
    size_t cells = s->amp.size();
    int unit_frames = SEG_FRAMES_PER_UNIT;
    double scale = s->unit / (unit_frames * s->frame);
    std::vector<TIMED> noise, tone;
    // Noise: sums over one unit inside spaces, a frame clear of their edges.
    for (int a = 0; a < s->frames;) {
        int b = a;
        while (b < s->frames && s->on[(size_t)b] == s->on[(size_t)a]) b++;
        if (!s->on[(size_t)a]) {
            for (int k = a + 1; k + unit_frames <= b - 1; k += unit_frames)
                if (s->heard_in(k, k + unit_frames) > unit_frames - 1e-9)
                    noise.push_back(TIMED{(k + unit_frames * 0.5) * s->frame,
                                          std::norm(s->sum(k, k + unit_frames)) * scale});
        }
        a = b;
    }
    if (noise.size() < 4) {
        // Hardly a space read: the quietest quarter of the unit sums stands for the noise.
        std::vector<double> all;
        for (int k = 0; k + unit_frames <= s->frames; k += unit_frames)
            if (s->heard_in(k, k + unit_frames) > unit_frames - 1e-9)
                all.push_back(std::norm(s->sum(k, k + unit_frames)) * scale);
        std::sort(all.begin(), all.end());
        noise.clear();
        for (size_t i = 0; i < std::max<size_t>(1, all.size() / 4) && i < all.size(); i++)
            noise.push_back(TIMED{0, all[i]});
        if (noise.empty()) noise.push_back(TIMED{0, 1e-12});
        for (TIMED &t : noise) t.ms = 0.5 * s->frames * s->frame;
    }
    std::vector<double> all_noise;
    for (const TIMED &t : noise) all_noise.push_back(t.value);
    double global_noise = std::max(median_of(all_noise) / M_LN2, 1e-20);
    // The power of exponentially spread noise has its median at ln 2 of its mean.
    std::vector<double> win;
    size_t lo = 0, hi = 0;
    for (size_t c = 0; c < cells; c++) {
        double mid = (c + 0.5) * SEG_GRID_MS;
        while (lo < noise.size() && noise[lo].ms < mid - SEG_NOISE_MS) lo++;
        while (hi < noise.size() && noise[hi].ms <= mid + SEG_NOISE_MS) hi++;
        win.clear();
        for (size_t i = lo; i < hi; i++) win.push_back(noise[i].value);
        s->nvar[c] = win.size() >= 8 ? std::max(median_of(win) / M_LN2, 1e-20) : global_noise;
    }
    // Tone: each mark's own amplitude, the noise's share taken out.
    for (int a = 0; a < s->frames;) {
        int b = a;
        while (b < s->frames && s->on[(size_t)b] == s->on[(size_t)a]) b++;
        double len = s->heard_in(a, b) * s->frame;
        if (s->on[(size_t)a] && len >= SEG_SURE_MARK * s->unit)
            tone.push_back(TIMED{0.5 * (a + b) * s->frame, s->level_of(a, b), len / s->unit});
        a = b;
    }
    if (first) {
        // The first reading may be riddled with marks of noise: the tone's level is rather the
        // upper part of the sums over a unit around, where marks fill nearly half the time.
        std::vector<double> sums;
        for (int k = 0; k + unit_frames <= s->frames; k++)
            sums.push_back(std::abs(s->sum(k, k + unit_frames)) / (unit_frames * s->frame));
        int reach = (int)(std::max(SEG_TONE_MS, SEG_TONE_UNITS * s->unit) / s->frame);
        for (size_t c = 0; c < cells; c++) {
            int mid = (int)((c + 0.5) * SEG_GRID_MS / s->frame);
            int from = std::max(0, mid - reach), to = std::min((int)sums.size(), mid + reach);
            if (to - from < 2 * unit_frames) {
                from = 0;
                to = (int)sums.size();
            }
            win.assign(sums.begin() + from, sums.begin() + to);
            size_t k = std::min(win.size() - 1, (size_t)(0.8 * (double)win.size()));
            std::nth_element(win.begin(), win.begin() + (long)k, win.end());
            double noise = s->nvar[c] / (s->unit * s->unit);
            s->amp[c] = sqrt(std::max(win[k] * win[k] - noise, 0.25 * win[k] * win[k]));
        }
        tone.clear();
    }
    std::vector<double> medians(cells, 0.0);
    double steady = first ? 0.0 : _seg_steady_level(s, tone);
    if (steady > 0) std::fill(s->amp.begin(), s->amp.end(), steady);
    for (size_t c = 0; c < cells && (!first || tone.size() > 0) && steady == 0; c++) {
        if (tone.empty()) {
            // No mark yet: a tone three times the noise's rms stands in.
            s->amp[c] = 3.0 * sqrt(s->nvar[c] / s->unit);
            continue;
        }
        double mid = (c + 0.5) * SEG_GRID_MS;
        size_t at = (size_t)(std::lower_bound(tone.begin(), tone.end(), mid,
                                              [](const TIMED &t, double v) { return t.ms < v; }) -
                             tone.begin());
        size_t from = at > (size_t)SEG_NEAR_MARKS ? at - SEG_NEAR_MARKS : 0;
        size_t to = std::min(tone.size(), at + SEG_NEAR_MARKS);
        win.clear();
        for (size_t i = from; i < to; i++) win.push_back(tone[i].value);
        if (win.empty()) win.push_back(tone.back().value);
        double median = std::max(median_of(win), 1e-12);
        double fit = _seg_fade_fit(tone, mid, median);
        s->amp[c] = fit > 0 ? fit : median;
        medians[c] = median;
    }
    if (!tone.empty() && steady == 0) _seg_fade_curves(s, tone, medians);
    s->low.clear();
    std::vector<double> swing;
    if (!tone.empty())
        for (size_t c = s->grid(tone.front().ms); c <= s->grid(tone.back().ms); c++)
            swing.push_back(s->amp[c]);
    std::sort(swing.begin(), swing.end());
    if (swing.size() >= 10 &&
        swing[swing.size() - 1 - swing.size() / 10] > SEG_LOW_SWING * swing[swing.size() / 10]) {
        s->low.assign(cells, 1.0);
        std::vector<double> off(tone.size(), 0.0);
        for (size_t i = 0; i < tone.size(); i++)
            if (double f = s->between(s->amp, tone[i].ms); tone[i].value > 0 && f > 0)
                off[i] = log(tone[i].value / f);
        size_t from = 0;
        for (size_t c = 0; c < cells; c++) {
            double mid = (c + 0.5) * SEG_GRID_MS, sw = 0, so = 0;
            while (from < tone.size() && tone[from].ms < mid - SEG_LOW_MS) from++;
            for (size_t i = from; i < tone.size() && tone[i].ms <= mid + SEG_LOW_MS; i++)
                if (tone[i].value > 0) {
                    sw += tone[i].weight;
                    so += tone[i].weight * off[i];
                }
            if (sw > 0) s->low[c] = std::clamp(exp(SEG_LOW_TIMES * so / sw), SEG_LOW_LEAST, 1.0);
        }
        // A tone at which a dot would score on average no more than a mark costs in the reading
        // over letters (its signal-to-noise ratio over a unit, SEG_MARK_COST_FREE) cannot be
        // read at all. Marks that faint before the first mark above it are noise in the silence
        // before the keying, and drawn down to them the level lets them vouch for each other as
        // a letter of their own (a trough at the start draws it so): there the level is held
        // at least at that tone. Further on, a trough's faint marks are the tone's own.
        auto least = [&](size_t c) { return sqrt(SEG_MARK_COST_FREE * s->nvar[c]) / s->unit; };
        size_t head = cells;
        for (const TIMED &t : tone)
            if (t.value > least(s->grid(t.ms))) {
                head = s->grid(t.ms);
                break;
            }
        for (size_t c = 0; c < head; c++) s->amp[c] = std::max(s->amp[c], least(c));
    }
    s->clear.assign(cells, 0.0);
    s->snr.assign(cells, 0.0);
    for (size_t c = 0; c < cells && !tone.empty(); c++) {
        s->snr[c] = s->amp[c] * s->amp[c] * s->unit * s->unit / s->nvar[c];
        s->clear[c] = log_ramp(s->snr[c], SEG_FIST_CLEAR_LO, SEG_FIST_CLEAR_HI);
    }
    // Digital silence has next to no noise, and what little the mixer leaves varies by orders
    // of magnitude: scores of marks side by side would be on scales too far apart to compare.
    // Past this signal-to-noise ratio over a unit, nothing is gained anyway.
    // Below SEG_TOP_MS the ceiling stays that of a unit of SEG_TOP_MS: read at a unit too short,
    // a clean tone would otherwise be allowed more signal-to-noise per ms the shorter the unit,
    // and explain itself best as Morse far too fast (a loud fade once read as T and M alone).
    double top = std::max(s->unit, SEG_TOP_MS);
    for (size_t c = 0; c < cells; c++)
        s->nvar[c] = std::max(s->nvar[c], s->amp[c] * s->amp[c] * s->unit * top / SEG_TOP_SNR);
}

// The phase a tone keyed from an oscillator that runs on keeps from mark to mark is learnt
// from the marks within this distance of a moment, and trusted at most this much (a von Mises
// prior's concentration: about an eighth of a turn's spread).
constexpr double SEG_PHASE_MS = 1000.0;
constexpr double SEG_PHASE_MOST = 30.0;
// Below this likeness of neighbouring marks' phases, every element is taken to start at a
// phase of its own. (A keyer that restarts every element can reach 0.4 in deep noise at a
// wrong unit, but a higher bar also turns the prior off for a running oscillator read roughly
// at first, at 60 WPM in noise, and that costs far more.)
constexpr double SEG_PHASE_ALIKE = 0.2;
constexpr double SEG_PHASE_ASIDE = 6.0;
// Marks closer than this (units) are taken for pieces of one element when the likeness is told.
constexpr double SEG_PHASE_APART = 0.7;

// The frames [a, b) of a mark, in time order.
struct MARK_SPAN {
    int a, b;
};

// Every mark of a reading (on, per frame) within frames from..to, cut there.
std::vector<MARK_SPAN> _seg_marks(const std::vector<uint8_t> &on, int from, int to) {
    std::vector<MARK_SPAN> marks;
    for (int a = from; a < to;) {
        int b = a;
        while (b < to && on[(size_t)b] == on[(size_t)a]) b++;
        if (on[(size_t)a]) marks.push_back(MARK_SPAN{a, b});
        a = b;
    }
    return marks;
}

// Every mark of the last reading long enough to be sure of (a shorter one may be noise).
std::vector<MARK_SPAN> _seg_sure_marks(const SEGMENTER *s) {
    std::vector<MARK_SPAN> marks;
    for (MARK_SPAN m : _seg_marks(s->on, 0, s->frames))
        if ((m.b - m.a) * s->frame >= SEG_SURE_MARK * s->unit) marks.push_back(m);
    return marks;
}

// Every frame weighed by its own levels: the sum matched to a tone that rises and falls with
// them, and the energy it must show, both summed from the start so that any run of frames is
// scored at once; and each frame's own score, for a tone whose phase wanders (a drifting
// oscillator, a fade's turns), still a mark frame by frame.
struct FRAME_SCORES {
    std::vector<cplxd> matched;
    std::vector<double> energy, frame_score;

    explicit FRAME_SCORES(const SEGMENTER *s)
        : matched((size_t)s->frames + 1, 0.0), energy((size_t)s->frames + 1, 0.0),
          frame_score((size_t)s->frames + 1, 0.0) {
        for (int k = 0; k < s->frames; k++) {
            double amp, nv;
            s->at((k + 0.5) * s->frame, &amp, &nv);
            cplxd y = s->sum(k, k + 1) * (amp * s->unit / nv);
            double e = amp * amp * s->frame * s->unit / nv * s->heard_in(k, k + 1);
            matched[(size_t)k + 1] = matched[(size_t)k] + y;
            energy[(size_t)k + 1] = energy[(size_t)k] + e;
            frame_score[(size_t)k + 1] = frame_score[(size_t)k] - e + ln_i0(2.0 * modulus(y));
        }
        if (!s->low.empty()) {
            low.resize((size_t)s->frames + 1);
            for (int k = 0; k <= s->frames; k++)
                low[(size_t)k] = (float)s->between(s->low, (k + 0.5) * s->frame);
        }
    }
    // Per frame, how faint a mark at its middle may be against the level (empty: not at all).
    std::vector<float> low;
    // The phase the marks around each frame show (a von Mises prior's concentration times its
    // direction, in the matched sums' measure), and ln I0 of its concentration; empty when the
    // marks' phases are not alike.
    std::vector<cplxd> prior;
    std::vector<double> prior_norm;
    // Whether each mark keeps one phase throughout (a steady tone, not one that chirps or
    // drifts while keyed): its frames are then not scored apart.
    bool whole = false;
    // Both learnt from the last reading's sure marks, those cut by the stretch's ends left out
    // (they may be pieces).
    void learn_phases(const SEGMENTER *s);
    void phase_prior(const SEGMENTER *s, const std::vector<MARK_SPAN> &sure);
    void phase_within(const std::vector<MARK_SPAN> &sure);
    // A mark of matched sum y and energy (as mark() weighs them, negative) scored as one, at
    // any one phase.
    static double as_one(cplxd y, double energy) { return energy + ln_i0(2.0 * modulus(y)); }
    // A mark over frames a..b scored frame by frame, each at a phase of its own.
    double pieces(int a, int b) const {
        return frame_score[(size_t)b] - frame_score[(size_t)a] - 1.0;
    }

    // How much likelier a mark over frames a..b is than noise there. Where the phase is known
    // from the marks around, a mark's sum must turn the right way: noise, of any phase, then
    // passes for a mark half as easily; and the phase wanders not, so the frames' own scores,
    // which would let noise back in at any phase, are not asked. A mark of a phase of its own
    // (a keyer that restarts its tone after a long gap) is still read, at odds of one in
    // e^SEG_PHASE_ASIDE. A mark weaker than the level where it may be faint is scored at the
    // level its sum shows (the matched sum over the energy it must show), as far as allowed.
    double mark(int a, int b) const {
        cplxd y = matched[(size_t)b] - matched[(size_t)a];
        double energy_ab = energy[(size_t)a] - energy[(size_t)b];
        size_t mid = (size_t)((a + b) / 2);
        if (!low.empty() && low[mid] < 1.0f && modulus(y) < -energy_ab) {
            double k = std::max((double)low[mid], modulus(y) / -energy_ab);
            y *= k;
            energy_ab *= k * k;
        }
        if (!prior.empty()) {
            return energy_ab + std::max(ln_i0(modulus(2.0 * y + prior[mid])) - prior_norm[mid],
                                        ln_i0(2.0 * modulus(y)) - SEG_PHASE_ASIDE);
        }
        double one = as_one(y, energy_ab);
        return whole ? one : std::max(one, pieces(a, b));
    }
};

// A transmitter's oscillator mostly runs on while it is keyed, so its marks share one phase
// (the pitch set finely, it turns only slowly): the marks of the last reading within
// SEG_PHASE_MS of a frame tell it, a mark's likelihood over its phase being exp(2 Re(y e^-jp))
// in its matched sum y. The prior at a frame is their sum, leaving out the mark the frame lies
// in (a mark of noise read before must not vouch for itself), times how alike neighbouring
// marks' phases are over the whole stretch: near 1 for a running oscillator (less the noise's
// share), near 0 for a keyer that starts every element anew, whose marks are then scored over
// any phase as before.
void FRAME_SCORES::phase_prior(const SEGMENTER *s, const std::vector<MARK_SPAN> &sure) {
    struct MARK {
        int a, b;
        double mid;
        cplxd y;
    };
    std::vector<MARK> marks;
    for (MARK_SPAN m : sure)
        marks.push_back(
            MARK{m.a, m.b, 0.5 * (m.a + m.b), matched[(size_t)m.b] - matched[(size_t)m.a]});
    if (marks.size() < 8) return;
    double win = SEG_PHASE_MS / s->frame;
    int apart = (int)ceil(SEG_PHASE_APART * s->unit / s->frame);
    // Likeness: each mark's agreement with the sum of its neighbours, against what it would be
    // were they all turned its way.
    double agree = 0, most = 0;
    size_t lo = 0, hi = 0;
    for (size_t i = 0; i < marks.size(); i++) {
        while (marks[lo].mid < marks[i].mid - win) lo++;
        while (hi < marks.size() && marks[hi].mid <= marks[i].mid + win) hi++;
        cplxd y = 0;
        double p = 0;
        for (size_t j = lo; j < hi; j++) {
            // Pieces of one element, cut by a dip of noise, share its phase whatever the keyer:
            // read at a unit too short they would pass for an oscillator that runs on.
            if (j == i || (j + 1 == i && marks[i].a - marks[j].b < apart) ||
                (j == i + 1 && marks[j].a - marks[i].b < apart))
                continue;
            y += marks[j].y;
            p += std::norm(marks[j].y);
        }
        agree += (std::conj(marks[i].y) * y).real();
        most += std::abs(marks[i].y) * sqrt(p * (double)std::max<size_t>(1, hi - lo - 1));
    }
    double alike = most > 0 ? std::clamp(agree / most, 0.0, 1.0) : 0.0;
    if (alike < SEG_PHASE_ALIKE) return;
    prior.assign((size_t)s->frames + 1, 0.0);
    prior_norm.assign((size_t)s->frames + 1, 0.0);
    lo = hi = 0;
    size_t own = 0;
    for (int k = 0; k < s->frames; k++) {
        while (lo < marks.size() && marks[lo].mid < k - win) lo++;
        while (hi < marks.size() && marks[hi].mid <= k + win) hi++;
        while (own < marks.size() && marks[own].b <= k) own++;
        cplxd y = 0;
        for (size_t j = lo; j < hi; j++)
            if (j != own || marks[j].a > k) y += marks[j].y;
        cplxd r = 2.0 * alike * y;
        if (std::abs(r) > SEG_PHASE_MOST) r *= SEG_PHASE_MOST / std::abs(r);
        prior[(size_t)k] = r;
        prior_norm[(size_t)k] = ln_i0(std::abs(r));
    }
}

// Scored frame by frame, each at a phase of its own, a stretch of noise costs little more than
// nothing (at 0 dB and 35 WPM a dot's worth of silence about 2, against 11 as one mark): a
// letter then takes in a dot where there is none (D E read as 6) and a word gap an E. The frames'
// own scores are left out when the sure marks of the last reading show a steady tone, whole
// marks scoring above their frames in all but SEG_PHASE_WANDER of them (a few in deep noise; a
// tone that chirps or drifts while keyed loses most of a dash's sum over its whole length),
// over at least SEG_PHASE_WANDER_MARKS marks.
constexpr double SEG_PHASE_WANDER = 0.25;
constexpr int SEG_PHASE_WANDER_MARKS = 8;

void FRAME_SCORES::phase_within(const std::vector<MARK_SPAN> &sure) {
    int wander = 0;
    for (MARK_SPAN m : sure) {
        double one = as_one(matched[(size_t)m.b] - matched[(size_t)m.a],
                            energy[(size_t)m.a] - energy[(size_t)m.b]);
        wander += pieces(m.a, m.b) > one;
    }
    int n = (int)sure.size();
    whole = n >= SEG_PHASE_WANDER_MARKS && wander <= SEG_PHASE_WANDER * n;
}

void FRAME_SCORES::learn_phases(const SEGMENTER *s) {
    std::vector<MARK_SPAN> sure;
    for (MARK_SPAN m : _seg_sure_marks(s))
        if (m.a > 0 && m.b < s->frames) sure.push_back(m);
    phase_prior(s, sure);
    phase_within(sure);
}

// What a lone mark between gaps of g1 and g2 units must score: where both gaps are the
// operator's own between letters or words (letter_gap, a logarithm of units), the mark stands
// where a letter would, and less is enough. A bump of noise splits a long gap anywhere, seldom
// into two gaps of the operator's own.
double lone_need(double g1, double g2, double letter_gap) {
    auto own = [&](double g) {
        double lg = log(g);
        return fabs(lg - letter_gap) < SEG_LONE_NEAR ||
               fabs(lg - letter_gap - log(7.0 / 3.0)) < SEG_LONE_NEAR;
    };
    if (letter_gap == HUGE_VAL || !own(g1) || !own(g2)) return SEG_LONE_SCORE;
    return SEG_LONE_OWN;
}

// A lone short mark between two gaps as long as a letter's is what noise makes most often in
// the long gaps of slow spacing; a real one (an E, a T keyed short) stands well above the
// noise, so it must show a clear score of its own. With letters read, only a mark that is a
// letter of its own between gaps read as gaps between letters is looked at. The silence after
// the last mark is no gap of the operator's: noise there may stand anywhere in it.
void _seg_drop_lone(SEGMENTER *s, const FRAME_SCORES &fs, double letter_gap = HUGE_VAL) {
    int T = s->frames;
    double per = s->unit / s->frame;
    int lone = (int)ceil(1.5 * per), apart = (int)floor(2.5 * per);
    for (int a = 0, prev_gap = T, prev_kind = 1; a < T;) {
        int b = a;
        while (b < T && s->on[(size_t)b] == s->on[(size_t)a]) b++;
        if (!s->on[(size_t)a]) {
            prev_gap = b - a;
            prev_kind = s->kind[(size_t)a];
            a = b;
            continue;
        }
        int c = b;
        while (c < T && !s->on[(size_t)c]) c++;
        int next_kind = b < T ? s->kind[(size_t)b] : 1;
        if (b - a <= lone && prev_gap >= apart && c - b >= apart && prev_kind != 0 &&
            next_kind != 0 &&
            fs.mark(a, b) <
                lone_need(prev_gap / per, c < T ? (c - b) / per : HUGE_VAL, letter_gap)) {
            std::fill(s->on.begin() + a, s->on.begin() + b, 0);
            std::fill(s->kind.begin() + a, s->kind.begin() + b, (int8_t)prev_kind);
        }
        prev_gap = 0;
        a = b;
    }
}

// A word at either end of the stretch whose marks all lie far under the others' level is noise
// read as a faint station (the silence after a message's last letter, where the level drawn
// from the sums fell to the noise's own and then to the marks it let in): it is dropped. A fade
// cannot take a whole word 12 dB under the message's median in a moment, and a word in a
// trough deeper than that is lost in the noise anyway. Fewer marks than SEG_FAINT_MARKS set no
// level to judge by.
constexpr double SEG_FAINT_END = 0.25;
constexpr int SEG_FAINT_MARKS = 8;

void _seg_drop_faint_ends(SEGMENTER *s) {
    std::vector<MARK_SPAN> marks;
    std::vector<double> level;
    for (int a = 0; a < s->frames;) {
        int b = a;
        while (b < s->frames && s->on[(size_t)b] == s->on[(size_t)a]) b++;
        if (s->on[(size_t)a] && s->heard_in(a, b) > 0) {
            marks.push_back(MARK_SPAN{a, b});
            level.push_back(s->level_of(a, b));
        }
        a = b;
    }
    size_t n = marks.size();
    if (n < SEG_FAINT_MARKS) return;
    std::vector<double> all = level;
    double floor = SEG_FAINT_END * median_of(all);
    // The words, split at gaps of five units: each one's first mark.
    int word_gap = (int)lround(5.0 * s->unit / s->frame);
    std::vector<size_t> first;
    for (size_t i = 0; i < n; i++)
        if (i == 0 || marks[i].a - marks[i - 1].b >= word_gap) first.push_back(i);
    first.push_back(n);
    auto faint = [&](size_t w) {
        for (size_t i = first[w]; i < first[w + 1]; i++)
            if (level[i] >= floor) return false;
        return true;
    };
    size_t lo = 0, hi = first.size() - 1;
    while (hi > lo + 1 && faint(hi - 1)) hi--;
    while (lo + 1 < hi && faint(lo)) lo++;
    if (first[hi] - first[lo] < n / 2) return;
    for (size_t i = 0; i < n; i++) {
        if (i >= first[lo] && i < first[hi]) continue;
        std::fill(s->on.begin() + marks[i].a, s->on.begin() + marks[i].b, 0);
        std::fill(s->kind.begin() + marks[i].a, s->kind.begin() + marks[i].b, (int8_t)1);
    }
}

// One reading: the likeliest chain of marks and spaces at the levels found, into s->on.
void _seg_read(SEGMENTER *s) {
    int T = s->frames;
    double per = s->unit / s->frame; // frames per unit
    int dm = std::max(2, (int)ceil(SEG_MAX_MARK * per)),
        ds = std::max(2, (int)ceil(SEG_MAX_SPACE * per));
    static const double MARK_AT[] = {0.0, 1.0986123}, MARK_W[] = {0.45, 0.45};
    static const double SPACE_AT[] = {0.0, 1.0986123, 1.9459101}, SPACE_W[] = {0.45, 0.3, 0.15};
    std::vector<double> pm((size_t)dm + 1), ps((size_t)ds + 1);
    for (int d = 1; d <= dm; d++)
        pm[(size_t)d] = log_length(log(d / per), MARK_AT, MARK_W, 2, log(0.5), log(SEG_MAX_MARK));
    for (int d = 1; d <= ds; d++)
        ps[(size_t)d] =
            log_length(log(d / per), SPACE_AT, SPACE_W, 3, log(0.5), log(SEG_MAX_SPACE));
    std::vector<double> best_m((size_t)T + 1, -HUGE_VAL), best_s((size_t)T + 1, -HUGE_VAL);
    std::vector<int> len_m((size_t)T + 1, 0), len_s((size_t)T + 1, 0);
    std::vector<uint8_t> after_space((size_t)T + 1, 0);
    best_m[0] = best_s[0] = 0;
    FRAME_SCORES fs(s);
    fs.learn_phases(s);
    const double mark_cost = SEG_MARK_COST + log(per / SEG_COST_GRID);
    for (int t = 1; t <= T; t++) {
        for (int d = 1; d <= std::min(dm, t); d++) {
            int a = t - d;
            if (best_s[(size_t)a] == -HUGE_VAL) continue;
            double score = fs.mark(a, t);
            // A mark cut by either end of the stretch may have any length.
            if (a > 0 && t < T) score += pm[(size_t)d];
            score -= mark_cost;
            score += best_s[(size_t)a];
            if (score > best_m[(size_t)t]) {
                best_m[(size_t)t] = score;
                len_m[(size_t)t] = d;
            }
        }
        for (int d = 1; d <= std::min(ds, t); d++) {
            int a = t - d;
            double prior = (a > 0 && t < T) ? ps[(size_t)d] : 0.0;
            double from_m = best_m[(size_t)a], from_s = a > 0 ? best_s[(size_t)a] - SEG_CHAIN : 0.0;
            double score = std::max(from_m, from_s) + prior;
            if (score > best_s[(size_t)t]) {
                best_s[(size_t)t] = score;
                len_s[(size_t)t] = d;
                after_space[(size_t)t] = from_s > from_m;
            }
        }
    }
    std::fill(s->on.begin(), s->on.end(), 0);
    int t = T;
    bool mark = best_m[(size_t)T] > best_s[(size_t)T];
    s->score = std::max(best_m[(size_t)T], best_s[(size_t)T]);
    while (t > 0) {
        if (mark) {
            int d = std::max(1, len_m[(size_t)t]);
            for (int k = t - d; k < t; k++) s->on[(size_t)k] = 1;
            t -= d;
            mark = false;
        } else {
            int d = std::max(1, len_s[(size_t)t]);
            bool was_space = after_space[(size_t)t];
            t -= d;
            mark = !was_space;
        }
    }
    std::fill(s->kind.begin(), s->kind.end(), (int8_t)-1);
    _seg_drop_lone(s, fs);
}

// The operator's own lengths, in logarithms of units, from the reading so far: the centre and
// spread of dots, dashes, gaps inside letters and gaps between them (two classes each, split
// where they lie apart). A fist with heavy dashes or letter gaps close to its element gaps is
// read by its own measure; what too few runs show keeps the standard lengths.
// An operator's speed also wanders through a message: each frame has the pace of the marks
// around it (how much longer than the fist's own they run, as a logarithm), in steps.
constexpr double SEG_PACE_STEP = 0.025;
constexpr int SEG_PACE_HALF = 10;
constexpr int SEG_PACE_MARKS = 12;

struct FIST {
    double at[4] = {0.0, 1.0986123, 0.0, 1.0986123};
    double spread[4] = {SEG_SPREAD, SEG_SPREAD, SEG_SPREAD, SEG_SPREAD};
    std::vector<uint8_t> pace; // per frame, SEG_PACE_HALF for none
    // Whether the gaps between letters were measured (at[3]); the gaps between words
    // (logarithm of units), and the longest gap read in one piece (units).
    bool letter_gaps = false;
    double word = 1.9459101, longest = SEG_MAX_SPACE;
};

// The two classes of v, split at split and again between their centres, each centre kept
// within lo..hi. A class given a narrowest spread (narrow[k] > 0) is spread by the median of
// its deviations rather than their variance: in noise a few runs read far off (a dot cut short,
// two dots run together, a gap inside a letter lost to a dot noise swallowed) would widen it,
// and a machine's marks and gaps read loosely let noise pass for them. Gaps between letters keep
// the variance: an operator's letter and word gaps nearly meet, and the spread of the one must
// not cut into the other's tail. False when a class is too small to learn from at the first split
// (at and spread are then as they came).
bool _seg_classes(std::vector<double> &v, double split, double lo[2], double hi[2], double *at,
                  double *spread, const double narrow[2]) {
    std::vector<double> part[2], dev;
    for (int it = 0; it < 10; it++) {
        part[0].clear();
        part[1].clear();
        for (double x : v) part[x > split].push_back(x);
        if (part[0].size() < 8 || part[1].size() < 8) return it > 0;
        for (int k = 0; k < 2; k++) {
            double sum = 0, sq = 0, n = (double)part[k].size();
            for (double x : part[k]) {
                sum += x;
                sq += x * x;
            }
            at[k] = std::clamp(sum / n, lo[k], hi[k]);
            if (narrow[k] > 0) {
                dev.clear();
                for (double x : part[k]) dev.push_back(fabs(x - at[k]));
                // For a normal spread, the median deviation is 0.674 of the standard one.
                spread[k] =
                    std::clamp(SEG_FIST_TIMES * 1.4826 * median_of(dev), narrow[k], SEG_SPREAD);
            } else {
                double var = sq / n - (sum / n) * (sum / n);
                spread[k] = std::clamp(1.5 * sqrt(std::max(var, 0.0)), 0.15, SEG_SPREAD);
            }
        }
        split = 0.5 * (at[0] + at[1]);
    }
    return true;
}

// Slow spacing (Farnsworth's): the gaps between letters run far longer than three dots, so
// that nearly every gap over two units is one of them or a word's. The median of those is a
// letter's (words hold several letters); the words' stand some 7/3 of it above. Without them
// the reading over letters would weigh those gaps against a machine's three and seven units,
// as likely all of them, and a bump of noise in one, or a gap inside a letter read long,
// would cost nothing.
void _seg_slow_spacing(const std::vector<double> &between, FIST *f) {
    size_t longer = (size_t)std::count_if(between.begin(), between.end(),
                                          [](double g) { return g >= log(5.0); });
    if (between.size() < 8 || 5 * longer < 4 * between.size()) return;
    std::vector<double> v = between;
    double at[2], spread[2] = {SEG_SPREAD, SEG_SPREAD};
    at[0] = median_of(v);
    at[1] = at[0] + log(7.0 / 3.0);
    double lo[2] = {log(2.0), log(2.0)}, hi[2] = {log(30.0), log(70.0)};
    // The spreads are measured robustly: these two classes stand far apart, and a few gaps
    // inside letters read long (a letter split by a dip of noise) would otherwise widen the
    // letters' class until a bump of noise in a long gap passed for an element again.
    v = between;
    _seg_classes(v, 0.5 * (at[0] + at[1]), lo, hi, at, spread, SEG_FIST_NARROW_BOTH);
    if (at[0] <= log(4.5)) return;
    f->at[3] = at[0];
    f->spread[3] = spread[0];
    f->word = std::max(at[1], at[0] + log(1.6));
    f->longest = std::max(SEG_MAX_SPACE, 1.5 * exp(f->word));
    f->letter_gaps = true;
}

FIST _seg_fist(const SEGMENTER *s) {
    FIST f;
    std::vector<double> marks, gaps, between;
    std::vector<int> mark_at;
    for (int a = 0; a < s->frames;) {
        int b = a;
        while (b < s->frames && s->on[(size_t)b] == s->on[(size_t)a]) b++;
        double lr =
            log(std::max(s->on[(size_t)a] ? s->mark_ms(a, b) : s->space_ms(a, b), 0.25 * s->frame) /
                s->unit);
        if (a > 0 && b < s->frames) {
            if (s->on[(size_t)a]) {
                marks.push_back(lr);
                mark_at.push_back(a);
            } else {
                if (lr < log(5.0)) gaps.push_back(lr);
                if (lr > log(2.0)) between.push_back(lr);
            }
        }
        a = b;
    }
    double mark_lo[2] = {log(0.7), log(2.3)}, mark_hi[2] = {log(1.4), log(4.2)};
    double gap_lo[2] = {log(0.6), log(2.0)}, gap_hi[2] = {log(1.5), log(4.5)};
    std::vector<double> scratch = marks;
    const double gap_narrow[2] = {SEG_FIST_NARROW_INSIDE, 0.0};
    _seg_classes(scratch, log(2.0), mark_lo, mark_hi, f.at, f.spread, SEG_FIST_NARROW_BOTH);
    f.letter_gaps =
        _seg_classes(gaps, log(2.0), gap_lo, gap_hi, f.at + 2, f.spread + 2, gap_narrow);
    if (!f.letter_gaps) _seg_slow_spacing(between, &f);
    f.pace.assign((size_t)s->frames, (uint8_t)SEG_PACE_HALF);
    size_t n = marks.size();
    if (n < 2 * SEG_PACE_MARKS) return f;
    double split = 0.5 * (f.at[0] + f.at[1]);
    std::vector<double> off(n), win;
    for (size_t i = 0; i < n; i++) off[i] = marks[i] - f.at[marks[i] > split];
    for (size_t i = 0; i < n; i++) {
        size_t lo = i > (size_t)SEG_PACE_MARKS ? i - SEG_PACE_MARKS : 0,
               hi = std::min(n, i + SEG_PACE_MARKS + 1);
        win.assign(off.begin() + (long)lo, off.begin() + (long)hi);
        int q = (int)lround(median_of(win) / SEG_PACE_STEP);
        uint8_t v = (uint8_t)(std::clamp(q, -SEG_PACE_HALF, SEG_PACE_HALF) + SEG_PACE_HALF);
        int from = i == 0 ? 0 : mark_at[i], to = i + 1 < n ? mark_at[i + 1] : s->frames;
        std::fill(f.pace.begin() + from, f.pace.begin() + to, v);
    }
    return f;
}

// The reading over letters: the same marks and spaces, but each mark a dot or a dash that walks
// down the tree of the table's codes, each gap either inside a letter (the walk goes on) or
// between letters (the walk must stand on a letter, whose odds are counted, and starts again).
// A lost dot or a dash cut in two then costs the letter it makes of the rest, so the reading
// that keeps to letters wins where the sound alone hesitates. The lengths are those of the
// element each one is, and the states are the tree's nodes at each frame's end.
void _seg_read_letters(SEGMENTER *s) {
    const std::vector<EAR_LETTER_NODE> &tree = ear_letter_tree();
    size_t N = tree.size();
    int T = s->frames;
    double per = s->unit / s->frame;
    int dm = std::max(2, (int)ceil(SEG_MAX_MARK * per)),
        di = std::max(2, (int)ceil(SEG_MAX_INSIDE * per)),
        ds = std::max(2, (int)ceil(SEG_MAX_SPACE * per));
    s->fine.assign((size_t)T + 1, 0.0f);
    for (int k = 0; k <= T; k++)
        s->fine[(size_t)k] = (float)s->between(s->clear, (double)k * s->frame);
    FIST f = _seg_fist(s);
    ds = std::max(ds, (int)ceil(f.longest * per));
    double pooled = 0.5 * (f.spread[0] + f.spread[1]);
    const double ONE_W[] = {0.9}, GAP_AT[] = {f.at[3], f.word}, GAP_W[] = {0.6, 0.3};
    // The lengths' odds at every pace, each table from a run's first frame on.
    constexpr int PACES = 2 * SEG_PACE_HALF + 1;
    // The marks' odds at every step of clearness as well: each mark's are those of the clearness
    // at its middle.
    std::vector<double> p_el[SEG_CLEAR_STEPS + 1][2][PACES], p_in[PACES], p_gap[PACES];
    for (int q = 0; q < PACES; q++) {
        double off = (q - SEG_PACE_HALF) * SEG_PACE_STEP;
        p_in[q].assign((size_t)(di + 2) * SEG_LEN_STEPS, 0.0);
        p_gap[q].assign((size_t)(ds + 2) * SEG_LEN_STEPS, 0.0);
        for (int c = 0; c <= SEG_CLEAR_STEPS; c++)
            for (int k = 0; k < 2; k++) p_el[c][k][q].assign((size_t)(dm + 2) * SEG_LEN_STEPS, 0.0);
        for (size_t i = 1; i < p_el[0][0][q].size(); i++) {
            double lr = log((double)i / SEG_LEN_STEPS / per) - off, odds[2];
            for (int k = 0; k < 2; k++)
                odds[k] = log_length(lr, &f.at[k], ONE_W, 1, log(0.5), log(SEG_MAX_MARK),
                                     f.spread[k], SEG_FIST_WIDE);
            // The kinds' odds against each other, made sharper where the lengths are clear:
            // both kinds spread alike there, so that they part halfway between (as the key
            // decoder's threshold does); their sum, how likely the length is at all, is kept.
            double all = std::max(odds[0], odds[1]) + log1p(exp(-fabs(odds[0] - odds[1])));
            double sharp =
                (lr - 0.5 * (f.at[0] + f.at[1])) * (f.at[1] - f.at[0]) / (pooled * pooled);
            for (int c = 0; c <= SEG_CLEAR_STEPS; c++) {
                double clear = (double)c / SEG_CLEAR_STEPS;
                double dash = (1 - clear) * (odds[1] - odds[0]) +
                              clear * std::clamp(sharp, -SEG_FIST_SURE, SEG_FIST_SURE);
                p_el[c][1][q][i] = all - log1p(exp(-dash));
                p_el[c][0][q][i] = all - log1p(exp(dash));
            }
        }
        for (size_t i = 1; i < p_in[q].size(); i++)
            p_in[q][i] = log_length(log((double)i / SEG_LEN_STEPS / per) - off, &f.at[2], ONE_W, 1,
                                    log(0.5), log(SEG_MAX_INSIDE), f.spread[2]);
        for (size_t i = 1; i < p_gap[q].size(); i++)
            p_gap[q][i] = log_length(log((double)i / SEG_LEN_STEPS / per) - off, GAP_AT, GAP_W, 2,
                                     log(0.5), log(f.longest), f.spread[3]);
    }
    // The table's step for a run from a to b, its length measured between the finer edges.
    auto step = [&](double ms, size_t size) {
        return (size_t)std::clamp(lround(ms / s->frame * SEG_LEN_STEPS), 1L, (long)size - 1);
    };
    std::vector<uint8_t> clear_step((size_t)T + 1);
    for (int k = 0; k <= T; k++)
        clear_step[(size_t)k] =
            (uint8_t)lround(s->between(s->clear, (k + 0.5) * s->frame) * SEG_CLEAR_STEPS);
    size_t cells = ((size_t)T + 1) * N;
    // mark[t][n]: a mark ends at t on node n; inside[t][n]: a gap inside a letter ends at t
    // after node n; gap[t]: a gap between letters ends at t. Each with the length and, for a
    // mark, the node it came from; for a gap, the letter it closed (-1: a gap before it).
    std::vector<double> mark(cells, -HUGE_VAL), inside(cells, -HUGE_VAL);
    std::vector<uint16_t> mark_len(cells, 0), inside_len(cells, 0);
    std::vector<int16_t> mark_from(cells, 0);
    std::vector<double> gap((size_t)T + 1, -HUGE_VAL), letter((size_t)T + 1, -HUGE_VAL);
    std::vector<int16_t> gap_from((size_t)T + 1, -1), letter_at((size_t)T + 1, -1);
    std::vector<uint16_t> gap_len((size_t)T + 1, 0);
    gap[0] = 0;
    // The best way into each frame's end: readings far below it are not followed further.
    std::vector<double> top((size_t)T + 1, 0.0);
    FRAME_SCORES fs(s);
    fs.learn_phases(s);
    // A mark's cost by the frame at its middle.
    std::vector<float> cost((size_t)T + 1, (float)SEG_MARK_COST);
    if (fs.prior.empty())
        for (int k = 0; k <= T; k++) {
            double clear = log_ramp(s->between(s->snr, (k + 0.5) * s->frame), SEG_FREE_CLEAR_LO,
                                    SEG_FREE_CLEAR_HI);
            cost[(size_t)k] =
                (float)(SEG_MARK_COST_FREE + clear * (SEG_MARK_COST - SEG_MARK_COST_FREE));
        }
    for (int t = 1; t <= T; t++) {
        double *m_t = &mark[(size_t)t * N];
        for (int d = 1; d <= std::min(dm, t); d++) {
            int a = t - d;
            double own = fs.mark(a, t) - cost[(size_t)(a + t) / 2] *
                                             std::max(SEG_MARK_COST_BLANKED, s->heard_in(a, t) / d);
            int q = f.pace[(size_t)std::min(a, T - 1)];
            const std::vector<double>(&p_c)[2][PACES] = p_el[clear_step[(size_t)(a + t) / 2]];
            size_t i = step(s->mark_ms(a, t), p_c[0][q].size());
            double el[2] = {p_c[0][q][i], p_c[1][q][i]};
            // A mark at either end of the stretch is weighed by its length like any other: a
            // recording that starts at its first tone (or stops at its last) hears it whole.
            const double *in_a = &inside[(size_t)a * N];
            double floor = top[(size_t)a] - SEG_BEAM;
            for (size_t p = 0; p < N; p++) {
                double from = p == 0 ? gap[(size_t)a] : in_a[p];
                if (from == -HUGE_VAL || from < floor) continue;
                for (int k = 0; k < 2; k++) {
                    int n = tree[p].next[k];
                    if (n < 0) continue;
                    double v = from + own + el[k];
                    size_t c = (size_t)t * N + (size_t)n;
                    if (v > m_t[n]) {
                        m_t[n] = v;
                        mark_len[c] = (uint16_t)d;
                        mark_from[c] = (int16_t)p;
                    }
                }
            }
        }
        for (size_t n = 1; n < N; n++) {
            double v = m_t[n] + tree[n].end;
            if (v > letter[(size_t)t]) {
                letter[(size_t)t] = v;
                letter_at[(size_t)t] = (int16_t)n;
            }
        }
        double *in_t = &inside[(size_t)t * N];
        for (int d = 1; d <= std::min(di, t - 1); d++) {
            int a = t - d;
            const double *m_a = &mark[(size_t)a * N];
            const std::vector<double> &in_q = p_in[f.pace[(size_t)a]];
            double len_odds = in_q[step(s->space_ms(a, t), in_q.size())];
            for (size_t n = 1; n < N; n++) {
                if (tree[n].next[0] < 0 && tree[n].next[1] < 0) continue;
                double v = m_a[n] + len_odds;
                if (v > in_t[n]) {
                    in_t[n] = v;
                    inside_len[(size_t)t * N + n] = (uint16_t)d;
                }
            }
        }
        for (int d = 1; d <= std::min(ds, t); d++) {
            int a = t - d;
            const std::vector<double> &gap_q = p_gap[f.pace[(size_t)a]];
            double prior = (a > 0 && t < T) ? gap_q[step(s->space_ms(a, t), gap_q.size())] : 0.0;
            double from_l = letter[(size_t)a], from_g = a > 0 ? gap[(size_t)a] - SEG_CHAIN : 0.0;
            double v = std::max(from_l, from_g) + prior;
            if (v > gap[(size_t)t]) {
                gap[(size_t)t] = v;
                gap_len[(size_t)t] = (uint16_t)d;
                gap_from[(size_t)t] = from_g >= from_l ? (int16_t)-1 : letter_at[(size_t)a];
            }
        }
        top[(size_t)t] = gap[(size_t)t];
        for (size_t n = 1; n < N; n++) top[(size_t)t] = std::max(top[(size_t)t], in_t[n]);
    }
    std::fill(s->on.begin(), s->on.end(), 0);
    std::fill(s->kind.begin(), s->kind.end(), (int8_t)1);
    s->score = std::max(gap[(size_t)T], letter[(size_t)T]);
    // Back from the end: 0 a gap between letters, 1 a mark on node n, 2 a gap inside a letter.
    int t = T, state = letter[(size_t)T] > gap[(size_t)T] ? 1 : 0, n = letter_at[(size_t)T];
    while (t > 0) {
        if (state == 0) {
            int d = std::max(1, (int)gap_len[(size_t)t]);
            int from = gap_from[(size_t)t];
            t -= d;
            if (from >= 0) {
                state = 1;
                n = from;
            }
        } else if (state == 1) {
            size_t c = (size_t)t * N + (size_t)n;
            int d = std::max(1, (int)mark_len[c]), p = mark_from[c];
            int8_t dash = tree[(size_t)p].next[1] == n;
            for (int k = t - d; k < t; k++) {
                s->on[(size_t)k] = 1;
                s->kind[(size_t)k] = dash;
            }
            t -= d;
            state = p == 0 ? 0 : 2;
            n = p;
        } else {
            int d = std::max(1, (int)inside_len[(size_t)t * N + (size_t)n]);
            for (int k = t - d; k < t; k++) s->kind[(size_t)k] = 0;
            t -= d;
            state = 1;
        }
    }
    _seg_drop_lone(s, fs, f.letter_gaps ? f.at[3] : HUGE_VAL);
    _seg_drop_faint_ends(s);
}

// Machine keying holds every element to a grid of units: a letter's marks stand where its code
// puts them, at the keyer's own unit, and only where each letter starts is left to find. The
// reading over letters lets each edge wander a frame or two for the noise to pull it, and near
// the limit (0 dB and under at 35 WPM) that freedom is most of what it loses: an edge pulled
// onto a bump of noise lengthens a dot into a dash, splits a dash, or fits an E into a word gap.
// This reading places whole letters, each as its code keyed at the unit measured from the
// reading over letters (the span from one mark's start to the next's, inside letters, is two
// units after a dot and four after a dash whatever the weighting), each starting one letter or
// word gap after the last (the keyer's own) or, at odds of one in SEG_GRID_SLIP, after any gap
// at all: a pause, a slip, slow spacing the first reading did not show.
constexpr double SEG_GRID_SLIP = 0.05;
// Words' share of the gaps between letters.
constexpr double SEG_GRID_WORDS = 0.2;
// A pause longer than the longest gap read in one piece.
constexpr double SEG_GRID_PAUSE = 0.01;
// The fewest spans inside letters that set the unit.
constexpr int SEG_GRID_SPANS = 20;
// A gap measured within this share of a machine's three or seven units is that.
constexpr double SEG_GRID_SNAP = 0.15;
// The unit measured from the first reading's edges is off by a percent or two in noise, which
// over a letter of fifteen units moves its last mark by a frame: the grid is read at units this
// share apart each side as well, and the likeliest reading kept (0.5 % steps read no better).
constexpr double SEG_GRID_UNIT_STEP = 0.01;
constexpr int SEG_GRID_UNIT_STEPS = 2;
// An operator's hand keys no grid: its letters' gaps wander, and the grid reads most of them as
// slips. Where more than this share of the gaps slipped, the reading over letters stands.
constexpr double SEG_GRID_HAND = 0.35;

// Each node of the table's tree as keyed from its letter's start: where its last element's mark
// begins and ends, in frames, and the node it grew from.
struct GRID_NODE {
    int a = 0, b = 0, parent = -1;
    bool dash = false;
    int mark = 0; // its mark among GRID::marks
};

struct GRID {
    double unit = 0, weight = 0;   // ms; weight: how much longer than its units a mark is keyed
    double letter = 0, word = 0;   // the gaps between letters and words, in frames
    int shortest = 1, longest = 0; // the gaps read in one piece, in frames
    std::vector<GRID_NODE> node;
    // The marks the nodes end with, each once (many nodes end with the same mark in the same
    // place), as frames from the letter's start.
    std::vector<std::pair<int, int>> marks;
    std::vector<double> gap_odds; // log P(a gap of so many frames)
};

// The mean of the values within a quarter of at, or at itself when fewer than least are.
double _grid_near_mean(const std::vector<double> &v, double at, int least) {
    double sum = 0;
    int n = 0;
    for (double x : v)
        if (fabs(x / at - 1.0) < 0.25) {
            sum += x;
            n++;
        }
    return n >= least ? sum / n : at;
}

// A letter read on the grid: its first frame and its node.
struct GRID_LETTER {
    int t, node;
};

// The unit and weighting of the reading over letters, from the spans between the starts of
// marks inside letters. False when too few spans show them.
bool _grid_timing(const SEGMENTER *s, GRID *g) {
    struct MARK {
        double up, ms;
        bool dash, inside; // inside: a gap inside the letter follows
    };
    std::vector<MARK> marks;
    for (auto [a, b] : _seg_marks(s->on, 0, s->frames)) {
        if (a == 0 || b == s->frames) continue; // cut by the stretch's ends
        double up =
            a * s->frame + (s->fine.empty() ? 0.0 : s->fine[(size_t)a] * s->up_off[(size_t)a]);
        marks.push_back(
            MARK{up, s->mark_ms(a, b), s->kind[(size_t)a] == 1, s->kind[(size_t)b] == 0});
    }
    std::vector<double> spans, over;
    for (size_t i = 0; i + 1 < marks.size(); i++)
        if (marks[i].inside)
            spans.push_back((marks[i + 1].up - marks[i].up) / (marks[i].dash ? 4.0 : 2.0));
    if ((int)spans.size() < SEG_GRID_SPANS) return false;
    // The mean of those near the median: a span across a lost dot is none of the unit's.
    std::vector<double> v = spans;
    g->unit = _grid_near_mean(spans, median_of(v), 1);
    for (const MARK &m : marks) over.push_back(m.ms - (m.dash ? 3.0 : 1.0) * g->unit);
    g->weight = std::clamp(median_of(over), -0.3 * g->unit, 0.3 * g->unit);
    return true;
}

// The nodes' marks, from the letter's start: each node's last mark starts one unit after its
// parent's ends.
void _grid_nodes(GRID *g, double frame) {
    const std::vector<EAR_LETTER_NODE> &tree = ear_letter_tree();
    g->node.assign(tree.size(), GRID_NODE{});
    std::vector<double> rise(tree.size(), 0.0); // the last mark's start, in units
    for (size_t p = 0; p < tree.size(); p++)
        for (int k = 0; k < 2; k++) {
            int n = tree[p].next[k];
            if (n < 0) continue;
            rise[(size_t)n] = p == 0 ? 0.0 : rise[p] + (g->node[p].dash ? 4.0 : 2.0);
            GRID_NODE &d = g->node[(size_t)n];
            d.parent = (int)p;
            d.dash = k == 1;
            d.a = (int)lround(rise[(size_t)n] * g->unit / frame);
            d.b = std::max(
                d.a + 1,
                (int)lround(((rise[(size_t)n] + (k ? 3 : 1)) * g->unit + g->weight) / frame));
        }
    g->marks.clear();
    for (GRID_NODE &d : g->node) {
        auto it = std::find(g->marks.begin(), g->marks.end(), std::make_pair(d.a, d.b));
        d.mark = (int)(it - g->marks.begin());
        if (it == g->marks.end()) g->marks.emplace_back(d.a, d.b);
    }
}

// The odds of each gap's length: the letter and word gaps, each spread as its two edges are
// placed (by rounding to frames, and a little with its length), and any other gap of at least
// half a letter gap at the slip's odds (shorter, two letters would run into one).
void _grid_gap_odds(GRID *g) {
    g->gap_odds.assign((size_t)g->longest + 1, -HUGE_VAL);
    auto peak = [](double x, double at) {
        double sd = std::max(0.6, 0.04 * at) * M_SQRT2;
        return 0.5 * (erf((x + 0.5 - at) / sd) - erf((x - 0.5 - at) / sd));
    };
    g->shortest = std::max(1, (int)ceil(0.5 * g->letter));
    double span = log((double)g->longest / g->shortest);
    for (int x = g->shortest; x <= g->longest; x++) {
        double sharp =
            (1 - SEG_GRID_WORDS) * peak(x, g->letter) + SEG_GRID_WORDS * peak(x, g->word);
        g->gap_odds[(size_t)x] = log((1 - SEG_GRID_SLIP) * sharp + SEG_GRID_SLIP / (x * span));
    }
}

// Whether a gap of x frames is one of the keyer's own.
bool _grid_own_gap(const GRID &g, double x) {
    return fabs(x - g.letter) <= std::max(1.5, 0.06 * g.letter) ||
           fabs(x - g.word) <= std::max(1.5, 0.06 * g.word);
}

// Where a mark may be fainter than the level (a fast fade's trough), it is scored at the level
// its own sum shows, and a bump of noise there scores as a faint mark: each pays
// SEG_GRID_FAINT_COST, as each of the reading over letters pays its cost (a fade of two seconds
// at +6 dB once read ES GL as EHPL, the S's word gap taken for a dot).
constexpr double SEG_GRID_FAINT_COST = 1.0;

double _grid_faint_cost(const FRAME_SCORES &fs, int mid) {
    return fs.low.empty() || fs.low[(size_t)mid] >= 1.0f ? 0.0 : SEG_GRID_FAINT_COST;
}

// The likeliest chain of letters on the grid (a dynamic programme over the frame where each
// letter starts), with its score against silence.
std::vector<GRID_LETTER> _grid_pass(const SEGMENTER *s, const FRAME_SCORES &fs, const GRID &g,
                                    double *score) {
    const std::vector<EAR_LETTER_NODE> &tree = ear_letter_tree();
    int T = s->frames;
    // At each frame t, v is the best reading with a letter starting there (0: none before it),
    // after the letter that ended at start_from[t]; done[e]: the best with a letter ending at e.
    std::vector<double> done((size_t)T + 1, -HUGE_VAL);
    std::vector<int> start_from((size_t)T + 1, -1), done_node((size_t)T + 1, -1),
        done_at((size_t)T + 1, 0);
    double best = 0, far = -HUGE_VAL, top = 0;
    int best_e = -1, far_e = -1;
    std::vector<std::pair<int, double>> stack;
    std::vector<double> mark(g.marks.size());
    for (int t = 0; t <= T; t++) {
        if (done[(size_t)t] > best) {
            best = done[(size_t)t];
            best_e = t;
        }
        int e_far = t - g.longest - 1;
        if (e_far >= 0 && done[(size_t)e_far] > far) {
            far = done[(size_t)e_far];
            far_e = e_far;
        }
        double v = 0;
        int from = -1;
        if (far + log(SEG_GRID_PAUSE) > v) {
            v = far + log(SEG_GRID_PAUSE);
            from = far_e;
        }
        for (int x = g.shortest; x <= std::min(g.longest, t); x++) {
            double w = done[(size_t)(t - x)] + g.gap_odds[(size_t)x];
            if (w > v) {
                v = w;
                from = t - x;
            }
        }
        start_from[(size_t)t] = from;
        top = std::max(top, v);
        if (v < top - SEG_BEAM) continue;
        // Every letter from t, down the tree: each node adds its last mark's score.
        for (size_t i = 0; i < g.marks.size(); i++) {
            auto [a, b] = g.marks[i];
            mark[i] = t + b <= T ? fs.mark(t + a, t + b) - _grid_faint_cost(fs, t + (a + b) / 2)
                                 : -HUGE_VAL;
        }
        stack.assign(1, {0, v});
        while (!stack.empty()) {
            auto [p, sc] = stack.back();
            stack.pop_back();
            for (int k = 0; k < 2; k++) {
                int n = tree[(size_t)p].next[k];
                if (n < 0) continue;
                const GRID_NODE &d = g.node[(size_t)n];
                if (t + d.b > T) continue;
                double m = sc + mark[(size_t)d.mark];
                size_t e = (size_t)(t + d.b);
                if (tree[(size_t)n].end > -HUGE_VAL && m + tree[(size_t)n].end > done[e]) {
                    done[e] = m + tree[(size_t)n].end;
                    done_node[e] = n;
                    done_at[e] = t;
                }
                if (m > v - SEG_BEAM) stack.push_back({n, m});
            }
        }
    }
    *score = best;
    std::vector<GRID_LETTER> chain;
    for (int e = best_e; e >= 0; e = start_from[(size_t)done_at[(size_t)e]])
        chain.push_back(GRID_LETTER{done_at[(size_t)e], done_node[(size_t)e]});
    std::reverse(chain.begin(), chain.end());
    return chain;
}

// The gaps between the letters of a chain, in frames (pauses left out).
std::vector<double> _grid_gaps(const GRID &g, const std::vector<GRID_LETTER> &chain) {
    std::vector<double> gaps;
    for (size_t i = 1; i < chain.size(); i++) {
        int x = chain[i].t - (chain[i - 1].t + g.node[(size_t)chain[i - 1].node].b);
        if (x <= g.longest) gaps.push_back((double)x);
    }
    return gaps;
}

// A gap measured near a machine's own (within SEG_GRID_SNAP) is taken to be that.
double _grid_snap(double measured, double own, double near) {
    return fabs(measured / own - 1.0) < near ? own : measured;
}

// The chain into s->on and s->kind.
void _grid_write(SEGMENTER *s, const GRID &g, const std::vector<GRID_LETTER> &chain) {
    std::fill(s->on.begin(), s->on.end(), 0);
    std::fill(s->kind.begin(), s->kind.end(), (int8_t)1);
    for (const GRID_LETTER &l : chain)
        for (int n = l.node; n > 0; n = g.node[(size_t)n].parent) {
            const GRID_NODE &d = g.node[(size_t)n];
            int a = l.t + d.a, b = std::min(s->frames, l.t + d.b);
            for (int k = a; k < b; k++) {
                s->on[(size_t)k] = 1;
                s->kind[(size_t)k] = d.dash;
            }
            if (d.parent > 0) // the gap inside the letter before this mark
                for (int k = l.t + g.node[(size_t)d.parent].b; k < a; k++) s->kind[(size_t)k] = 0;
        }
}

// A machine's message may still hold an element keyed off its grid (a last dash held long, a
// dash clipped): the grid has no letter for it, and reads what fits best. Where the two readings
// part, between gaps both read as gaps between letters, the reading over letters is kept when it
// explains the sound there better by more than its edges' freedom can gain from noise alone
// (SEG_GRID_FREEDOM a mark, above the 1 to 2 measured from -6 dB to clean, and SEG_GRID_MARGIN
// more: at 2 and 6 a few letters at +3 dB went back to the free edges' misreading); an odd
// element in a clear signal leaves the grid a unit of tone or silence unexplained, some tens.
constexpr double SEG_GRID_FREEDOM = 3.0;
constexpr double SEG_GRID_MARGIN = 10.0;

void _grid_keep_odd(SEGMENTER *s, const FRAME_SCORES &fs, const std::vector<uint8_t> &free_on,
                    const std::vector<int8_t> &free_kind) {
    int T = s->frames;
    auto apart = [&](int k) {
        return !s->on[(size_t)k] && !free_on[(size_t)k] && s->kind[(size_t)k] == 1 &&
               free_kind[(size_t)k] == 1;
    };
    // How well the marks of one reading explain frames a..b.
    auto explained = [&](const std::vector<MARK_SPAN> &marks) {
        double v = 0;
        for (MARK_SPAN m : marks) v += fs.mark(m.a, m.b);
        return v;
    };
    for (int a = 0; a < T;) {
        while (a < T && apart(a)) a++;
        int b = a;
        while (b < T && !apart(b)) b++;
        if (b > a && !std::equal(free_on.begin() + a, free_on.begin() + b, s->on.begin() + a)) {
            std::vector<MARK_SPAN> by_free = _seg_marks(free_on, a, b);
            double gain = explained(by_free) - explained(_seg_marks(s->on, a, b));
            if (gain > SEG_GRID_FREEDOM * (double)by_free.size() + SEG_GRID_MARGIN) {
                std::copy(free_on.begin() + a, free_on.begin() + b, s->on.begin() + a);
                std::copy(free_kind.begin() + a, free_kind.begin() + b, s->kind.begin() + a);
            }
        }
        a = b;
    }
}

// The reading on the grid, into s->on and s->kind, unless the reading over letters shows no
// grid to hold it to or the gaps read on it are an operator's hand rather than a machine's.
bool _seg_read_grid(SEGMENTER *s, bool search = true) {
    GRID g;
    if (!_grid_timing(s, &g)) return false;
    double fr = s->frame;
    _grid_nodes(&g, fr);
    FIST f = _seg_fist(s);
    // The gaps the first reading measured, or a machine's where they lie near them. Without
    // slow spacing measured, the words' are a machine's.
    bool slow = f.letter_gaps && f.at[3] > log(4.5);
    double own[2] = {(3 * g.unit - g.weight) / fr, (7 * g.unit - g.weight) / fr};
    g.letter = _grid_snap(exp(f.at[3]) * s->unit / fr, own[0], SEG_GRID_SNAP);
    g.word = slow ? _grid_snap(exp(f.word) * s->unit / fr, own[1], SEG_GRID_SNAP) : own[1];
    g.longest = (int)ceil(std::max(1.5 * g.word, SEG_MAX_SPACE * g.unit / fr));
    _grid_gap_odds(&g);
    FRAME_SCORES fs(s);
    fs.learn_phases(s);
    double score = 0;
    std::vector<GRID_LETTER> chain = _grid_pass(s, fs, g, &score);
    // The first reading's gaps between letters are the likeliest to be off (a letter split by
    // noise, two run together): they are measured again on the letters read, and the grid read
    // once more with them.
    std::vector<double> gaps = _grid_gaps(g, chain);
    double letter = _grid_snap(_grid_near_mean(gaps, g.letter, 3), own[0], 0.5 * SEG_GRID_SNAP);
    double word = _grid_snap(_grid_near_mean(gaps, g.word, 3), own[1], 0.5 * SEG_GRID_SNAP);
    if (fabs(letter - g.letter) > 0.5 || fabs(word - g.word) > 0.5) {
        g.letter = letter;
        g.word = std::max(word, 1.3 * letter);
        g.longest = (int)ceil(std::max(1.5 * g.word, SEG_MAX_SPACE * g.unit / fr));
        _grid_gap_odds(&g);
        chain = _grid_pass(s, fs, g, &score);
    }
    for (int i = -SEG_GRID_UNIT_STEPS; search && i <= SEG_GRID_UNIT_STEPS; i++) {
        if (i == 0) continue;
        GRID h = g;
        h.unit = g.unit * (1 + i * SEG_GRID_UNIT_STEP);
        _grid_nodes(&h, fr);
        double v = 0;
        std::vector<GRID_LETTER> c = _grid_pass(s, fs, h, &v);
        if (v > score) {
            score = v;
            chain = c;
            g.node = h.node; // the unit itself stays: the steps are taken from it
        }
    }
    gaps = _grid_gaps(g, chain);
    long slips =
        std::count_if(gaps.begin(), gaps.end(), [&](double x) { return !_grid_own_gap(g, x); });
    if (gaps.empty() || (double)slips > SEG_GRID_HAND * (double)gaps.size()) return false;
    std::vector<uint8_t> free_on = s->on;
    std::vector<int8_t> free_kind = s->kind;
    _grid_write(s, g, chain);
    _grid_keep_odd(s, fs, free_on, free_kind);
    s->score = score;
    _seg_drop_faint_ends(s);
    return true;
}

// The tone's pitch set finer from the marks now read. A frame-to-frame turn leaves half a
// hertz in deep noise: little over one dash, but over the second of marks whose shared phase is
// learnt (FRAME_SCORES::phase_prior) it turns the phase half a turn. The offset is rather the
// one at which the marks' own sums (each with a phase of its own) come out largest, found on a grid
// of SEG_TUNE_STEP_HZ and between its steps by a parabola. Each mark counts by its sum's magnitude,
// not its power, so no one mark (a crash half heard) sets the pitch; marks shorter than a sure one
// may be noise and are left out.
constexpr double SEG_TUNE_HZ = 3.0;
constexpr double SEG_TUNE_STEP_HZ = 0.1;

void _seg_tune(SEGMENTER *s, const std::vector<std::complex<float>> &z, std::vector<cplxd> &pre,
               double *w) {
    // Only marks heard whole: a blanked moment holds no tone to tune by.
    std::vector<MARK_SPAN> marks;
    for (MARK_SPAN m : _seg_sure_marks(s))
        if (s->heard_in(m.a, m.b) > (m.b - m.a) - 1e-9) marks.push_back(m);
    if (marks.size() < 4) return;
    std::vector<cplxd> frame((size_t)s->frames);
    for (int k = 0; k < s->frames; k++) frame[(size_t)k] = s->sum(k, k + 1);
    constexpr int STEPS = (int)(SEG_TUNE_HZ / SEG_TUNE_STEP_HZ + 0.5);
    double fit[2 * STEPS + 1];
    for (int i = -STEPS; i <= STEPS; i++) {
        double dw = 2.0 * M_PI * i * SEG_TUNE_STEP_HZ / 1000.0 * s->frame; // per frame
        double sum = 0;
        for (const MARK_SPAN &m : marks) {
            cplxd acc = 0, r = std::polar(1.0, -dw), at = 1.0;
            for (int k = m.a; k < m.b; k++) {
                acc += frame[(size_t)k] * at;
                at *= r;
            }
            sum += std::abs(acc);
        }
        fit[i + STEPS] = sum;
    }
    int best = 0;
    for (int i = 1; i <= 2 * STEPS; i++)
        if (fit[i] > fit[best]) best = i;
    if (best == 0 || best == 2 * STEPS) return;
    double l = fit[best - 1], c = fit[best], r = fit[best + 1], den = l - 2 * c + r;
    double off = (best - STEPS + (den < 0 ? std::clamp(0.5 * (l - r) / den, -0.5, 0.5) : 0.0)) *
                 SEG_TUNE_STEP_HZ;
    *w += 2.0 * M_PI * off / 1000.0;
    for (size_t k = 0; k < z.size(); k++)
        pre[k + 1] = pre[k] + cplxd(z[k].real(), z[k].imag()) * std::polar(1.0, -*w * (double)k);
}

} // namespace

std::vector<EAR_RUN> ear_segment(const std::vector<std::complex<float>> &z, double unit_ms,
                                 const std::vector<EAR_RUN> &guess, double guess_first_ms,
                                 bool letters, double *first_ms, double *score,
                                 const std::vector<float> *noise_var) {
    *first_ms = guess_first_ms;
    *score = 0;
    SEGMENTER s;
    s.unit = std::max(unit_ms, 2.0);
    s.frame = std::max(1, (int)lround(s.unit / SEG_FRAMES_PER_UNIT));
    s.frames = (int)(z.size() / (size_t)s.frame);
    if (s.frames < 4 * SEG_FRAMES_PER_UNIT || guess.empty()) return guess;
    s.on.assign((size_t)s.frames, 0);
    s.kind.assign((size_t)s.frames, -1);
    // The first reading's edges, finer than a frame: they measure the lengths read on the
    // frames and are where the edges found are put back at the end.
    std::vector<double> guess_up, guess_down;
    double t = guess_first_ms;
    for (const EAR_RUN &r : guess) {
        (r.on ? guess_up : guess_down).push_back(t);
        if (r.on) {
            int a = (int)lround(t / s.frame), b = (int)lround((t + r.ms) / s.frame);
            for (int k = std::max(0, a); k < std::min(b, s.frames); k++) s.on[(size_t)k] = 1;
        }
        t += r.ms;
    }
    // What is left of the tone's offset after mixing turns the phase along every mark and
    // would cancel a long mark's sum: it is measured from frame to frame inside the marks
    // (a keyer that starts each element at a phase of its own does not disturb it) and
    // turned back.
    std::vector<cplxd> pre(z.size() + 1);
    for (size_t k = 0; k < z.size(); k++) pre[k + 1] = pre[k] + cplxd(z[k].real(), z[k].imag());
    s.pre = &pre;
    s.heard.assign((size_t)s.frames + 1, 0.0);
    for (int k = 0; k < s.frames; k++) {
        int lost = 0;
        for (int j = k * s.frame; noise_var && j < (k + 1) * s.frame; j++)
            lost += ear_blanked(*noise_var, (size_t)j);
        s.heard[(size_t)k + 1] = s.heard[(size_t)k] + 1.0 - (double)lost / s.frame;
    }
    for (int up = 0; up < 2; up++) {
        std::vector<float> &off = up ? s.up_off : s.down_off;
        off.assign((size_t)s.frames + 1, 0.0f);
        for (double e : up ? guess_up : guess_down) {
            int k = (int)lround(e / s.frame);
            for (int j = std::max(0, k - 1); j <= std::min(s.frames, k + 1); j++) {
                double o = e - (double)j * s.frame;
                if (fabs(o) < s.frame && (off[(size_t)j] == 0 || fabs(o) < fabs(off[(size_t)j])))
                    off[(size_t)j] = (float)o;
            }
        }
    }
    cplxd turn = 0;
    // Each pair of frames counts alike, so that a crash of static does not set the pitch.
    for (int k = 1; k < s.frames; k++) {
        if (!s.on[(size_t)k] || !s.on[(size_t)k - 1]) continue;
        cplxd step = s.sum(k, k + 1) * std::conj(s.sum(k - 1, k));
        if (std::abs(step) > 0) turn += step / std::abs(step);
    }
    double w = 0; // radians per ms
    if (std::abs(turn) > 0) {
        w = std::arg(turn) / s.frame;
        for (size_t k = 0; k < z.size(); k++)
            pre[k + 1] = pre[k] + cplxd(z[k].real(), z[k].imag()) * std::polar(1.0, -w * (double)k);
    }
    size_t cells = (size_t)s.frames * (size_t)s.frame / SEG_GRID_MS + 1;
    s.amp.assign(cells, 0.0);
    s.nvar.assign(cells, 1.0);
    for (int round = 0; round < SEG_ROUNDS; round++) {
        _seg_levels(&s, round == 0);
        if (!letters || round + 1 < SEG_ROUNDS)
            _seg_read(&s);
        else {
            _seg_read_letters(&s);
            // The grid, once read, sets the levels better than the free edges did (a mark of
            // noise they took in no longer drags the tone's level down): it is read once more
            // with them, at the unit it found.
            if (_seg_read_grid(&s)) {
                _seg_levels(&s, false);
                _seg_read_grid(&s, false);
            }
        }
        if (round + 1 < SEG_ROUNDS) _seg_tune(&s, z, pre, &w);
    }
    // The edges found, each moved onto the first reading's edge of the same kind when that
    // lies within a frame: where the first reading was right its edges are finer.
    std::vector<double> edges;
    std::vector<int> kinds;
    for (int k = 0; k < s.frames; k++) {
        bool was = k > 0 && s.on[(size_t)k - 1];
        if (s.on[(size_t)k] == was) continue;
        if (edges.empty() && was) continue;
        double ms = (double)k * s.frame;
        const std::vector<double> &near = s.on[(size_t)k] ? guess_up : guess_down;
        auto it = std::lower_bound(near.begin(), near.end(), ms - s.frame);
        if (it != near.end() && fabs(*it - ms) <= s.frame && (edges.empty() || *it > edges.back()))
            ms = *it;
        edges.push_back(ms);
        kinds.push_back(s.kind[(size_t)k]);
    }
    if (edges.size() % 2) edges.push_back((double)s.frames * s.frame); // still on at the end
    std::vector<EAR_RUN> runs;
    *score = s.score;
    if (edges.empty()) return runs;
    *first_ms = edges[0];
    for (size_t i = 1; i < edges.size(); i++)
        runs.push_back(EAR_RUN{(int)(i % 2), edges[i] - edges[i - 1], kinds[i - 1]});
    return runs;
}
