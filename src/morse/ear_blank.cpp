// src/morse/ear_blank.cpp: the crash blanker. The station's mark level is followed over the
// second each side of every moment (an upper percentile of 10 ms blocks, which a crash of a few
// tens of ms cannot move); a moment far above it is a crash. A fade moves the level by 12 dB
// within the window at most, and noise seldom triples its own rms, so neither is taken for one.
// A weaker crash, a few times the marks, is told by its breadth instead: it lifts the band far
// off the tone as much as at it, where a mark (and its key clicks) stays narrow.
#include "morse/ear_blank.hpp"

#include <algorithm>
#include <cmath>

namespace {

// Levels from 10 ms blocks, over a second each side, every 100 ms.
constexpr size_t BLANK_BLOCK = 10;
constexpr size_t BLANK_HALF = 100;
constexpr size_t BLANK_STEP = 10;
// The blocks' share below the mark level.
constexpr double BLANK_UPPER = 0.9;
// A moment this many times the mark level around it is a crash...
constexpr float BLANK_RATIO = 4.0f;
// ...and the crash reaches on while the sound stays above this many times it...
constexpr float BLANK_TAIL = 2.0f;
// ...and the filter's ring this many ms further.
constexpr size_t BLANK_GUARD = 6;
// Longer than this, it is no crash but sound (a louder station, a change of level).
constexpr size_t BLANK_LONGEST = 300;
// The band's breadth is seen through 8 ms windows every 4 ms (125 Hz bins at 8 kHz), in the bins
// from 250 Hz to 2.5 kHz that lie this far from the station's tone...
constexpr int WIDE_N = 64;
constexpr int WIDE_HOP = 32;
constexpr double WIDE_LO_HZ = 250.0, WIDE_HI_HZ = 2500.0, WIDE_OFF_HZ = 250.0;
// ...a window is lifted across the band when most of those bins hold this many times their own
// typical power (noise seldom triples a median of a dozen bins)...
constexpr float WIDE_NOISE = 6.0f;
// ...and hold more than this share of the power a mark puts in its own bin: a key click's
// splatter lies 15 dB or more under the mark, a crash worth blanking near it or above.
constexpr float WIDE_TONE = 0.3f;
// A crash this much over the marks, bin for bin, stands out at the tone as well, where
// ear_blank_crashes measures it more finely.
constexpr float WIDE_STRONG = 40.0f;
// A lift of the whole band longer than this is no crash but the band itself (a receiver's gain).
constexpr size_t WIDE_LONGEST = 200;
// A wide crash's blank reaches this many ms before and after it: the mixer's low-pass delays and
// rings what it lets through.
constexpr size_t WIDE_BEFORE = 4, WIDE_AFTER = 12;
// Where marks are few or none (a long pause, wide Farnsworth spacing), the level is at least
// this share of the stretch's own mark level: a mark after a pause must not pass for a crash.
constexpr float BLANK_FLOOR = 0.5f;

float upper(std::vector<float> &v) {
    size_t k = std::min(v.size() - 1, (size_t)(BLANK_UPPER * (double)v.size()));
    std::nth_element(v.begin(), v.begin() + (long)k, v.end());
    return v[k];
}

// The station's mark level, 10 ms block by block, from mag (|z| per ms); empty when too short.
std::vector<float> mark_levels(const std::vector<float> &mag) {
    size_t n = mag.size(), nblocks = n / BLANK_BLOCK;
    if (nblocks < 4) return {};
    std::vector<float> block(nblocks, 0.0f);
    for (size_t b = 0; b < nblocks; b++)
        for (size_t k = b * BLANK_BLOCK; k < (b + 1) * BLANK_BLOCK; k++)
            block[b] += mag[k] / (float)BLANK_BLOCK;
    // The stretch's own mark level: the upper blocks among those nearer its loudest than its
    // quietest (the quiet ones are noise, the loudest few may be crashes).
    std::vector<float> win = block;
    size_t q = nblocks / 4, top = std::min(nblocks - 1, (size_t)(0.97 * (double)nblocks));
    std::nth_element(win.begin(), win.begin() + (long)q, win.end());
    float quiet = win[q];
    std::nth_element(win.begin(), win.begin() + (long)top, win.end());
    float mid = 0.5f * (quiet + win[top]);
    win.clear();
    for (float b : block)
        if (b > mid) win.push_back(b);
    float floor = BLANK_FLOOR * (win.empty() ? mid : upper(win));
    std::vector<float> level(nblocks);
    for (size_t c = 0; c < nblocks; c += BLANK_STEP) {
        size_t lo = c > BLANK_HALF ? c - BLANK_HALF : 0, hi = std::min(nblocks, c + BLANK_HALF + 1);
        win.assign(block.begin() + (long)lo, block.begin() + (long)hi);
        float l = std::max(upper(win), floor);
        for (size_t j = c; j < std::min(nblocks, c + BLANK_STEP); j++) level[j] = l;
    }
    return level;
}

void blank(std::vector<std::complex<float>> &z, std::vector<float> &noise_var, size_t a, size_t b,
           size_t *blanked) {
    for (size_t j = a; j < std::min({b, z.size(), noise_var.size()}); j++) {
        if (ear_blanked(noise_var, j)) continue;
        z[j] = 0;
        noise_var[j] = HUGE_VALF;
        (*blanked)++;
    }
}

} // namespace

size_t ear_blank_crashes(std::vector<std::complex<float>> &z, std::vector<float> &noise_var) {
    size_t n = std::min(z.size(), noise_var.size());
    std::vector<float> mag(n);
    for (size_t k = 0; k < n; k++) mag[k] = std::abs(z[k]);
    std::vector<float> level = mark_levels(mag);
    if (level.empty()) return 0;
    size_t nblocks = level.size();
    auto level_at = [&](size_t k) { return level[std::min(nblocks - 1, k / BLANK_BLOCK)]; };
    size_t blanked = 0;
    for (size_t k = 0; k < n;) {
        if (!(mag[k] > BLANK_RATIO * level_at(k))) {
            k++;
            continue;
        }
        size_t a = k, b = k + 1;
        while (a > 0 && mag[a - 1] > BLANK_TAIL * level_at(a - 1)) a--;
        while (b < n && mag[b] > BLANK_TAIL * level_at(b)) b++;
        k = b;
        if (b - a > BLANK_LONGEST) continue;
        blank(z, noise_var, a > BLANK_GUARD ? a - BLANK_GUARD : 0, std::min(n, b + BLANK_GUARD),
              &blanked);
    }
    return blanked;
}

size_t ear_blank_wide(const float *x, size_t n, uint32_t rate, double hz,
                      std::vector<std::complex<float>> &z, std::vector<float> &noise_var) {
    size_t ms = std::min(z.size(), noise_var.size());
    if (rate != 8000 || n < 4 * WIDE_N || ms < 4 * BLANK_BLOCK) return 0;
    double bin_hz = (double)rate / WIDE_N;
    std::vector<int> bins;
    for (int b = (int)ceil(WIDE_LO_HZ / bin_hz); b <= (int)floor(WIDE_HI_HZ / bin_hz); b++)
        if (fabs(b * bin_hz - hz) >= WIDE_OFF_HZ) bins.push_back(b);
    size_t nb = bins.size();
    if (nb < 5) return 0;
    // Hann-windowed sines and cosines of each bin, so a window costs only the bins looked at.
    std::vector<std::complex<float>> basis(nb * WIDE_N);
    for (size_t i = 0; i < nb; i++)
        for (int k = 0; k < WIDE_N; k++) {
            double w = 0.5 - 0.5 * cos(2.0 * M_PI * k / WIDE_N);
            basis[i * WIDE_N + (size_t)k] =
                std::polar((float)w, (float)(-2.0 * M_PI * bins[i] * k / WIDE_N));
        }
    size_t nw = (n - WIDE_N) / WIDE_HOP + 1;
    std::vector<float> power(nw * nb);
    for (size_t w = 0; w < nw; w++) {
        const float *p = x + w * WIDE_HOP;
        for (size_t i = 0; i < nb; i++) {
            std::complex<float> acc = 0;
            const std::complex<float> *bs = &basis[i * WIDE_N];
            for (int k = 0; k < WIDE_N; k++) acc += p[k] * bs[k];
            power[w * nb + i] = std::norm(acc);
        }
    }
    // Each bin against its own typical power: a receiver's passband shapes the band.
    std::vector<float> typical(nb), col(nw), row(nb), lifted(nb);
    float top = 0;
    for (size_t i = 0; i < nb; i++) {
        for (size_t w = 0; w < nw; w++) col[w] = power[w * nb + i];
        std::nth_element(col.begin(), col.begin() + (long)(nw / 2), col.end());
        typical[i] = col[nw / 2];
        top = std::max(top, typical[i]);
    }
    for (float &t : typical) t = std::max(t, 1e-6f * top + 1e-30f);
    std::vector<float> mag(ms);
    for (size_t k = 0; k < ms; k++) mag[k] = std::abs(z[k]);
    std::vector<float> level = mark_levels(mag);
    if (level.empty()) return 0;
    // A mark of |z| = l puts (l * WIDE_N / 2)^2 in its own bin through the window.
    float tone_bin = 0.25f * WIDE_N * WIDE_N;
    std::vector<uint8_t> wide(nw, 0);
    std::vector<float> strength(nw, 0.0f);
    for (size_t w = 0; w < nw; w++) {
        for (size_t i = 0; i < nb; i++) {
            row[i] = power[w * nb + i];
            lifted[i] = row[i] / typical[i];
        }
        std::nth_element(row.begin(), row.begin() + (long)(nb / 2), row.end());
        std::nth_element(lifted.begin(), lifted.begin() + (long)(nb / 2), lifted.end());
        size_t at = std::min(ms - 1, (w * WIDE_HOP + WIDE_N / 2) * 1000 / rate);
        float l = level[std::min(level.size() - 1, at / BLANK_BLOCK)];
        strength[w] = row[nb / 2] / std::max(tone_bin * l * l, 1e-30f);
        wide[w] = lifted[nb / 2] > WIDE_NOISE && strength[w] > WIDE_TONE;
    }
    size_t blanked = 0;
    for (size_t w = 0; w < nw;) {
        if (!wide[w]) {
            w++;
            continue;
        }
        size_t v = w, w0 = w;
        while (v < nw && wide[v]) v++;
        // The windows' middle quarters, in ms.
        size_t a = ((w * WIDE_HOP) + WIDE_N / 4) * 1000 / rate,
               b = (((v - 1) * WIDE_HOP) + 3 * WIDE_N / 4) * 1000 / rate;
        w = v;
        if (b - a > WIDE_LONGEST) continue;
        // A crash strong enough to stand out at the tone was measured there, more finely.
        float most = 0;
        for (size_t u = w0; u < v; u++) most = std::max(most, strength[u]);
        if (most > WIDE_STRONG) continue;
        blank(z, noise_var, a > WIDE_BEFORE ? a - WIDE_BEFORE : 0, b + WIDE_AFTER, &blanked);
    }
    return blanked;
}
