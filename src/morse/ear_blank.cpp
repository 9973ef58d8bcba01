// src/morse/ear_blank.cpp: the crash blanker. The station's mark level is followed over the
// second each side of every moment (an upper percentile of 10 ms blocks, which a crash of a few
// tens of ms cannot move); a moment far above it is a crash. A fade moves the level by 12 dB
// within the window at most, and noise seldom triples its own rms, so neither is taken for one.
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
// Where marks are few or none (a long pause, wide Farnsworth spacing), the level is at least
// this share of the stretch's own mark level: a mark after a pause must not pass for a crash.
constexpr float BLANK_FLOOR = 0.5f;

float upper(std::vector<float> &v) {
    size_t k = std::min(v.size() - 1, (size_t)(BLANK_UPPER * (double)v.size()));
    std::nth_element(v.begin(), v.begin() + (long)k, v.end());
    return v[k];
}

} // namespace

size_t ear_blank_crashes(std::vector<std::complex<float>> &z, std::vector<float> &noise_var) {
    size_t n = std::min(z.size(), noise_var.size());
    size_t nblocks = n / BLANK_BLOCK;
    if (nblocks < 4) return 0;
    std::vector<float> mag(n), block(nblocks, 0.0f);
    for (size_t k = 0; k < n; k++) mag[k] = std::abs(z[k]);
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
        a = a > BLANK_GUARD ? a - BLANK_GUARD : 0;
        b = std::min(n, b + BLANK_GUARD);
        for (size_t j = a; j < b; j++) {
            if (ear_blanked(noise_var, j)) continue;
            z[j] = 0;
            noise_var[j] = HUGE_VALF;
            blanked++;
        }
    }
    return blanked;
}
