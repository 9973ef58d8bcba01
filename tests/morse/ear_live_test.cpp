// tests/morse/ear_live_test.cpp: the live reader holds a message back until its speed is
// known, then shows it whole from its first letter; the end reads it once more and starts the
// next on the stream's clock; silence before a tone is not kept; a message too long is cut.
#include "morse/ear_live.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/morse_audio.hpp"

namespace {

struct Ended {
    std::vector<std::string> texts;
    std::vector<double> starts;
};

int end(EAR_LIVE *el, Ended *out) {
    return ear_live_end(
        el,
        [](const EAR_MESSAGE *m, void *u) {
            ((Ended *)u)->texts.push_back(m->text);
            ((Ended *)u)->starts.push_back(m->start_ms);
        },
        out);
}

// A station from its first tone (at the stream's now), 10 ms at a time as the microphone
// brings it; the tone is reported heard at its start. Never long enough to be cut.
void feed(EAR_LIVE *el, const std::vector<float> &x) {
    ear_live_heard(el, ear_live_time_ms(el));
    for (size_t i = 0; i < x.size(); i += 80)
        ASSERT_EQ(ear_live_feed(el, x.data() + i, std::min<size_t>(80, x.size() - i)), 0);
}

std::vector<float> station(const std::string &text, double wpm, double tail_ms = 1500) {
    AUDIO_STATION st;
    st.text = text;
    st.wpm = wpm;
    st.start_ms = 0;
    st.amplitude = 0.3;
    AUDIO_SCENE sc;
    sc.tail_ms = tail_ms;
    return audio_render(sc, {st});
}

TEST(EarLive, HoldsBackUntilTheSpeedIsKnownThenShowsTheFirstLettersAndEndsWhole) {
    EAR_LIVE *el = ear_live_new(nullptr);
    ASSERT_NE(el, nullptr);
    char text[256], symbols[1024];
    double unit = 0;
    std::vector<float> x = station("MQ TEST DE F4LKY", 25);
    // The first 2 s: M and Q are keyed, but too little is heard to trust a speed.
    std::vector<float> part(x.begin(), x.begin() + 16000);
    feed(el, part);
    EXPECT_EQ(ear_live_read(el, text, sizeof text, symbols, sizeof symbols, &unit), 0);
    EXPECT_STREQ(text, "");
    EXPECT_STREQ(symbols, "");
    for (size_t i = part.size(); i < x.size(); i += 80) ear_live_feed(el, &x[i], 80);
    ASSERT_EQ(ear_live_read(el, text, sizeof text, symbols, sizeof symbols, &unit), 1);
    EXPECT_STREQ(text, "MQ TEST DE F4LKY");
    EXPECT_EQ(std::string(symbols).substr(0, 8), "-- --.- ");
    EXPECT_NEAR(unit, 48.0, 3.0);
    // A small buffer gets what fits, never cut inside the field.
    char small[6];
    ASSERT_EQ(ear_live_read(el, small, sizeof small, nullptr, 0, nullptr), 1);
    EXPECT_STREQ(small, "MQ TE");

    Ended first;
    EXPECT_EQ(end(el, &first), 1);
    ASSERT_EQ(first.texts.size(), 1u);
    EXPECT_EQ(first.texts[0], "MQ TEST DE F4LKY");
    // The next message is read on its own, held back again, its time the stream's.
    double at = ear_live_time_ms(el);
    EXPECT_EQ(ear_live_read(el, text, sizeof text, nullptr, 0, nullptr), 0);
    feed(el, station("OK 73", 18));
    Ended second;
    EXPECT_EQ(end(el, &second), 1);
    ASSERT_EQ(second.texts.size(), 1u);
    EXPECT_EQ(second.texts[0], "OK 73");
    EXPECT_NEAR(second.starts[0], at, 30);
    ear_live_free(&el);
    EXPECT_EQ(el, nullptr);
}

TEST(EarLive, KeepsOnlyTheLeadBeforeATonePutsNoiseAsideAndCutsAMessageTooLong) {
    EAR_LIVE_CONFIG c;
    ear_live_config_default(&c);
    c.max_ms = 12000;
    EAR_LIVE *el = ear_live_new(&c);
    ASSERT_NE(el, nullptr);
    // A minute of silence with no tone heard: beyond the lead it is let go (kept, it would make
    // the next message too long at once), yet the clock counts it all.
    std::vector<float> quiet(60 * 8000, 0.0f);
    for (size_t i = 0; i < quiet.size(); i += 800) EXPECT_EQ(ear_live_feed(el, &quiet[i], 800), 0);
    EXPECT_DOUBLE_EQ(ear_live_time_ms(el), 60000.0);
    feed(el, station("OK", 20));
    Ended ok;
    EXPECT_EQ(end(el, &ok), 1);
    ASSERT_EQ(ok.texts.size(), 1u);
    EXPECT_EQ(ok.texts[0], "OK");
    EXPECT_NEAR(ok.starts[0], 60000.0, 30);
    Ended none;

    // Noise that set a detector off: heard, read, and nothing comes of it.
    std::mt19937 rng(7);
    std::normal_distribution<float> g(0, 0.05f);
    std::vector<float> noise(5 * 8000);
    for (float &v : noise) v = g(rng);
    feed(el, noise);
    EXPECT_EQ(end(el, &none), 0);
    EXPECT_TRUE(none.texts.empty());

    // Keying past max_ms asks to be ended; what was kept is read, the rest is the next one's.
    std::vector<float> x = station("PARIS PARIS PARIS PARIS PARIS PARIS", 20, 0);
    ear_live_heard(el, ear_live_time_ms(el));
    size_t i = 0;
    int full = 0;
    for (; i < x.size() && !full; i += 80) full = ear_live_feed(el, &x[i], 80);
    EXPECT_EQ(full, 1);
    EXPECT_NEAR((double)i / 8.0, 12000.0, 20.0);
    Ended cut;
    EXPECT_EQ(end(el, &cut), 1);
    ASSERT_EQ(cut.texts.size(), 1u);
    EXPECT_EQ(cut.texts[0].substr(0, 17), "PARIS PARIS PARIS");
    ear_live_free(&el);
}

} // namespace
