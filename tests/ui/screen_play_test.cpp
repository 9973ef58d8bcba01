// tests/ui/screen_play_test.cpp: the screen light as the player thread drives it (the edges it
// records, the ring, the stop) and the colour the play screen clears to, on a record without a
// display.
#include <memory>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>

#include "main/app.hpp"
#include "ui/screen_play.hpp"

namespace {

class ScreenLight : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(al_init());
        app_.reset(new LUMIKEY_APP());
        a = app_.get();
        settings_default(&a->settings);
        a->settings.color_dot = 0xFF0000;
        a->settings.color_dash = 0x00FF00;
        a->settings.color_gap = 0x0000FF;
        a->settings.color_letter_gap = 0xFFFF00;
        a->settings.color_word_gap = 0xFF00FF;
        al_init_user_event_source(&a->wake_source);
        queue = al_create_event_queue();
        al_register_event_source(queue, &a->wake_source);
        // "EE T": dot, letter gap, dot, word gap, dash.
        seq = morse_sequence_build("EE T", &a->settings.timing);
        ASSERT_NE(seq, nullptr);
        ch = screen_light_channel(a);
    }
    void TearDown() override {
        morse_sequence_free(&seq);
        al_destroy_event_queue(queue);
        al_destroy_user_event_source(&a->wake_source);
    }
    void event(size_t i) { ch.on_event(seq, i, 0, ch.user); }
    // Wake events waiting, taken off the queue.
    int wakes() {
        int n = 0;
        ALLEGRO_EVENT ev;
        while (al_get_next_event(queue, &ev)) n += ev.type == LUMIKEY_WAKE_EVENT;
        return n;
    }
    std::unique_ptr<LUMIKEY_APP> app_;
    LUMIKEY_APP *a = nullptr;
    ALLEGRO_EVENT_QUEUE *queue = nullptr;
    MORSE_SEQUENCE *seq = nullptr;
    PLAYER_CHANNEL ch{};
};

} // namespace

TEST_F(ScreenLight, RecordsAnEdgeOnlyWhenTheLightChangesAndWakesTheLoopEveryEvent) {
    ASSERT_EQ(seq->count, 5u);
    EXPECT_STREQ(ch.name, "screen");
    EXPECT_EQ(ch.lead_ms, 0u);
    EXPECT_EQ(screen_light_index(&a->light), SIZE_MAX);
    event(0); // on
    event(0); // on again: no edge
    event(1); // off
    event(2); // on
    EXPECT_EQ(screen_light_edge_count(&a->light), 3u);
    EXPECT_EQ(a->light.edge_on[0], 1);
    EXPECT_EQ(a->light.edge_on[1], 0);
    EXPECT_EQ(a->light.edge_on[2], 1);
    EXPECT_LE(a->light.edge_ns[0], a->light.edge_ns[1]);
    EXPECT_LE(a->light.edge_ns[1], a->light.edge_ns[2]);
    EXPECT_EQ(screen_light_index(&a->light), 2u);
    EXPECT_EQ(wakes(), 4);

    // A stop while on records the off edge; a second stop while off records nothing.
    ch.on_stop(0, ch.user);
    EXPECT_EQ(screen_light_edge_count(&a->light), 4u);
    EXPECT_EQ(a->light.edge_on[3], 0);
    EXPECT_TRUE(screen_light_stopped(&a->light));
    EXPECT_EQ(a->light.finished, 0);
    ch.on_stop(1, ch.user);
    EXPECT_EQ(screen_light_edge_count(&a->light), 4u);
    EXPECT_EQ(a->light.finished, 1);
    EXPECT_EQ(screen_light_index(&a->light), 2u);
    EXPECT_EQ(wakes(), 2);

    // A new send resets the state but keeps the edges.
    ch = screen_light_channel(a);
    EXPECT_FALSE(screen_light_stopped(&a->light));
    EXPECT_EQ(screen_light_index(&a->light), SIZE_MAX);
    EXPECT_EQ(screen_light_edge_count(&a->light), 4u);
}

TEST_F(ScreenLight, TheRingKeepsTheNewestEdgesAndCountsOn) {
    for (size_t i = 0; i < SCREEN_LIGHT_EDGES + 10; i++) event(i % 2 ? 1 : 0);
    EXPECT_EQ(screen_light_edge_count(&a->light), SCREEN_LIGHT_EDGES + 10);
    // Edge n sits at n mod 512: edge 512 (on, even) overwrote slot 0, edge 521 (odd, off) slot 9.
    EXPECT_EQ(a->light.edge_on[0], 1);
    EXPECT_EQ(a->light.edge_on[9], 0);
    EXPECT_GE(a->light.edge_ns[9], a->light.edge_ns[10]);
}

TEST_F(ScreenLight, ThePlayScreenClearsToTheColourOfTheElementBeingSent) {
    a->player = player_new();
    ASSERT_NE(a->player, nullptr);
    // The player holds the sequence; the callbacks are driven by hand, so the colours do not
    // depend on how far the player's own thread has got.
    MORSE_SEQUENCE *held = morse_sequence_build("EE T", &a->settings.timing);
    PLAYER_CHANNEL silent{};
    silent.name = "silent";
    ASSERT_EQ(player_start(a->player, held, 0, &silent, 1), 1);
    player_stop(a->player);
    ch = screen_light_channel(a);
    a->settings.out_screen = 1;
    EXPECT_EQ(screen_play_light_rgb(a), 0x000000u); // nothing sent yet
    const uint32_t want[] = {0xFF0000, 0xFFFF00, 0xFF0000, 0xFF00FF, 0x00FF00};
    for (size_t i = 0; i < 5; i++) {
        event(i);
        EXPECT_EQ(screen_play_light_rgb(a), want[i]) << "event " << i;
    }
    a->settings.out_screen = 0;
    EXPECT_EQ(screen_play_light_rgb(a), 0x20232Bu);
    ch = screen_light_channel(a);
    EXPECT_EQ(screen_play_light_rgb(a), 0x20232Bu);
    player_free(&a->player);
}
