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

} // namespace
