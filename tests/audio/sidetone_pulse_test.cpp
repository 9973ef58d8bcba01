// tests/audio/sidetone_pulse_test.cpp: the sidetone on its own PulseAudio stream, checked in what
// a real server (started by the test, with a null sink) mixed: every press a ramped, unbroken
// tone of its length, no sample lost between the small requests.
// ctest-label: threaded
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>

#include "audio/sidetone.hpp"
#include "audio/sidetone_pulse.hpp"
#include "audio/tone.hpp"
#include "support/pulse_server.hpp"
#include "support/test_env.hpp"
#include "support/wav_reader.hpp"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t HZ = 600;

double ms(size_t samples, uint32_t rate) {
    return 1000.0 * (double)samples / (double)rate;
}

// Presses of a fast hand, in ms from the start: down, up. A 25 WPM dot is 48 ms.
struct Press {
    int at;
    int len;
};
std::vector<Press> keying() {
    std::vector<Press> p = {{0, 150}, {300, 300}};
    int t = 800;
    const int dot = 48;
    // "PARIS" at 25 WPM: element lengths in dots, each followed by one dot of silence.
    const int lens[] = {1, 3, 3, 1, 1, 3, 1, 3, 1, 1, 1, 1, 1, 1};
    for (int len : lens) {
        p.push_back({t, len * dot});
        t += (len + 1) * dot;
    }
    return p;
}

// Keys the presses on absolute times; returns the times the key really changed (a sleep on a
// loaded machine may end late), down and up in turn.
std::vector<double> key_presses(const std::vector<Press> &presses) {
    auto t0 = Clock::now() + 100ms;
    std::vector<double> edges;
    auto key_at = [&](int at, int down) {
        std::this_thread::sleep_until(t0 + std::chrono::milliseconds(at));
        edges.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        sidetone_key(down);
    };
    for (const Press &p : presses) {
        key_at(p.at, 1);
        key_at(p.at + p.len, 0);
    }
    std::this_thread::sleep_until(t0 + std::chrono::milliseconds(presses.back().at + 300));
    return edges;
}

size_t first_reaching(const std::vector<float> &x, size_t from, size_t to, float level) {
    for (size_t i = from; i < to; i++)
        if (std::fabs(x[i]) >= level) return i;
    return to;
}
size_t last_reaching(const std::vector<float> &x, size_t from, size_t to, float level) {
    for (size_t i = to; i > from; i--)
        if (std::fabs(x[i - 1]) >= level) return i - 1;
    return from;
}

// Allegro's audio comes up before the test's server, on another driver: its own PulseAudio
// driver does not survive being installed a second time in one process, and only the
// sidetone's stream is under test.
void audio_up_apart() {
    ScopedEnv none("PULSE_SERVER", "unix:/nonexistent/lumikey");
    ASSERT_EQ(tone_audio_init(), 1);
}

class SidetonePulseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(al_init()); }
    void TearDown() override {
        sidetone_stop();
        tone_audio_shutdown();
    }
};

} // namespace

TEST_F(SidetonePulseTest, FastKeyingReachesTheServerRampedUnbrokenAndInTime) {
    audio_up_apart();
    PulseServer server;
    if (!server.ok()) GTEST_SKIP() << "no PulseAudio server can start here: " << server.why();
    ASSERT_EQ(sidetone_start(HZ), 1);
    ASSERT_EQ(sidetone_direct(), 1) << "a reachable server must carry the sidetone";
    // A busy machine may starve the server now and then; it says so, and the queue grows. A
    // run during which it ran dry is played again, and only a clean run is judged.
    std::vector<Press> presses = keying();
    std::vector<double> edges;
    WavData wav;
    uint32_t underruns = 0;
    for (int attempt = 0; attempt < 3; attempt++) {
        std::string why;
        ASSERT_TRUE(server.record_start(&why)) << why;
        std::this_thread::sleep_for(300ms);
        uint32_t before = sidetone_pulse_underruns();
        edges = key_presses(presses);
        underruns = sidetone_pulse_underruns() - before;
        ASSERT_TRUE(wav_read(server.record_stop(), &wav, &why)) << why;
        if (underruns == 0) break;
    }
    sidetone_stop();
    EXPECT_EQ(sidetone_direct(), 0);
    if (underruns > 0) GTEST_SKIP() << "the server ran dry in every run on this busy machine";

    float peak = wav_peak(wav.samples, 0, wav.samples.size());
    ASSERT_GT(peak, 0.3f) << "the tone is played at 0.6 of full scale";
    float quiet = 0.02f * peak;
    // A one-dot gap (48 ms) stays far above this bridge, a sine's zero crossings far below.
    std::vector<WavSegment> seg = wav_segments(wav.samples, quiet, wav.rate * 10 / 1000);
    std::string found;
    for (const WavSegment &s : seg)
        found += " " + std::to_string((int)ms(s.start, wav.rate)) + "+" +
                 std::to_string((int)ms(s.end - s.start, wav.rate));
    SCOPED_TRACE("sounds found (ms from the recording's start, + length):" + found);
    ASSERT_EQ(seg.size(), presses.size()) << "a press lost, split by a gap or merged";
    // Every edge is late by the same small queue: lengths and spacings keep the key's own, to
    // within a request and the scheduling delays of a busy machine (the mixer's stream, read
    // once per 256-sample fragment behind a 1024-sample pull, misses by up to 40 ms).
    for (size_t i = 0; i < seg.size(); i++) {
        double down = edges[2 * i], up = edges[2 * i + 1];
        EXPECT_NEAR(ms(seg[i].end - seg[i].start, wav.rate), up - down, 15.0) << "press " << i;
        if (i > 0) {
            EXPECT_NEAR(ms(seg[i].start - seg[0].start, wav.rate), down - edges[0], 15.0)
                << "press " << i;
        }
    }
    for (const WavSegment &s : seg) {
        EXPECT_NEAR(wav_frequency(wav.samples, s.start, s.end, wav.rate), HZ, 3.0);
        EXPECT_EQ(wav_sine_breaks(wav.samples, s.start, s.end, HZ, wav.rate, 0.01f), 0u)
            << "a sample lost or repeated between samples " << s.start << " and " << s.end;
        // The same 5 ms raised-cosine ramps as on the mixer's path.
        size_t up = first_reaching(wav.samples, s.start, s.end, 0.9f * peak);
        size_t down = last_reaching(wav.samples, s.start, s.end, 0.9f * peak);
        EXPECT_NEAR(ms(up - s.start, wav.rate), 4.0, 1.2);
        EXPECT_NEAR(ms(s.end - down, wav.rate), 4.0, 1.2);
    }
    // Between presses the stream is silent, not merely quiet (the ramps' quiet ends aside).
    size_t tail = wav.rate * 2 / 1000;
    for (size_t i = 1; i < seg.size(); i++)
        EXPECT_EQ(wav_peak(wav.samples, seg[i - 1].end + tail, seg[i].start - tail), 0.0f);
}

TEST_F(SidetonePulseTest, ADriverChosenForTheAudioSystemKeepsTheSidetoneOnTheMixer) {
    PulseServer server;
    if (!server.ok()) GTEST_SKIP() << "no PulseAudio server can start here: " << server.why();
    audio_up_apart();
    // The wave-file captures choose OpenAL this way: the sidetone must stay where they listen.
    al_set_config_value(al_get_system_config(), "audio", "driver", "openal");
    EXPECT_EQ(sidetone_start(HZ), 1);
    EXPECT_EQ(sidetone_direct(), 0);
    al_set_config_value(al_get_system_config(), "audio", "driver", "");
    EXPECT_EQ(sidetone_start(HZ), 1);
    EXPECT_EQ(sidetone_direct(), 1);
}

TEST_F(SidetonePulseTest, AServerThatGoesAwayLeavesTheSidetoneOnTheMixer) {
    audio_up_apart();
    PulseServer server;
    if (!server.ok()) GTEST_SKIP() << "no PulseAudio server can start here: " << server.why();
    ASSERT_EQ(sidetone_start(HZ), 1);
    ASSERT_EQ(sidetone_direct(), 1);
    sidetone_key(1);
    std::this_thread::sleep_for(50ms);
    server.kill_now();
    std::this_thread::sleep_for(50ms);
    sidetone_key(0);
    // Neither stop nor the next start may hang on the dead connection.
    sidetone_stop();
    EXPECT_EQ(sidetone_start(HZ), 1);
    EXPECT_EQ(sidetone_direct(), 0);
    sidetone_key(1);
    sidetone_stop();
}
