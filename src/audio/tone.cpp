// src/audio/tone.cpp: the audio system and the sound channel.
#include "audio/tone.hpp"

#include <allegro5/allegro_audio.h>

#include "audio/sidetone.hpp"
#include "audio/tone_synth.hpp"
#include "support/ka_common.hpp"

static struct {
    int available = 0;
    int16_t *pcm = nullptr;           // owned; the sample only borrows it
    ALLEGRO_SAMPLE *sample = nullptr; // over pcm
    ALLEGRO_SAMPLE_INSTANCE *inst = nullptr;
} _tone;

int tone_audio_init() {
    if (_tone.available) return 1;
    // Allegro's audio add-on asserts on a missing system; a failed install must also be the
    // last audio call, or its assertions end the program.
    if (!al_is_system_installed() || !al_install_audio()) {
        ka_log(LOG_ERR, "al_install_audio failed, sound disabled");
        return 0;
    }
    ALLEGRO_MIXER *mixer = al_reserve_samples(1) ? al_get_default_mixer() : nullptr;
    if (!mixer) {
        ka_log(LOG_ERR, "no default mixer, sound disabled");
        al_uninstall_audio();
        return 0;
    }
    _tone.available = 1;
    ka_log(LOG_INFO, "audio ready, mixer %u Hz", al_get_mixer_frequency(mixer));
    return 1;
}

uint32_t tone_mixer_rate() {
    ALLEGRO_MIXER *mixer = al_get_default_mixer();
    return mixer ? al_get_mixer_frequency(mixer) : 44100;
}

int tone_available() {
    return _tone.available;
}

void tone_audio_shutdown() {
    tone_release();
    // Uninstalling destroys every stream; the sidetone's fill thread must be gone by then.
    sidetone_stop();
    if (_tone.available) {
        al_uninstall_audio();
        _tone.available = 0;
    }
}

void tone_release() {
    if (_tone.inst) {
        al_stop_sample_instance(_tone.inst);
        al_destroy_sample_instance(_tone.inst);
        _tone.inst = nullptr;
    }
    if (_tone.sample) {
        al_destroy_sample(_tone.sample);
        _tone.sample = nullptr;
    }
    if (_tone.pcm) Free(_tone.pcm);
}

// Player thread: each repetition replays the buffer from its first frame.
static void _on_rep_start(const MORSE_SEQUENCE *, uint32_t, uint64_t, void *) {
    if (!_tone.inst) return;
    al_stop_sample_instance(_tone.inst);
    al_set_sample_instance_position(_tone.inst, 0);
    al_play_sample_instance(_tone.inst);
}

// Player thread: a natural end leaves the sample to finish by itself.
static void _on_stop(int finished, void *) {
    if (!finished && _tone.inst) al_stop_sample_instance(_tone.inst);
}

int tone_prepare(const MORSE_SEQUENCE *seq, uint32_t hz, uint32_t latency_ms,
                 PLAYER_CHANNEL *channel) {
    __ka_assert(seq, return 0);
    __ka_assert(channel, return 0);
    tone_release();
    if (!_tone.available) return 0;
    ALLEGRO_MIXER *mixer = al_get_default_mixer();
    uint32_t rate = tone_mixer_rate();
    size_t frames = 0;
    if (!tone_render(seq, rate, hz, TONE_AMPLITUDE, TONE_RAMP_MS, &_tone.pcm, &frames)) return 0;

    // An empty message has no frames, and Allegro refuses a sample of none.
    if (frames > 0)
        _tone.sample = al_create_sample(_tone.pcm, (unsigned int)frames, rate,
                                        ALLEGRO_AUDIO_DEPTH_INT16, ALLEGRO_CHANNEL_CONF_1, false);
    if (_tone.sample) _tone.inst = al_create_sample_instance(_tone.sample);
    if (!_tone.inst || !mixer || !al_attach_sample_instance_to_mixer(_tone.inst, mixer) ||
        !al_set_sample_instance_playmode(_tone.inst, ALLEGRO_PLAYMODE_ONCE)) {
        ka_log(LOG_ERR, "could not set up the tone sample");
        tone_release();
        return 0;
    }
    *channel = PLAYER_CHANNEL{"sound", latency_ms, _on_rep_start, nullptr, _on_stop, nullptr};
    ka_log(LOG_INFO, "tone ready: %zu frames at %u Hz, %u Hz tone, lead %u ms", frames, rate, hz,
           latency_ms);
    return 1;
}
