// tests/morse/ear_live_test.cpp: the live reader holds a message back until its speed is
// known, then shows it whole from its first letter; a long one read live in parts reads the
// same; the end reads it once more and starts the next on the stream's clock; silence before
// a tone is let go, and a message too long is cut.
#include "morse/ear_live.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/morse_audio.hpp"

namespace {

using Ended = std::vector<std::pair<std::string, double>>; // each message's text and start

Ended end(EAR_LIVE *el, int expect) {
    Ended out;
    auto keep = [](const EAR_MESSAGE *m, void *u) {
        ((Ended *)u)->emplace_back(m->text, m->start_ms);
    };
    EXPECT_EQ(ear_live_end(el, keep, &out), expect);
    return out;
}

// A station from its first tone at the stream's now, 10 ms at a time as the microphone brings
// it, its silences reported as the receiver reports them, a live reading every second; stops
// after `upto` ms. The last reading.
std::string feed(EAR_LIVE *el, const std::string &text, double wpm, double upto = 1e9) {
    AUDIO_STATION st{text, wpm, 650, 0.3, 0, 5};
    AUDIO_SCENE sc;
    std::vector<float> x = audio_render(sc, {st});
    double t0 = ear_live_time_ms(el), t = t0;
    ear_live_heard(el, t0);
    for (const RUN &r : audio_station_runs(st)) {
        if (!r.on && r.ms >= 100) ear_live_gap(el, t, t + r.ms);
        t += r.ms;
    }
    char live[512] = "";
    for (size_t i = 0; i < x.size() && i < upto * 8; i += 80) {
        EXPECT_EQ(ear_live_feed(el, x.data() + i, std::min<size_t>(80, x.size() - i)), 0);
        if (i % 8000 == 0) ear_live_read(el, live, sizeof live, nullptr, 0, nullptr);
    }
    return live;
}

TEST(EarLive, HoldsBackUntilTheSpeedIsKnownThenShowsTheFirstLettersAndEndsWhole) {
    EAR_LIVE *el = ear_live_new(nullptr);
    ASSERT_NE(el, nullptr);
    char text[64], symbols[256];
    double unit = 0;
    // The first 2 s: M and Q are keyed, but too little is heard to trust a speed.
    feed(el, "MQ TEST DE F4LKY", 25, 2000);
    EXPECT_EQ(ear_live_read(el, text, sizeof text, symbols, sizeof symbols, &unit), 0);
    EXPECT_STREQ(text, "");
    ear_live_free(&el);
    el = ear_live_new(nullptr);
    EXPECT_EQ(feed(el, "MQ TEST DE F4LKY", 25), "MQ TEST DE F4LKY");
    ASSERT_EQ(ear_live_read(el, text, sizeof text, symbols, sizeof symbols, &unit), 1);
    EXPECT_NEAR(unit, 48.0, 3.0);
    Ended first = end(el, 1);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].first, "MQ TEST DE F4LKY");
    // The next message is held back again and timed on the stream's clock.
    double at = ear_live_time_ms(el);
    EXPECT_EQ(ear_live_read(el, text, sizeof text, nullptr, 0, nullptr), 0);
    feed(el, "OK 73", 18);
    Ended next = end(el, 1);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].first, "OK 73");
    EXPECT_NEAR(next[0].second, at, 30);
    ear_live_free(&el);
    EXPECT_EQ(el, nullptr);
}

TEST(EarLive, ReadsALongMessageInPartsLetsSilenceGoAndCutsOneTooLong) {
    EAR_LIVE_CONFIG c;
    ear_live_config_default(&c);
    c.window_ms = 5000;
    c.max_ms = 60000;
    EAR_LIVE *el = ear_live_new(&c);
    ASSERT_NE(el, nullptr);
    // A minute of silence with no tone: let go beyond the lead (kept, it would make the next
    // message too long at once), yet the clock counts it all.
    std::vector<float> quiet(60 * 8000, 0.0f);
    for (size_t i = 0; i < quiet.size(); i += 800) EXPECT_EQ(ear_live_feed(el, &quiet[i], 800), 0);
    const std::string text = "CQ CQ DE F4LKY F4LKY PSE K RST 599 NAME ANNE QTH LYON HW";
    // 30 s: the start read once and kept, at word gaps, the rest read live; the same text.
    EXPECT_EQ(feed(el, text, 20), text);
    Ended whole = end(el, 1);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].first, text);
    EXPECT_NEAR(whole[0].second, 60000.0, 30);

    // Keying past max_ms asks to be ended; what was kept is read.
    std::vector<float> x = audio_render(AUDIO_SCENE{}, {AUDIO_STATION{text + " " + text, 20}});
    ear_live_heard(el, ear_live_time_ms(el));
    size_t i = 0;
    for (int full = 0; i < x.size() && !full; i += 80) full = ear_live_feed(el, &x[i], 80);
    EXPECT_NEAR((double)i / 8.0, 60000.0, 20.0);
    Ended cut = end(el, 1);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].first.substr(0, text.size()), text);
    ear_live_free(&el);
}

} // namespace
