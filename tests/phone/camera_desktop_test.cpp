// tests/phone/camera_desktop_test.cpp: the desktop's camera service on a video named by
// LUMIKEY_CAMERA: it reports a camera, paces the file at its own frame times, keeps the sink
// silent until the light is found, then moves the square onto it and hands over the samples
// (the message's start included), and reports the session lost when the file ends. A square
// the user places stops the search; stopping mid-file joins the thread at once.
// ctest-label: threaded
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>
#include <gtest/gtest.h>

#include "phone/camera_capture.hpp"
#include "phone/camera_desktop.hpp"
#include "support/camera_scene.hpp"
#include "support/morse_signal.hpp"
#include "support/test_sequence.hpp"

namespace {

struct Samples {
    std::mutex lock;
    std::vector<double> t;
    std::vector<float> luma;
};

void keep(double t_ms, float luma, void *user) {
    Samples *s = (Samples *)user;
    std::lock_guard<std::mutex> hold(s->lock);
    s->t.push_back(t_ms);
    s->luma.push_back(luma);
}

class CameraDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("lumikey_camdesk_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        capture_set_platform(nullptr);
    }
    void TearDown() override {
        capture_stop();
        unsetenv("LUMIKEY_CAMERA");
        unsetenv("LUMIKEY_WEBCAMS");
        camera_desktop_choose(nullptr);
        std::filesystem::remove_all(dir_);
    }
    std::string film(const char *text, double lead_ms) {
        std::string path = (dir_ / "lamp.mkv").string();
        MORSE_SEQUENCE *seq = test_sequence(text, 80);
        CAMERA_SCENE s;
        s.noise = 6;
        s.lag_on_ms = 13, s.lag_off_ms = 27;
        EXPECT_TRUE(film_to_file(path, sequence_runs(seq), s, lead_ms, 600));
        morse_sequence_free(&seq);
        return path;
    }
    std::filesystem::path dir_;
};

TEST_F(CameraDesktop, AVideoIsPacedSearchedReadAndEnds) {
    std::string path = film("TEST", 1000);
    setenv("LUMIKEY_CAMERA", path.c_str(), 1);
    EXPECT_EQ(capture_supported(), 1);
    EXPECT_EQ(capture_has_permission(), 1);
    capture_set_roi(0.5f, 0.5f, 0.2f);
    Samples got;
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(capture_start(320, 240, 30, keep, &got), 1);
    while (capture_state() > 0 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(capture_state(), -2); // the end of the file is a camera gone
    capture_stop();
    EXPECT_EQ(capture_state(), 0);
    // About 3.7 s of video, played at its own pace (not as fast as it decodes).
    EXPECT_GT(took, 3.0);
    float cx, cy, side;
    capture_get_roi(&cx, &cy, &side);
    EXPECT_NEAR(cx, 0.7f, 0.05f);
    EXPECT_NEAR(cy, 0.3f, 0.05f);
    EXPECT_LT(side, 0.1f);
    uint8_t preview[CAPTURE_PREVIEW_BYTES];
    EXPECT_EQ(capture_preview(preview), 1);
    // The samples start before the first mark (at 1 s) although the light was found later,
    // and read the lamp: its marks near full brightness.
    std::lock_guard<std::mutex> hold(got.lock);
    ASSERT_GT(got.t.size(), 30u);
    EXPECT_LT(got.t.front(), 1000);
    for (size_t k = 1; k < got.t.size(); k++) ASSERT_GT(got.t[k], got.t[k - 1]);
    EXPECT_GT(*std::max_element(got.luma.begin(), got.luma.end()), 180);
    MORSE_DECODER *dec = decoder_new(nullptr);
    for (size_t k = 0; k < got.t.size(); k++) decoder_feed(dec, got.t[k], got.luma[k]);
    DECODED_MESSAGE msg;
    ASSERT_EQ(decoder_finish(dec, &msg), 1);
    EXPECT_STREQ(msg.text, "TEST");
    decoder_free(&dec);
}

TEST_F(CameraDesktop, ASessionThatEndedByItselfStartsAgain) {
    std::string path = film("E", 200);
    setenv("LUMIKEY_CAMERA", path.c_str(), 1);
    Samples first, again;
    ASSERT_EQ(capture_start(320, 240, 30, keep, &first), 1);
    for (int k = 0; k < 300 && capture_state() > 0; k++)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(capture_state(), -2);
    // No stop in between: the ended session's thread is joined, not left to abort the program.
    EXPECT_EQ(capture_start(320, 240, 30, keep, &again), 1);
    EXPECT_EQ(capture_state(), 1);
    capture_stop();
    EXPECT_EQ(capture_state(), 0);
}

TEST_F(CameraDesktop, ASquarePlacedByTheUserIsReadAtOnceAndStopJoins) {
    std::string path = film("TEST TEST TEST", 500);
    setenv("LUMIKEY_CAMERA", path.c_str(), 1);
    Samples got;
    ASSERT_EQ(capture_start(320, 240, 30, keep, &got), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    capture_set_roi(0.2f, 0.8f, 0.1f); // the user's tap, away from the lamp
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    auto t0 = std::chrono::steady_clock::now();
    capture_stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0,
              std::chrono::seconds(3)); // not the rest of the file
    float cx, cy;
    capture_get_roi(&cx, &cy, nullptr);
    EXPECT_FLOAT_EQ(cx, 0.2f); // the search never moved it again
    EXPECT_FLOAT_EQ(cy, 0.8f);
    std::lock_guard<std::mutex> hold(got.lock);
    EXPECT_GT(got.t.size(), 40u);               // every frame since the tap
    for (float l : got.luma) EXPECT_LT(l, 150); // the room, never the lamp
}

// Stand-ins for webcams: "videoN" files of a name, a bus and the input opened.
void stand_in(const std::filesystem::path &dir, const char *file, const char *text) {
    FILE *f = fopen((dir / file).c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(text, f);
    fclose(f);
}

TEST_F(CameraDesktop, AWebcamIsChosenByNameAndAGoneOneFallsBack) {
    std::filesystem::path cams = dir_ / "webcams";
    std::filesystem::create_directories(cams);
    stand_in(cams, "video10", "Brio 4K\nusb-3\n/tmp/brio.mkv\n");
    stand_in(cams, "video2", "HD C270\nusb-1\nc270a.mkv\n");
    stand_in(cams, "video4", "HD C270\nusb-2\nc270b.mkv\n");
    stand_in(cams, "video6", "no bus, no path\n"); // not a device: left out
    stand_in(cams, "notes", "Notes\nusb-9\nnotes.mkv\n");
    setenv("LUMIKEY_WEBCAMS", cams.c_str(), 1);
    VIDEO_DEVICE d[8];
    ASSERT_EQ(camera_desktop_devices(d, 8), 3u);
    // In the order of their numbers, paths relative to the folder.
    EXPECT_STREQ(d[0].path, (cams / "c270a.mkv").c_str());
    EXPECT_STREQ(d[2].path, "/tmp/brio.mkv");
    char key[160];
    camera_desktop_key(&d[1], key, sizeof key);
    EXPECT_STREQ(key, "HD C270 (usb-2)");
    // The twin on the other bus is told apart; without a key the lens flag picks.
    EXPECT_EQ(camera_desktop_pick(d, 3, "HD C270 (usb-2)", 1), 1u);
    EXPECT_EQ(camera_desktop_pick(d, 3, nullptr, 0), 1u);
    EXPECT_EQ(camera_desktop_pick(d, 1, nullptr, 0), 0u); // no second one
    // Plugged in elsewhere: the same name; gone: the lens flag. A name that only begins the
    // same is another webcam.
    EXPECT_EQ(camera_desktop_pick(d, 3, "Brio 4K (usb-7)", 1), 2u);
    EXPECT_EQ(camera_desktop_pick(d, 3, "Brio 4 (usb-3)", 1), 0u);
    EXPECT_EQ(camera_desktop_pick(d, 3, "Kiyo (usb-5)", 0), 1u);

    // The choice reaches what a start opens. No webcam at all: the service cannot capture.
    char path[256];
    camera_desktop_choose("Brio 4K (usb-3)");
    ASSERT_EQ(camera_desktop_input(1, path, sizeof path), 1);
    EXPECT_STREQ(path, "/tmp/brio.mkv");
    setenv("LUMIKEY_WEBCAMS", dir_.c_str(), 1);
    EXPECT_EQ(camera_desktop_input(1, path, sizeof path), 0);
    EXPECT_EQ(capture_supported(), 0);
    EXPECT_EQ(capture_start(320, 240, 30, keep, nullptr), -2);
}

} // namespace
