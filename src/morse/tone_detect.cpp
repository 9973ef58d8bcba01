// src/morse/tone_detect.cpp: the tone detector. The input is brought to one internal rate, kept
// in a ring, and searched block by block with a short spectrum for a keyed tone; the tone found
// is mixed down to zero frequency, low-pass filtered and measured once a millisecond, and its
// level is compared with the noise floor the spectrum shows around it. Searching and keying are
// two positions in the same ring: the keying may trail the search (lookahead) and, when a tone
// is first found, reads again the sound kept before it so its first mark is not lost. Before a
// new tone's edges are handed on, its speed is learnt from the first second or two (read again
// at every speed, keeping the reading that looks most like Morse), so that the smoothing and the
// shortest run handed on fit it from the first mark.
#include "morse/tone_detect.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "morse/biquad.hpp"
#include "morse/decoder.hpp"
#include "support/ka_common.hpp"

// Everything past the resampler runs at this rate: ample for tones up to 1200 Hz and cheap.
constexpr uint32_t TD_RATE = 8000;
constexpr double TD_PER_MS = TD_RATE / 1000.0;
// The spectrum: 256 samples (32 ms, 31.25 Hz per bin), a new one every 16 ms.
constexpr int TD_FFT = 256;
constexpr int TD_HOP = 128;
constexpr int TD_BINS = TD_FFT / 2 + 1;
// One level measurement per millisecond.
constexpr int TD_FRAME = 8;
// The ring holds a little over 8 s: the history and lookahead, and the sound heard while the
// speed of a newly found tone is learnt before it is keyed.
constexpr int64_t TD_RING = 65536;
constexpr uint32_t TD_MAX_HISTORY_MS = 3500;
// The level is smoothed over up to this many frames (ms).
constexpr int TD_MAX_SMOOTH = 64;
// Before the speed is known: a third of a unit at 40 WPM.
constexpr int TD_SMOOTH_START = 10;
constexpr int TD_DEBOUNCE_START = 8;
// Runs remembered for the detector's own speed estimate; shorter ones are noise, not Morse.
// The estimate needs a few runs, and is the lower quartile of them: at least half of Morse's
// runs are one unit long (dots and the gaps inside letters), so a quarter of the runs may be
// noise specks or a text may be mostly dashes and the estimate still lands on a unit.
constexpr int TD_RUNS = 24;
constexpr int TD_UNIT_RUNS = 6;
constexpr double TD_RUN_MIN_MS = 10.0;
// How far beyond the switch level, as a share of the way to the marks' level (or the noise),
// a run must go to be counted in the speed estimate.
constexpr float TD_CLEAR = 0.5f;
// A newly found tone is first read without handing on anything, until this many runs have shown
// its speed (or for at most this long after its first mark): keyed before its speed is known,
// with the short smoothing fast Morse needs, noise would cut a slow mark into pieces, and a
// single speck teaches the decoder a unit of a few milliseconds for the whole message.
constexpr int TD_LEARN_RUNS = 8;
constexpr double TD_LEARN_MIN_MS = 1200.0, TD_LEARN_MAX_MS = 2500.0;
// The units tried once the time to learn is up: 40 WPM to 5 WPM.
constexpr double TD_LEARN_UNIT_MIN = 30.0;
// How much worse than the best a faster reading may fit (a mean distance in logarithms).
constexpr double TD_MISFIT_SLACK = 0.04;
// Beyond this, even the best reading is no Morse (readable Morse fits within 0.1 at +3 dB,
// runs of noise fit no better than 0.15).
constexpr double TD_MISFIT_MAX = 0.15;
// Silence after which the speed is learnt again, and how far before the next mark learning
// then starts reading (the filters settle on the silence).
constexpr double TD_RELEARN_MS = 3000.0, TD_RELEARN_LEAD_MS = 64.0;
// How far the unit may then follow the runs from the one learnt.
constexpr double TD_UNIT_FOLLOW_LO = 0.7, TD_UNIT_FOLLOW_HI = 1.4;
constexpr int TD_FOLLOW_RUNS = 4;
// The detector's own low-pass: wide enough for 40 WPM, narrow enough that a station 200 Hz
// away is 40 dB down.
constexpr double TD_LPF_HZ = 60.0;
// The spectrum finds a tone to within a fraction of its 31 Hz bins, but the tone is averaged
// over up to 64 ms, which 16 Hz off would take down by 12 dB. The phase turn over 8 ms inside
// marks (unambiguous up to 62 Hz, beyond the low-pass) is gathered over TD_TUNE_FRAMES ms of
// marks, enough to measure it to a few Hz in strong noise; then the tone followed moves towards
// the tone heard, at most TD_TUNE_MAX_HZ from where it was found.
constexpr int TD_TUNE_LAG = 8;
constexpr int TD_TUNE_FRAMES = 96;
constexpr double TD_TUNE_GAIN = 0.7, TD_TUNE_MAX_HZ = 40.0;
// Spectrum statistics: the long average follows in about a second, the noise floor in 0.16 s.
constexpr double TD_LONG_ALPHA = TD_HOP / (double)TD_RATE;
constexpr double TD_NOISE_ALPHA = 0.1;
// A bin this far above the noise in two successive spectra is a tone at once; a bin whose long
// average is this far above it is a tone too weak to show in one spectrum.
constexpr double TD_BURST_RATIO = 10.0;
constexpr double TD_LONG_RATIO = 2.0;
// Following another tone takes it being twice as strong on average for half a second.
constexpr int TD_SWITCH_BLOCKS = 31;
// The level thresholds, in dB above the noise: half-way to the marks' level, kept within these.
constexpr float TD_THR_MIN_DB = 4.5f, TD_THR_MAX_DB = 12.0f, TD_HYST_DB = 1.0f;
constexpr float TD_SIGNAL_MIN_DB = 8.0f;
// The marks' level is the upper 15 % of the recent levels (about 2 s), in a histogram of 0.5 dB
// steps; a mark's level outlives a pause, fading by 0.5 dB a second.
constexpr int TD_HIST = 320;
constexpr float TD_HIST_LOW_DB = -150.0f, TD_HIST_STEP_DB = 0.5f;
constexpr double TD_HIST_TAU_MS = 2000.0;
constexpr double TD_HIST_TOP = 0.15;
constexpr float TD_SIGNAL_FADE_DB_PER_MS = 0.0005f;
// A crash of static lifts the whole band at once, where a tone lifts its own bins: a spectrum
// whose median jumps TD_CRASH_RATIO over the noise floor, flat (its lower quartile at least
// TD_CRASH_FLAT of the median, no bin over TD_CRASH_PEAK times it), is a crash while the median
// stays over TD_CRASH_STAY times the floor, for at most TD_CRASH_MAX_MS (longer, the band's noise
// has risen and is followed). Its moments are kept out of the noise, the tone search and the marks'
// level, and the keying holds its state through them, so a crash neither moves the detector to
// another tone nor lifts the marks' level for seconds after.
constexpr double TD_CRASH_RATIO = 100.0, TD_CRASH_STAY = 3.0;
constexpr double TD_CRASH_FLAT = 0.2, TD_CRASH_PEAK = 10.0;
constexpr double TD_CRASH_MAX_MS = 200.0;
// Crashes remembered for the keying, which may read the history again while learning.
constexpr int TD_CRASHES = 16;
// Levels are kept in dB; silence reads as this.
constexpr double TD_FLOOR_POWER = 1e-14;

struct TONE_DETECT {
    TONE_DETECT_CONFIG cfg;
    // Resampler: anti-alias low-pass (above 8 kHz) and linear interpolation.
    int downsample;
    BIQUAD aa[2];
    float aa_z[2][2];
    double step, next_pos; // output sample positions, in input samples
    int64_t in_count;
    float prev_in;
    // The ring of internal-rate samples; now is the count written.
    float ring[TD_RING];
    int64_t now;
    // Spectrum.
    float window[TD_FFT];
    float tw_re[TD_FFT / 2], tw_im[TD_FFT / 2];
    float fft_re[TD_FFT], fft_im[TD_FFT];
    double power[TD_BINS], avg[TD_BINS];
    int burst[TD_BINS];
    int bin_lo, bin_hi;
    double noise_bin; // mean noise power of one bin
    double win_sum, win_sq;
    int switch_count, switch_bin;
    // The tone followed.
    int locked, fixed;
    int bin;
    double hz;
    // Keying position in the ring and its detector.
    int64_t env_pos;
    double osc_re, osc_im, rot_re, rot_im;
    BIQUAD lpf[2];
    float zi[2][2], zq[2][2];
    double frame_i, frame_q;
    int frame_n;
    // Fine tuning: the phase turn over TD_TUNE_LAG frames inside marks shows how far the tone
    // is from the one followed; lock_hz is where the spectrum found it.
    double lag_i[TD_TUNE_LAG], lag_q[TD_TUNE_LAG];
    int lag_idx, on_frames;
    double turn_re, turn_im;
    int turn_n;
    double lock_hz;
    // Detector noise power per unit of bin noise power, for each smoothing length.
    double noise_gain[TD_MAX_SMOOTH + 1];
    double smooth_i[TD_MAX_SMOOTH], smooth_q[TD_MAX_SMOOTH];
    double sum_i, sum_q;
    int smooth_len, smooth_idx, smooth_fill;
    float level_db, signal_db, th_on_db, th_off_db, noise_db;
    int on, has_signal;
    int64_t last_on; // ring position of the last frame with the tone on
    // The detector's own view of the speed: the latest runs (ms), the unit they show (0 while
    // unknown) and the caller's unit. No run is counted before the first mark.
    double runs[TD_RUNS];
    int nruns, run_idx;
    int64_t run_start, first_mark;
    float run_peak, run_dip; // the highest and lowest level of the current run
    int marked;
    double unit, unit_hint;
    // Learning the speed of a newly found tone: the keying reads ahead without handing on edges;
    // the real keying then starts again at learn_from.
    int learning, relearning, learn_runs;
    int64_t learn_from, learn_count_from;
    double learn_unit;  // the unit a reading during learning is smoothed for (0: unknown)
    double learnt_unit; // what learning found (0: unknown)
    float hist[TD_HIST];
    double hist_total;
    int hist_frames;
    // A dry run over the history measures the marks' level before they are keyed.
    int dry;
    float dry_max;
    // A change of state waiting to last long enough.
    int pending;
    int64_t pending_pos;
    int debounce_ms;
    // Crashes of static, as ring positions [from, to), oldest overwritten; the one under way is
    // crash_at's, since crash_since; the marks' level one and two spectra ago.
    int64_t crash_from[TD_CRASHES], crash_to[TD_CRASHES];
    int crash_at, in_crash;
    int64_t crash_since;
    float signal_hop[2];
};

void tone_detect_config_default(TONE_DETECT_CONFIG *cfg) {
    __ka_assert(cfg, return );
    cfg->rate = 8000;
    cfg->min_hz = 300.0f;
    cfg->max_hz = 1200.0f;
    cfg->history_ms = 1500;
    cfg->lookahead_ms = 0;
    cfg->unlock_ms = 8000;
    cfg->on_edge = nullptr;
    cfg->user = nullptr;
}

static void _set_smooth(TONE_DETECT *td, int len) {
    len = std::clamp(len, 1, TD_MAX_SMOOTH);
    if (len == td->smooth_len) return;
    td->smooth_len = len;
    td->smooth_idx = 0;
    td->smooth_fill = 0;
    td->sum_i = td->sum_q = 0;
}

static void _clear_keying(TONE_DETECT *td) {
    memset(td->zi, 0, sizeof td->zi);
    memset(td->zq, 0, sizeof td->zq);
    td->frame_i = td->frame_q = 0;
    td->frame_n = 0;
    td->on_frames = 0;
    td->turn_re = td->turn_im = 0;
    td->turn_n = 0;
    td->pending = 0;
    td->smooth_idx = 0;
    td->smooth_fill = 0;
    td->sum_i = td->sum_q = 0;
    td->osc_re = 1;
    td->osc_im = 0;
}

static void _set_tone(TONE_DETECT *td, double hz) {
    td->hz = hz;
    double w = 2.0 * M_PI * hz / TD_RATE;
    td->rot_re = cos(w);
    td->rot_im = -sin(w);
    td->bin = (int)lround(hz * TD_FFT / TD_RATE);
}

// The whole fresh state that follows from the configuration.
static void _init(TONE_DETECT *td) {
    TONE_DETECT_CONFIG cfg = td->cfg;
    memset((void *)td, 0, sizeof *td);
    td->cfg = cfg;
    td->downsample = cfg.rate > TD_RATE;
    if (td->downsample) {
        biquad_butterworth4(td->aa, 3000.0, cfg.rate);
    }
    td->step = (double)cfg.rate / TD_RATE;
    td->next_pos = 0;
    double sum = 0, sq = 0;
    for (int i = 0; i < TD_FFT; i++) {
        td->window[i] = (float)(0.5 - 0.5 * cos(2.0 * M_PI * i / TD_FFT));
        sum += td->window[i];
        sq += (double)td->window[i] * td->window[i];
    }
    td->win_sum = sum;
    td->win_sq = sq;
    for (int i = 0; i < TD_FFT / 2; i++) {
        td->tw_re[i] = (float)cos(-2.0 * M_PI * i / TD_FFT);
        td->tw_im[i] = (float)sin(-2.0 * M_PI * i / TD_FFT);
    }
    td->bin_lo = std::max(1, (int)ceil(cfg.min_hz * TD_FFT / TD_RATE));
    td->bin_hi = std::min(TD_BINS - 2, (int)floor(cfg.max_hz * TD_FFT / TD_RATE));
    biquad_butterworth4(td->lpf, TD_LPF_HZ, TD_RATE);
    // The detector's noise power for white noise: the energy of its impulse response (the
    // low-pass, then the mean over len frames of 8 samples), against the spectrum's bin power
    // (the window's energy) for the same noise.
    constexpr int IMPULSE = 1200;
    float z[2][2] = {{0, 0}, {0, 0}};
    static thread_local double h[IMPULSE + TD_FRAME * TD_MAX_SMOOTH];
    for (int i = 0; i < IMPULSE + TD_FRAME * TD_MAX_SMOOTH; i++) {
        float x = i == 0 ? 1.0f : 0.0f;
        h[i] = i < IMPULSE ? biquad_run(td->lpf[1], z[1], biquad_run(td->lpf[0], z[0], x)) : 0.0;
    }
    for (int len = 1; len <= TD_MAX_SMOOTH; len++) {
        int box = TD_FRAME * len;
        double run = 0, energy = 0;
        for (int i = 0; i < IMPULSE + box; i++) {
            run += h[i] - (i >= box ? h[i - box] : 0.0);
            energy += (run / box) * (run / box);
        }
        td->noise_gain[len] = energy / sq;
    }
    td->smooth_len = 0;
    _set_smooth(td, TD_SMOOTH_START);
    td->debounce_ms = TD_DEBOUNCE_START;
    _clear_keying(td);
    td->level_db = td->noise_db = td->signal_db = -140.0f;
    td->th_on_db = td->th_off_db = -140.0f;
}

TONE_DETECT *tone_detect_new(const TONE_DETECT_CONFIG *cfg) {
    TONE_DETECT_CONFIG c;
    if (cfg)
        c = *cfg;
    else
        tone_detect_config_default(&c);
    if (c.rate < 2000) {
        ka_log(LOG_ERR, "tone detector: sample rate %u Hz is too low", c.rate);
        return nullptr;
    }
    if (!(c.min_hz > 50.0f)) c.min_hz = 50.0f;
    if (!(c.max_hz < 0.45f * TD_RATE)) c.max_hz = 0.45f * TD_RATE;
    if (c.max_hz < c.min_hz + 100.0f) c.max_hz = c.min_hz + 100.0f;
    c.history_ms = std::min(c.history_ms, TD_MAX_HISTORY_MS);
    c.lookahead_ms = std::min(c.lookahead_ms, c.history_ms);
    TONE_DETECT *td = nullptr;
    Malloc(td, TONE_DETECT, 1);
    if (!td) return nullptr;
    td->cfg = c;
    _init(td);
    return td;
}

void tone_detect_free(TONE_DETECT **td) {
    if (!td || !*td) return;
    Free(*td);
}

void tone_detect_reset(TONE_DETECT *td) {
    __ka_assert(td, return );
    _init(td);
}

// In-place radix-2 transform of fft_re/fft_im.
static void _fft(TONE_DETECT *td) {
    float *re = td->fft_re, *im = td->fft_im;
    for (int i = 1, j = 0; i < TD_FFT; i++) {
        int bit = TD_FFT >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (int len = 2; len <= TD_FFT; len <<= 1) {
        int half = len / 2, stride = TD_FFT / len;
        for (int i = 0; i < TD_FFT; i += len) {
            for (int k = 0; k < half; k++) {
                float wr = td->tw_re[k * stride], wi = td->tw_im[k * stride];
                float xr = re[i + k + half] * wr - im[i + k + half] * wi;
                float xi = re[i + k + half] * wi + im[i + k + half] * wr;
                re[i + k + half] = re[i + k] - xr;
                im[i + k + half] = im[i + k] - xi;
                re[i + k] += xr;
                im[i + k] += xi;
            }
        }
    }
}

static inline float _ring_at(const TONE_DETECT *td, int64_t pos) {
    return td->ring[pos & (TD_RING - 1)];
}

static float _db(double power) {
    return (float)(10.0 * log10(std::max(power, TD_FLOOR_POWER)));
}

// The frequency of a spectral peak at bin b, from a parabola through the logs of its neighbours
// (good to a few Hz with the Hann window).
static double _peak_hz(const double *p, int b) {
    double l = log(std::max(p[b - 1], TD_FLOOR_POWER)), c = log(std::max(p[b], TD_FLOOR_POWER)),
           r = log(std::max(p[b + 1], TD_FLOOR_POWER));
    double den = l - 2 * c + r, shift = 0;
    if (den < 0) shift = std::clamp(0.5 * (l - r) / den, -0.5, 0.5);
    return (b + shift) * TD_RATE / (double)TD_FFT;
}

// The unit the latest runs show, 0 while they are too few.
static double _runs_unit(const TONE_DETECT *td) {
    if (td->nruns < TD_UNIT_RUNS) return 0;
    double v[TD_RUNS];
    std::copy(td->runs, td->runs + td->nruns, v);
    std::nth_element(v, v + td->nruns / 4, v + td->nruns);
    return v[td->nruns / 4];
}

// Once the unit is known it follows the median of the latest runs one unit long (dots and the
// gaps inside letters), within TD_UNIT_FOLLOW_LO..HI of the unit learnt: a stretch of dashes and
// long gaps (a row of figures) would otherwise raise it until dots and their gaps merge. 0 while
// too few runs are one unit long.
static double _follow_unit(const TONE_DETECT *td) {
    double v[TD_RUNS];
    int n = 0;
    for (int i = 0; i < td->nruns; i++) {
        double r = td->runs[i];
        if (r >= 0.5 * td->unit && r <= 2.0 * td->unit) v[n++] = r;
    }
    if (n < TD_FOLLOW_RUNS) return 0;
    std::nth_element(v, v + n / 2, v + n);
    return v[n / 2];
}

// Averaging over six tenths of a unit keeps a dot's level whole at its middle while averaging
// its noise (longer, a dot's edges would blur more than noise would move them), and a change
// must last four tenths of a unit before it is handed on: no Morse element is that short. The unit
// is the detector's own estimate; the caller's (the decoder's) serves only while the detector has
// none: one speck handed on before the speed was known can pull a decoder's unit down for a whole
// message, and smoothing by that unit would make more specks.
static void _update_smooth(TONE_DETECT *td) {
    double unit;
    if (td->learning) { // as learning asks; at first ready for the fastest Morse
        unit = td->learn_unit;
    } else {
        double own = td->unit > 0 ? _follow_unit(td) : _runs_unit(td);
        if (own > 0 && td->learnt_unit > 0) {
            own = std::clamp(own, TD_UNIT_FOLLOW_LO * td->learnt_unit,
                             TD_UNIT_FOLLOW_HI * td->learnt_unit);
        }
        if (own > 0) td->unit = own;
        unit = td->unit > 0 ? td->unit : td->unit_hint;
    }
    _set_smooth(td, unit > 0 ? (int)lround(0.6 * unit) : TD_SMOOTH_START);
    td->debounce_ms = unit > 0 ? std::clamp((int)lround(0.4 * unit), 6, 60) : TD_DEBOUNCE_START;
}

// Learning starts at ring position from; runs count for the speed from count_from on. Until
// the readings at every speed, the sound is read smoothed for read_unit (0: the fastest Morse).
static void _start_learning(TONE_DETECT *td, int64_t from, int64_t count_from, double read_unit) {
    td->marked = 0;
    td->nruns = td->run_idx = 0;
    td->unit = td->learnt_unit = 0;
    td->learning = 1;
    td->relearning = 0;
    td->learn_runs = 0;
    td->learn_unit = read_unit;
    td->learn_from = from;
    td->learn_count_from = count_from;
    _update_smooth(td);
}

// A change of state at pos: the run it ends joins the speed estimate if it was clear, a mark
// that came well above the switch level or a space that fell well below it. In strong noise
// the level often crosses a threshold for a moment; it rarely goes far beyond, and counted,
// such specks would make the unit look a few milliseconds long.
static void _note_run(TONE_DETECT *td, int64_t pos, int on) {
    float thr = 0.5f * (td->th_on_db + td->th_off_db);
    int clear = on ? td->run_dip <= thr - TD_CLEAR * (thr - td->noise_db)
                   : td->run_peak >= thr + TD_CLEAR * (td->signal_db - thr);
    td->run_peak = td->run_dip = td->level_db;
    if (!td->marked) { // the silence before the first mark says nothing of the speed
        // Nor does the noise before the tone was found: learning counts from its first mark.
        if (on && !(td->learning && pos < td->learn_count_from)) td->marked = 1;
        td->run_start = td->first_mark = pos;
        return;
    }
    double ms = (pos - td->run_start) / TD_PER_MS;
    td->run_start = pos;
    if (!clear || ms < TD_RUN_MIN_MS || ms > 2000.0) return;
    td->runs[td->run_idx] = ms;
    td->run_idx = (td->run_idx + 1) % TD_RUNS;
    if (td->nruns < TD_RUNS) td->nruns++;
    td->learn_runs++;
    _update_smooth(td);
}

// At the end of a mark: once enough of the marks has been heard, moves the tone followed
// towards the one heard.
static void _tune(TONE_DETECT *td) {
    if (td->turn_n < TD_TUNE_FRAMES) return;
    double turn = atan2(td->turn_im, td->turn_re);
    double hz = td->hz + TD_TUNE_GAIN * turn / (2.0 * M_PI * TD_TUNE_LAG) * (TD_RATE / TD_FRAME);
    _set_tone(td, std::clamp(hz, td->lock_hz - TD_TUNE_MAX_HZ, td->lock_hz + TD_TUNE_MAX_HZ));
    td->turn_re = td->turn_im = 0;
    td->turn_n = 0;
}

// Averaged over s ms, a mark's level crosses the switch-on level a fraction r_on of s after the
// mark starts, and the switch-off level (1 - r_off) of s after it ends, r being a level's
// amplitude against the marks'. Unless the thresholds sit at half the marks' amplitude every
// mark is lengthened (or shortened) by the difference; the edge that comes early is handed on
// that much later, which never goes against the time promised (a decoder that has seen one dash
// only takes a gap shortened by a quarter of a unit for a glitch inside it). The mark's own
// level stands for the marks' level when it is lower (a fading signal): when a mark is handed
// on its average has nearly filled, and when it ends its peak is known.
static double _edge_delay_ms(const TONE_DETECT *td, int on, float level_db) {
    float mark_db = std::min(td->signal_db, on ? level_db + 0.7f : td->run_peak);
    double r_on = pow(10.0, (td->th_on_db - mark_db) / 20.0);
    double r_off = pow(10.0, (td->th_off_db - mark_db) / 20.0);
    // The filter before the average rounds the level's rise and fall and takes a fifth of
    // that back (measured on clean marks from 12 to 40 WPM).
    double stretch = 0.8 * (1.0 - r_on - r_off) * td->smooth_len * (TD_FRAME / TD_PER_MS);
    // Never more than most of the shortest run handed on, so the edges stay in order.
    double most = 0.8 * td->debounce_ms;
    stretch = std::clamp(stretch, -most, most);
    return on ? std::max(stretch, 0.0) : std::max(-stretch, 0.0);
}

// The mean over the latest frames of the tone mixed down to zero frequency (an average of the
// tone itself, not of its power, so the noise falls with the band), as a level in dB.
static float _smooth(TONE_DETECT *td, double fi, double fq) {
    int k = td->smooth_idx;
    if (td->smooth_fill == td->smooth_len) {
        td->sum_i -= td->smooth_i[k];
        td->sum_q -= td->smooth_q[k];
    } else {
        td->smooth_fill++;
    }
    td->smooth_i[k] = fi;
    td->smooth_q[k] = fq;
    td->sum_i += fi;
    td->sum_q += fq;
    td->smooth_idx = (k + 1) % td->smooth_len;
    if (td->smooth_idx == 0) { // fresh sums now and then: no drift from long additions
        double si = 0, sq = 0;
        for (int i = 0; i < td->smooth_fill; i++) {
            si += td->smooth_i[i];
            sq += td->smooth_q[i];
        }
        td->sum_i = si;
        td->sum_q = sq;
    }
    double mi = td->sum_i / td->smooth_fill, mq = td->sum_q / td->smooth_fill;
    return _db(mi * mi + mq * mq);
}

// The marks' level follows the level e heard over the noise level n: at once upwards, slowly
// downwards, and never below the level the loudest share of the recent frames reached.
static void _track_signal(TONE_DETECT *td, float e, float n) {
    float &sig = td->signal_db;
    int hb = std::clamp((int)((e - TD_HIST_LOW_DB) / TD_HIST_STEP_DB), 0, TD_HIST - 1);
    td->hist[hb] += 1.0f;
    td->hist_total += 1.0;
    // A level above the marks' raises it at once (a stronger tone, or a first estimate made
    // from a spectrum that only caught the start of a mark); else it fades slowly.
    if (e > sig + TD_THR_MAX_DB) // far above: no estimate was right
        sig = e - 6.0f;
    else if (e > sig)
        sig += 0.02f * (e - sig);
    else
        sig -= TD_SIGNAL_FADE_DB_PER_MS;
    if (++td->hist_frames == 8) {
        td->hist_frames = 0;
        float decay = (float)exp(-8.0 / TD_HIST_TAU_MS);
        double need = TD_HIST_TOP * td->hist_total * decay, mass = 0;
        int top = -1;
        for (int b = TD_HIST - 1; b >= 0; b--) {
            td->hist[b] *= decay;
            if (top < 0 && (mass += td->hist[b]) >= need) top = b;
        }
        td->hist_total *= decay;
        if (top >= 0) sig = std::max(sig, TD_HIST_LOW_DB + (top + 0.5f) * TD_HIST_STEP_DB);
    }
    sig = std::max(sig, n);
}

// Half-way in dB between the noise n and the marks; on a clean signal a quarter of the marks'
// amplitude, which lets them fade by 10 dB (the lengthening this brings is taken back when
// edges are handed on). Returns whether level e asks for the tone to be on.
static int _threshold(TONE_DETECT *td, float e, float n) {
    float sig = td->signal_db;
    float thr = std::max(n + std::clamp(0.5f * (sig - n), TD_THR_MIN_DB, TD_THR_MAX_DB),
                         sig - TD_THR_MAX_DB);
    td->th_on_db = thr + TD_HYST_DB;
    td->th_off_db = thr - TD_HYST_DB;
    td->has_signal = sig - n >= TD_SIGNAL_MIN_DB;
    return td->on ? (td->has_signal && e >= td->th_off_db) : (td->has_signal && e >= td->th_on_db);
}

// Inside a long enough mark, the turn of the mixed-down tone over TD_TUNE_LAG frames says how
// far the tone followed is off the one heard (_tune acts on it at the mark's end).
static void _measure_turn(TONE_DETECT *td, int want, double fi, double fq) {
    td->on_frames = want && td->on ? td->on_frames + 1 : 0;
    int lag = td->lag_idx;
    if (td->on_frames > TD_TUNE_LAG) {
        double pi = td->lag_i[lag], pq = td->lag_q[lag];
        td->turn_re += pi * fi + pq * fq;
        td->turn_im += pi * fq - pq * fi;
        td->turn_n++;
    }
    td->lag_i[lag] = fi;
    td->lag_q[lag] = fq;
    td->lag_idx = (lag + 1) % TD_TUNE_LAG;
}

// After a long silence the next mark may come from another station on the same tone, at
// another speed (the other side of a contact): its speed is learnt again, from here. The
// silence until then is read smoothed as before, where noise seldom looks like a mark.
static void _relearn_after_silence(TONE_DETECT *td, int want, int64_t pos) {
    if (!td->learning && !td->on && !td->pending && !want &&
        pos - td->last_on >= (int64_t)(TD_RELEARN_MS * TD_PER_MS)) {
        _start_learning(td, pos, pos, td->unit);
        td->relearning = 1;
    }
}

// A change counts once it has lasted debounce_ms; its edge is dated back to its start.
// Noise breaks a weak mark into pieces and adds specks to a space: handed on, they would
// teach the decoder a unit of a few milliseconds.
static void _debounce(TONE_DETECT *td, int want, float e, int64_t pos) {
    if (want == td->on) {
        td->pending = 0;
    } else if (!td->pending) {
        td->pending = 1;
        td->pending_pos = pos - TD_FRAME;
    }
    if (td->pending && (pos - td->pending_pos) >= td->debounce_ms * TD_FRAME) {
        td->on = want;
        td->pending = 0;
        if (!want) _tune(td);
        double delay = _edge_delay_ms(td, want, e);
        _note_run(td, td->pending_pos, want);
        if (td->cfg.on_edge && !td->learning) {
            td->cfg.on_edge(td->pending_pos / TD_PER_MS + delay, want, td->cfg.user);
        }
    }
}

// Whether the keyed frame at ring position pos was heard through a crash, or through the
// smoothing and the low-pass still ringing with one. A slot never used is empty, not a crash
// at the stream's start.
static int _in_crash(const TONE_DETECT *td, int64_t pos) {
    int64_t tail = (int64_t)(td->smooth_len + 5) * TD_FRAME;
    for (int k = 0; k < TD_CRASHES; k++)
        if (td->crash_to[k] > td->crash_from[k] && pos >= td->crash_from[k] &&
            pos < td->crash_to[k] + tail)
            return 1;
    return 0;
}

// One frame (1 ms) of the tone, mixed down to zero frequency: its smoothed level, the marks'
// level, the thresholds, the tuning and the debounced on/off decision.
static void _frame(TONE_DETECT *td, double fi, double fq, int64_t pos) {
    float e = _smooth(td, fi, fq);
    float n = _db(td->noise_bin * td->noise_gain[td->smooth_fill]);
    if (td->dry) {
        td->dry_max = std::max(td->dry_max, e);
        return;
    }
    td->level_db = e;
    td->noise_db = n;
    if (_in_crash(td, pos)) {
        // Nothing is learnt from it: the key stays as it was.
        if (td->on) td->last_on = pos;
        _measure_turn(td, 0, fi, fq);
        _debounce(td, td->on, e, pos);
        return;
    }
    _track_signal(td, e, n);
    int want = _threshold(td, e, n);
    if (want) td->last_on = pos;
    td->run_peak = std::max(td->run_peak, e);
    td->run_dip = std::min(td->run_dip, e);
    _measure_turn(td, want, fi, fq);
    _relearn_after_silence(td, want, pos);
    _debounce(td, want, e, pos);
}

// Runs the keying over the ring up to position end.
static void _key_until(TONE_DETECT *td, int64_t end) {
    const BIQUAD *f = td->lpf;
    double ore = td->osc_re, oim = td->osc_im;
    for (int64_t pos = td->env_pos; pos < end; pos++) {
        float x = _ring_at(td, pos);
        float i = biquad_run(f[1], td->zi[1], biquad_run(f[0], td->zi[0], (float)(x * ore)));
        float q = biquad_run(f[1], td->zq[1], biquad_run(f[0], td->zq[0], (float)(x * oim)));
        double nre = ore * td->rot_re - oim * td->rot_im;
        oim = ore * td->rot_im + oim * td->rot_re;
        ore = nre;
        td->frame_i += i;
        td->frame_q += q;
        if (++td->frame_n == TD_FRAME) {
            // The phasor's length drifts with rounding; put it back once a frame.
            double mag = sqrt(ore * ore + oim * oim);
            ore /= mag;
            oim /= mag;
            _frame(td, td->frame_i / TD_FRAME, td->frame_q / TD_FRAME, pos + 1);
            td->frame_i = td->frame_q = 0;
            td->frame_n = 0;
        }
    }
    td->osc_re = ore;
    td->osc_im = oim;
    if (end > td->env_pos) td->env_pos = end;
}

// Follows the tone at hz from now on. The keying starts afresh; while no tone was followed it
// reads the kept history again, so the first mark counts.
static void _lock(TONE_DETECT *td, double hz, float signal_db) {
    int was_locked = td->locked;
    td->locked = 1;
    _set_tone(td, hz);
    td->lock_hz = hz;
    _clear_keying(td);
    if (!was_locked) {
        // The estimate from the spectrum may have caught only the start of the first mark: the
        // loudest moment of the history read once without keying sets the marks' level.
        int64_t start = td->env_pos;
        td->dry = 1;
        td->dry_max = -200.0f;
        _key_until(td, td->now - (int64_t)td->cfg.lookahead_ms * (TD_RATE / 1000));
        td->dry = 0;
        td->env_pos = start;
        _clear_keying(td);
        signal_db = std::max(signal_db, td->dry_max - 1.0f);
    }
    if (td->on && !td->learning && td->cfg.on_edge) {
        td->cfg.on_edge(td->env_pos / TD_PER_MS, 0, td->cfg.user);
    }
    td->on = 0;
    td->signal_db = signal_db;
    memset(td->hist, 0, sizeof td->hist);
    td->hist_total = 0;
    td->hist_frames = 0;
    td->last_on = td->now;
    td->switch_count = 0;
    // Another station may key at another speed: its speed is learnt afresh. The spectrum that
    // found the tone began in its first mark, or a little after.
    _start_learning(td, td->env_pos, std::max(td->env_pos, td->now - TD_FFT - TD_HOP), 0);
    ka_log(LOG_DEBUG, "tone detector: %s %.0f Hz at %.1f s", was_locked ? "moved to" : "found", hz,
           td->now / (double)TD_RATE);
}

// Back to where learning began, with a fresh keying and no runs.
static void _rewind(TONE_DETECT *td) {
    td->env_pos = td->learn_from;
    _clear_keying(td);
    td->on = 0;
    td->marked = 0;
    td->nruns = td->run_idx = 0;
    memset(td->hist, 0, sizeof td->hist);
    td->hist_total = 0;
    td->hist_frames = 0;
}

// How badly the latest runs fit Morse of a unit near their lower quartile: the mean distance,
// in logarithms, from each run to the nearest of 1, 3 and 7 units, for the best of a few units
// around the quartile (written to unit). Large when the runs are specks of noise or merged
// elements, whose lengths fall anywhere.
static double _morse_misfit(const TONE_DETECT *td, double *unit) {
    double quartile = _runs_unit(td);
    *unit = quartile;
    if (quartile <= 0) return HUGE_VAL;
    double best = HUGE_VAL;
    for (double scale : {0.8, 0.9, 1.0, 1.1, 1.25}) {
        double u = quartile * scale, sum = 0;
        for (int i = 0; i < td->nruns; i++) {
            double l = log(td->runs[i] / u);
            sum += std::min({fabs(l), fabs(l - log(3.0)), fabs(l - log(7.0))});
        }
        if (sum < best) {
            best = sum;
            *unit = u;
        }
    }
    return best / td->nruns;
}

// The time to learn is up: the sound heard since learning began is read again smoothed for
// each unit from 40 WPM to 5 WPM, and the fastest reading whose runs fit Morse about as well as
// the best gives the unit. Read too fast, noise cuts marks and spaces into specks and the
// lengths fall anywhere; read too slow, dots and the gaps between them merge into fewer, longer
// runs, which may happen to fit as well as the right reading. Then the keying
// starts again where learning began, with the marks' level learnt, and hands on edges.
static void _end_learning(TONE_DETECT *td, int end) {
    // Every reading starts from the tone and level learnt so far: a reading smoothed for far
    // too slow Morse would pull the marks' level down for the next.
    double hz = td->hz, best = HUGE_VAL;
    float signal_db = td->signal_db;
    constexpr int TRIES = 7; // TD_LEARN_UNIT_MIN times powers of the square root of 2
    double found[TRIES], misfit[TRIES];
    int counted = 0;
    for (int k = 0; k < TRIES; k++) {
        double u = TD_LEARN_UNIT_MIN * pow(M_SQRT2, k);
        td->learn_unit = u;
        td->signal_db = signal_db;
        _set_tone(td, hz);
        _rewind(td);
        _update_smooth(td);
        _key_until(td, td->now);
        misfit[k] = _morse_misfit(td, &found[k]);
        counted |= found[k] > 0;
        // A reading only counts for a unit near the one it was smoothed for.
        if (found[k] < 0.5 * u || found[k] > 2.5 * u) misfit[k] = HUGE_VAL;
        best = std::min(best, misfit[k]);
    }
    td->signal_db = signal_db;
    _set_tone(td, hz);
    if (counted && !(best <= TD_MISFIT_MAX)) {
        // Runs enough, at every speed, and none looks like Morse: noise, or a signal too weak
        // to read. Nothing is handed on; learning starts again on what comes next.
        ka_log(LOG_DEBUG, "tone detector: no Morse to read at %.1f s", td->now / (double)TD_RATE);
        _start_learning(td, td->now, td->now, 0);
        td->relearning = !end;
        td->learning = !end;
        _rewind(td);
        return;
    }
    double unit = 0;
    for (int k = 0; k < TRIES && unit <= 0; k++) {
        if (misfit[k] <= std::max(1.5 * best, best + TD_MISFIT_SLACK)) unit = found[k];
    }
    td->learning = td->relearning = 0;
    td->learn_unit = 0;
    td->unit = td->learnt_unit = unit;
    ka_log(LOG_DEBUG, "tone detector: unit %.0f ms", unit);
    _rewind(td);
    _update_smooth(td);
}

// Learning reads all that has been heard; it ends once enough runs have shown the speed, a
// little later when the Morse is slow, and before the sound where it began leaves the ring.
static void _learn(TONE_DETECT *td, int end) {
    _key_until(td, td->now);
    // Learning again after a silence waits for the next mark without holding back the time
    // decided: the silence is read as silence, with any smoothing.
    if (td->relearning && !td->marked && !td->on && !td->pending) {
        int64_t lead = (int64_t)(TD_RELEARN_LEAD_MS * TD_PER_MS);
        td->learn_from = std::max(td->learn_from, td->env_pos - lead);
        td->learn_count_from = td->learn_from;
        if (!end) return;
    }
    double heard_ms = (td->now - (td->marked ? td->first_mark : td->learn_from)) / TD_PER_MS;
    int enough = (td->learn_runs >= TD_LEARN_RUNS && heard_ms >= TD_LEARN_MIN_MS) ||
                 (heard_ms >= TD_LEARN_MAX_MS && td->nruns >= TD_UNIT_RUNS) ||
                 heard_ms >= 2 * TD_LEARN_MAX_MS;
    int full = td->now - td->learn_from >= TD_RING - 4 * TD_FFT;
    if (end || enough || full) _end_learning(td, end);
}

// A long silence lets the tone go, whether the spectrum was read or skipped as a crash.
static void _unlock_after_silence(TONE_DETECT *td) {
    if (td->locked && td->env_pos - td->last_on > (int64_t)td->cfg.unlock_ms * (TD_RATE / 1000)) {
        td->locked = 0;
        td->learning = td->relearning = 0;
        td->hz = 0;
        ka_log(LOG_DEBUG, "tone detector: let go after %u ms of silence", td->cfg.unlock_ms);
    }
}

// Whether the spectrum just taken (its median floor_now and lower quartile low_now, both as
// noise means, and its loudest bin peak) lies in a crash of static: the whole band lifted, its
// quietest bins too, where a tone's own key click lifts the bins near it. A crash is noted for
// the keying from the first moment of the first spectrum it shows in. The keying may already
// have read the crash's first moments: the marks' level goes back to what it was before them.
static int _crash(TONE_DETECT *td, double floor_now, double low_now, double peak) {
    double noise = td->noise_bin;
    // In white noise the lower quartile lies at 0.42 of the median, the loudest of the band's
    // thirty-odd bins at about 6 times it.
    int broad = peak < TD_CRASH_PEAK * floor_now && low_now > TD_CRASH_FLAT * floor_now;
    if (!td->in_crash) {
        if (noise <= 0 || floor_now < TD_CRASH_RATIO * noise || !broad) {
            td->signal_hop[1] = td->signal_hop[0];
            td->signal_hop[0] = td->signal_db;
            return 0;
        }
        td->in_crash = 1;
        td->crash_since = td->now;
        td->crash_at = (td->crash_at + 1) % TD_CRASHES;
        td->crash_from[td->crash_at] = td->now - TD_FFT;
        td->signal_db = std::min(td->signal_db, td->signal_hop[1]);
    } else if (floor_now < TD_CRASH_STAY * noise ||
               td->now - td->crash_since > (int64_t)(TD_CRASH_MAX_MS * TD_PER_MS)) {
        // Over, or no crash but the band's own noise risen: followed from here.
        td->in_crash = 0;
        return 0;
    }
    td->crash_to[td->crash_at] = td->now;
    return 1;
}

// One spectrum over the newest samples: noise floor, per-bin statistics, finding the tone,
// moving to a stronger one and letting it go after a long silence.
static void _analyse(TONE_DETECT *td) {
    for (int i = 0; i < TD_FFT; i++) {
        td->fft_re[i] = _ring_at(td, td->now - TD_FFT + i) * td->window[i];
        td->fft_im[i] = 0;
    }
    _fft(td);
    int lo = td->bin_lo, hi = td->bin_hi, nb = hi - lo + 1;
    double sorted[TD_BINS];
    for (int b = lo; b <= hi; b++) {
        double p = (double)td->fft_re[b] * td->fft_re[b] + (double)td->fft_im[b] * td->fft_im[b];
        td->power[b] = p;
        sorted[b - lo] = p;
    }
    // The median bin is noise even with two stations in the band; for noise the mean is the
    // median over ln 2.
    std::nth_element(sorted, sorted + nb / 2, sorted + nb);
    double floor_now = sorted[nb / 2] / M_LN2;
    double peak = *std::max_element(sorted, sorted + nb);
    std::nth_element(sorted, sorted + nb / 4, sorted + nb / 2);
    if (_crash(td, floor_now, sorted[nb / 4] / M_LN2, peak)) {
        _unlock_after_silence(td);
        return;
    }
    if (td->noise_bin <= 0)
        td->noise_bin = floor_now;
    else
        td->noise_bin += TD_NOISE_ALPHA * (floor_now - td->noise_bin);
    double noise = std::max(td->noise_bin, TD_FLOOR_POWER);
    int burst_best = -1, avg_best = -1;
    for (int b = lo; b <= hi; b++) {
        double p = td->power[b];
        td->avg[b] += TD_LONG_ALPHA * (p - td->avg[b]);
        td->burst[b] = p > TD_BURST_RATIO * noise ? td->burst[b] + 1 : 0;
        if (td->burst[b] >= 2 && (burst_best < 0 || p > td->power[burst_best])) burst_best = b;
        if (avg_best < 0 || td->avg[b] > td->avg[avg_best]) avg_best = b;
    }
    if (td->fixed) return;
    double tone_scale = td->win_sum * td->win_sum; // a tone's bin power over its detector power
    int avg_tone = avg_best >= 0 && td->avg[avg_best] > TD_LONG_RATIO * noise;
    if (!td->locked) {
        if (burst_best >= 0) {
            _lock(td, _peak_hz(td->power, burst_best), _db(td->power[burst_best] / tone_scale));
        } else if (avg_tone) {
            // Keyed at about half duty: the marks are twice the average's excess.
            double marks = 2.0 * (td->avg[avg_best] - noise);
            _lock(td, _peak_hz(td->avg, avg_best), _db(marks / tone_scale));
        }
        return;
    }
    int far = abs(avg_best - td->bin) >= 2;
    if (avg_tone && far && td->avg[avg_best] > 2.0 * td->avg[td->bin]) {
        if (td->switch_bin != avg_best) td->switch_count = 0;
        td->switch_bin = avg_best;
        if (++td->switch_count >= TD_SWITCH_BLOCKS) {
            double marks = 2.0 * (td->avg[avg_best] - noise);
            _lock(td, _peak_hz(td->avg, avg_best), _db(marks / tone_scale));
        }
    } else {
        td->switch_count = 0;
    }
    _unlock_after_silence(td);
}

// Moves the keying up to where the search allows: lookahead behind the input while a tone is
// followed, else no more than the history behind (the history stays readable).
static void _advance(TONE_DETECT *td) {
    int64_t history = (int64_t)td->cfg.history_ms * (TD_RATE / 1000);
    if (td->locked) {
        int64_t target = td->now - (int64_t)td->cfg.lookahead_ms * (TD_RATE / 1000);
        if (td->learning) _learn(td, 0);
        if (!td->learning) _key_until(td, target);
    } else if (td->env_pos < td->now - history) {
        td->env_pos = td->now - history;
    }
}

static void _push(TONE_DETECT *td, float x) {
    td->ring[td->now & (TD_RING - 1)] = x;
    td->now++;
    if (td->now >= TD_FFT && td->now % TD_HOP == 0) {
        _analyse(td);
        _advance(td);
    }
}

void tone_detect_process(TONE_DETECT *td, const float *samples, size_t n) {
    __ka_assert(td, return );
    __ka_assert(samples || n == 0, return );
    for (size_t k = 0; k < n; k++) {
        float x = samples[k];
        if (!std::isfinite(x)) x = 0;
        if (td->downsample)
            x = biquad_run(td->aa[1], td->aa_z[1], biquad_run(td->aa[0], td->aa_z[0], x));
        double pos = (double)td->in_count;
        // Every internal sample that falls between the previous input sample and this one.
        while (td->next_pos <= pos) {
            double frac = td->next_pos - (pos - 1.0);
            _push(td, td->in_count == 0 ? x : (float)(td->prev_in + frac * (x - td->prev_in)));
            td->next_pos += td->step;
        }
        td->prev_in = x;
        td->in_count++;
    }
}

double tone_detect_time_ms(const TONE_DETECT *td) {
    __ka_assert(td, return 0);
    // While the speed is learnt nothing is decided past where learning began; a change still
    // proving itself will be dated back to its start.
    if (td->learning) return td->learn_from / TD_PER_MS;
    return (td->pending ? td->pending_pos : td->env_pos) / TD_PER_MS;
}

void tone_detect_flush(TONE_DETECT *td) {
    __ka_assert(td, return );
    if (td->locked && td->learning) _learn(td, 1);
    if (td->locked) _key_until(td, td->now);
}

void tone_detect_set_unit(TONE_DETECT *td, double unit_ms) {
    __ka_assert(td, return );
    td->unit_hint = unit_ms > 0 ? unit_ms : 0;
    _update_smooth(td);
}

void tone_detect_set_fixed_hz(TONE_DETECT *td, float hz) {
    __ka_assert(td, return );
    if (hz > 0) {
        td->fixed = 1;
        _lock(td, hz, td->noise_db + 20.0f);
    } else {
        td->fixed = 0;
    }
}

void tone_detect_status(const TONE_DETECT *td, TONE_STATUS *out) {
    __ka_assert(td, return );
    __ka_assert(out, return );
    out->hz = td->locked ? (float)td->hz : 0.0f;
    out->locked = td->locked;
    out->on = td->on;
    out->has_signal = td->has_signal;
    // The noise floor is known from the spectrum even before a tone is; without a tone the
    // level is the noise.
    float noise = _db(td->noise_bin * td->noise_gain[std::max(td->smooth_fill, 1)]);
    out->level_db = td->locked ? td->level_db : noise;
    out->noise_db = noise;
    out->signal_db = td->signal_db;
    out->th_on_db = td->th_on_db;
    out->th_off_db = td->th_off_db;
    out->time_ms = tone_detect_time_ms(td);
}

void tone_detect_edge_to_decoder(double t_ms, int down, void *user) {
    __ka_assert(user, return );
    decoder_key((MORSE_DECODER *)user, t_ms, down);
}

void tone_detect_sync_decoder(TONE_DETECT *td, MORSE_DECODER *dec) {
    __ka_assert(td, return );
    __ka_assert(dec, return );
    decoder_tick(dec, tone_detect_time_ms(td));
    DECODER_STATUS st;
    decoder_status(dec, &st);
    tone_detect_set_unit(td, st.unit_ms);
}
