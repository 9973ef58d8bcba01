// tests/audio/sidetone_pulse_test.cpp: the sidetone on its own PulseAudio stream, checked in what
// a real server (started by the test, with a null sink) mixed: every press a ramped, unbroken
// tone of its length, no sample lost between the small requests, no underrun through a long
// run of fast keying, a queue that grows by one request when the stream is starved, and key
// changes written over the queue rather than behind it.
// ctest-label: threaded
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>
#include <sched.h>
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

// Random fast keying: dots of 40 to 60 ms (30 to 20 WPM), dashes of three, one-dot gaps.
std::vector<Press> random_keying(int seconds, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dot_ms(40, 60), dash(0, 1);
    std::vector<Press> p;
    for (int t = 0; t < seconds * 1000;) {
        int dot = dot_ms(rng), len = dash(rng) ? 3 * dot : dot;
        p.push_back({t, len});
        t += len + dot;
    }
    return p;
}

// Scheduling policy of this process's thread of that name, -1 when there is none.
int thread_policy(const std::string &name) {
    std::error_code ec;
    for (auto &task : std::filesystem::directory_iterator("/proc/self/task", ec))
        if (read_file((task.path() / "comm").string()) == name + "\n")
            return sched_getscheduler(std::stoi(task.path().filename().string())) &
                   ~SCHED_RESET_ON_FORK;
    return -1;
}

// Tones of the recording, with what was found listed for the failure messages.
std::vector<WavSegment> tones(const WavData &wav, std::string *found) {
    float peak = wav_peak(wav.samples, 0, wav.samples.size());
    // A one-dot gap (40 ms) stays far above this bridge, a sine's zero crossings far below.
    std::vector<WavSegment> seg = wav_segments(wav.samples, 0.02f * peak, wav.rate * 10 / 1000);
    for (const WavSegment &s : seg)
        *found += " " + std::to_string((int)ms(s.start, wav.rate)) + "+" +
                  std::to_string((int)ms(s.end - s.start, wav.rate));
    return seg;
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

// Records the presses keyed from lead after the recording starts. A busy machine may starve
// the server now and then (less so where it may run in real time); it says so, and the queue
// grows. A run during which it ran dry is played again, at most three times: the underruns of
// the last run (0: a clean run), or UINT32_MAX when the recording failed.
uint32_t record_keying(PulseServer &server, const std::vector<Press> &presses,
                       std::chrono::milliseconds lead, WavData *wav, std::vector<double> *edges) {
    server.make_realtime(nullptr);
    uint32_t underruns = UINT32_MAX;
    for (int attempt = 0; attempt < 3; attempt++) {
        std::string why;
        bool recorded = server.record_start(&why);
        EXPECT_TRUE(recorded) << why;
        if (!recorded) return UINT32_MAX;
        std::this_thread::sleep_for(lead);
        uint32_t before = sidetone_pulse_underruns();
        {
            ScopedRealtime keyer;
            *edges = key_presses(presses);
        }
        underruns = sidetone_pulse_underruns() - before;
        recorded = wav_read(server.record_stop(), wav, &why);
        EXPECT_TRUE(recorded) << why;
        if (!recorded) return UINT32_MAX;
        if (underruns == 0) break;
    }
    return underruns;
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
    // Only a run the server did not run dry in is judged.
    std::vector<Press> presses = keying();
    std::vector<double> edges;
    WavData wav;
    uint32_t underruns = record_keying(server, presses, 300ms, &wav, &edges);
    sidetone_stop();
    EXPECT_EQ(sidetone_direct(), 0);
    if (underruns == UINT32_MAX) return; // the recording failed, as said above
    if (underruns > 0) GTEST_SKIP() << "the server ran dry in every run on this busy machine";

    float peak = wav_peak(wav.samples, 0, wav.samples.size());
    ASSERT_GT(peak, 0.3f) << "the tone is played at 0.6 of full scale";
    std::string found;
    std::vector<WavSegment> seg = tones(wav, &found);
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

TEST_F(SidetonePulseTest, LongRunsOfFastKeyingPlayWithoutUnderrunOrBrokenSample) {
    audio_up_apart();
    // The server as a desktop runs it: its device thread real-time, the one that serves its
    // clients merely at a raised nice level.
    PulseServer server;
    if (!server.ok()) GTEST_SKIP() << "no PulseAudio server can start here: " << server.why();
    std::string why;
    // Where the process may not have real-time scheduling, a busy machine may starve the
    // stream whatever it does, and the run would measure the machine's load.
    if (!ScopedRealtime().raised())
        GTEST_SKIP() << "no real-time scheduling here, so a busy machine may starve the stream "
                        "whatever it does";
    // A virtual machine's processors are themselves paused now and then, at times for longer
    // than the queue; a run that hit such a pause (the server says it ran dry) is played
    // again, and one of three must come through clean.
    std::vector<Press> presses = random_keying(12, 5);
    std::vector<double> edges;
    WavData wav;
    uint32_t base = 0, highest = 0;
    std::string dry_runs;
    bool clean = false;
    for (int attempt = 0; attempt < 3 && !clean; attempt++) {
        ASSERT_TRUE(server.record_start(&why)) << why;
        ASSERT_EQ(sidetone_start(HZ), 1);
        ASSERT_EQ(sidetone_direct(), 1);
        ASSERT_EQ(thread_policy("sidetone"), SCHED_FIFO)
            << "the stream's thread must take the real-time scheduling the process may have";
        base = sidetone_pulse_target_samples();
        {
            ScopedRealtime keyer;
            edges = key_presses(presses);
        }
        uint32_t underruns = sidetone_pulse_underruns();
        highest = sidetone_pulse_highest_target_samples();
        sidetone_stop();
        ASSERT_TRUE(wav_read(server.record_stop(), &wav, &why)) << why;
        clean = underruns == 0;
        if (!clean) dry_runs += " " + std::to_string(underruns);
    }
    ASSERT_TRUE(clean) << "the server ran dry in every run; underruns per run:" << dry_runs;

    EXPECT_EQ(highest, base) << "the queue grew, yet the server never said it ran dry";
    std::string found;
    std::vector<WavSegment> seg = tones(wav, &found);
    ASSERT_EQ(seg.size(), presses.size()) << "a press lost, split by a gap or merged:" << found;
    size_t broken = 0, misjudged = 0;
    for (size_t i = 0; i < seg.size(); i++) {
        broken += wav_sine_breaks(wav.samples, seg[i].start, seg[i].end, HZ, wav.rate, 0.01f);
        double len = ms(seg[i].end - seg[i].start, wav.rate);
        misjudged += std::fabs(len - (edges[2 * i + 1] - edges[2 * i])) > 15.0;
    }
    EXPECT_EQ(broken, 0u) << "samples lost or repeated (clicks) within the tones";
    EXPECT_EQ(misjudged, 0u) << "tones that do not last as long as their press";
}

TEST_F(SidetonePulseTest, AStarvedStreamGrowsItsQueueByOneRequestAndPlaysOnUnbroken) {
    audio_up_apart();
    PulseServer server;
    if (!server.ok()) GTEST_SKIP() << "no PulseAudio server can start here: " << server.why();
    std::string why;
    server.make_realtime(&why);
    // A hook that sleeps on the stream's own thread, as a stalled thread would.
    static std::atomic<int> stall_ms{0};
    sidetone_set_fill_hook(
        [](const int16_t *, size_t, void *) {
            int ms = stall_ms.exchange(0);
            if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        },
        nullptr);
    LogCapture log;
    ASSERT_EQ(sidetone_start(HZ), 1);
    ASSERT_EQ(sidetone_direct(), 1);
    uint32_t base = sidetone_pulse_target_samples();
    ASSERT_GT(base, 0u);
    sidetone_key(1);
    std::this_thread::sleep_for(300ms);
    // Twice the queue: whatever the machine, the server runs dry.
    int stall = (int)(2000.0 * base / tone_mixer_rate());
    stall_ms = stall;
    std::this_thread::sleep_for(std::chrono::milliseconds(500 + stall));
    uint32_t underruns = sidetone_pulse_underruns();
    uint32_t grown = sidetone_pulse_target_samples();
    // Key changes after the server has run dry still go over the queue.
    for (int i = 0; i < 5; i++) {
        sidetone_key(0);
        std::this_thread::sleep_for(30ms);
        sidetone_key(1);
        std::this_thread::sleep_for(30ms);
    }
    int rewriting = sidetone_pulse_rewriting();
    ASSERT_TRUE(server.record_start(&why)) << why;
    std::this_thread::sleep_for(1000ms);
    sidetone_key(0);
    std::this_thread::sleep_for(200ms);
    sidetone_stop();
    sidetone_set_fill_hook(nullptr, nullptr);
    WavData wav;
    ASSERT_TRUE(wav_read(server.record_stop(), &wav, &why)) << why;

    EXPECT_GE(underruns, 1u) << "a stall twice the queue's length must empty it";
    EXPECT_EQ(rewriting, 1) << "running dry was taken for a server that ignores the rewrite";
    // One request more, not a doubling: a busy moment costs a little memory, not delay.
    EXPECT_GT(grown, base);
    EXPECT_LT(grown, base + base / 2);
    char raised[64];
    snprintf(raised, sizeof raised, "sidetone ran dry, queue raised to %.1f ms",
             1000.0 * grown / wav.rate);
    EXPECT_TRUE(log.contains(raised)) << log.text();
    EXPECT_TRUE(log.contains("sidetone stream closed after ")) << log.text();
    std::string found;
    std::vector<WavSegment> seg = tones(wav, &found);
    ASSERT_EQ(seg.size(), 1u) << "after the stall the tone plays on as one:" << found;
    EXPECT_GT(ms(seg[0].end - seg[0].start, wav.rate), 900.0);
    EXPECT_EQ(wav_sine_breaks(wav.samples, seg[0].start, seg[0].end, HZ, wav.rate, 0.01f), 0u);
}

// The queue is long so that a paused machine does not run it dry; a key change must still be
// heard soon, written over what is queued just past where the server reads, not behind it.
TEST_F(SidetonePulseTest, AKeyChangeIsWrittenOverTheQueueJustPastTheServer) {
    audio_up_apart();
    PulseServer server;
    if (!server.ok()) GTEST_SKIP() << "no PulseAudio server can start here: " << server.why();
    // For each block made: did it sound, and how far ahead of the server's read position.
    static std::mutex lock;
    static std::vector<std::pair<bool, uint32_t>> blocks;
    sidetone_set_fill_hook(
        [](const int16_t *s, size_t n, void *) {
            bool sound = std::any_of(s, s + n, [](int16_t v) { return v != 0; });
            std::lock_guard<std::mutex> hold(lock);
            blocks.push_back({sound, sidetone_pulse_fill_lead_samples()});
        },
        nullptr);
    // The nearest any sounding block was written, over 20 presses, in samples; and in *heard
    // the median time from a key-down to its tone leaving the server's sink, which only a
    // server that honours the rewrite makes shorter than the queue.
    int rewriting = -1;
    auto nearest = [&](const SIDETONE_PULSE_TUNING *tuning, uint32_t *queue, double *heard) {
        std::string why;
        EXPECT_TRUE(server.record_start(&why)) << why;
        sidetone_pulse_set_tuning(tuning);
        EXPECT_EQ(sidetone_start(HZ), 1);
        sidetone_pulse_set_tuning(nullptr);
        EXPECT_EQ(sidetone_direct(), 1);
        *queue = sidetone_pulse_target_samples();
        uint32_t worst = 0;
        std::vector<Clock::time_point> downs;
        for (int press = 0; press < 20; press++) {
            std::this_thread::sleep_for(60ms);
            {
                std::lock_guard<std::mutex> hold(lock);
                blocks.clear();
            }
            downs.push_back(Clock::now());
            sidetone_key(1);
            std::this_thread::sleep_for(30ms);
            std::lock_guard<std::mutex> hold(lock);
            uint32_t near = UINT32_MAX;
            for (const auto &b : blocks)
                if (b.first) near = std::min(near, b.second);
            worst = std::max(worst, near);
            sidetone_key(0);
        }
        std::this_thread::sleep_for(150ms);
        rewriting = sidetone_pulse_rewriting();
        sidetone_stop();
        WavData wav;
        EXPECT_TRUE(wav_read(server.record_stop(), &wav, &why)) << why;
        std::string found;
        std::vector<WavSegment> seg = tones(wav, &found);
        EXPECT_EQ(seg.size(), downs.size()) << "a press lost or split:" << found;
        std::vector<double> delays;
        for (size_t i = 0; i < std::min(seg.size(), downs.size()); i++) {
            Clock::time_point at;
            if (server.sample_time(seg[i].start, &at))
                delays.push_back(std::chrono::duration<double, std::milli>(at - downs[i]).count());
        }
        std::sort(delays.begin(), delays.end());
        *heard = delays.empty() ? -1 : delays[delays.size() / 2];
        return worst;
    };
    uint32_t queue = 0;
    double rewritten_heard = 0, appended_heard = 0;
    uint32_t rewritten = nearest(nullptr, &queue, &rewritten_heard);
    EXPECT_EQ(rewriting, 1) << "a server that honours the rewrite was taken for one that does not";
    SIDETONE_PULSE_TUNING appended{};
    appended.no_rewrite = 1;
    uint32_t behind_queue_len = 0;
    uint32_t appended_near = nearest(&appended, &behind_queue_len, &appended_heard);
    sidetone_set_fill_hook(nullptr, nullptr);
    ASSERT_GT(queue, 0u);
    // Within a few requests of the server, against the whole queue when only appended.
    EXPECT_LT(rewritten, queue / 4) << "a key change waited behind the queue";
    EXPECT_GT(appended_near, queue / 2) << "the comparison run must show the queue's delay";
    // What the sink let out: the same order, not merely the stream's own estimate. Both runs
    // share the server's own delays, so their difference is the queue the rewrite skipped.
    double queue_ms = ms(queue, tone_mixer_rate());
    ASSERT_GE(rewritten_heard, 0.0);
    ASSERT_GE(appended_heard, 0.0);
    EXPECT_LT(rewritten_heard, appended_heard - queue_ms / 2)
        << "the server played the queue as first written: it ignored the rewrite ("
        << rewritten_heard << " ms against " << appended_heard << " ms appended)";
}

// A server that put rewrites after the queue would sound every key change the queue's length
// late: the stream must see it in the server's own count and go back to a short queue.
TEST_F(SidetonePulseTest, AServerThatPutsRewritesAfterTheQueueIsFoundAndTheQueueCutShort) {
    audio_up_apart();
    PulseServer server;
    if (!server.ok()) GTEST_SKIP() << "no PulseAudio server can start here: " << server.why();
    LogCapture log;
    SIDETONE_PULSE_TUNING misplaced{};
    misplaced.rewrite_appended = 1;
    sidetone_pulse_set_tuning(&misplaced);
    ASSERT_EQ(sidetone_start(HZ), 1);
    sidetone_pulse_set_tuning(nullptr);
    ASSERT_EQ(sidetone_direct(), 1);
    EXPECT_EQ(sidetone_pulse_rewriting(), 1);
    uint32_t long_queue = sidetone_pulse_target_samples();
    // Presses until it is found (the first answer of the server tells), at most 40.
    int presses = 0;
    for (; presses < 40 && sidetone_pulse_rewriting(); presses++) {
        sidetone_key(1);
        std::this_thread::sleep_for(50ms);
        sidetone_key(0);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(sidetone_pulse_rewriting(), 0) << "40 misplaced rewrites went unnoticed";
    EXPECT_EQ(sidetone_pulse_target_samples() * 10, long_queue) << "the queue was not cut";
    EXPECT_TRUE(log.contains("the sound server plays the sidetone's key changes late"))
        << log.text();
    // From then on the keying plays whole, appended to the short queue. A short queue is the
    // easiest to starve on a busy machine: only a run the server did not run dry in is judged.
    std::vector<Press> after = keying();
    WavData wav;
    std::vector<double> edges;
    uint32_t underruns = record_keying(server, after, 200ms, &wav, &edges);
    sidetone_stop();
    if (underruns == UINT32_MAX) return; // the recording failed, as said above
    if (underruns > 0) GTEST_SKIP() << "the server ran dry in every run on this busy machine";
    std::string found;
    std::vector<WavSegment> seg = tones(wav, &found);
    // What the sink still held of the presses before the recording began is not judged.
    seg.erase(std::remove_if(seg.begin(), seg.end(),
                             [&](const WavSegment &t) { return ms(t.start, wav.rate) < 150; }),
              seg.end());
    EXPECT_EQ(seg.size(), after.size()) << "after the cut a press was lost or split:" << found;
    for (const WavSegment &t : seg)
        EXPECT_EQ(wav_sine_breaks(wav.samples, t.start, t.end, HZ, wav.rate, 0.01f), 0u);
}
