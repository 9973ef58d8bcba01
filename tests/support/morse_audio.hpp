// tests/support/morse_audio.hpp: synthetic Morse recordings for the tone detector's tests and
// benchmarks: a keyed sine with soft edges, white noise at a signal-to-noise ratio measured in a
// 500 Hz band around the tone, slow fading, and further stations. Header-only, so that the
// benchmarks can use it too.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "morse/decoder.hpp"
#include "morse/sequencer.hpp"
#include "morse/tone_detect.hpp"
#include "tests/support/morse_signal.hpp"

// One keyed station.
struct AUDIO_STATION {
    std::string text;
    double wpm = 20;
    double hz = 700;
    double amplitude = 0.5; // peak, full scale 1
    double start_ms = 1000; // first mark
    double ramp_ms = 5;     // raised-cosine rise and fall of every mark
};

// A recording: stations, noise and fading.
struct AUDIO_SCENE {
    uint32_t rate = 8000;
    double length_ms = 0; // 0: the last station's end plus tail_ms
    double tail_ms = 1500;
    double snr_db = 1000;  // of the first station, in a 500 Hz band; 1000 means no noise
    double fade_depth = 0; // 0 none; 0.9: the first station's amplitude swings from 1 to 0.1
    double fade_period_ms = 8000;
    uint64_t seed = 1;
};

// The runs of a station's text at its speed (standard timing, unit = 1200 / wpm ms).
inline std::vector<RUN> audio_station_runs(const AUDIO_STATION &st) {
    MORSE_TIMING timing{};
    morse_timing_default(&timing);
    timing.unit_ms = 20; // placeholder: the runs are scaled to the exact unit below
    MORSE_SEQUENCE *seq = morse_sequence_build(st.text.c_str(), &timing);
    std::vector<RUN> runs = sequence_runs(seq);
    morse_sequence_free(&seq);
    double scale = 1200.0 / st.wpm / timing.unit_ms;
    for (RUN &r : runs) r.ms *= scale;
    return runs;
}

// Adds runs (mark first) keyed from start_ms on a sine of hz into x (rate in Hz), every mark with
// raised-cosine edges of ramp_ms, its amplitude shaped by gain(t_ms).
template <typename Gain>
inline void audio_add_runs(std::vector<float> &x, uint32_t rate, const std::vector<RUN> &runs,
                           double start_ms, double hz, double amplitude, double ramp_ms,
                           Gain gain) {
    double t = start_ms, w = 2.0 * M_PI * hz / rate;
    for (const RUN &r : runs) {
        if (r.on) {
            size_t a = (size_t)(t * rate / 1000.0), b = (size_t)((t + r.ms) * rate / 1000.0);
            double ramp = ramp_ms * rate / 1000.0;
            for (size_t k = a; k < b && k < x.size(); k++) {
                double env = 1.0, in = (double)(k - a), out = (double)(b - k);
                if (in < ramp) env = 0.5 - 0.5 * cos(M_PI * in / ramp);
                if (out < ramp) env = std::min(env, 0.5 - 0.5 * cos(M_PI * out / ramp));
                double tm = k * 1000.0 / rate;
                x[k] += (float)(amplitude * env * gain(tm) * sin(w * (double)k));
            }
        }
        t += r.ms;
    }
}

// Adds a station into x (rate in Hz), its amplitude shaped by gain(t_ms).
template <typename Gain>
inline void audio_add_station(std::vector<float> &x, uint32_t rate, const AUDIO_STATION &st,
                              Gain gain) {
    audio_add_runs(x, rate, audio_station_runs(st), st.start_ms, st.hz, st.amplitude, st.ramp_ms,
                   gain);
}

inline double audio_station_end_ms(const AUDIO_STATION &st) {
    double t = st.start_ms;
    for (const RUN &r : audio_station_runs(st)) t += r.ms;
    return t;
}

// Adds a crash of static into x (rate in Hz): white noise db above a tone of amplitude amp,
// both measured in a 500 Hz band, from at_ms for ms.
inline void audio_add_crash(std::vector<float> &x, uint32_t rate, double amp, double db,
                            double at_ms, double ms, std::mt19937_64 &rng) {
    std::normal_distribution<double> g(0, 1);
    double burst = amp * pow(10.0, db / 20.0) * sqrt(rate / 2.0 / 500.0) / sqrt(2.0);
    size_t a = (size_t)(at_ms * rate / 1000.0), b = (size_t)((at_ms + ms) * rate / 1000.0);
    for (size_t k = a; k < b && k < x.size(); k++) x[k] += (float)(burst * g(rng));
}

// The samples of a scene; the first station sets the noise level and fades.
inline std::vector<float> audio_render(const AUDIO_SCENE &scene,
                                       const std::vector<AUDIO_STATION> &stations) {
    double length = scene.length_ms;
    if (length <= 0) {
        for (const AUDIO_STATION &st : stations) {
            length = std::max(length, audio_station_end_ms(st) + scene.tail_ms);
        }
    }
    std::vector<float> x((size_t)(length * scene.rate / 1000.0), 0.0f);
    for (size_t i = 0; i < stations.size(); i++) {
        if (i == 0 && scene.fade_depth > 0) {
            double depth = scene.fade_depth, period = scene.fade_period_ms;
            audio_add_station(x, scene.rate, stations[i], [depth, period](double t) {
                return 1.0 - depth * (0.5 - 0.5 * cos(2.0 * M_PI * t / period));
            });
        } else {
            audio_add_station(x, scene.rate, stations[i], [](double) { return 1.0; });
        }
    }
    if (!stations.empty() && scene.snr_db < 999) {
        // Tone power A^2/2 against white noise whose share of a 500 Hz band is 500 / (rate/2).
        double a = stations[0].amplitude, signal = a * a / 2.0;
        double band_noise = signal / pow(10.0, scene.snr_db / 10.0);
        double sigma = sqrt(band_noise * (scene.rate / 2.0) / 500.0);
        std::mt19937_64 rng(scene.seed);
        std::normal_distribution<double> gauss(0.0, sigma);
        for (float &v : x) v += (float)gauss(rng);
    }
    return x;
}

// What the tone detector and the decoder read from samples: every message, joined by " ".
struct AUDIO_DECODED {
    std::string text;
    double hz = 0; // the tone followed at the end
    size_t messages = 0;
};

inline AUDIO_DECODED audio_decode(const std::vector<float> &x, uint32_t rate,
                                  uint32_t lookahead_ms = 0, size_t block = 160) {
    AUDIO_DECODED out;
    DECODER_CONFIG dc;
    decoder_config_default(&dc);
    MORSE_DECODER *dec = decoder_new(&dc);
    TONE_DETECT_CONFIG tc;
    tone_detect_config_default(&tc);
    tc.rate = rate;
    tc.lookahead_ms = lookahead_ms;
    // A file's reader looks ahead and keeps as much again behind, as the old file path did.
    tc.history_ms = std::max<uint32_t>(tc.history_ms, lookahead_ms + 1500);
    tc.on_edge = tone_detect_edge_to_decoder;
    tc.user = dec;
    TONE_DETECT *td = tone_detect_new(&tc);
    DECODED_MESSAGE m{};
    auto take = [&](int got) {
        if (!got) return;
        out.text += (out.text.empty() ? "" : " ") + std::string(m.text);
        out.messages++;
    };
    for (size_t i = 0; i < x.size(); i += block) {
        tone_detect_process(td, x.data() + i, std::min(block, x.size() - i));
        tone_detect_sync_decoder(td, dec);
        take(decoder_poll_message(dec, &m));
    }
    tone_detect_flush(td);
    tone_detect_sync_decoder(td, dec);
    take(decoder_poll_message(dec, &m) || decoder_finish(dec, &m));
    TONE_STATUS st;
    tone_detect_status(td, &st);
    out.hz = st.hz;
    tone_detect_free(&td);
    decoder_free(&dec);
    return out;
}
