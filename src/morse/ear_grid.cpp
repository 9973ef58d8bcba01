// src/morse/ear_grid.cpp: a machine keyer's grid of units from a rough reading's edges. Both
// searches weigh each edge's place on a lattice of two units as a turn of a phase, and ask how
// well the turns agree: between neighbours for the spread (each span on its own), across the
// whole reading for the lock.
#include "morse/ear_grid.hpp"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

// The spread's units are tried this far either side of the one asked, in steps of this share:
// a span of ten units is then read within a tenth of a turn.
constexpr double GRID_SPREAD_REACH = 0.1;
constexpr double GRID_SPREAD_STEP = 0.003;
// The lock's units are tried this far either side, in steps that move the last edge by at most
// this share of a turn from the first.
constexpr double GRID_LOCK_REACH = 0.02;
constexpr double GRID_LOCK_TURN = 0.1;
constexpr double GRID_LOCK_MS = 60000.0;
// Spans inside a letter: up to a dash and its gap, four units, with half a unit to spare.
constexpr double GRID_INSIDE = 4.5;

// The sum of the cosines of the spans between neighbours no longer than longest ms, as turns of
// a lattice of period ms; *n counts them.
double _grid_spans(const std::vector<double> &t, double period, double longest = HUGE_VAL,
                   int *n = nullptr) {
    double sum = 0;
    for (size_t j = 1; j < t.size(); j++) {
        double span = t[j] - t[j - 1];
        if (span > longest) continue;
        sum += cos(2.0 * M_PI * span / period);
        if (n) ++*n;
    }
    return sum;
}

// The squared length of the mean turn of every edge, as |sum|^2, on a lattice of period ms.
double _grid_turns(const std::vector<double> &t, double period) {
    std::complex<double> sum = 0;
    for (double x : t) sum += std::polar(1.0, 2.0 * M_PI * x / period);
    return std::norm(sum);
}

// The unit within reach (a share) of *unit_ms, tried in steps of a share step, at which
// score is highest: *unit_ms is set to it, and the score returned.
template <typename Score>
double _grid_search(double *unit_ms, double reach, double step, Score score) {
    double best = -HUGE_VAL, at = *unit_ms;
    for (double v = *unit_ms * (1.0 - reach); v <= *unit_ms * (1.0 + reach); v *= 1.0 + step) {
        double s = score(v);
        if (s > best) {
            best = s;
            at = v;
        }
    }
    *unit_ms = at;
    return best;
}

} // namespace

double ear_grid_spread(const EAR_EDGES &e, double *unit_ms) {
    size_t spans =
        (e.up.size() > 1 ? e.up.size() - 1 : 0) + (e.down.size() > 1 ? e.down.size() - 1 : 0);
    if (spans < 2 || !(*unit_ms > 0)) return 0.0;
    double best = _grid_search(unit_ms, GRID_SPREAD_REACH, GRID_SPREAD_STEP, [&](double v) {
        return _grid_spans(e.up, 2.0 * v) + _grid_spans(e.down, 2.0 * v);
    });
    // Each cosine of a span at random has a spread of one over the square root of two.
    return best / sqrt((double)spans);
}

double ear_grid_inside(const EAR_EDGES &e, double unit_ms) {
    int n = 0;
    double longest = GRID_INSIDE * unit_ms;
    double sum = _grid_spans(e.up, 2.0 * unit_ms, longest, &n) +
                 _grid_spans(e.down, 2.0 * unit_ms, longest, &n);
    return n ? sum / n : 0.0;
}

double ear_grid_lock(const EAR_EDGES &all, double *unit_ms, int *edges) {
    *edges = 0;
    if (all.up.size() < 2 || !(*unit_ms > 0)) return 0.0;
    // A long reading is locked on its first minute: a machine shows its lattice there as well,
    // and the search's steps grow with the length locked.
    EAR_EDGES e;
    for (int up = 0; up < 2; up++)
        for (double t : up ? all.up : all.down)
            if (t <= all.up.front() + GRID_LOCK_MS) (up ? e.up : e.down).push_back(t);
    *edges = (int)(e.up.size() + e.down.size());
    double most = (double)e.up.size() * e.up.size() + (double)e.down.size() * e.down.size();
    double span = std::max(e.up.back(), e.down.empty() ? 0.0 : e.down.back()) - e.up.front();
    double step = GRID_LOCK_TURN * 2.0 * *unit_ms / std::max(span, 2.0 * *unit_ms);
    double best = _grid_search(unit_ms, GRID_LOCK_REACH, step, [&](double v) {
        return _grid_turns(e.up, 2.0 * v) + _grid_turns(e.down, 2.0 * v);
    });
    return best / most;
}
