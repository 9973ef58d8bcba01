// src/audio/mic.cpp: the microphone source. A capture thread reads blocks of float samples
// from the sound server's simple recording API, runs them through the tone detector and gives
// each block's edges to the sink. The edges gather in a fixed array of the module's record, so
// the thread allocates nothing while it runs.
#include "audio/mic.hpp"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "support/ka_common.hpp"

// Edges held before the sink is called early; a block of 10 ms brings a handful, a tone found
// after a pause up to a few hundred.
constexpr size_t MIC_MAX_EDGES = 256;
constexpr size_t MIC_BLOCK_SAMPLES = MIC_RATE * MIC_BLOCK_MS / 1000;
// The meter's span: -100 dB to 0 dB (a full-scale tone reads -6 dB).
constexpr float MIC_METER_FLOOR_DB = -100.0f;

// One start of the microphone. Its capture thread owns it: a thread still connecting when the
// capture is stopped is let go and frees the session itself once the sound server answers, so
// that neither start nor stop waits for the server.
struct MIC_SESSION {
    std::atomic<int> stop{0}; // set under _mic.lock
    pa_simple *pa = nullptr;
    TONE_DETECT *td = nullptr;
    MIC_SINK sink = nullptr;
    void *user = nullptr;
    MIC_EDGE edges[MIC_MAX_EDGES];
    size_t nedges = 0;
    float samples[MIC_BLOCK_SAMPLES];
};

static struct {
    std::mutex lock; // guards status, session and the connecting-to-capturing step
    std::thread thread;
    bool joinable = false;
    MIC_SESSION *session = nullptr; // the current start, while its thread may still call the sink
    std::atomic<int> state{MIC_STOPPED};
    std::atomic<int> unit_ms{0}; // the decoder's unit, handed back by mic_feed
    TONE_STATUS status{};        // the detector's state after the latest block, for the meter
    bool have_status = false;
} _mic;

float mic_meter_units(float db) {
    return std::clamp((db - MIC_METER_FLOOR_DB) * 255.0f / -MIC_METER_FLOOR_DB, 0.0f, 255.0f);
}

// Hands what has gathered to the sink; t_ms is where the keying is decided.
static void _deliver(MIC_SESSION *ms, double t_ms, float level, const float *samples,
                     size_t nsamples) {
    MIC_BLOCK block{ms->edges, ms->nedges, t_ms, level, samples, nsamples};
    if (ms->sink) ms->sink(&block, ms->user);
    ms->nedges = 0;
}

static void _on_edge(double t_ms, int down, void *user) {
    MIC_SESSION *ms = (MIC_SESSION *)user;
    if (ms->nedges == MIC_MAX_EDGES) _deliver(ms, ms->edges[ms->nedges - 1].t_ms, 0.0f, nullptr, 0);
    ms->edges[ms->nedges++] = MIC_EDGE{t_ms, down};
}

static void _free_session(MIC_SESSION *ms) {
    if (ms->pa) pa_simple_free(ms->pa);
    tone_detect_free(&ms->td);
    delete ms;
}

// Connects to the sound server (which may take a while: the caller is not kept waiting), then
// reads blocks until stopped or the input fails.
static void _capture_thread(MIC_SESSION *ms) {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = MIC_RATE;
    spec.channels = 1;
    // Small fragments: the server hands over every block as soon as it is full, so the delay
    // from the sound to the decoder is one block, not the server's default of two seconds.
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = (uint32_t)-1;
    attr.prebuf = (uint32_t)-1;
    attr.minreq = (uint32_t)-1;
    attr.fragsize = (uint32_t)sizeof ms->samples;
    int err = 0;
    ms->pa = pa_simple_new(nullptr, "Lumikey", PA_STREAM_RECORD, nullptr, "Morse receiver", &spec,
                           nullptr, &attr, &err);
    {
        std::lock_guard<std::mutex> g(_mic.lock);
        if (ms->stop.load()) { // stopped while connecting: nobody waits for this thread
            _free_session(ms);
            return;
        }
        if (!ms->pa) {
            ka_log(LOG_ERR, "microphone: no sound input: %s", pa_strerror(err));
            _mic.state.store(MIC_NO_INPUT);
            return;
        }
        _mic.state.store(MIC_CAPTURING);
    }
    ka_log(LOG_INFO, "microphone capturing: %u Hz, blocks of %u ms", MIC_RATE, MIC_BLOCK_MS);
    const size_t bytes = sizeof ms->samples;
    while (!ms->stop.load()) {
        if (pa_simple_read(ms->pa, ms->samples, bytes, &err) < 0) {
            ka_log(LOG_ERR, "microphone: capture failed: %s", pa_strerror(err));
            _mic.state.store(MIC_FAILED);
            return;
        }
        tone_detect_set_unit(ms->td, _mic.unit_ms.load());
        tone_detect_process(ms->td, ms->samples, MIC_BLOCK_SAMPLES);
        TONE_STATUS st;
        tone_detect_status(ms->td, &st);
        {
            std::lock_guard<std::mutex> g(_mic.lock);
            _mic.status = st;
            _mic.have_status = true;
        }
        _deliver(ms, st.time_ms, mic_meter_units(st.level_db), ms->samples, MIC_BLOCK_SAMPLES);
    }
}

int mic_supported() {
    return 1;
}

void mic_tone_config(TONE_DETECT_CONFIG *cfg, uint32_t rate) {
    __ka_assert(cfg, return );
    tone_detect_config_default(cfg);
    cfg->rate = rate;
    cfg->lookahead_ms = 0;
    cfg->history_ms = 1500;
}

void mic_stop() {
    MIC_SESSION *ms;
    bool connecting;
    {
        std::lock_guard<std::mutex> g(_mic.lock);
        ms = _mic.session;
        _mic.session = nullptr;
        connecting = _mic.state.load() == MIC_CONNECTING;
        if (ms) ms->stop.store(1);
    }
    if (_mic.joinable) {
        // A thread still connecting never reaches the sink now (it looks at stop under the
        // lock before capturing) and frees its session when the server answers.
        if (connecting)
            _mic.thread.detach();
        else
            _mic.thread.join();
        _mic.joinable = false;
    }
    if (ms && !connecting) _free_session(ms);
    std::lock_guard<std::mutex> g(_mic.lock);
    if (_mic.state.load() != MIC_STOPPED) ka_log(LOG_INFO, "microphone stopped");
    _mic.state.store(MIC_STOPPED);
    _mic.status = TONE_STATUS{};
    _mic.have_status = false;
}

int mic_start(MIC_SINK sink, void *user) {
    mic_stop();
    MIC_SESSION *ms = new (std::nothrow) MIC_SESSION();
    if (!ms) return -1;
    TONE_DETECT_CONFIG cfg;
    mic_tone_config(&cfg, MIC_RATE);
    cfg.on_edge = _on_edge;
    cfg.user = ms;
    ms->td = tone_detect_new(&cfg);
    if (!ms->td) {
        _free_session(ms);
        return -1;
    }
    ms->sink = sink;
    ms->user = user;
    _mic.unit_ms.store(0);
    {
        std::lock_guard<std::mutex> g(_mic.lock);
        _mic.session = ms;
        _mic.state.store(MIC_CONNECTING);
    }
    try {
        _mic.thread = std::thread(_capture_thread, ms);
    } catch (const std::system_error &e) {
        ka_log(LOG_ERR, "microphone: no capture thread: %s", e.what());
        std::lock_guard<std::mutex> g(_mic.lock);
        _mic.session = nullptr;
        _mic.state.store(MIC_STOPPED);
        _free_session(ms);
        return -1;
    }
    _mic.joinable = true;
    ka_log(LOG_INFO, "microphone connecting to the sound server");
    return 1;
}

int mic_state() {
    return _mic.state.load();
}

void mic_feed(const MIC_BLOCK *block, MORSE_DECODER *dec) {
    __ka_assert(block, return );
    __ka_assert(dec, return );
    for (size_t i = 0; i < block->nedges; i++) {
        decoder_key(dec, block->edges[i].t_ms, block->edges[i].down);
    }
    decoder_tick(dec, block->t_ms);
    DECODER_STATUS st;
    decoder_status(dec, &st);
    _mic.unit_ms.store((int)st.unit_ms);
}

void mic_meter(DECODER_STATUS *st) {
    __ka_assert(st, return );
    TONE_STATUS s;
    bool running;
    {
        std::lock_guard<std::mutex> g(_mic.lock);
        s = _mic.status;
        running = _mic.state.load() == MIC_CAPTURING && _mic.have_status;
    }
    st->luma = running ? mic_meter_units(s.level_db) : 0.0f;
    st->lo = running ? mic_meter_units(s.noise_db) : 0.0f;
    st->hi = running ? mic_meter_units(s.signal_db) : 0.0f;
    st->th_on = running ? mic_meter_units(s.th_on_db) : 0.0f;
    st->th_off = running ? mic_meter_units(s.th_off_db) : 0.0f;
    st->on = running && s.on;
    st->has_signal = running && s.has_signal;
}

float mic_tone_hz() {
    std::lock_guard<std::mutex> g(_mic.lock);
    return _mic.state.load() == MIC_CAPTURING ? _mic.status.hz : 0.0f;
}
