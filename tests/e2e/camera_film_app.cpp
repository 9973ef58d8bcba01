// tests/e2e/camera_film_app.cpp: writes a video of a room with a Morse lamp in it, filmed by
// the camera of tests/support/camera_scene, for the end-to-end scripts.
// usage: camera_film_app OUT.mkv TEXT [wpm=12] [fps=30] [noise=8] [effects=1] [light=1]
//        [person=0] [shake=0]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/camera_scene.hpp"
#include "support/morse_signal.hpp"
#include "support/test_sequence.hpp"

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: camera_film_app OUT TEXT [key=value...]\n");
        return 2;
    }
    CAMERA_SCENE s;
    double wpm = 12;
    bool effects = true;
    for (int i = 3; i < argc; i++) {
        const char *eq = strchr(argv[i], '=');
        if (!eq) continue;
        std::string key(argv[i], eq - argv[i]);
        double v = atof(eq + 1);
        if (key == "wpm") wpm = v;
        if (key == "fps") s.fps = v;
        if (key == "noise") s.noise = v;
        if (key == "effects") effects = v != 0;
        if (key == "light") s.light = v != 0;
        if (key == "person") s.person = v != 0;
        if (key == "shake") s.shake_px = v;
        if (key == "flicker") s.flicker = s.exposure_steps = v != 0;
    }
    if (effects) {
        s.lag_on_ms = 13, s.lag_off_ms = 27; // about 40 and 80 ms to settle
        s.auto_exposure = true;
        s.jitter_ms = 3;
        s.drop = 0.02;
        s.rolling_ms = 20;
    }
    MORSE_SEQUENCE *seq = test_sequence(argv[2], (uint32_t)(1200 / wpm));
    if (!seq) return 1;
    std::vector<RUN> runs = sequence_runs(seq);
    morse_sequence_free(&seq);
    return film_to_file(argv[1], runs, s, 1500, 1500) ? 0 : 1;
}
