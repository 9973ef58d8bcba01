// src/audio/sidetone.cpp: the sidetone stream and its fill thread.
#include "audio/sidetone.hpp"

#include <atomic>
#include <system_error>
#include <thread>
#include <allegro5/allegro_audio.h>

#include "audio/sidetone_gen.hpp"
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

static struct {
    ALLEGRO_AUDIO_STREAM *stream = nullptr;
    ALLEGRO_EVENT_QUEUE *queue = nullptr;
    std::thread thread;
    SIDETONE_GEN gen{};
    std::atomic<int> down{0};
    std::atomic<int> quit{0};
    SIDETONE_FILL_HOOK hook = nullptr;
    void *hook_user = nullptr;
} _st;

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
    _st.stream = al_create_audio_stream(_FRAGMENTS, _FRAGMENT_SAMPLES, rate,
                                        ALLEGRO_AUDIO_DEPTH_INT16, ALLEGRO_CHANNEL_CONF_1);
    _st.queue = al_create_event_queue();
    if (!_st.stream || !_st.queue || !mixer ||
        !al_attach_audio_stream_to_mixer(_st.stream, mixer)) {
        ka_log(LOG_ERR, "could not create the sidetone stream");
        sidetone_stop();
        return 0;
    }
    sidetone_gen_init(&_st.gen, rate, hz, (float)TONE_RAMP_MS, TONE_AMPLITUDE);
    _st.down.store(0);
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
    return 1;
}

void sidetone_key(int down) {
    _st.down.store(down ? 1 : 0, std::memory_order_relaxed);
}

void sidetone_stop() {
    _st.down.store(0);
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

void sidetone_set_fill_hook(SIDETONE_FILL_HOOK hook, void *user) {
    if (_st.thread.joinable()) return;
    _st.hook = hook;
    _st.hook_user = user;
}
