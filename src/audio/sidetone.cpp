// src/audio/sidetone.cpp: the sidetone stream and its fill thread.
#include "audio/sidetone.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>
#include <allegro5/allegro_audio.h>

#include <strings.h>

#include "audio/sidetone_gen.hpp"
#include "audio/sidetone_pulse.hpp"
#include "audio/tone.hpp"
#include "support/ka_log.hpp"

// Small fragments let a key change reach the stream within about 6 ms. Allegro's Linux voices
// take the mixer's output 1024 samples at a time; a stream holding only 4 x 256 runs dry one
// sample short of every such pull, which is heard as a click 43 times a second. A fifth
// fragment is the least that plays cleanly.
static constexpr int _FRAGMENTS = 5;
static constexpr int _FRAGMENT_SAMPLES = 256;
// How often the fill thread looks at its stop request when no fragment is wanted.
static constexpr double _WAIT_S = 0.1;
// Above this the sidetone is heard late enough to trip a fast hand.
static constexpr double _LATENCY_GOAL_MS = 10.0;

static struct {
    ALLEGRO_AUDIO_STREAM *stream = nullptr;
    ALLEGRO_EVENT_QUEUE *queue = nullptr;
    std::thread thread;
    SIDETONE_GEN gen{};
    std::atomic<int> down{0};
    std::atomic<int> quit{0};
    SIDETONE_FILL_HOOK hook = nullptr;
    void *hook_user = nullptr;
    std::atomic<int> direct{0};  // 1 while playing through its own PulseAudio stream
    bool latency_logged = false; // a late sidetone is reported once per run of the program
    // The oscillator as it was at every aligned position of the recent past, so that queued
    // samples can be made again from any of them without a jump in phase or level.
    SIDETONE_GEN past[SIDETONE_PULSE_HISTORY / SIDETONE_PULSE_ALIGN];
    uint64_t made = 0; // the position after the last sample made
} _st;

// Loop thread of the PulseAudio stream: made at the moment the server asks, or again from an
// earlier position when the key changed.
static void _fill_direct(int16_t *out, size_t n, uint64_t at, void *) {
    constexpr size_t slots = SIDETONE_PULSE_HISTORY / SIDETONE_PULSE_ALIGN;
    if (at != _st.made && at % SIDETONE_PULSE_ALIGN == 0 && at < _st.made &&
        _st.made - at <= SIDETONE_PULSE_HISTORY)
        _st.gen = _st.past[(at / SIDETONE_PULSE_ALIGN) % slots];
    int on = _st.down.load(std::memory_order_relaxed);
    for (size_t done = 0; done < n;) {
        uint64_t pos = at + done;
        if (pos % SIDETONE_PULSE_ALIGN == 0)
            _st.past[(pos / SIDETONE_PULSE_ALIGN) % slots] = _st.gen;
        size_t run = std::min<size_t>(n - done, SIDETONE_PULSE_ALIGN - pos % SIDETONE_PULSE_ALIGN);
        sidetone_gen_fill(&_st.gen, out + done, run, on);
        done += run;
    }
    _st.made = at + n;
    if (_st.hook) _st.hook(out, n, _st.hook_user);
}

// The sidetone follows the device the rest of the sound uses: a driver chosen in Allegro's
// configuration (the wave-file captures of the tests choose OpenAL) keeps it on the mixer.
static bool _direct_allowed() {
    ALLEGRO_CONFIG *cfg = al_get_system_config();
    const char *driver = cfg ? al_get_config_value(cfg, "audio", "driver") : nullptr;
    return !driver || !driver[0] || strcasecmp(driver, "pulseaudio") == 0;
}

static void _log_latency_once(double ms, const char *how) {
    if (_st.latency_logged || ms <= _LATENCY_GOAL_MS) return;
    _st.latency_logged = true;
    ka_log(LOG_INFO, "sidetone latency about %.1f ms %s", ms, how);
}

static int _start_direct(uint32_t hz, uint32_t rate) {
    SIDETONE_PULSE_INFO info{};
    if (!_direct_allowed() || !sidetone_pulse_start(rate, _fill_direct, nullptr, &info)) return 0;
    _st.direct = 1;
    double request_ms = 1000.0 * info.request_samples / rate;
    double queue_ms = 1000.0 * info.target_samples / rate;
    double heard_ms = 1000.0 * info.change_samples / rate + request_ms;
    char sched[48];
    if (info.priority_kind == SIDETONE_PULSE_REALTIME)
        snprintf(sched, sizeof sched, "real-time priority %d", info.priority);
    else if (info.priority_kind == SIDETONE_PULSE_NICE)
        snprintf(sched, sizeof sched, "nice %d", info.priority);
    else
        snprintf(sched, sizeof sched, "normal priority");
    ka_log(LOG_INFO,
           "sidetone running: %u Hz through PulseAudio, %u-sample requests, %.1f ms "
           "queued at %u Hz, a key change heard after about %.1f ms, %s",
           hz, info.request_samples, queue_ms, rate, heard_ms, sched);
    _log_latency_once(heard_ms, "through PulseAudio");
    return 1;
}

static void _fill_thread() {
    ALLEGRO_EVENT ev;
    while (!_st.quit.load(std::memory_order_acquire)) {
        if (!al_wait_for_event_timed(_st.queue, &ev, _WAIT_S)) continue;
        if (ev.type != ALLEGRO_EVENT_AUDIO_STREAM_FRAGMENT) continue;
        auto *frag = static_cast<int16_t *>(al_get_audio_stream_fragment(_st.stream));
        if (!frag) continue;
        sidetone_gen_fill(&_st.gen, frag, _FRAGMENT_SAMPLES,
                          _st.down.load(std::memory_order_relaxed));
        if (_st.hook) _st.hook(frag, _FRAGMENT_SAMPLES, _st.hook_user);
        al_set_audio_stream_fragment(_st.stream, frag);
    }
}

int sidetone_start(uint32_t hz) {
    sidetone_stop();
    if (!tone_available()) return 0;
    ALLEGRO_MIXER *mixer = al_get_default_mixer();
    uint32_t rate = tone_mixer_rate();
    sidetone_gen_init(&_st.gen, rate, hz, (float)TONE_RAMP_MS, TONE_AMPLITUDE);
    _st.down.store(0);
    _st.made = 0;
    if (_start_direct(hz, rate)) return 1;
    _st.stream = al_create_audio_stream(_FRAGMENTS, _FRAGMENT_SAMPLES, rate,
                                        ALLEGRO_AUDIO_DEPTH_INT16, ALLEGRO_CHANNEL_CONF_1);
    _st.queue = al_create_event_queue();
    if (!_st.stream || !_st.queue || !mixer ||
        !al_attach_audio_stream_to_mixer(_st.stream, mixer)) {
        ka_log(LOG_ERR, "could not create the sidetone stream");
        sidetone_stop();
        return 0;
    }
    _st.quit.store(0);
    al_register_event_source(_st.queue, al_get_audio_stream_event_source(_st.stream));
    try {
        _st.thread = std::thread(_fill_thread);
    } catch (const std::system_error &) {
        ka_log(LOG_ERR, "could not start the sidetone thread");
        sidetone_stop();
        return 0;
    }
    ka_log(LOG_INFO, "sidetone running: %u Hz, %d x %d samples at %u Hz", hz, _FRAGMENTS,
           _FRAGMENT_SAMPLES, rate);
    // The stream alone holds this much; the mixer and the device add their own buffers.
    _log_latency_once(1000.0 * _FRAGMENTS * _FRAGMENT_SAMPLES / rate, "or more through the mixer");
    return 1;
}

void sidetone_key(int down) {
    int was = _st.down.exchange(down ? 1 : 0, std::memory_order_relaxed);
    if (was != (down ? 1 : 0) && _st.direct) sidetone_pulse_key_changed();
}

void sidetone_stop() {
    _st.down.store(0);
    if (_st.direct) {
        sidetone_pulse_stop();
        _st.direct = 0;
    }
    // The thread is joined before the stream goes: it may be holding one of its fragments.
    if (_st.thread.joinable()) {
        _st.quit.store(1, std::memory_order_release);
        _st.thread.join();
    }
    if (_st.stream) {
        al_set_audio_stream_playing(_st.stream, false);
        al_destroy_audio_stream(_st.stream);
        _st.stream = nullptr;
    }
    if (_st.queue) {
        al_destroy_event_queue(_st.queue);
        _st.queue = nullptr;
    }
}

int sidetone_direct() {
    return _st.direct;
}

void sidetone_set_fill_hook(SIDETONE_FILL_HOOK hook, void *user) {
    if (_st.thread.joinable() || _st.direct) return;
    _st.hook = hook;
    _st.hook_user = user;
}
