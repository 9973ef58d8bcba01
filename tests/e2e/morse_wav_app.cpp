// tests/e2e/morse_wav_app.cpp: writes a generated Morse recording for the end-to-end tests.
// usage: morse_wav_app OUT wav|flac|ogg RATE CHANNELS WPM HZ SNR_DB START_MS TEXT
//        [START_MS TEXT]...  (SNR_DB "clean" for no noise; later messages use the same tone)
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/morse_audio.hpp"

int main(int argc, char **argv) {
    if (argc < 10 || (argc - 8) % 2 != 0) {
        fprintf(stderr, "usage: morse_wav_app OUT wav|flac|ogg RATE CHANNELS WPM HZ SNR_DB "
                        "START_MS TEXT [START_MS TEXT]...\n");
        return 2;
    }
    std::string kind = argv[2];
    int format = kind == "flac"  ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                 : kind == "ogg" ? SF_FORMAT_OGG | SF_FORMAT_VORBIS
                                 : SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    AUDIO_SCENE scene;
    scene.rate = (uint32_t)atoi(argv[3]);
    int channels = atoi(argv[4]);
    if (strcmp(argv[7], "clean") != 0) scene.snr_db = atof(argv[7]);
    std::vector<AUDIO_STATION> stations;
    for (int i = 8; i + 1 < argc; i += 2) {
        AUDIO_STATION st;
        st.wpm = atof(argv[5]);
        st.hz = atof(argv[6]);
        st.start_ms = atof(argv[i]);
        st.text = argv[i + 1];
        stations.push_back(st);
    }
    // Every message is one station of the scene; the noise is set by the first.
    std::vector<float> x = audio_render(scene, stations);
    // Loud noise would clip in 16 bits: the whole recording is turned down instead.
    float peak = 0;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    if (peak > 0.95f)
        for (float &v : x) v *= 0.95f / peak;
    std::vector<float> frames(x.size() * (size_t)channels);
    for (size_t k = 0; k < x.size(); k++)
        for (int c = 0; c < channels; c++) frames[k * channels + c] = x[k];
    SF_INFO info{};
    info.samplerate = (int)scene.rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *sf = sf_open(argv[1], SFM_WRITE, &info);
    if (!sf) {
        fprintf(stderr, "morse_wav_app: %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    sf_count_t wrote = sf_writef_float(sf, frames.data(), (sf_count_t)x.size());
    if (wrote != (sf_count_t)x.size()) {
        fprintf(stderr, "morse_wav_app: %s: %s\n", argv[1], sf_strerror(sf));
        sf_close(sf);
        return 1;
    }
    sf_close(sf);
    return 0;
}
