// src/morse/ear.cpp: the reader of whole recordings. The sound is brought to one internal rate
// and kept. A spectrogram over all of it shows where tones are keyed and when; each station's
// stretch (one tone, keyed with pauses under a few seconds) is then mixed down at its own
// pitch and read through a filter matched to its unit: a machine's is the one whose lattice
// its edges keep (ear_grid); a hand's is the one, of a ladder from 60 WPM to 4 WPM, whose
// readings look most like dots and dashes and explain the sound best. Levels are medians and
// percentiles over a few seconds, so a crash of static or a fade moves them little; marks and
// spaces are classed against the speed around them, so drift, steps of speed, an operator's
// own weight and Farnsworth spacing all keep their letters together.
#include "morse/ear.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "morse/biquad.hpp"
#include "morse/ear_blank.hpp"
#include "morse/ear_grid.hpp"
#include "morse/ear_segment.hpp"
#include "morse/morse_table.hpp"
#include "support/ka_common.hpp"
#include "support/ka_log.hpp"

namespace {

using cplx = std::complex<float>;

// Everything past the resampler runs at this rate: ample for tones up to 1200 Hz.
constexpr uint32_t EAR_RATE = 8000;
// The spectrogram: 64 ms windows (15.6 Hz bins) every 32 ms.
constexpr int EAR_FFT = 512;
constexpr int EAR_HOP = 256;
// The keyed tone is measured once a millisecond.
constexpr int EAR_FRAME = EAR_RATE / 1000;
// A bin this far above the frame's noise is a tone at that moment; by chance noise gets there
// once in three thousand frames.
constexpr double EAR_HIT_RATIO = 8.0;
// A tone needs this many moments to be looked at, a stretch this many to be read.
constexpr int EAR_TONE_HITS = 12;
constexpr int EAR_STRETCH_HITS = 6;
// Keying paused this long ends a station's stretch (a new message).
constexpr double EAR_STRETCH_GAP_MS = 4000.0;
// Tones closer than this are one station.
constexpr int EAR_TONE_SPAN_BINS = 3;
// A stretch overlapping a stronger one by this share of its length is that one's splatter or a
// neighbour beside it.
constexpr double EAR_OVERLAP = 0.3;
// Sound read before a stretch's first moment and after its last: in noise its first and last
// marks may not stand out in the spectrogram, though the matched filter reads them.
constexpr double EAR_MARGIN_MS = 500.0;
// The mixed-down tone's low-pass: wide enough for 60 WPM. Its delay (4.2 ms) is taken out, to
// the ms, so that a mark read lies where it sounds: a recording that starts at its first tone
// then starts its first letter at 0.
constexpr double EAR_LPF_HZ = 100.0;
constexpr int EAR_LPF_DELAY_MS = (int)(biquad_butterworth4_delay_ms(EAR_LPF_HZ) + 0.5);
// Levels: 10 ms blocks, percentiles over a few seconds around each.
constexpr int EAR_BLOCK_MS = 10;
// Units tried: from 12 ms (100 WPM) by quarter octaves to about 300 ms (4 WPM).
constexpr double EAR_UNIT_LO = 12.0;
constexpr int EAR_UNIT_TRIES = 19;
// The ladder's steps per octave: a unit twice another stands this many steps above it.
constexpr int EAR_UNIT_OCTAVE = 4;
// Below this fit, a stretch is not Morse (noise, a carrier, speech).
constexpr double EAR_MIN_FIT = 0.45;
// A reading that runs together the letters of one at half its unit or less loses to that one
// when that one fits Morse better, explains the sound at least EAR_SLOW_SHARE as well and reads
// as text does (EAR_SLOW_TEXT elements a letter or more: noise read far too fast makes letters
// of one or two).
constexpr double EAR_SLOW_SHARE = 0.8;
constexpr double EAR_SLOW_TEXT = 2.2;
// A machine keyer's grid: a unit a whole number of times the best, within EAR_GRID_TIMES, that
// keeps it EAR_GRID_NEARLY as well is the keyer's. Its edges across the reading keep one
// lattice by at least EAR_GRID_LOCKED (a hand's keep under 0.2; a machine's at -3 dB and 35 WPM
// 0.4 to 0.8), and by EAR_GRID_LEAST edges' worth (a short one keeps some at random).
constexpr double EAR_GRID_TIMES = 0.03;
constexpr double EAR_GRID_NEARLY = 0.85;
constexpr double EAR_GRID_LOCKED = 0.3;
constexpr double EAR_GRID_LEAST = 12.0;
// The spans inside letters keep the lattice of twice or three times the unit found by this
// much when it is theirs.
constexpr double EAR_GRID_INSIDE[2] = {0.8, 0.5};
// Marks and spaces shorter than this share of the unit are specks of noise.
constexpr double EAR_SPECK = 0.4;
// Neighbours, each side, that set the local speed of a mark.
constexpr int EAR_LOCAL = 12;

// The value below which a share q of v lies (v is reordered).
float percentile(std::vector<float> &v, double q) {
    if (v.empty()) return 0;
    size_t k = std::min(v.size() - 1, (size_t)(q * (double)v.size()));
    std::nth_element(v.begin(), v.begin() + (long)k, v.end());
    return v[k];
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + (long)(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// In-place radix-2 transform of EAR_FFT points.
void fft(cplx *a, const cplx *tw) {
    for (int i = 1, j = 0; i < EAR_FFT; i++) {
        int bit = EAR_FFT >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (int len = 2; len <= EAR_FFT; len <<= 1) {
        int step = EAR_FFT / len;
        for (int i = 0; i < EAR_FFT; i += len) {
            for (int k = 0; k < len / 2; k++) {
                cplx u = a[i + k], v = a[i + k + len / 2] * tw[k * step];
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// A tone's stretch of keying: spectrogram frames f0..f1, its bin and typical power.
struct STRETCH {
    int f0, f1, bin, hits;
    float power;
    bool dropped;
};

using RUNLEN = EAR_RUN;

// The spectrogram of the band, frame by frame, and each frame's noise power per bin.
struct SPECTRO {
    int frames = 0, lo = 0, hi = 0;
    std::vector<float> power; // frames x (hi - lo + 1)
    std::vector<float> noise;
    std::vector<float> sample_var; // the noise power of one sample, frame by frame
    float at(int f, int b) const {
        return power[(size_t)f * (size_t)(hi - lo + 1) + (size_t)(b - lo)];
    }
};

void spectrogram(const std::vector<float> &x, int lo, int hi, SPECTRO *s) {
    s->lo = lo;
    s->hi = hi;
    int nb = hi - lo + 1;
    s->frames = x.size() >= (size_t)EAR_FFT ? (int)((x.size() - EAR_FFT) / EAR_HOP) + 1 : 0;
    s->power.assign((size_t)s->frames * (size_t)nb, 0.0f);
    s->noise.assign((size_t)s->frames, 0.0f);
    std::vector<cplx> tw(EAR_FFT / 2), a(EAR_FFT);
    std::vector<float> win(EAR_FFT), band((size_t)nb);
    for (int k = 0; k < EAR_FFT / 2; k++)
        tw[(size_t)k] = std::polar(1.0f, (float)(-2.0 * M_PI * k / EAR_FFT));
    for (int i = 0; i < EAR_FFT; i++)
        win[(size_t)i] = (float)(0.5 - 0.5 * cos(2.0 * M_PI * i / EAR_FFT));
    float top = 0;
    for (int f = 0; f < s->frames; f++) {
        const float *p = x.data() + (size_t)f * EAR_HOP;
        for (int i = 0; i < EAR_FFT; i++) a[(size_t)i] = cplx(p[i] * win[(size_t)i], 0.0f);
        fft(a.data(), tw.data());
        for (int b = lo; b <= hi; b++) {
            float pw = std::norm(a[(size_t)b]);
            s->power[(size_t)f * (size_t)nb + (size_t)(b - lo)] = pw;
            band[(size_t)(b - lo)] = pw;
            top = std::max(top, pw);
        }
        // The median bin is noise even with two stations in the band; for noise the mean is
        // the median over ln 2.
        s->noise[(size_t)f] = (float)(percentile(band, 0.5) / M_LN2);
    }
    // Digital silence has no noise: anything 90 dB under the loudest moment counts as none.
    float floor = top * 1e-9f + 1e-30f;
    for (float &n : s->noise) n = std::max(n, floor);
    // The noise a sample carries, over half a second: a crash of static lifts it while it lasts.
    s->sample_var.assign((size_t)s->frames, 0.0f);
    double win_power = 0;
    for (int i = 0; i < EAR_FFT; i++) win_power += (double)win[(size_t)i] * win[(size_t)i];
    std::vector<float> near;
    for (int f = 0; f < s->frames; f++) {
        near.assign(s->noise.begin() + std::max(0, f - 8),
                    s->noise.begin() + std::min(s->frames, f + 9));
        s->sample_var[(size_t)f] = (float)(percentile(near, 0.5) / win_power);
    }
}

// The tones keyed in the band: bins where the frame's loudest local peak stands out often.
std::vector<int> find_tones(const SPECTRO &s) {
    std::vector<int> hits((size_t)(s.hi - s.lo + 1), 0);
    for (int f = 0; f < s.frames; f++) {
        float noise = s.noise[(size_t)f];
        for (int b = s.lo + 1; b < s.hi; b++) {
            float p = s.at(f, b);
            if (p > EAR_HIT_RATIO * noise && p >= s.at(f, b - 1) && p >= s.at(f, b + 1))
                hits[(size_t)(b - s.lo)]++;
        }
    }
    std::vector<int> tones;
    for (int n = 0; n < 4; n++) {
        int best = -1, best_sum = 0;
        for (int b = s.lo + 1; b < s.hi; b++) {
            int i = b - s.lo, sum = hits[(size_t)i - 1] + hits[(size_t)i] + hits[(size_t)i + 1];
            if (sum > best_sum) {
                best_sum = sum;
                best = b;
            }
        }
        if (best < 0 || best_sum < EAR_TONE_HITS) break;
        tones.push_back(best);
        for (int b = best - EAR_TONE_SPAN_BINS; b <= best + EAR_TONE_SPAN_BINS; b++)
            if (b >= s.lo && b <= s.hi) hits[(size_t)(b - s.lo)] = 0;
    }
    return tones;
}

// The stretches of keying on one tone (bin and its neighbours).
void find_stretches(const SPECTRO &s, int bin, std::vector<STRETCH> *out) {
    int gap = (int)(EAR_STRETCH_GAP_MS * EAR_RATE / 1000.0 / EAR_HOP);
    STRETCH cur{-1, -1, bin, 0, 0, false};
    std::vector<float> powers;
    auto close = [&]() {
        if (cur.f0 >= 0 && cur.hits >= EAR_STRETCH_HITS) {
            // Moments caught at a mark's edge are many in a fast or sparse text; the upper
            // part of them is the tone's full strength.
            cur.power = percentile(powers, 0.8);
            out->push_back(cur);
        }
        powers.clear();
        cur = STRETCH{-1, -1, bin, 0, 0, false};
    };
    for (int f = 0; f < s.frames; f++) {
        float p = 0;
        for (int b = std::max(bin - 1, s.lo); b <= std::min(bin + 1, s.hi); b++)
            p = std::max(p, s.at(f, b));
        if (p <= EAR_HIT_RATIO * s.noise[(size_t)f]) continue;
        if (cur.f0 >= 0 && f - cur.f1 > gap) close();
        if (cur.f0 < 0) cur.f0 = f;
        cur.f1 = f;
        cur.hits++;
        powers.push_back(p);
    }
    close();
}

// Where between bins the tone of a stretch lies, from its power summed over the stretch.
double stretch_hz(const SPECTRO &s, const STRETCH &st) {
    int lo = std::max(st.bin - 2, s.lo), hi = std::min(st.bin + 2, s.hi);
    double sum[5] = {};
    for (int f = st.f0; f <= st.f1; f++)
        for (int b = lo; b <= hi; b++) sum[b - st.bin + 2] += s.at(f, b);
    int peak = 2;
    for (int i = 0; i < 5; i++)
        if (st.bin - 2 + i >= lo && st.bin - 2 + i <= hi && sum[i] > sum[peak]) peak = i;
    double delta = 0;
    if (peak > 0 && peak < 4 && sum[peak - 1] > 0 && sum[peak + 1] > 0) {
        double l = log(sum[peak - 1]), c = log(sum[peak]), r = log(sum[peak + 1]);
        double den = l - 2 * c + r;
        if (den < 0) delta = std::clamp(0.5 * (l - r) / den, -0.5, 0.5);
    }
    return (st.bin - 2 + peak + delta) * (double)EAR_RATE / EAR_FFT;
}

// The stretch mixed down at hz: one complex value per millisecond, then tuned onto the pitch
// the marks show (the phase turn over 8 ms, each moment counted alike so a crash weighs no more
// than any other).
std::vector<cplx> mix_down(const std::vector<float> &x, size_t from, size_t to, double *hz) {
    BIQUAD f[2];
    biquad_butterworth4(f, EAR_LPF_HZ, EAR_RATE);
    float zi[2][2] = {}, zq[2][2] = {};
    std::vector<cplx> z;
    z.reserve((to - from) / EAR_FRAME + 1);
    double w = 2.0 * M_PI * *hz / EAR_RATE;
    cplx acc = 0;
    int n = 0, skip = EAR_LPF_DELAY_MS;
    // Run on past the end by the delay (silence past the recording's end), as much dropped first.
    for (size_t k = from; k < to + (size_t)(EAR_LPF_DELAY_MS * EAR_FRAME); k++) {
        double ph = w * (double)(k - from), v = k < x.size() ? x[k] : 0.0;
        float i = biquad_run(f[1], zi[1], biquad_run(f[0], zi[0], (float)(v * cos(ph))));
        float q = biquad_run(f[1], zq[1], biquad_run(f[0], zq[0], (float)(-v * sin(ph))));
        acc += cplx(i, q);
        if (++n == EAR_FRAME) {
            if (skip > 0)
                skip--;
            else
                z.push_back(acc / (float)EAR_FRAME);
            acc = 0;
            n = 0;
        }
    }
    constexpr int LAG = 8;
    if (z.size() > 4 * LAG) {
        std::vector<float> mag(z.size());
        for (size_t k = 0; k < z.size(); k++) mag[k] = std::abs(z[k]);
        std::vector<float> tmp = mag;
        float thr = percentile(tmp, 0.7);
        std::complex<double> turn = 0;
        for (size_t k = LAG; k < z.size(); k++) {
            if (mag[k] > thr && mag[k - LAG] > thr) {
                cplx t = z[k] * std::conj(z[k - LAG]);
                turn += std::complex<double>(t.real(), t.imag()) / (double)std::abs(t);
            }
        }
        double off = std::abs(turn) > 0 ? std::arg(turn) / (2.0 * M_PI * LAG / 1000.0) : 0;
        ka_log(LOG_DEBUG, "ear: tuned by %.1f Hz", off);
        if (fabs(off) < 30.0) {
            for (size_t k = 0; k < z.size(); k++)
                z[k] *= std::polar(1.0f, (float)(-2.0 * M_PI * off * (double)k / 1000.0));
            *hz += off;
        }
    }
    return z;
}

// The levels of one reading, for meters and thresholds.
struct LEVELS {
    float mark, noise;
};

// The stretch read through a filter matched to a mark of unit_ms: the magnitude of the mixed
// tone summed over unit_ms, centred on each millisecond. Thresholds are half-way between the
// marks' and the noise's levels of the few seconds around, never lower than a share of the
// whole stretch's range (a long pause in the keying must not read its noise as marks).
std::vector<RUNLEN> read_runs(const std::vector<cplx> &z, const std::vector<float> &noise_var,
                              double unit_ms, double *first_ms, LEVELS *lv) {
    std::vector<RUNLEN> runs;
    size_t n = z.size();
    int len = std::max(1, (int)lround(unit_ms));
    std::vector<std::complex<double>> pre(n + 1);
    for (size_t k = 0; k < n; k++)
        pre[k + 1] = pre[k] + std::complex<double>(z[k].real(), z[k].imag());
    std::vector<float> a(n);
    for (size_t k = 0; k < n; k++) {
        long lo = std::max(0L, (long)k - len / 2), hi = std::min((long)n, lo + len);
        lo = std::max(0L, hi - len);
        a[k] = (float)(std::abs(pre[(size_t)hi] - pre[(size_t)lo]) / len);
    }
    size_t nblocks = (n + EAR_BLOCK_MS - 1) / EAR_BLOCK_MS;
    if (nblocks < 4) return runs;
    std::vector<float> block(nblocks, 0.0f);
    for (size_t k = 0; k < n; k++) block[k / EAR_BLOCK_MS] += a[k] / EAR_BLOCK_MS;
    std::vector<float> tmp = block;
    float g_noise = percentile(tmp, 0.25), g_top = percentile(tmp, 0.97);
    float g_mid = 0.5f * (g_noise + g_top);
    std::vector<float> marks;
    for (float b : block)
        if (b > g_mid) marks.push_back(b);
    float g_mark = marks.empty() ? g_top : percentile(marks, 0.8);
    float range = std::max(g_mark - g_noise, 1e-12f);
    lv->mark = g_mark;
    lv->noise = g_noise;
    // Local levels every 100 ms over a few seconds (longer for slow Morse): the noise's lower
    // quartile, and the marks' upper levels among the blocks well above it.
    int half = (int)std::clamp(12.0 * unit_ms, 1500.0, 4000.0) / EAR_BLOCK_MS;
    constexpr int STEP = 10;
    std::vector<float> thr(nblocks);
    std::vector<float> win, up;
    for (size_t c = 0; c < nblocks; c += STEP) {
        size_t lo = c > (size_t)half ? c - (size_t)half : 0,
               hi = std::min(nblocks, c + (size_t)half + 1);
        win.assign(block.begin() + (long)lo, block.begin() + (long)hi);
        float noise = percentile(win, 0.25);
        up.clear();
        for (size_t j = lo; j < hi; j++)
            if (block[j] > noise + 0.2f * range) up.push_back(block[j]);
        float mark = up.size() >= 3 ? percentile(up, 0.8) : g_mark;
        // The filtered noise's magnitude is Rayleigh: 2.3 times its rms is passed once in two
        // hundred units of silence. Its power is the spectrogram's, spread over the filter.
        size_t at = std::min(c * EAR_BLOCK_MS, n - 1);
        while (at > 0 && ear_blanked(noise_var, at)) at--;
        while (at + 1 < n && ear_blanked(noise_var, at)) at++;
        float rms =
            ear_blanked(noise_var, at) ? 0.0f : sqrtf(noise_var[at] / (float)(EAR_FRAME * len));
        float t = std::max({0.5f * (mark + noise), noise + 0.15f * range, 2.3f * rms});
        for (size_t j = c; j < std::min(nblocks, c + STEP); j++) thr[j] = t;
    }
    int on = 0;
    size_t start = 0;
    bool seen = false;
    for (size_t k = 0; k < n; k++) {
        // A blanked moment (a crash of static) keeps what came before it.
        int now = ear_blanked(noise_var, k) ? on : a[k] > thr[k / EAR_BLOCK_MS];
        if (now == on) continue;
        if (!seen) {
            *first_ms = (double)k;
            seen = true;
        } else {
            runs.push_back(RUNLEN{on, (double)(k - start)});
        }
        start = k;
        on = now;
    }
    if (on && seen) runs.push_back(RUNLEN{1, (double)(n - start)});
    // Specks: the shortest run shorter than the limit is merged with its neighbours, again and
    // again, so a mark broken by noise heals and a click in a space goes.
    double limit = EAR_SPECK * unit_ms;
    for (bool again = true; again;) {
        again = false;
        for (size_t i = 1; i + 1 < runs.size(); i++) {
            double m = runs[i].ms;
            if (m >= limit || m > runs[i - 1].ms || m > runs[i + 1].ms) continue;
            runs[i - 1].ms += m + runs[i + 1].ms;
            runs.erase(runs.begin() + (long)i, runs.begin() + (long)i + 2);
            again = true;
        }
    }
    // A speck at either end is dropped.
    while (!runs.empty() && runs.back().on == 1 && runs.back().ms < limit) {
        runs.pop_back();
        if (!runs.empty()) runs.pop_back();
    }
    while (runs.size() >= 2 && runs[0].on == 1 && runs[0].ms < limit) {
        *first_ms += runs[0].ms + runs[1].ms;
        runs.erase(runs.begin(), runs.begin() + 2);
    }
    return runs;
}

// How much a reading looks like Morse of this unit: each mark scores by how near it lies to one
// or three units (an operator's dash to four), 1 on the spot and 0 beyond 1.8 times off; each
// space shorter than two and a half units by how near it lies to one (longer ones, between
// letters and words, may be stretched to any length). Read too slow, elements merge and the
// gaps left inside letters fall short; read too fast, noise cuts marks into pieces.
double morse_fit(const std::vector<RUNLEN> &runs, double unit_ms) {
    double sum = 0;
    int marks = 0, counted = 0, dashes = 0;
    for (const RUNLEN &r : runs) {
        double l = log(r.ms / unit_ms), d;
        if (r.on) {
            d = std::min(fabs(l), l > log(3.0) && l < log(4.0) ? 0.0 : fabs(l - log(3.0)));
            marks++;
            dashes += l > log(2.0);
        } else if (l < log(2.5)) {
            d = fabs(l);
        } else {
            continue;
        }
        sum += std::max(0.0, 1.0 - d / log(1.8));
        counted++;
    }
    if (marks < 4) return 0.0;
    // Text has dots and dashes both: a reading of dashes alone is Morse read three times too
    // slow (the dots lost, the dashes taken for dots), one of dots alone three times too fast.
    double share = (double)dashes / marks;
    double mix = std::min({1.0, share / 0.15, (1.0 - share) / 0.15});
    return sum / counted * (0.5 + 0.5 * mix);
}

// Marks as dashes (1) or dots (0), each against the dots and dashes of its neighbours; the
// local dot length of each mark goes to dot_ms. Marks already read as letters (known) keep
// what they are; only their local dot is measured.
void class_marks(const std::vector<double> &marks, double unit, const std::vector<int> *known,
                 std::vector<int> *dash, std::vector<double> *dot_ms) {
    size_t n = marks.size();
    dash->assign(n, 0);
    dot_ms->assign(n, unit);
    for (size_t i = 0; i < n; i++) (*dash)[i] = known ? (*known)[i] : marks[i] > 2.0 * unit;
    std::vector<double> dots, dashes;
    for (int pass = 0; pass < (known ? 1 : 3); pass++) {
        std::vector<int> next(n);
        for (size_t i = 0; i < n; i++) {
            size_t lo = i > (size_t)EAR_LOCAL ? i - EAR_LOCAL : 0,
                   hi = std::min(n, i + EAR_LOCAL + 1);
            dots.clear();
            dashes.clear();
            for (size_t j = lo; j < hi; j++) ((*dash)[j] ? dashes : dots).push_back(marks[j]);
            double d = dots.empty() ? 0 : median(dots), D = dashes.empty() ? 0 : median(dashes);
            if (d <= 0) d = D > 0 ? D / 3.0 : unit;
            if (D <= 0 || D < 1.5 * d) D = 3.0 * d;
            (*dot_ms)[i] = d;
            next[i] = known ? (*known)[i] : marks[i] > sqrt(d * D);
        }
        *dash = next;
    }
}

// Half the local period of a dot and the gap after it inside a letter, at each mark (its local
// dot where fewer than three such pairs lie near). Noise, or a threshold off the middle, shortens
// every mark and lengthens every gap alike, and by how much changes along a recording; in the
// pair's sum it cancels, so gaps between letters measured against it keep the operator's own
// proportions, where against the dots alone they grow wherever the dots read short.
std::vector<double> half_periods(const std::vector<double> &marks,
                                 const std::vector<double> &spaces, const std::vector<int> &dash,
                                 const std::vector<bool> &ends, const std::vector<double> &dot_ms) {
    size_t n = marks.size();
    std::vector<double> half(n), near;
    for (size_t i = 0; i < n; i++) {
        size_t lo = i > (size_t)EAR_LOCAL ? i - EAR_LOCAL : 0, hi = std::min(n, i + EAR_LOCAL + 1);
        near.clear();
        for (size_t j = lo; j < hi; j++)
            if (!dash[j] && j < spaces.size() && !ends[j])
                near.push_back(0.5 * (marks[j] + spaces[j]));
        half[i] = near.size() >= 3 ? median(near) : dot_ms[i];
    }
    return half;
}

// Two classes of the values above floor, by k-means from the centres in c.
void two_means(const std::vector<double> &v, double floor, double c[2]) {
    for (int it = 0; it < 20; it++) {
        double sum[2] = {}, cnt[2] = {};
        for (double l : v) {
            if (l <= floor) continue;
            int k = fabs(l - c[1]) < fabs(l - c[0]);
            sum[k] += l;
            cnt[k]++;
        }
        for (int q = 0; q < 2; q++)
            if (cnt[q] > 0) c[q] = sum[q] / cnt[q];
    }
}

// Two classes of the values above floor, split where the classes lie furthest apart for their
// sizes (Otsu's criterion, tried at every split; the upper class the smaller): unlike k-means
// from the ends, one very long pause cannot make a class of its own while letter and word gaps
// share the other, and a gap inside a letter taken for one between letters (under floor) draws
// no class down.
void split_classes(std::vector<double> v, double floor, double c[2]) {
    v.erase(std::remove_if(v.begin(), v.end(), [&](double x) { return x <= floor; }), v.end());
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    if (n < 2) return;
    // A pause of many words' length (an operator stopping to think, a second over) is one word
    // gap: weighed at its own length it would outweigh every word gap and take them into the
    // letters' class. Four times the common gap between letters is longer than any word gap.
    double cap = v[n / 2] + log(4.0);
    for (double &x : v) x = std::min(x, cap);
    double total = 0, left = 0, best = -1;
    for (double x : v) total += x;
    // Words are longer than one letter: the upper class, word gaps, is the smaller, so that
    // gaps between letters made long by noise cannot take their place.
    for (size_t k = 1; k < n; k++) {
        left += v[k - 1];
        if (2 * k <= n) continue;
        double m0 = left / (double)k, m1 = (total - left) / (double)(n - k);
        double score = (double)k * (double)(n - k) * (m1 - m0) * (m1 - m0);
        if (score > best) {
            best = score;
            c[0] = m0;
            c[1] = m1;
        }
    }
}

// One station's stretch read into text and symbols. Returns false when it holds no Morse.
// The stretch read at about best_unit: the dots of that reading give the filter's length for
// the last one. letters and known count the letters read and those in the table.
bool read_at(const std::vector<cplx> &z, const std::vector<float> &noise_var, double best_unit,
             bool over_letters, EAR_MESSAGE *m, std::string *text, std::string *symbols,
             int *letters, int *known, double *likelihood) {
    *letters = *known = 0;
    double first = 0;
    LEVELS lv;
    std::vector<RUNLEN> runs = read_runs(z, noise_var, best_unit, &first, &lv);
    std::vector<double> dots;
    for (const RUNLEN &r : runs)
        if (r.on && r.ms < 2.0 * best_unit) dots.push_back(r.ms);
    double unit = dots.size() >= 3 ? median(dots) : best_unit;
    unit = std::clamp(unit, 0.7 * best_unit, 1.4 * best_unit);
    runs = read_runs(z, noise_var, unit, &first, &lv);
    double soft_likelihood = 0;
    runs = ear_segment(z, unit, runs, first, over_letters, &first, &soft_likelihood, &noise_var);
    // In noise the first reading's dots are cut short by the marks of noise among them: the
    // soft reading's own dots set the unit again, and it is read once more at that one.
    dots.clear();
    for (const RUNLEN &r : runs)
        if (r.on && r.ms < 2.0 * unit) dots.push_back(r.ms);
    double again = dots.size() >= 3 ? std::clamp(median(dots), 0.8 * unit, 1.25 * unit) : unit;
    if (fabs(again / unit - 1.0) > 0.08) {
        unit = again;
        runs =
            ear_segment(z, unit, runs, first, over_letters, &first, &soft_likelihood, &noise_var);
    }
    // How well the reading explains the sound, times how much it looks like Morse at this unit:
    // a reading too fast explains the noise as well, as marks of no sensible length; one too
    // slow loses the dots and leaves sound unexplained.
    *likelihood = std::max(0.0, soft_likelihood) * morse_fit(runs, unit);
    std::vector<double> marks, spaces;
    // What the reading over letters made of each mark and gap, when it made something of all.
    std::vector<int> mark_kind, gap_kind;
    bool lettered = true;
    for (const RUNLEN &r : runs) {
        (r.on ? marks : spaces).push_back(r.ms);
        (r.on ? mark_kind : gap_kind).push_back(r.kind);
        lettered = lettered && r.kind >= 0;
    }
    if (marks.size() < 2) return false;
    std::vector<int> dash;
    std::vector<double> dot_ms;
    class_marks(marks, unit, lettered ? &mark_kind : nullptr, &dash, &dot_ms);
    // Spaces in three classes (inside a letter, between letters, between words) found on their
    // logarithms: inside or between letters against the local dot, between words against half
    // the local period of a dot and its gap (half_periods).
    size_t ns = spaces.size();
    std::vector<double> ls(ns);
    for (size_t j = 0; j < ns; j++) ls[j] = log(spaces[j] / dot_ms[j]);
    double t01 = log(2.0), t12 = HUGE_VAL;
    // Gaps between letters, against half the local period of a dot and its gap: word or not.
    std::vector<double> lw(ns, 0.0);
    // Whether each gap ends a letter.
    auto ends_letter = [&](size_t j) { return lettered ? gap_kind[j] == 1 : ls[j] > t01; };
    if (ns >= 2) {
        // Inside a letter or not: two classes, from one and three dots.
        double c[2] = {0.0, log(3.0)};
        two_means(ls, -HUGE_VAL, c);
        if (!lettered) t01 = std::clamp(0.5 * (c[0] + c[1]), log(1.5), log(4.0));
        // Of the gaps between letters, the longest may be word gaps: a class of its own only
        // when it lies well above the others.
        std::vector<bool> ends(ns);
        for (size_t j = 0; j < ns; j++) ends[j] = ends_letter(j);
        std::vector<double> half = half_periods(marks, spaces, dash, ends, dot_ms);
        double hi = -HUGE_VAL, lo = HUGE_VAL;
        std::vector<double> between;
        for (size_t j = 0; j < ns; j++)
            if (ends[j]) {
                lw[j] = log(spaces[j] / half[j]);
                hi = std::max(hi, lw[j]);
                lo = std::min(lo, lw[j]);
                between.push_back(lw[j]);
            }
        double w[2] = {lo, hi};
        if (lettered)
            split_classes(between, log(2.0), w);
        else if (hi > lo)
            two_means(between, -HUGE_VAL, w);
        // Or when the longer class is as long as word gaps are and the shorter as letter gaps
        // are, however near the two: an operator whose letter gaps run long and word gaps short
        // still leaves a step between them.
        bool apart = w[1] - w[0] > log(1.6) || (w[1] > log(4.8) && w[0] < log(4.2));
        if (hi > lo && apart) t12 = 0.5 * (w[0] + w[1]);
        ka_log(LOG_DEBUG, "ear: unit %.1f ms, gaps %.2f %.2f | %.2f %.2f units", unit, exp(c[0]),
               exp(c[1]), exp(w[0]), exp(w[1]));
    }
    // Letters, each checked against the table; one that reads as no character is read again
    // with its most doubtful element the other way (a gap ending the letter, a dot for a dash).
    std::string code;
    size_t code_from = 0;
    auto flush = [&](size_t upto) {
        if (code.empty()) return;
        uint32_t cp = morse_char_of(code.c_str());
        std::string done = code;
        if (!cp && code.size() > 1) {
            double best = HUGE_VAL;
            size_t at = 0;
            for (size_t i = code_from; i + 1 < upto; i++) {
                double d = fabs(ls[i] - t01);
                if (d < best) {
                    best = d;
                    at = i - code_from + 1;
                }
            }
            std::string head = code.substr(0, at), tail = code.substr(at);
            if (at > 0 && morse_char_of(head.c_str()) && morse_char_of(tail.c_str())) {
                char a[8], b[8];
                morse_utf8_encode(morse_char_of(head.c_str()), a);
                morse_utf8_encode(morse_char_of(tail.c_str()), b);
                *text += std::string(a) + b;
                *symbols += head + " " + tail;
                *letters += 2;
                *known += 2;
                code.clear();
                return;
            }
            double worst = HUGE_VAL;
            size_t flip = 0;
            for (size_t i = code_from; i < upto; i++) {
                double d = fabs(log(marks[i] / (dot_ms[i] * sqrt(3.0))));
                if (d < worst) {
                    worst = d;
                    flip = i - code_from;
                }
            }
            std::string other = code;
            other[flip] = other[flip] == '-' ? '.' : '-';
            if (morse_char_of(other.c_str())) {
                cp = morse_char_of(other.c_str());
                done = other;
            }
        }
        char utf8[8];
        (*letters)++;
        *known += cp != 0;
        if (!cp || morse_utf8_encode(cp, utf8) == 0) snprintf(utf8, sizeof utf8, "?");
        *text += utf8;
        *symbols += done;
        code.clear();
    };
    for (size_t i = 0; i < marks.size(); i++) {
        if (code.empty()) code_from = i;
        code += dash[i] ? '-' : '.';
        if (i >= ns) break;
        if (ends_letter(i) && lw[i] > t12) {
            flush(i + 1);
            *text += ' ';
            *symbols += " / ";
        } else if (ends_letter(i)) {
            flush(i + 1);
            *symbols += ' ';
        }
    }
    flush(marks.size());
    if (text->empty()) return false;
    // The unit printed counts every element as sent: dots, dashes of three, gaps of one. A
    // threshold off the middle shortens every mark and lengthens every gap by the same amount:
    // half the difference of the typical dot and gap inside a letter gives it back.
    double sum = 0, units = 0;
    std::vector<double> short_marks, short_gaps;
    long n_marks = 0, n_gaps = 0;
    for (size_t i = 0; i < marks.size(); i++) {
        sum += marks[i];
        units += dash[i] ? 3 : 1;
        n_marks++;
        if (!dash[i]) short_marks.push_back(marks[i]);
        if (i < ns && !ends_letter(i)) {
            sum += spaces[i];
            units += 1;
            n_gaps++;
            short_gaps.push_back(spaces[i]);
        }
    }
    if (!short_marks.empty() && !short_gaps.empty()) {
        double dot = median(short_marks), gap = median(short_gaps);
        double bias = std::clamp(0.5 * (gap - dot), -0.15 * dot, 0.15 * dot);
        sum += bias * (double)(n_marks - n_gaps);
    }
    double end = first;
    for (const RUNLEN &r : runs) end += r.ms;
    m->start_ms = first;
    m->end_ms = end;
    m->unit_ms = units > 0 ? sum / units : unit;
    m->level_db = (float)(20.0 * log10(std::max(lv.mark, 1e-10f)));
    return true;
}

// A reading's edges, from its runs and where the first one starts.
EAR_EDGES edges_of(const std::vector<RUNLEN> &runs, double first) {
    EAR_EDGES e;
    double t = first;
    for (const RUNLEN &r : runs) {
        if (r.on) e.up.push_back(t);
        t += r.ms;
        if (r.on) e.down.push_back(t);
    }
    return e;
}

// The unit of a machine keyer, found to a fraction of a percent from the lattice its edges keep
// (ear_grid), from the readings at the ladder's units: the one whose edges keep it best, or the
// longest at a whole number of times its unit that keeps it nearly as well (a lattice of two
// units is one of any whole share of it too: in a clean signal all keep it alike, in noise the
// edges' jitter turns the shorter lattices' phases most). False when the edges across the
// reading keep no one lattice (a hand, spacing of its own between letters, a speed that steps)
// or too few do.
bool machine_unit(const std::vector<EAR_EDGES> &edges, const double *spread,
                  const double *grid_unit, double *exact) {
    int top = 0, best = 0;
    for (int i = 1; i < EAR_UNIT_TRIES; i++)
        if (spread[i] > spread[top]) top = i;
    best = top;
    for (int i = top + 1; i < EAR_UNIT_TRIES; i++) {
        double times = grid_unit[i] / grid_unit[top];
        if (fabs(times / std::round(times) - 1.0) < EAR_GRID_TIMES &&
            spread[i] >= EAR_GRID_NEARLY * spread[top])
            best = i;
    }
    *exact = grid_unit[best];
    int n = 0;
    double locked = ear_grid_lock(edges[(size_t)best], exact, &n);
    // Spacing of its own between letters (Farnsworth's) can keep a lattice of a third or a half
    // of the unit where the unit's own holds only inside letters: the spans inside letters
    // tell, as they keep the lattice of the unit three or two times the one found. (At the
    // keyer's own unit found, every span turns the phase of three times it by a third; of twice
    // it, a dot's span by half, a dash's not at all, so that only a text of few dots passes.)
    for (int times = 3; times >= 2; times--)
        if (ear_grid_inside(edges[(size_t)best], times * *exact) >= EAR_GRID_INSIDE[times - 2]) {
            *exact *= times;
            break;
        }
    ka_log(LOG_DEBUG, "ear: edges keep a grid of %.2f ms by %.2f (%d edges)", *exact, locked, n);
    return locked >= EAR_GRID_LOCKED && locked * n >= EAR_GRID_LEAST;
}

// One station's stretch read into text and symbols; false when it holds no Morse. A machine's
// keying is read once, over letters, at the unit its edges' lattice gives (machine_unit): deep
// in noise the readings' scores at twice or half that unit come out as high as its own. For a
// hand's, every unit of the ladder is tried; each peak of the fit that looks like Morse at all
// is read through, not only those near the best (read far too slow, a few long marks fit better
// by chance than the right unit does in noise), and the reading that best explains the sound as
// Morse, with its letters most often in the table, wins (a reading too slow runs letters
// together into codes no character has).
bool read_stretch(const std::vector<cplx> &z, const std::vector<float> &noise_var, EAR_MESSAGE *m,
                  std::string *text, std::string *symbols) {
    double fits[EAR_UNIT_TRIES], units[EAR_UNIT_TRIES], best_fit = 0;
    double spread[EAR_UNIT_TRIES], grid_unit[EAR_UNIT_TRIES];
    std::vector<EAR_EDGES> edges(EAR_UNIT_TRIES);
    for (int i = 0; i < EAR_UNIT_TRIES; i++) {
        double first = 0;
        LEVELS lv;
        units[i] = EAR_UNIT_LO * pow(2.0, (double)i / EAR_UNIT_OCTAVE);
        std::vector<RUNLEN> runs = read_runs(z, noise_var, units[i], &first, &lv);
        fits[i] = morse_fit(runs, units[i]);
        best_fit = std::max(best_fit, fits[i]);
        edges[(size_t)i] = edges_of(runs, first);
        grid_unit[i] = units[i];
        spread[i] = ear_grid_spread(edges[(size_t)i], &grid_unit[i]);
    }
    if (best_fit < EAR_MIN_FIT) return false;
    double exact = 0;
    if (machine_unit(edges, spread, grid_unit, &exact)) {
        EAR_MESSAGE mm{};
        int letters = 0, known = 0;
        double likelihood = 0;
        if (read_at(z, noise_var, exact, true, &mm, text, symbols, &letters, &known, &likelihood)) {
            *m = mm;
            return true;
        }
        text->clear();
        symbols->clear();
    }
    // Every reading made, and the one that best explains the sound.
    struct READING {
        int i, letters, known;
        long elements;
        double score;
        EAR_MESSAGE m;
        std::string text, symbols;
    };
    std::vector<READING> readings;
    // Whether slow, read at twice the unit of fast or more, runs fast's letters together: it
    // holds under 0.7 as many, and fast is text (letters nearer three elements than one).
    auto runs_together = [](const READING &fast, const READING &slow) {
        return slow.letters < 0.7 * fast.letters && fast.elements >= 1.7 * fast.letters;
    };
    int best = -1;
    bool read[EAR_UNIT_TRIES] = {};
    auto read_unit = [&](int i, bool doubled) {
        read[i] = true;
        READING r{i, 0, 0, 0, 0.0, {}, {}, {}};
        double likelihood = 0;
        if (!read_at(z, noise_var, units[i], false, &r.m, &r.text, &r.symbols, &r.letters, &r.known,
                     &likelihood) ||
            r.letters == 0)
            return;
        r.score = likelihood * (double)r.known / r.letters;
        r.elements = (long)std::count_if(r.symbols.begin(), r.symbols.end(),
                                         [](char c) { return c == '.' || c == '-'; });
        ka_log(LOG_DEBUG, "ear: unit %.0f ms fits %.2f, %d of %d letters known, score %.0f",
               units[i], fits[i], r.known, r.letters, likelihood);
        // Read three times too slow, dashes pass for dots and dots are lost: the marks may
        // still fit, but the sound the lost dots leave unexplained costs that reading its place.
        // Read twice too slow, the gaps inside letters close and letters run together, about
        // half as many: a reading at twice the best unit that loses letters so is that one,
        // whatever its score, unless the best is itself no text but noise read at a unit far
        // too short, letters of one or two elements (text averages nearer three).
        if (best >= 0 && doubled && runs_together(readings[(size_t)best], r)) return;
        readings.push_back(r);
        if (best < 0 || r.score > readings[(size_t)best].score) best = (int)readings.size() - 1;
    };
    for (int i = 0; i < EAR_UNIT_TRIES; i++) {
        bool peak = (i == 0 || fits[i] >= fits[i - 1]) &&
                    (i + 1 == EAR_UNIT_TRIES || fits[i] > fits[i + 1]);
        if (peak && (fits[i] >= 0.8 * best_fit || fits[i] >= EAR_MIN_FIT)) read_unit(i, false);
    }
    // In deep noise a unit twice too fast fits as well as the right one, which then need not
    // be a peak of the fit at all: the sound's dots read as its dashes, its dashes as pieces,
    // but its letters stay as many. The unit twice as long as the best is read too.
    if (best >= 0) {
        int twice = readings[(size_t)best].i + EAR_UNIT_OCTAVE;
        if (twice < EAR_UNIT_TRIES && !read[twice]) read_unit(twice, true);
    }
    if (best < 0) return false;
    // Read two or three times too slow in noise, a reading may still explain the sound about as
    // well as the right one: its few long marks pay for fewer marks and gaps than the right
    // one's many (each mark costs, each length has its odds), for the dots they leave out or take
    // in. It is the one that runs letters together, as above; the faster reading with its
    // letters is taken when it fits Morse better and explains the sound nearly as well.
    const int slow = best;
    const READING &w = readings[(size_t)slow];
    for (size_t j = 0; j < readings.size(); j++) {
        const READING &r = readings[j];
        bool faster = r.i + EAR_UNIT_OCTAVE <= w.i && runs_together(r, w);
        bool as_known = (double)r.known * w.letters >= (double)w.known * r.letters;
        bool as_good = r.score >= EAR_SLOW_SHARE * w.score && fits[r.i] > fits[w.i];
        if (faster && as_known && as_good && r.elements >= EAR_SLOW_TEXT * r.letters &&
            (best == slow || r.score > readings[(size_t)best].score))
            best = (int)j;
    }
    if (best != slow)
        ka_log(LOG_DEBUG, "ear: %.0f ms read rather than %.0f ms, whose letters run together",
               units[readings[(size_t)best].i], units[readings[(size_t)slow].i]);
    const READING &won = readings[(size_t)best];
    *m = won.m;
    *text = won.text;
    *symbols = won.symbols;
    int best_i = won.i;
    // The speed found, the stretch is read once more over letters. Readings at the units tried
    // are compared without: letters of the table come out at any unit, and how many of them a
    // wrong speed leaves unknown is what tells it.
    EAR_MESSAGE mm{};
    std::string t, sy;
    int letters = 0, known = 0;
    double likelihood = 0;
    if (read_at(z, noise_var, units[best_i], true, &mm, &t, &sy, &letters, &known, &likelihood)) {
        *m = mm;
        *text = t;
        *symbols = sy;
    }
    return true;
}

} // namespace

struct EAR {
    EAR_CONFIG cfg;
    // Resampler: anti-alias low-pass (above 8 kHz) and linear interpolation.
    int downsample;
    BIQUAD aa[2];
    float aa_z[2][2];
    double step, next_pos;
    int64_t in_count;
    float prev_in;
    std::vector<float> x; // the recording at EAR_RATE
};

void ear_config_default(EAR_CONFIG *cfg) {
    __ka_assert(cfg, return );
    cfg->rate = 8000;
    cfg->min_hz = 300.0f;
    cfg->max_hz = 1200.0f;
    cfg->fixed_hz = 0;
}

static void _ear_restart(EAR *e) {
    e->x.clear();
    e->in_count = 0;
    e->prev_in = 0;
    e->next_pos = 0;
    memset(e->aa_z, 0, sizeof e->aa_z);
}

EAR *ear_new(const EAR_CONFIG *cfg) {
    EAR_CONFIG c;
    if (cfg)
        c = *cfg;
    else
        ear_config_default(&c);
    if (c.rate < 2000) return nullptr;
    c.min_hz = std::clamp(c.min_hz, 100.0f, 3000.0f);
    c.max_hz = std::clamp(c.max_hz, c.min_hz + 100.0f, 3500.0f);
    EAR *e = new (std::nothrow) EAR;
    if (!e) return nullptr;
    e->cfg = c;
    e->downsample = c.rate > EAR_RATE;
    // Below 8 kHz every tone lies under the input's own Nyquist limit; above, nothing past
    // 3 kHz is wanted.
    if (e->downsample) biquad_butterworth4(e->aa, 3000.0, c.rate);
    e->step = (double)c.rate / EAR_RATE;
    _ear_restart(e);
    return e;
}

void ear_free(EAR **ear) {
    if (!ear || !*ear) return;
    delete *ear;
    *ear = nullptr;
}

int ear_feed(EAR *ear, const float *samples, size_t n) {
    __ka_assert(ear, return -1);
    __ka_assert(samples || n == 0, return -1);
    try {
        ear->x.reserve(ear->x.size() + (size_t)((double)n / ear->step) + 2);
        for (size_t k = 0; k < n; k++) {
            float x = samples[k];
            if (!std::isfinite(x)) x = 0;
            if (ear->downsample)
                x = biquad_run(ear->aa[1], ear->aa_z[1], biquad_run(ear->aa[0], ear->aa_z[0], x));
            double pos = (double)ear->in_count;
            while (ear->next_pos <= pos) {
                double frac = ear->next_pos - (pos - 1.0);
                ear->x.push_back(
                    ear->in_count == 0 ? x : (float)(ear->prev_in + frac * (x - ear->prev_in)));
                ear->next_pos += ear->step;
            }
            ear->prev_in = x;
            ear->in_count++;
        }
    } catch (...) {
        return -1;
    }
    return 0;
}

int ear_finish(EAR *ear, EAR_MESSAGE_FN fn, void *user) {
    __ka_assert(ear, return -1);
    int count = 0;
    try {
        const std::vector<float> &x = ear->x;
        double bin_hz = (double)EAR_RATE / EAR_FFT;
        // The band searched reaches a little past its limits, so that a tone just outside them
        // (a station tuned a little low) is still found at its own pitch.
        int lo = std::max(2, (int)ceil(ear->cfg.min_hz / bin_hz) - EAR_TONE_SPAN_BINS);
        int hi =
            std::min(EAR_FFT / 2 - 2, (int)floor(ear->cfg.max_hz / bin_hz) + EAR_TONE_SPAN_BINS);
        if (ear->cfg.fixed_hz > 0) {
            int b = (int)lround(ear->cfg.fixed_hz / bin_hz);
            lo = std::max(2, std::min(lo, b - 3));
            hi = std::min(EAR_FFT / 2 - 2, std::max(hi, b + 3));
        }
        SPECTRO s;
        spectrogram(x, lo, hi, &s);
        std::vector<int> tones;
        if (ear->cfg.fixed_hz > 0)
            tones.push_back(std::clamp((int)lround(ear->cfg.fixed_hz / bin_hz), lo + 1, hi - 1));
        else
            tones = find_tones(s);
        std::vector<STRETCH> st;
        for (int b : tones) find_stretches(s, b, &st);
        // Where stretches of two tones overlap, the weaker is the other's splatter or a
        // neighbour beside it: only the stronger is read.
        for (STRETCH &a : st) {
            for (const STRETCH &b : st) {
                if (&a == &b || a.bin == b.bin || b.power <= a.power) continue;
                int ov = std::min(a.f1, b.f1) - std::max(a.f0, b.f0);
                if (ov > EAR_OVERLAP * std::min(a.f1 - a.f0, b.f1 - b.f0)) a.dropped = true;
            }
        }
        std::sort(st.begin(), st.end(),
                  [](const STRETCH &a, const STRETCH &b) { return a.f0 < b.f0; });
        for (const STRETCH &a : st) {
            if (a.dropped) continue;
            double margin = EAR_MARGIN_MS * EAR_RATE / 1000.0;
            size_t from = (size_t)std::max(0.0, a.f0 * (double)EAR_HOP - margin);
            size_t to = std::min(x.size(), (size_t)((double)a.f1 * EAR_HOP + EAR_FFT + margin));
            double hz = ear->cfg.fixed_hz > 0 ? ear->cfg.fixed_hz : stretch_hz(s, a);
            std::vector<cplx> z = mix_down(x, from, to, &hz);
            std::vector<float> noise_var(z.size());
            for (size_t k = 0; k < z.size(); k++) {
                long f = ((long)(from + k * EAR_FRAME) - EAR_FFT / 2) / EAR_HOP;
                noise_var[k] = s.sample_var[(size_t)std::clamp(f, 0L, (long)s.frames - 1)];
            }
            if (size_t ms = ear_blank_crashes(z, noise_var))
                ka_log(LOG_DEBUG, "ear: %zu ms of crashes blanked", ms);
            if (size_t ms = ear_blank_wide(x.data() + from, to - from, EAR_RATE, hz, z, noise_var))
                ka_log(LOG_DEBUG, "ear: %zu ms of wide crashes blanked", ms);
            ka_log(LOG_DEBUG, "ear: keying from %.1f to %.1f s at %.0f Hz",
                   a.f0 * EAR_HOP / (double)EAR_RATE, a.f1 * EAR_HOP / (double)EAR_RATE, hz);
            EAR_MESSAGE m{};
            std::string text, symbols;
            if (!read_stretch(z, noise_var, &m, &text, &symbols)) continue;
            double offset_ms = (double)from * 1000.0 / EAR_RATE;
            m.start_ms += offset_ms;
            m.end_ms += offset_ms;
            m.tone_hz = (float)hz;
            m.text = text.c_str();
            m.symbols = symbols.c_str();
            count++;
            if (fn) fn(&m, user);
        }
    } catch (...) {
        _ear_restart(ear);
        return -1;
    }
    _ear_restart(ear);
    return count;
}
