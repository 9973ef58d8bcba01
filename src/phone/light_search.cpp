// src/phone/light_search.cpp: the grid of areas, their brightness histories and the test of
// each history against what a Morse light looks like.
#include "phone/light_search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/ka_common.hpp"

namespace {

// Frames kept per area: three seconds at 60 fps.
constexpr size_t RING = 192;
// The light is judged on the last three seconds, and again every few frames.
constexpr double WINDOW_MS = 3000;
constexpr int EVERY_FRAMES = 4;
// Above this frame brightness the areas are read relative to the picture, so that an exposure
// step that brightens or darkens everything moves no area on its own.
constexpr float BRIGHT_REF = 64;
// The smallest switch, in grey levels, a light must make: as for the decoder's light input.
constexpr float MIN_RANGE = 12;
// The range must stand this far above the area's own noise.
constexpr float NOISE_MARGIN = 8;
// Complete marks needed in the window: a rhythm, not a switch.
constexpr int MIN_MARKS = 3;
// A lamp flickering with the mains, seen by a camera, beats in runs of one or two frames; Morse
// elements last longer, and its longest runs (dashes, letter gaps) are three times its shortest.
constexpr double MIN_MEDIAN_FRAMES = 1.9;
constexpr double MIN_LONG_RATIO = 2.2;
// How much the levels of the marks (and of the spaces) may differ, as a share of the range:
// a lamp comes back to the same brightness, a person walking by does not.
constexpr double MAX_LEVEL_SPREAD = 0.35;
// Areas further than this many steps away that switch with the candidate: a person's outline
// crosses many areas at once, a small light only its own.
constexpr int NEAR_STEPS = 2;
constexpr double MAX_ELSEWHERE = 2.0;
// A lamp is about as wide as high; the areas switching with it may not form a longer strip.
constexpr int MAX_PATCH_ASPECT = 2;
// Evaluations in a row a new area must win before the square moves there.
constexpr int CONFIRM = 2;
// How long the light taken must have stopped looking like one before another replaces it.
constexpr double GONE_MS = 5000;

struct Judged {
    float score = 0; // 0: not a light
    float range = 0;
};

} // namespace

struct LIGHT_SEARCH {
    int w = 0, h = 0;
    int cell = 16, step = 8, nx = 0, ny = 0;
    std::vector<uint32_t> integral; // (w + 1) x (h + 1) sums of the frame
    std::vector<float> norm;        // per area, RING samples read against the picture
    std::vector<float> raw;         // per area, RING samples of its own mean
    double t[RING] = {};
    size_t count = 0; // frames seen; frame k in slot k % RING
    double frame_ms = 0;
    int since_eval = 0;
    int best = -1, best_runs = 0; // the leading candidate and its wins in a row
    int found = -1;               // the area taken as the light
    float gain = 1;               // the latest frame's exposure correction
    double found_seen_ms = 0;     // when the light taken last looked like one
};

LIGHT_SEARCH *light_search_new(int w, int h) {
    __ka_assert(w >= 16 && h >= 16, return nullptr);
    LIGHT_SEARCH *s = new (std::nothrow) LIGHT_SEARCH;
    if (!s) return nullptr;
    s->w = w, s->h = h;
    // Areas of about a fifteenth of the shorter edge, half overlapping: a light covering half a
    // percent of the picture fills more than half of at least one of them.
    s->cell = std::max(8, (std::min(w, h) + 7) / 15);
    s->step = std::max(4, s->cell / 2);
    s->nx = (w - s->cell) / s->step + 1;
    s->ny = (h - s->cell) / s->step + 1;
    size_t cells = (size_t)s->nx * s->ny;
    try {
        s->integral.assign((size_t)(w + 1) * (h + 1), 0);
        s->norm.assign(cells * RING, 0);
        s->raw.assign(cells * RING, 0);
    } catch (...) {
        ka_log(LOG_ERR, "no memory for the light search");
        delete s;
        return nullptr;
    }
    return s;
}

void light_search_free(LIGHT_SEARCH **s) {
    if (!s || !*s) return;
    delete *s;
    *s = nullptr;
}

static void _integrate(LIGHT_SEARCH *s, const VIDEO_FRAME *f) {
    int W = s->w + 1;
    for (int y = 0; y < s->h; y++) {
        const uint8_t *row = f->grey + (size_t)y * f->stride;
        uint32_t run = 0;
        uint32_t *up = &s->integral[(size_t)y * W], *out = &s->integral[(size_t)(y + 1) * W];
        out[0] = 0;
        for (int x = 0; x < s->w; x++) {
            run += row[x];
            out[x + 1] = up[x + 1] + run;
        }
    }
}

static float _box(const LIGHT_SEARCH *s, int x0, int y0, int n) {
    int W = s->w + 1;
    const uint32_t *I = s->integral.data();
    uint32_t sum = I[(size_t)(y0 + n) * W + x0 + n] - I[(size_t)y0 * W + x0 + n] -
                   I[(size_t)(y0 + n) * W + x0] + I[(size_t)y0 * W + x0];
    return (float)sum / (float)(n * n);
}

// The samples of one area within the window, oldest first, into v (and their times).
static size_t _window(const LIGHT_SEARCH *s, const std::vector<float> &ring, int cell, float *v,
                      double *tt) {
    size_t kept = std::min(s->count, RING);
    double now = s->t[(s->count - 1) % RING];
    size_t n = 0;
    for (size_t k = s->count - kept; k < s->count; k++) {
        size_t slot = k % RING;
        if (now - s->t[slot] > WINDOW_MS) continue;
        v[n] = ring[(size_t)cell * RING + slot];
        tt[n] = s->t[slot];
        n++;
    }
    return n;
}

static float _percentile(const float *v, size_t n, double p, float *scratch) {
    memcpy(scratch, v, n * sizeof *v);
    size_t k = (size_t)(p * (double)(n - 1));
    std::nth_element(scratch, scratch + k, scratch + n);
    return scratch[k];
}

// Whether the history of one area is a Morse light; its score when it is.
static Judged _judge(const LIGHT_SEARCH *s, int cell, std::vector<size_t> *edges) {
    Judged j;
    float v[RING], scratch[RING];
    double tt[RING];
    size_t n = _window(s, s->norm, cell, v, tt);
    if (n < 20 || s->frame_ms <= 0) return j;
    float lo = _percentile(v, n, 0.05, scratch), hi = _percentile(v, n, 0.95, scratch);
    float range = hi - lo;
    if (range < MIN_RANGE) return j;
    // The sensor's noise, from second differences (which a slope or an edge barely moves in
    // their median): a light must switch well clear of it.
    size_t nd = 0;
    for (size_t i = 2; i < n; i++) scratch[nd++] = std::fabs(v[i] - 2 * v[i - 1] + v[i - 2]);
    std::nth_element(scratch, scratch + nd / 2, scratch + nd);
    float noise = scratch[nd / 2] / 1.6522f;
    if (range < NOISE_MARGIN * noise) return j;

    // Runs between the two levels, with hysteresis; the first and the last are cut by the
    // window and say nothing of their length.
    float on_at = lo + 0.6f * range, off_at = lo + 0.4f * range;
    int state = v[0] > lo + 0.5f * range;
    size_t start = 0;
    struct Run {
        int on;
        double ms;
        float level;
    };
    Run runs[RING];
    size_t nruns = 0, nedges = 0;
    if (edges) edges->clear();
    for (size_t i = 1; i < n; i++) {
        int now = state ? v[i] >= off_at : v[i] > on_at;
        if (now == state) continue;
        if (nedges > 0) {
            // The level in the run's middle: its edges belong to the camera's lag.
            float level = v[(start + i) / 2];
            runs[nruns++] = {state, tt[i] - tt[start], level};
        }
        nedges++;
        if (edges) edges->push_back(i);
        state = now;
        start = i;
    }
    int marks = 0;
    double lens[RING];
    float mark_lv[RING], space_lv[RING];
    size_t nm = 0, ns = 0;
    for (size_t r = 0; r < nruns; r++) {
        lens[r] = runs[r].ms;
        if (runs[r].on) {
            marks++;
            mark_lv[nm++] = runs[r].level;
        } else {
            space_lv[ns++] = runs[r].level;
        }
    }
    if (marks < MIN_MARKS || ns < 2) return j;
    std::sort(lens, lens + nruns);
    // Against the short runs, not the median: in slow Morse dashes and letter gaps may be half
    // of all runs.
    double median = lens[nruns / 2], shortish = lens[nruns / 4], longest = lens[nruns - 1];
    if (median < MIN_MEDIAN_FRAMES * s->frame_ms) return j;
    if (longest < MIN_LONG_RATIO * shortish) return j;
    float m_spread =
        _percentile(mark_lv, nm, 0.9, scratch) - _percentile(mark_lv, nm, 0.1, scratch);
    float s_spread =
        _percentile(space_lv, ns, 0.9, scratch) - _percentile(space_lv, ns, 0.1, scratch);
    if (m_spread > MAX_LEVEL_SPREAD * range || s_spread > MAX_LEVEL_SPREAD * range) return j;
    j.range = range;
    j.score = range * (1 - m_spread / range) * (1 - s_spread / range);
    return j;
}

// How many areas away from the candidate switch at its edges, typically (the median over its
// edges), leaving out those that switch at nearly all of them and lie together in a compact
// patch with it: a lamp larger than one area, or its glow on the wall. A person's outline
// crosses a long strip of areas at once, and only at some of the edges; a small light changes
// its own neighbourhood only. -1 when the areas switching with the candidate are not compact.
static double _elsewhere(const LIGHT_SEARCH *s, int cell, const std::vector<size_t> &edges,
                         float range) {
    if (edges.empty()) return 0;
    size_t kept = std::min(s->count, RING);
    size_t n_window = 0;
    double now = s->t[(s->count - 1) % RING];
    for (size_t k = s->count - kept; k < s->count; k++)
        if (now - s->t[k % RING] <= WINDOW_MS) n_window++;
    size_t first = s->count - n_window; // frame number of the window's sample 0
    int cx = cell % s->nx, cy = cell / s->nx;
    float need = std::max(MIN_RANGE, 0.3f * range);
    int cells = s->nx * s->ny;
    std::vector<uint16_t> hits((size_t)cells, 0);
    std::vector<std::vector<int>> changed_at;
    for (size_t e : edges) {
        if (e < 2) continue;
        size_t a = (first + e) % RING, b = (first + e - 2) % RING;
        std::vector<int> changed;
        for (int c = 0; c < cells; c++) {
            const float *ring = &s->norm[(size_t)c * RING];
            if (std::fabs(ring[a] - ring[b]) >= need) {
                changed.push_back(c);
                hits[(size_t)c]++;
            }
        }
        changed_at.push_back(std::move(changed));
    }
    if (changed_at.empty()) return 0;
    // The areas that switch with it nearly every time, and the box around them and it.
    size_t most = (changed_at.size() * 4 + 4) / 5;
    int x0 = cx, x1 = cx, y0 = cy, y1 = cy;
    for (int c = 0; c < cells; c++) {
        if (hits[(size_t)c] < most) continue;
        x0 = std::min(x0, c % s->nx), x1 = std::max(x1, c % s->nx);
        y0 = std::min(y0, c / s->nx), y1 = std::max(y1, c / s->nx);
    }
    int bw = x1 - x0 + 1 + 2 * NEAR_STEPS, bh = y1 - y0 + 1 + 2 * NEAR_STEPS;
    if (std::max(bw, bh) > MAX_PATCH_ASPECT * std::min(bw, bh)) return -1;
    std::vector<double> counts;
    for (const std::vector<int> &changed : changed_at) {
        int n = 0;
        for (int c : changed) {
            // Inside the patch: the lamp's rim, which its partly covered areas show only at
            // some of the edges through the noise.
            int x = c % s->nx, y = c / s->nx;
            if (x >= x0 - NEAR_STEPS && x <= x1 + NEAR_STEPS && y >= y0 - NEAR_STEPS &&
                y <= y1 + NEAR_STEPS)
                continue;
            n++;
        }
        counts.push_back(n);
    }
    std::nth_element(counts.begin(), counts.begin() + counts.size() / 2, counts.end());
    return counts[counts.size() / 2];
}

static int _evaluate(LIGHT_SEARCH *s) {
    int cells = s->nx * s->ny;
    int best = -1;
    float best_score = 0;
    std::vector<size_t> edges;
    // The candidates in order of score; the locality test is dearer, so it runs on the best.
    std::vector<std::pair<float, int>> ranked;
    for (int c = 0; c < cells; c++) {
        Judged j = _judge(s, c, nullptr);
        if (j.score > 0) ranked.push_back({j.score, c});
    }
    std::sort(ranked.begin(), ranked.end(), [](auto &a, auto &b) { return a.first > b.first; });
    for (size_t k = 0; k < ranked.size() && k < 4; k++) {
        Judged j = _judge(s, ranked[k].second, &edges);
        double elsewhere = _elsewhere(s, ranked[k].second, edges, j.range);
        if (elsewhere < 0 || elsewhere > MAX_ELSEWHERE) continue;
        best = ranked[k].second;
        best_score = j.score;
        break;
    }
    (void)best_score;
    auto near = [s](int a, int b) {
        return a >= 0 && b >= 0 && std::abs(a % s->nx - b % s->nx) <= 1 &&
               std::abs(a / s->nx - b / s->nx) <= 1;
    };
    if (best < 0) {
        s->best = -1;
        s->best_runs = 0;
        return 0;
    }
    double now = s->t[(s->count - 1) % RING];
    if (s->found >= 0 && _judge(s, s->found, nullptr).score > 0) s->found_seen_ms = now;
    if (near(best, s->found)) return 0; // still the light already taken
    s->best_runs = near(best, s->best) ? s->best_runs + 1 : 1;
    s->best = best;
    if (s->best_runs < CONFIRM) return 0;
    // The light taken stays until it has been gone a while: moving the square in the middle of
    // a message would cut it in two.
    if (s->found >= 0 && now - s->found_seen_ms < GONE_MS) return 0;
    s->found = best;
    s->found_seen_ms = now;
    return 1;
}

int light_search_frame(LIGHT_SEARCH *s, const VIDEO_FRAME *f) {
    __ka_assert(s && f && f->grey, return 0);
    if (f->w != s->w || f->h != s->h) return 0;
    if (s->count > 0) {
        double dt = f->t_ms - s->t[(s->count - 1) % RING];
        if (!(dt > 0)) return 0;
        if (dt < 500) s->frame_ms = s->frame_ms == 0 ? dt : s->frame_ms + 0.05 * (dt - s->frame_ms);
    }
    _integrate(s, f);
    size_t slot = s->count % RING;
    int cells = s->nx * s->ny;
    float *means = &s->raw[0];
    // The picture's own brightness: the median area, which a small light does not move.
    static thread_local std::vector<float> all;
    all.resize((size_t)cells);
    for (int c = 0; c < cells; c++) {
        int x0 = (c % s->nx) * s->step, y0 = (c / s->nx) * s->step;
        float m = _box(s, x0, y0, s->cell);
        means[(size_t)c * RING + slot] = m;
        all[(size_t)c] = m;
    }
    std::nth_element(all.begin(), all.begin() + cells / 2, all.end());
    float ref = all[(size_t)cells / 2];
    float k = ref > BRIGHT_REF ? BRIGHT_REF / ref : 1.0f;
    s->gain = k;
    for (int c = 0; c < cells; c++)
        s->norm[(size_t)c * RING + slot] = means[(size_t)c * RING + slot] * k;
    s->t[slot] = f->t_ms;
    s->count++;
    if (++s->since_eval < EVERY_FRAMES) return 0;
    s->since_eval = 0;
    return _evaluate(s);
}

int light_search_area(const LIGHT_SEARCH *s, float *cx, float *cy, float *side) {
    __ka_assert(s, return 0);
    if (s->found < 0) return 0;
    int x0 = (s->found % s->nx) * s->step, y0 = (s->found / s->nx) * s->step;
    if (cx) *cx = (float)(x0 + s->cell / 2.0) / (float)s->w;
    if (cy) *cy = (float)(y0 + s->cell / 2.0) / (float)s->h;
    if (side) *side = (float)s->cell / (float)std::min(s->w, s->h);
    return 1;
}

size_t light_search_history(const LIGHT_SEARCH *s, double *t_ms, float *luma, size_t max) {
    __ka_assert(s && t_ms && luma, return 0);
    if (s->found < 0) return 0;
    size_t kept = std::min(s->count, RING), n = 0;
    for (size_t k = s->count - kept; k < s->count && n < max; k++, n++) {
        t_ms[n] = s->t[k % RING];
        luma[n] = s->norm[(size_t)s->found * RING + k % RING];
    }
    return n;
}

float light_search_gain(const LIGHT_SEARCH *s) {
    __ka_assert(s, return 1);
    return s->gain;
}

float light_picture_gain(const VIDEO_FRAME *f) {
    __ka_assert(f && f->grey && f->w >= 16 && f->h >= 16, return 1);
    // The median of a coarse grid of blocks: a lamp covering a few of them does not move it.
    constexpr int NX = 16, NY = 12;
    float blocks[NX * NY];
    int bw = f->w / NX, bh = f->h / NY;
    for (int by = 0; by < NY; by++)
        for (int bx = 0; bx < NX; bx++) {
            uint32_t sum = 0;
            for (int y = by * bh; y < (by + 1) * bh; y += 2)
                for (int x = bx * bw; x < (bx + 1) * bw; x += 2)
                    sum += f->grey[(size_t)y * f->stride + x];
            blocks[by * NX + bx] = (float)sum / (float)(((bh + 1) / 2) * ((bw + 1) / 2));
        }
    std::nth_element(blocks, blocks + NX * NY / 2, blocks + NX * NY);
    float ref = blocks[NX * NY / 2];
    return ref > BRIGHT_REF ? BRIGHT_REF / ref : 1.0f;
}

float light_area_mean(const VIDEO_FRAME *f, float cx, float cy, float side) {
    __ka_assert(f && f->grey && f->w > 0 && f->h > 0, return 0);
    int n = (int)lroundf(side * (float)std::min(f->w, f->h));
    n = std::clamp(n, 1, std::min(f->w, f->h));
    int x0 = std::clamp((int)lroundf(cx * (float)f->w - n / 2.0f), 0, f->w - n);
    int y0 = std::clamp((int)lroundf(cy * (float)f->h - n / 2.0f), 0, f->h - n);
    uint64_t sum = 0;
    for (int y = y0; y < y0 + n; y++) {
        const uint8_t *row = f->grey + (size_t)y * f->stride + x0;
        for (int x = 0; x < n; x++) sum += row[x];
    }
    return (float)sum / (float)(n * n);
}

// --- The watch ---

int light_watch_init(LIGHT_WATCH *w, int width, int height, int search, float cx, float cy,
                     float side) {
    __ka_assert(w, return 0);
    memset(w, 0, sizeof *w);
    w->w = width, w->h = height;
    w->cx = cx, w->cy = cy, w->side = side;
    w->t_last = -1e300;
    if (!search) return 1;
    w->search = light_search_new(width, height);
    return w->search != nullptr;
}

void light_watch_free(LIGHT_WATCH *w) {
    if (!w) return;
    light_search_free(&w->search);
}

void light_watch_place(LIGHT_WATCH *w, float cx, float cy, float side) {
    __ka_assert(w, return );
    light_search_free(&w->search);
    w->cx = cx, w->cy = cy, w->side = side;
}

size_t light_watch_frame(LIGHT_WATCH *w, const VIDEO_FRAME *f, LIGHT_SAMPLE_OUT out, void *user) {
    __ka_assert(w && f && out, return 0);
    size_t handed = 0;
    if (w->search) {
        int moved = light_search_frame(w->search, f);
        if (moved && light_search_area(w->search, &w->cx, &w->cy, &w->side)) {
            // The area's past frames first, those not handed on already: the message began
            // before the light was recognised.
            static thread_local double t[RING];
            static thread_local float luma[RING];
            size_t n = light_search_history(w->search, t, luma, RING);
            for (size_t k = 0; k + 1 < n; k++) {
                if (t[k] <= w->t_last) continue;
                out(t[k], luma[k], user);
                w->t_last = t[k];
                handed++;
            }
            w->found = 1;
        }
        if (!w->found) return 0;
    }
    if (f->t_ms <= w->t_last) return handed;
    float gain = w->search ? light_search_gain(w->search) : light_picture_gain(f);
    out(f->t_ms, gain * light_area_mean(f, w->cx, w->cy, w->side), user);
    w->t_last = f->t_ms;
    return handed + 1;
}
