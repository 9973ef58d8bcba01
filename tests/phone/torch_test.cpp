// tests/phone/torch_test.cpp: the flashlight worker, driven through a fake platform that blocks
// and counts its calls, and the desktop's answers.
// ctest-label: threaded
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>

#include "platform/wake_event.hpp"
#include "morse/player.hpp"
#include "phone/torch.hpp"
#include "support/fake_phone.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"
#include "support/test_sequence.hpp"

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

namespace {

class TorchTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform_ = phone_.torch();
        torch_set_platform(&platform_);
    }
    void TearDown() override {
        phone_.release();
        torch_shutdown();
        torch_set_platform(nullptr);
    }
    FakePhone phone_;
    TORCH_PLATFORM platform_;
};

} // namespace

TEST(TorchDesktopTest, ReportsUnavailableOnceAndDoesNothing) {
    torch_set_platform(nullptr);
    LogCapture log(LOG_INFO);
    EXPECT_EQ(torch_available(), 0);
    EXPECT_EQ(torch_available(), 0);
    std::string text = log.text();
    size_t first = text.find("flashlight not available");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("flashlight not available", first + 1), std::string::npos) << text;
    torch_live(1);
    torch_resync();
    EXPECT_EQ(torch_measure_start(nullptr), 0);
    EXPECT_EQ(torch_latency_result(), -1);
    PLAYER_CHANNEL ch = torch_channel(50);
    EXPECT_STREQ(ch.name, "torch");
    EXPECT_EQ(ch.lead_ms, 50u);
    EXPECT_EQ(ch.on_rep_start, nullptr);
    EXPECT_NE(ch.on_event, nullptr);
    EXPECT_NE(ch.on_stop, nullptr);
    torch_shutdown();
    torch_shutdown();
}

TEST_F(TorchTest, ProbesThePlatformOnce) {
    LogCapture log(LOG_INFO);
    EXPECT_EQ(torch_available(), 1);
    EXPECT_EQ(torch_available(), 1);
    EXPECT_EQ(phone_.probes(), 1);
    EXPECT_TRUE(log.contains("flashlight available")) << log.text();
}

TEST_F(TorchTest, ChangesDuringASwitchCollapseIntoTheLatestState) {
    phone_.hold();
    torch_live(1);
    ASSERT_TRUE(phone_.wait_entered(1));
    // Off and on again while the switch-on is still under way: nothing more to do afterwards.
    torch_live(0);
    torch_live(1);
    phone_.release();
    ASSERT_TRUE(phone_.wait_done(1));
    torch_live(0);
    ASSERT_TRUE(phone_.wait_done(2));
    EXPECT_EQ(phone_.names(), (Names{"set 1", "set 0"}));

    phone_.hold();
    torch_live(1);
    ASSERT_TRUE(phone_.wait_entered(3));
    torch_live(0);
    torch_live(1);
    torch_live(0);
    phone_.release();
    ASSERT_TRUE(phone_.wait_done(4));
    torch_shutdown(); // the light is off already: no further call
    EXPECT_EQ(phone_.names(), (Names{"set 1", "set 0", "set 1", "set 0"}));
}

TEST_F(TorchTest, ShutdownWaitsForABlockedSwitchThenTurnsTheLightOff) {
    phone_.hold();
    torch_live(1);
    ASSERT_TRUE(phone_.wait_entered(1));
    auto done = std::async(std::launch::async, [] { torch_shutdown(); });
    EXPECT_EQ(done.wait_for(100ms), std::future_status::timeout);
    phone_.release();
    done.get();
    EXPECT_EQ(phone_.names(), (Names{"set 1", "set 0"}));
    // A later channel brings a new worker.
    MORSE_SEQUENCE *seq = test_sequence("EE", 100);
    ASSERT_NE(seq, nullptr);
    PLAYER_CHANNEL ch = torch_channel(0);
    ch.on_event(seq, 0, 0, ch.user);
    ASSERT_TRUE(phone_.wait_done(3));
    ch.on_event(seq, 1, 0, ch.user);
    ASSERT_TRUE(phone_.wait_done(4));
    ch.on_event(seq, 2, 0, ch.user);
    ASSERT_TRUE(phone_.wait_done(5));
    ch.on_stop(0, ch.user);
    ASSERT_TRUE(phone_.wait_done(6));
    EXPECT_EQ(phone_.names(), (Names{"set 1", "set 0", "set 1", "set 0", "set 1", "set 0"}));
    morse_sequence_free(&seq);
}

TEST_F(TorchTest, FollowsAPlayedSequenceAndEndsOff) {
    MORSE_PLAYER *player = player_new();
    ASSERT_NE(player, nullptr);
    PLAYER_CHANNEL ch = torch_channel(0);
    ASSERT_EQ(player_start(player, test_sequence("EE", 60), 0, &ch, 1), 1);
    while (player_is_playing(player)) std::this_thread::sleep_for(5ms);
    player_free(&player);
    torch_shutdown();
    // A slow switch may swallow a short flash, but the calls alternate and end off.
    Names names = phone_.names();
    ASSERT_GE(names.size(), 2u);
    for (size_t i = 0; i < names.size(); i++) EXPECT_EQ(names[i], i % 2 ? "set 0" : "set 1") << i;
    EXPECT_EQ(names.size() % 2, 0u);
}

TEST_F(TorchTest, ResyncSwitchesOnAgainOnlyWhenTheLightShouldBeOn) {
    torch_live(1);
    ASSERT_TRUE(phone_.wait_done(1));
    torch_resync();
    ASSERT_TRUE(phone_.wait_done(2));
    torch_live(0);
    ASSERT_TRUE(phone_.wait_done(3));
    torch_resync();
    torch_live(1);
    ASSERT_TRUE(phone_.wait_done(4));
    EXPECT_EQ(phone_.names(), (Names{"set 1", "set 1", "set 0", "set 1"}));

    // A resync that comes while the light is being switched on is not lost.
    torch_live(0);
    ASSERT_TRUE(phone_.wait_done(5));
    phone_.hold();
    torch_live(1);
    ASSERT_TRUE(phone_.wait_entered(6));
    torch_resync();
    phone_.release();
    ASSERT_TRUE(phone_.wait_done(7));
    EXPECT_EQ(phone_.names(),
              (Names{"set 1", "set 1", "set 0", "set 1", "set 0", "set 1", "set 1"}));
}

TEST_F(TorchTest, MeasurementRunsOnceAtATimeAndWakesTheApplication) {
    ASSERT_TRUE(al_init());
    ALLEGRO_EVENT_SOURCE wake;
    al_init_user_event_source(&wake);
    ALLEGRO_EVENT_QUEUE *queue = al_create_event_queue();
    ASSERT_NE(queue, nullptr);
    al_register_event_source(queue, &wake);
    LogCapture log(LOG_INFO);

    phone_.latency_ms = 42;
    phone_.hold();
    ASSERT_EQ(torch_measure_start(&wake), 1);
    EXPECT_EQ(torch_latency_result(), -2);
    EXPECT_EQ(torch_measure_start(&wake), 0);
    phone_.release();
    ALLEGRO_EVENT ev;
    ASSERT_TRUE(al_wait_for_event_timed(queue, &ev, 10.0));
    EXPECT_EQ(ev.type, LUMIKEY_WAKE_EVENT);
    EXPECT_EQ(torch_latency_result(), 42);
    EXPECT_TRUE(log.contains("torch latency measured: 42 ms")) << log.text();

    phone_.latency_ms = -7; // the platform could not measure
    ASSERT_EQ(torch_measure_start(&wake), 1);
    ASSERT_TRUE(al_wait_for_event_timed(queue, &ev, 10.0));
    EXPECT_EQ(torch_latency_result(), -1);

    al_destroy_event_queue(queue);
    al_destroy_user_event_source(&wake);
}
