// tests/morse/tone_detect_test.cpp: the tone detector with the decoder behind it, on generated
// recordings of known text: clean at every speed, tone and rate, in white noise, fading, beside
// a weaker station, and without any Morse at all; and the edges it hands on.
#include "morse/tone_detect.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/morse_audio.hpp"

namespace {

AUDIO_STATION station(const char *text, double wpm, double hz) {
    AUDIO_STATION st;
    st.text = text;
    st.wpm = wpm;
    st.hz = hz;
    return st;
}

// Edges of a clean signal: one per change, in order, none earlier than the time the detector
// had already promised, and each within a few milliseconds of the sound's own change.
struct EdgeLog {
    std::vector<double> t;
    std::vector<int> down;
    double promised = 0;
    bool early = false;
};

void log_edge(double t_ms, int down, void *user) {
    EdgeLog *log = (EdgeLog *)user;
    if (t_ms < log->promised) log->early = true;
    log->t.push_back(t_ms);
    log->down.push_back(down);
}

TEST(ToneDetectTest, CleanSignalsReadExactlyFrom5To40WpmAndTones400To1000Hz) {
    const uint32_t rates[] = {8000, 44100, 48000, 11025};
    int k = 0;
    for (double wpm : {5.0, 12.0, 25.0, 40.0}) {
        for (double hz : {400.0, 700.0, 1000.0}) {
            AUDIO_SCENE scene;
            scene.rate = rates[k++ % 4];
            AUDIO_STATION st = station("CQ DE F4ABC 73", wpm, hz);
            AUDIO_DECODED d = audio_decode(audio_render(scene, {st}), scene.rate);
            EXPECT_EQ(d.text, st.text) << wpm << " WPM at " << hz << " Hz, " << scene.rate;
            EXPECT_EQ(d.messages, 1u);
            EXPECT_NEAR(d.hz, hz, 5.0) << wpm << " WPM";
        }
    }
}

TEST(ToneDetectTest, WhiteNoiseDownTo6DbInA500HzBandLeavesTheTextWhole) {
    int seed = 1;
    for (double snr : {20.0, 10.0, 6.0}) {
        for (double wpm : {12.0, 20.0, 30.0}) {
            AUDIO_SCENE scene;
            scene.snr_db = snr;
            scene.seed = (uint64_t)seed++;
            AUDIO_STATION st = station("THE QUICK BROWN FOX 1234", wpm, 550 + 10 * seed);
            AUDIO_DECODED d = audio_decode(audio_render(scene, {st}), scene.rate);
            EXPECT_EQ(d.text, st.text) << snr << " dB at " << wpm << " WPM";
        }
    }
}

// A recording of one station: its text, speed, pitch and the noise's seed.
namespace {
struct Case {
    const char *text;
    double wpm, hz;
    uint64_t seed;
};
} // namespace

// Recordings at +3 dB in a 500 Hz band, among them ones where noise early in the message once
// cut the first marks into specks and the whole message was read as dashes: at most one
// character in a message may go wrong, and no more than two in all.
TEST(ToneDetectTest, At3DbInA500HzBandEveryMessageComesThrough) {
    const Case cases[] = {
        {"THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG", 12, 400, 1000},
        {"THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG", 30, 400, 1000},
        {"RST 599 QTH PARIS NAME JEAN HW? BK", 30, 1000, 3014},
        {"MEET AT 1930 NEAR THE OLD BRIDGE, BRING 2 LAMPS", 12, 600, 2007},
        {"SOS SOS WE NEED WATER AND A DOCTOR", 20, 850, 1009},
        {"PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS", 20, 700, 3017},
    };
    size_t errors = 0;
    for (const Case &c : cases) {
        AUDIO_SCENE scene;
        scene.snr_db = 3;
        scene.seed = c.seed;
        AUDIO_STATION st = station(c.text, c.wpm, c.hz);
        AUDIO_DECODED d = audio_decode(audio_render(scene, {st}), scene.rate);
        size_t e = morse_text_distance(st.text, d.text);
        EXPECT_LE(e, 1u) << c.wpm << " WPM, seed " << c.seed << ": " << d.text;
        EXPECT_EQ(d.messages, 1u) << c.wpm << " WPM, seed " << c.seed;
        errors += e;
    }
    EXPECT_LE(errors, 2u);
}

// Edges of noisy recordings: no mark or space handed on is shorter than a quarter of a unit
// (such specks are what teach a decoder a unit of a few milliseconds).
TEST(ToneDetectTest, InNoiseNoRunHandedOnIsAMereSpeck) {
    const Case cases[] = {
        {"THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG", 12, 400, 1000},
        {"RST 599 QTH PARIS NAME JEAN HW? BK", 30, 1000, 3014},
    };
    for (const Case &c : cases) {
        double wpm = c.wpm;
        AUDIO_SCENE scene;
        scene.snr_db = 3;
        scene.seed = c.seed;
        AUDIO_STATION st = station(c.text, c.wpm, c.hz);
        std::vector<float> x = audio_render(scene, {st});
        EdgeLog log;
        TONE_DETECT_CONFIG cfg;
        tone_detect_config_default(&cfg);
        cfg.on_edge = log_edge;
        cfg.user = &log;
        TONE_DETECT *td = tone_detect_new(&cfg);
        ASSERT_NE(td, nullptr);
        tone_detect_process(td, x.data(), x.size());
        tone_detect_flush(td);
        tone_detect_free(&td);
        ASSERT_GT(log.t.size(), 40u) << wpm << " WPM";
        double unit = 1200.0 / wpm;
        for (size_t i = 1; i < log.t.size(); i++) {
            EXPECT_GE(log.t[i] - log.t[i - 1], 0.25 * unit) << wpm << " WPM, edge " << i;
        }
    }
}

// The spectrum finds a tone to within a part of its 31 Hz bins; the tone followed then settles
// on the pitch heard, which slow Morse, averaged over a long time, needs.
TEST(ToneDetectTest, TheToneFollowedSettlesOnThePitchHeard) {
    int seed = 0;
    for (double hz : {515.0, 684.0, 716.0, 953.0}) {
        AUDIO_SCENE scene;
        scene.snr_db = 6;
        scene.seed = (uint64_t)++seed;
        AUDIO_STATION st = station("PARIS PARIS PARIS PARIS", 10, hz);
        AUDIO_DECODED d = audio_decode(audio_render(scene, {st}), scene.rate);
        EXPECT_EQ(d.text, st.text) << hz << " Hz";
        EXPECT_NEAR(d.hz, hz, 3.0);
    }
}

// A contact: one station, six seconds of silence (its message ends), then the other on the
// same tone at half or twice its speed. Each message reads whole.
TEST(ToneDetectTest, AnotherSpeedOnTheSameToneAfterAPauseIsLearntAgain) {
    for (auto [first, second] : {std::pair{12.0, 24.0}, std::pair{30.0, 15.0}}) {
        AUDIO_SCENE scene;
        scene.snr_db = 6;
        AUDIO_STATION a = station("CQ CQ DE F4ABC K", first, 700);
        AUDIO_STATION b = station("F4ABC DE G3XYZ UR RST 599 K", second, 700);
        b.start_ms = audio_station_end_ms(a) + 6000;
        AUDIO_DECODED d = audio_decode(audio_render(scene, {a, b}), scene.rate);
        EXPECT_EQ(d.text, a.text + " " + b.text) << first << " then " << second << " WPM";
        EXPECT_EQ(d.messages, 2u);
    }
}

TEST(ToneDetectTest, SlowFadingOf10DbIsFollowed) {
    AUDIO_SCENE scene;
    scene.snr_db = 20;
    scene.fade_depth = 0.7; // the amplitude swings down to 0.3
    scene.fade_period_ms = 7000;
    AUDIO_STATION st = station("SOS SOS DE TEST STATION QTH PARIS", 18, 650);
    AUDIO_DECODED d = audio_decode(audio_render(scene, {st}), scene.rate);
    EXPECT_EQ(d.text, st.text);
}

TEST(ToneDetectTest, AWeakerStation200HzAwayIsNotRead) {
    for (double offset : {200.0, -200.0}) {
        AUDIO_SCENE scene;
        scene.snr_db = 20;
        AUDIO_STATION strong = station("PARIS PARIS PARIS", 20, 700);
        AUDIO_STATION weak = station("EEEEE TTTTT OOOOO", 24, 700 + offset);
        weak.amplitude = strong.amplitude / 2; // 6 dB down
        weak.start_ms = 1300;
        AUDIO_DECODED d = audio_decode(audio_render(scene, {strong, weak}), scene.rate);
        EXPECT_EQ(d.text, strong.text) << "second station at " << offset << " Hz";
        EXPECT_NEAR(d.hz, 700, 5.0);
    }
}

TEST(ToneDetectTest, NoiseOrSilenceAloneGiveNoMessage) {
    AUDIO_SCENE scene;
    scene.length_ms = 12000;
    scene.snr_db = 0;
    AUDIO_STATION nothing = station("", 20, 700); // sets the noise level only
    AUDIO_DECODED d = audio_decode(audio_render(scene, {nothing}), scene.rate);
    EXPECT_EQ(d.messages, 0u) << d.text;
    std::vector<float> silence(8000 * 5, 0.0f);
    EXPECT_EQ(audio_decode(silence, 8000).messages, 0u);
}

TEST(ToneDetectTest, EdgesFollowTheSoundAndNeverPrecedeThePromisedTime) {
    AUDIO_SCENE scene;
    scene.rate = 48000;
    AUDIO_STATION st = station("MORSE", 15, 800);
    std::vector<float> x = audio_render(scene, {st});
    std::vector<double> truth;
    double t = st.start_ms;
    for (const RUN &r : audio_station_runs(st)) {
        if (r.on) {
            truth.push_back(t);
            truth.push_back(t + r.ms);
        }
        t += r.ms;
    }
    EdgeLog log;
    TONE_DETECT_CONFIG cfg;
    tone_detect_config_default(&cfg);
    cfg.rate = scene.rate;
    cfg.on_edge = log_edge;
    cfg.user = &log;
    TONE_DETECT *td = tone_detect_new(&cfg);
    ASSERT_NE(td, nullptr);
    for (size_t i = 0; i < x.size(); i += 480) {
        tone_detect_process(td, x.data() + i, std::min<size_t>(480, x.size() - i));
        double now = tone_detect_time_ms(td);
        EXPECT_GE(now, log.promised);
        log.promised = now;
    }
    tone_detect_flush(td);
    EXPECT_FALSE(log.early);
    ASSERT_EQ(log.t.size(), truth.size());
    // The filters and the averaging over six tenths of a unit (48 ms here) delay every edge, the
    // end of a mark a little more than its start; no edge comes before the sound's own change, and
    // every mark keeps its length to within a quarter of a unit or so.
    for (size_t i = 0; i < truth.size(); i++) {
        EXPECT_EQ(log.down[i], i % 2 == 0 ? 1 : 0);
        EXPECT_GE(log.t[i], truth[i]) << "edge " << i;
        EXPECT_LE(log.t[i], truth[i] + 70.0) << "edge " << i;
        if (i % 2) {
            EXPECT_NEAR(log.t[i] - log.t[i - 1], truth[i] - truth[i - 1], 35.0) << "mark " << i;
        }
    }
    TONE_STATUS st_now;
    tone_detect_status(td, &st_now);
    EXPECT_EQ(st_now.locked, 1);
    EXPECT_NEAR(st_now.hz, 800, 5.0);
    EXPECT_GT(st_now.signal_db - st_now.noise_db, 30.0f);
    tone_detect_free(&td);
    EXPECT_EQ(td, nullptr);
}

TEST(ToneDetectTest, AFixedToneIsReadEvenBesideALouderOne) {
    AUDIO_SCENE scene;
    AUDIO_STATION loud = station("EEEE EEEE", 20, 500);
    AUDIO_STATION wanted = station("HELLO", 20, 900);
    wanted.amplitude = loud.amplitude / 4;
    std::vector<float> x = audio_render(scene, {loud, wanted});
    DECODER_CONFIG dc;
    decoder_config_default(&dc);
    MORSE_DECODER *dec = decoder_new(&dc);
    TONE_DETECT_CONFIG cfg;
    tone_detect_config_default(&cfg);
    cfg.on_edge = tone_detect_edge_to_decoder;
    cfg.user = dec;
    TONE_DETECT *td = tone_detect_new(&cfg);
    tone_detect_set_fixed_hz(td, 900);
    tone_detect_process(td, x.data(), x.size());
    tone_detect_flush(td);
    tone_detect_sync_decoder(td, dec);
    DECODED_MESSAGE m{};
    ASSERT_EQ(decoder_finish(dec, &m), 1);
    EXPECT_STREQ(m.text, "HELLO");
    tone_detect_free(&td);
    decoder_free(&dec);
}

TEST(ToneDetectTest, ARateTooLowForTheTonesIsRefused) {
    TONE_DETECT_CONFIG cfg;
    tone_detect_config_default(&cfg);
    cfg.rate = 1000;
    EXPECT_EQ(tone_detect_new(&cfg), nullptr);
    TONE_DETECT *td = tone_detect_new(nullptr); // the defaults
    ASSERT_NE(td, nullptr);
    tone_detect_free(&td);
}

} // namespace
