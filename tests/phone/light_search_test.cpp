// tests/phone/light_search_test.cpp: the light found by itself in filmed rooms. A small lamp
// with a real camera's effects is found within three seconds and read in full (its first
// letters too, from the frames before it was found); a shaking hand-held camera still reads
// it; rooms without a lamp (a person swaying, a mains-flickering lamp, exposure steps) never
// give a light. Videos written by the scene's encoder read back frame for frame, and a missing
// file or one that is not video fails to open.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <gtest/gtest.h>

#include "phone/light_search.hpp"
#include "phone/video_input.hpp"
#include "support/camera_scene.hpp"
#include "support/morse_signal.hpp"
#include "support/test_sequence.hpp"

namespace {

std::vector<RUN> runs_of(const char *text, double wpm) {
    MORSE_SEQUENCE *seq = test_sequence(text, (uint32_t)(1200 / wpm));
    std::vector<RUN> runs = sequence_runs(seq);
    morse_sequence_free(&seq);
    return runs;
}

struct Watched {
    std::string text;       // everything the decoder finished
    double found_ms = -1;   // frame time at which samples began to flow
    float cx = -1, cy = -1; // where the watch read
};

void to_decoder(double t_ms, float luma, void *user) {
    decoder_feed((MORSE_DECODER *)user, t_ms, luma);
}

Watched watch_film(const std::vector<RUN> &runs, const CAMERA_SCENE &scene) {
    Watched out;
    MORSE_DECODER *dec = decoder_new(nullptr);
    LIGHT_WATCH w;
    EXPECT_EQ(light_watch_init(&w, scene.w, scene.h, 1, 0.5f, 0.5f, 0.2f), 1);
    double last = 0;
    DECODED_MESSAGE msg;
    film_runs(runs, scene, 1000, 1500, [&](const VIDEO_FRAME &f) {
        if (light_watch_frame(&w, &f, to_decoder, dec) && out.found_ms < 0) out.found_ms = f.t_ms;
        while (decoder_poll_message(dec, &msg)) out.text += msg.text;
        last = f.t_ms;
    });
    decoder_tick(dec, last);
    if (decoder_finish(dec, &msg)) out.text += msg.text;
    if (w.found) out.cx = w.cx, out.cy = w.cy;
    light_watch_free(&w);
    decoder_free(&dec);
    return out;
}

CAMERA_SCENE real_camera() {
    CAMERA_SCENE s;
    s.noise = 8;
    s.lag_on_ms = 13, s.lag_off_ms = 27;
    s.auto_exposure = true;
    s.jitter_ms = 3;
    s.drop = 0.02;
    s.rolling_ms = 25;
    return s;
}

TEST(LightSearch, FindsASmallLampWithinThreeSecondsAndReadsAllOfIt) {
    for (uint64_t seed : {1, 2}) {
        CAMERA_SCENE s = real_camera();
        s.seed = seed;
        s.cx = seed == 1 ? 0.8f : 0.2f;
        s.cy = seed == 1 ? 0.25f : 0.7f;
        Watched got = watch_film(runs_of("CQ DE TEST", 12), s);
        EXPECT_EQ(got.text, "CQ DE TEST") << "seed " << seed;
        // The first mark is at 1 s.
        EXPECT_GT(got.found_ms, 1000);
        EXPECT_LT(got.found_ms, 4000);
        EXPECT_NEAR(got.cx, s.cx, 0.05);
        EXPECT_NEAR(got.cy, s.cy, 0.05);
    }
}

TEST(LightSearch, AShakingHandHeldCameraStillReads) {
    CAMERA_SCENE s = real_camera();
    s.shake_px = 2;
    s.light_pct = 1.0;
    EXPECT_EQ(watch_film(runs_of("SOS SOS", 10), s).text, "SOS SOS");
}

TEST(LightSearch, RoomsWithoutALampGiveNothing) {
    std::vector<RUN> runs = runs_of("PARIS PARIS", 12); // the length of the film only
    CAMERA_SCENE person = real_camera();
    person.light = false;
    person.person = true;
    CAMERA_SCENE flicker = real_camera();
    flicker.light = false;
    flicker.flicker = true;
    CAMERA_SCENE steps = real_camera();
    steps.light = false;
    steps.exposure_steps = true;
    steps.auto_exposure = false;
    for (const CAMERA_SCENE *s : {&person, &flicker, &steps}) {
        Watched got = watch_film(runs, *s);
        EXPECT_EQ(got.found_ms, -1) << "a light at " << got.cx << ", " << got.cy;
        EXPECT_EQ(got.text, "");
    }
}

TEST(VideoInput, ReadsWhatTheEncoderWroteAndRefusesWhatIsNotVideo) {
    auto dir =
        std::filesystem::temp_directory_path() / ("lumikey_video_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string path = (dir / "film.mkv").string();
    CAMERA_SCENE s;
    s.jitter_ms = 4;
    std::vector<double> times;
    film_runs(runs_of("E", 12), s, 200, 200,
              [&](const VIDEO_FRAME &f) { times.push_back(f.t_ms); });
    ASSERT_TRUE(film_to_file(path, runs_of("E", 12), s, 200, 200));
    char err[160];
    VIDEO_INPUT *v = video_open(path.c_str(), 0, 0, 0, err, sizeof err);
    ASSERT_NE(v, nullptr) << err;
    EXPECT_EQ(video_is_device(v), 0);
    VIDEO_FRAME f;
    std::vector<double> read;
    while (video_read(v, &f) == 1) {
        EXPECT_EQ(f.w, 320);
        EXPECT_EQ(f.h, 240);
        read.push_back(f.t_ms);
    }
    ASSERT_EQ(read.size(), times.size());
    // Each frame keeps its own (jittered) time, to the millisecond the file holds.
    for (size_t k = 1; k < read.size(); k++)
        EXPECT_NEAR(read[k] - read[0], times[k] - times[0], 1.01) << "frame " << k;
    video_close(&v);
    EXPECT_EQ(v, nullptr);

    EXPECT_EQ(video_open((dir / "missing.mkv").c_str(), 0, 0, 0, err, sizeof err), nullptr);
    EXPECT_NE(std::string(err), "");
    std::ofstream((dir / "notes.mkv").string()) << "not a video at all\n";
    EXPECT_EQ(video_open((dir / "notes.mkv").c_str(), 0, 0, 0, err, sizeof err), nullptr);
    EXPECT_NE(std::string(err), "");
    std::filesystem::remove_all(dir);
}

} // namespace
