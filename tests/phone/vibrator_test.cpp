// tests/phone/vibrator_test.cpp: the vibration worker, driven through a fake platform that
// blocks and counts its calls, and the desktop's answers.
// ctest-label: threaded
#include <chrono>
#include <future>
#include <gtest/gtest.h>

#include "phone/vibrator.hpp"
#include "support/fake_phone.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"
#include "support/test_sequence.hpp"

using namespace std::chrono_literals;
using Names = std::vector<std::string>;
using Pattern = std::vector<uint32_t>;

namespace {

class VibratorTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform_ = phone_.vibrator();
        vibrator_set_platform(&platform_);
        e_ = test_sequence("E", 100);
        t_ = test_sequence("T", 100);
        ASSERT_TRUE(e_ && t_);
    }
    void TearDown() override {
        phone_.release();
        vibrator_shutdown();
        vibrator_set_platform(nullptr);
        morse_sequence_free(&e_);
        morse_sequence_free(&t_);
    }
    FakePhone phone_;
    VIBRATOR_PLATFORM platform_;
    MORSE_SEQUENCE *e_ = nullptr;
    MORSE_SEQUENCE *t_ = nullptr;
};

} // namespace

TEST(VibratorDesktopTest, ReportsUnavailableOnceAndLeavesTheChannelAlone) {
    vibrator_set_platform(nullptr);
    LogCapture log(LOG_INFO);
    EXPECT_EQ(vibrator_available(), 0);
    EXPECT_EQ(vibrator_available(), 0);
    std::string text = log.text();
    size_t first = text.find("vibrator not available");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("vibrator not available", first + 1), std::string::npos) << text;

    MORSE_SEQUENCE *seq = test_sequence("E", 100);
    PLAYER_CHANNEL ch{};
    ch.name = "untouched";
    ch.lead_ms = 7;
    EXPECT_EQ(vibrator_prepare(seq, 30, &ch), 0);
    EXPECT_STREQ(ch.name, "untouched");
    EXPECT_EQ(ch.lead_ms, 7u);
    vibrator_live(1);
    vibrator_shutdown();
    vibrator_shutdown();
    morse_sequence_free(&seq);
}

TEST_F(VibratorTest, RefusesEmptyAndMissingInput) {
    MORSE_SEQUENCE *empty = test_sequence("", 100);
    PLAYER_CHANNEL ch{};
    EXPECT_EQ(vibrator_prepare(empty, 0, &ch), 0);
    EXPECT_EQ(ch.name, nullptr);
    EXPECT_EQ(vibrator_prepare(nullptr, 0, &ch), 0);
    EXPECT_EQ(vibrator_prepare(e_, 0, nullptr), 0);
    morse_sequence_free(&empty);
}

TEST_F(VibratorTest, ChannelPlaysTheSequencesPattern) {
    PLAYER_CHANNEL ch{};
    ASSERT_EQ(vibrator_prepare(e_, 40, &ch), 1);
    EXPECT_STREQ(ch.name, "vibrate");
    EXPECT_EQ(ch.lead_ms, 40u);
    EXPECT_EQ(ch.on_event, nullptr);
    ASSERT_NE(ch.on_rep_start, nullptr);
    ASSERT_NE(ch.on_stop, nullptr);
    ch.on_rep_start(e_, 0, 0, ch.user);
    ASSERT_TRUE(phone_.wait_done(1));
    std::vector<FakePhone::Call> calls = phone_.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].what, "play");
    EXPECT_EQ(calls[0].pattern, (Pattern{0, 100}));
}

TEST_F(VibratorTest, PlatformPlaysACopyThatANewPatternCannotDisturb) {
    PLAYER_CHANNEL ch{};
    ASSERT_EQ(vibrator_prepare(e_, 0, &ch), 1);
    phone_.hold();
    ch.on_rep_start(e_, 0, 0, ch.user);
    ASSERT_TRUE(phone_.wait_entered(1));
    // The next send prepares its pattern while the platform still plays the first.
    ASSERT_EQ(vibrator_prepare(t_, 0, &ch), 1);
    phone_.release();
    ASSERT_TRUE(phone_.wait_done(1));
    ch.on_rep_start(t_, 0, 0, ch.user);
    ASSERT_TRUE(phone_.wait_done(2));
    std::vector<FakePhone::Call> calls = phone_.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].pattern, (Pattern{0, 100}));
    EXPECT_EQ(calls[1].pattern, (Pattern{0, 300}));
}

TEST_F(VibratorTest, InterruptedStopCancelsAndFinishedStopDoesNot) {
    PLAYER_CHANNEL ch{};
    ASSERT_EQ(vibrator_prepare(e_, 0, &ch), 1);
    ch.on_rep_start(e_, 0, 0, ch.user);
    ASSERT_TRUE(phone_.wait_done(1));
    ch.on_stop(1, ch.user); // the pattern has ended by itself
    vibrator_live(1);
    ASSERT_TRUE(phone_.wait_done(2));
    ch.on_stop(0, ch.user);
    ASSERT_TRUE(phone_.wait_done(3));
    EXPECT_EQ(phone_.names(), (Names{"play", "on", "cancel"}));
}

TEST_F(VibratorTest, StopRightAfterARepetitionStartLeavesOnlyTheCancel) {
    PLAYER_CHANNEL ch{};
    ASSERT_EQ(vibrator_prepare(e_, 0, &ch), 1);
    phone_.hold();
    vibrator_live(1); // keeps the worker busy
    ASSERT_TRUE(phone_.wait_entered(1));
    ch.on_rep_start(e_, 0, 0, ch.user);
    ch.on_stop(0, ch.user);
    phone_.release();
    ASSERT_TRUE(phone_.wait_done(2));
    vibrator_shutdown(); // the motor is stopped already: no further call
    EXPECT_EQ(phone_.names(), (Names{"on", "cancel"}));
}

TEST_F(VibratorTest, ShutdownWaitsForABlockedCallThenStopsTheMotor) {
    phone_.hold();
    vibrator_live(1);
    ASSERT_TRUE(phone_.wait_entered(1));
    auto done = std::async(std::launch::async, [] { vibrator_shutdown(); });
    EXPECT_EQ(done.wait_for(100ms), std::future_status::timeout);
    phone_.release();
    done.get();
    EXPECT_EQ(phone_.names(), (Names{"on", "cancel"}));
    // Live keying afterwards brings a new worker.
    vibrator_live(1);
    ASSERT_TRUE(phone_.wait_done(3));
    EXPECT_EQ(phone_.names(), (Names{"on", "cancel", "on"}));
}
