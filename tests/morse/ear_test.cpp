// tests/morse/ear_test.cpp: the reader of whole recordings on the signals that broke the
// streaming path: Farnsworth spacing, two stations with their own speeds, a recording that
// starts at its first tone, hand keying, static crashes, faint and loud levels, and noise alone.
#include "morse/ear.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/support/morse_audio.hpp"

namespace {

struct Heard {
    std::vector<std::string> texts;
    std::vector<EAR_MESSAGE> messages; // text pointers cleared: they live only in the callback
    std::string joined() const {
        std::string s;
        for (const std::string &t : texts) s += (s.empty() ? "" : " ") + t;
        return s;
    }
};

Heard hear(const std::vector<float> &x, uint32_t rate, float fixed_hz = 0) {
    EAR_CONFIG c;
    ear_config_default(&c);
    c.rate = rate;
    c.fixed_hz = fixed_hz;
    EAR *ear = ear_new(&c);
    Heard h;
    EXPECT_NE(ear, nullptr);
    if (!ear) return h;
    // In pieces, as a file is read.
    for (size_t i = 0; i < x.size(); i += 4096)
        EXPECT_EQ(ear_feed(ear, x.data() + i, std::min<size_t>(4096, x.size() - i)), 0);
    int n = ear_finish(
        ear,
        [](const EAR_MESSAGE *m, void *user) {
            Heard *h = (Heard *)user;
            h->texts.push_back(m->text);
            EAR_MESSAGE copy = *m;
            copy.text = copy.symbols = nullptr;
            h->messages.push_back(copy);
        },
        &h);
    EXPECT_EQ(n, (int)h.texts.size());
    ear_free(&ear);
    EXPECT_EQ(ear, nullptr);
    return h;
}

std::vector<RUN> keyed(const char *text, const HAND_MODEL &m) {
    MORSE_TIMING t{100, 3, 3, 7};
    MORSE_SEQUENCE *seq = morse_sequence_build(text, &t);
    std::vector<RUN> runs = hand_runs(seq, m);
    morse_sequence_free(&seq);
    return runs;
}

double length_ms(const std::vector<RUN> &runs) {
    double t = 0;
    for (const RUN &r : runs) t += r.ms;
    return t;
}

void add_noise(std::vector<float> &x, uint32_t rate, double amplitude, double snr_db,
               uint64_t seed) {
    double band = amplitude * amplitude / 2 / pow(10.0, snr_db / 10.0);
    std::normal_distribution<double> g(0.0, sqrt(band * (rate / 2.0) / 500.0));
    std::mt19937_64 rng(seed);
    for (float &v : x) v += (float)g(rng);
}

// The runs keyed at 8 kHz, a steady tone from start_ms with a second and a half after, in
// noise snr_db below it (in a 500 Hz band).
std::vector<float> keyed_sound(const std::vector<RUN> &runs, double start_ms, double hz, double amp,
                               double ramp_ms, double snr_db, uint64_t seed) {
    std::vector<float> x((size_t)((length_ms(runs) + 1500) * 8), 0.0f);
    audio_add_runs(x, 8000, runs, start_ms, hz, amp, ramp_ms, [](double) { return 1.0; });
    add_noise(x, 8000, amp, snr_db, seed);
    return x;
}

} // namespace

// Letters at 20 WPM spaced for 8 and for 5: every letter gap was once read as a word gap.
TEST(EarTest, FarnsworthSpacingKeepsTheLettersOfAWordTogether) {
    for (double eff : {8.0, 5.0}) {
        HAND_MODEL m;
        m.unit_ms = 60;
        farnsworth_gaps(20, eff, &m.letter_units, &m.word_units);
        std::vector<RUN> runs = keyed("FIVE BOXING WIZARDS", m);
        std::vector<float> x = keyed_sound(runs, 700, 650, 0.4, 4, 15, 3);
        Heard h = hear(x, 8000);
        EXPECT_EQ(h.joined(), "FIVE BOXING WIZARDS") << "effective " << eff << " WPM";
        ASSERT_EQ(h.messages.size(), 1u);
        EXPECT_NEAR(h.messages[0].unit_ms, 60, 6) << "the letters' own speed";
    }
}

// Two stations one after the other: each its own message, in order, with its own speed, tone
// and level, each starting where it starts.
TEST(EarTest, TwoStationsComeOutInOrderEachWithItsOwnSpeedToneAndLevel) {
    AUDIO_STATION a{"CQ DE F4LKY K", 16, 600, 0.5, 500, 5};
    AUDIO_STATION b{"F4LKY DE DL2XYZ TNX 599", 30, 820, 0.05, 0, 2};
    b.start_ms = audio_station_end_ms(a) + 2000;
    AUDIO_SCENE scene;
    scene.snr_db = 25;
    Heard h = hear(audio_render(scene, {a, b}), 8000);
    ASSERT_EQ(h.texts.size(), 2u) << h.joined();
    EXPECT_EQ(h.texts[0], a.text);
    EXPECT_EQ(h.texts[1], b.text);
    EXPECT_NEAR(h.messages[0].unit_ms, 1200.0 / 16, 4);
    EXPECT_NEAR(h.messages[1].unit_ms, 1200.0 / 30, 3);
    EXPECT_NEAR(h.messages[0].tone_hz, 600, 10);
    EXPECT_NEAR(h.messages[1].tone_hz, 820, 10);
    // Each starts where its first tone rises: within its ramp and the millisecond it is read by.
    EXPECT_NEAR(h.messages[0].start_ms, a.start_ms, 4);
    EXPECT_NEAR(h.messages[1].start_ms, b.start_ms, 4);
    EXPECT_NEAR(h.messages[0].level_db - h.messages[1].level_db, 20, 3);
}

// An operator who stops for seconds between words, short of ending the message: the pause is
// one word gap, and the word gaps on either side of it stay word gaps.
TEST(EarTest, APauseOfSecondsInsideAMessageKeepsItsWordGaps) {
    AUDIO_STATION a{"CQ DE F4LKY", 20, 650, 0.3, 0, 4};
    AUDIO_STATION b{"OK 73 TU", 20, 650, 0.3, 0, 4};
    b.start_ms = audio_station_end_ms(a) + 2500;
    AUDIO_SCENE scene;
    scene.snr_db = 30;
    EXPECT_EQ(hear(audio_render(scene, {a, b}), 8000).joined(), "CQ DE F4LKY OK 73 TU");
}

// The first mark at the first sample, at 48 kHz: the first letter counts like any other, and
// a speed learnt from the whole message holds from its start (slow, fast, soft or clicking).
// A mark heard whole from the first sample, or up to the last, is read by its length.
TEST(EarTest, ARecordingStartingAtItsFirstToneReadsFromItsFirstLetter) {
    struct Case {
        double wpm, ramp_ms, amplitude, tail_ms;
        const char *text;
    } cases[] = {{5, 10, 0.5, 600, "PARIS 73 ES GL"},
                 {60, 0.5, 0.003, 600, "PARIS 73 ES GL"},
                 {25, 5, 1.0, 600, "PARIS 73 ES GL"},
                 {15, 5, 0.5, 0, "THE PARIS 73 ES OK"},
                 {15, 5, 0.5, 0, "RST 73 ES GM"}};
    for (const Case &c : cases) {
        AUDIO_STATION st{c.text, c.wpm, 740, c.amplitude, 0, c.ramp_ms};
        AUDIO_SCENE scene;
        scene.rate = 48000;
        scene.tail_ms = c.tail_ms;
        Heard h = hear(audio_render(scene, {st}), 48000);
        EXPECT_EQ(h.joined(), st.text) << c.wpm << " WPM";
        if (h.messages.size() == 1) {
            EXPECT_NEAR(h.messages[0].start_ms, 0, 5) << c.wpm << " WPM";
            EXPECT_NEAR(h.messages[0].unit_ms, 1200.0 / c.wpm, 0.06 * 1200.0 / c.wpm);
        }
    }
}

// An operator's own weight and spacing, jitter and a drifting speed, with noise: read as the
// key decoder reads the same timing.
TEST(EarTest, HandKeyingWithJitterAndDriftReadsRight) {
    HAND_MODEL m;
    m.unit_ms = 55;
    m.sigma = 0.08;
    m.dash_units = 3.5;
    m.sym_gap_units = 0.85;
    m.letter_units = 3.3;
    m.word_units = 7.5;
    m.drift = 0.12;
    m.seed = 7;
    const char *text = "QTH NEAR LYON NAME ANNE";
    std::vector<RUN> runs = keyed(text, m);
    std::vector<float> x = keyed_sound(runs, 600, 700, 0.3, 5, 12, 9);
    EXPECT_EQ(hear(x, 8000).joined(), text);
}

// Letter and word gaps close together (3.6 and 5.4 units), and halfway through the keying turns
// light: every mark a third of a unit shorter, every gap as much longer, as a weight knob or a
// noisier second half makes them read. Against the dots alone the letter gaps of the light half
// grew into the word gaps of the first ("L AZY").
TEST(EarTest, WordGapsHoldWhenTheKeyingTurnsLightHalfwayThrough) {
    HAND_MODEL m;
    m.unit_ms = 50;
    m.letter_units = 3.6;
    m.word_units = 5.4;
    const char *text = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG";
    std::vector<RUN> runs = keyed(text, m);
    ASSERT_EQ(runs[0].on, 1);
    for (size_t i = runs.size() / 4 * 2; i + 1 < runs.size(); i += 2) {
        runs[i].ms -= m.unit_ms / 3;
        runs[i + 1].ms += m.unit_ms / 3;
    }
    std::vector<float> x = keyed_sound(runs, 600, 700, 0.3, 4, 20, 5);
    EXPECT_EQ(hear(x, 8000).joined(), text);
}

// A machine's marks are read closely, so that noise cannot pass for them; but an odd one still
// reads as what it is: the closing K's last dash held for five units, clean, is a dash, not the
// dot of the more frequent D.
TEST(EarTest, ADashHeldLongAmongClosePacedElementsIsStillADash) {
    HAND_MODEL m;
    m.unit_ms = 48;
    const char *text = "CQ DE F4LKY F4LKY K";
    std::vector<RUN> runs = keyed(text, m);
    ASSERT_EQ(runs.back().on, 1);
    runs.back().ms = 5 * m.unit_ms;
    std::vector<float> x = keyed_sound(runs, 600, 700, 0.3, 4, 20, 5);
    EXPECT_EQ(hear(x, 8000).joined(), text);
}

// A hand's dash keyed short, under two of its dots, in a rare letter: clean, its length tells
// it from a dot as the key decoder's threshold does, and the letter's odds do not make the
// frequent one of it (J, K once read as P, D).
TEST(EarTest, AShortDashInARareLetterReadsAsADashWhenClean) {
    HAND_MODEL m;
    m.unit_ms = 40;
    const char *text = "JUMPS QUICK OK";
    std::vector<RUN> runs = keyed(text, m);
    // The J's last dash and the closing K's last one.
    int marks = 0;
    for (RUN &r : runs)
        if (r.on && ++marks == 4) r.ms = 1.85 * m.unit_ms;
    ASSERT_EQ(runs.back().on, 1);
    runs.back().ms = 1.85 * m.unit_ms;
    std::vector<float> x = keyed_sound(runs, 600, 700, 0.3, 4, 30, 5);
    EXPECT_EQ(hear(x, 8000).joined(), text);
}

// A 40 ms crash of static 30 dB above the signal costs at most the letter it falls on; the
// levels that follow are the signal's own (one loud sample once deafened the ear for seconds).
TEST(EarTest, AStaticCrashCostsAtMostTheLetterItFallsOn) {
    AUDIO_STATION st{"THE QUICK BROWN FOX JUMPS", 20, 700, 0.2, 800, 5};
    AUDIO_SCENE scene;
    scene.snr_db = 15;
    std::vector<float> x = audio_render(scene, {st});
    std::mt19937_64 rng(4);
    audio_add_crash(x, 8000, 0.2, 30, 3000, 40, rng);
    x[6000 * 8] = 1.0f; // a single full-scale click
    std::string got = hear(x, 8000).joined();
    EXPECT_LE(morse_text_distance(st.text, got), 2u) << got;
}

// Crashes only 10 dB over the tone, too weak to stand out at it, but lifting the whole band, in
// the middle of every word gap: each was once read as an E joined to the word before.
TEST(EarTest, AWeakCrashAcrossTheBandInAWordGapCostsNothing) {
    AUDIO_STATION st{"FIVE BOXING WIZARDS JUMP QUICKLY", 25, 700, 0.3, 800, 4};
    AUDIO_SCENE scene;
    scene.snr_db = 20;
    std::vector<float> x = audio_render(scene, {st});
    std::mt19937_64 rng(9);
    double t = st.start_ms;
    int crashes = 0;
    for (const RUN &r : audio_station_runs(st)) {
        if (!r.on && r.ms > 5 * 1200.0 / st.wpm) {
            audio_add_crash(x, 8000, 0.3, 10, t + 0.5 * r.ms - 20, 40, rng);
            crashes++;
        }
        t += r.ms;
    }
    ASSERT_EQ(crashes, 4);
    EXPECT_EQ(hear(x, 8000).joined(), st.text);
}

// A faint station (-32 dBFS): a full-scale click in the middle of its first message costs at
// most the letter it falls on, a 50 ms crash 30 dB above it in a word gap of its second costs
// nothing (it was once read as an E), the message after them reads whole, and no crash lifts
// the level a message is given.
TEST(EarTest, AFullScaleClickCostsItsLetterAndTheNextMessageStillReads) {
    const char *texts[] = {"CQ CQ DE F4LKY F4LKY K", "RST 579 QTH NEAR LYON", "NAME ANNE HW? BK"};
    std::vector<AUDIO_STATION> sts;
    double t = 800;
    for (const char *text : texts) {
        sts.push_back(AUDIO_STATION{text, 22, 700, 0.025, t, 4});
        t += length_ms(audio_station_runs(sts.back())) + 6000;
    }
    AUDIO_SCENE scene;
    scene.snr_db = 12;
    std::vector<float> x = audio_render(scene, sts);
    double mid = sts[0].start_ms + 0.5 * length_ms(audio_station_runs(sts[0]));
    x[(size_t)(mid * 8)] = 1.0f;
    std::mt19937_64 rng(7);
    // In the middle of the second message's first word gap.
    double at = sts[1].start_ms;
    for (const RUN &r : audio_station_runs(sts[1])) {
        if (!r.on && r.ms > 5 * 1200.0 / 22) {
            at += 0.5 * r.ms - 25;
            break;
        }
        at += r.ms;
    }
    audio_add_crash(x, 8000, 0.025, 30, at, 50, rng);
    Heard h = hear(x, 8000);
    ASSERT_EQ(h.texts.size(), 3u) << h.joined();
    EXPECT_LE(morse_text_distance(texts[0], h.texts[0]), 1u) << h.texts[0];
    EXPECT_EQ(h.texts[1], texts[1]) << "a crash in a word gap is no letter";
    EXPECT_EQ(h.texts[2], texts[2]);
    for (const EAR_MESSAGE &m : h.messages)
        EXPECT_NEAR(m.level_db, h.messages[2].level_db, 1.5) << "the crashes lift no level";
}

// Machine keying in noise close to the limit, at the key-down SNR of a 500 Hz band: at +3 dB
// every letter, at 0 dB and at -3 dB (where a threshold on the tone's level loses one letter in
// five) at least nineteen in twenty, the letters mended by the reading over the table's codes;
// held to the keyer's grid, all but one at 35 WPM and 0 dB and all but three at 25 WPM and -3 dB
// (each edge free to wander, they lost three and eight).
TEST(EarTest, NoiseNearTheLimitReadsThroughTheMatchedFilter) {
    const char *texts[] = {"THE QUICK BROWN FOX JUMPS OVER 5 LAZY DOGS",
                           "RST 579 QTH NEAR LYON NAME ANNE HW? BK"};
    struct Case {
        double snr_db, wpm;
        size_t most_errors; // over both texts, 73 characters
    } cases[] = {{3, 25, 0}, {0, 25, 4}, {-3, 15, 4}, {0, 35, 1}, {-3, 25, 3}};
    for (const Case &c : cases) {
        size_t errors = 0;
        std::string got;
        for (int i = 0; i < 2; i++) {
            AUDIO_STATION st{texts[i], c.wpm, 700, 0.3, 800, 4};
            AUDIO_SCENE scene;
            scene.snr_db = c.snr_db;
            scene.seed = 21 + (uint64_t)i;
            std::string heard = hear(audio_render(scene, {st}), 8000).joined();
            errors += morse_text_distance(st.text, heard);
            got += heard + " | ";
        }
        EXPECT_LE(errors, c.most_errors) << c.snr_db << " dB, " << c.wpm << " WPM: " << got;
    }
}

// At 35 WPM and -3 dB neither the marks' lengths nor the readings' scores tell the speed
// (readings at twice the unit, or half, fit as well, and each of these four messages was read
// at one of them, some thirty letters lost in each), but a machine's edges keep one lattice of
// two units across the message: each is read at its own unit, most of its letters right.
TEST(EarTest, AMachinesSpeedIsFoundFromItsGridDeepInNoise) {
    const char *texts[] = {"PSE QSL VIA BUREAU 73 ES GL", "CQ CQ DE F4LKY F4LKY K",
                           "RST 579 QTH NEAR LYON NAME ANNE HW? BK"};
    size_t errors = 0;
    std::string got;
    for (uint64_t seed : {8, 13, 20, 24}) {
        AUDIO_STATION st{texts[seed % 3], 35, 700, 0.3, 800, 4};
        AUDIO_SCENE scene;
        scene.snr_db = -3;
        scene.seed = 40 + seed;
        Heard h = hear(audio_render(scene, {st}), 8000);
        ASSERT_EQ(h.messages.size(), 1u) << h.joined();
        EXPECT_NEAR(h.messages[0].unit_ms, 1200.0 / 35, 2.0) << h.joined();
        errors += morse_text_distance(st.text, h.joined());
        got += h.joined() + " | ";
    }
    EXPECT_LE(errors, 20u) << "of 125 characters: " << got;
}

// Read three times too slow in deep noise, a message's few long marks explained the sound a
// little better than the right unit's many, each of which pays for its mark and its lengths:
// the slow reading ran the letters together (GZFV55I). The right speed is read.
TEST(EarTest, AReadingTooSlowThatRunsLettersTogetherLosesToTheRightSpeed) {
    AUDIO_STATION st{"CQ CQ DE F4LKY F4LKY K", 25, 752.2, 0.3, 800, 4};
    AUDIO_SCENE scene;
    scene.snr_db = -3;
    scene.seed = 114;
    std::string heard = hear(audio_render(scene, {st}), 8000).joined();
    EXPECT_LE(morse_text_distance(st.text, heard), 6u) << heard;
}

// A transmitter's oscillator runs on while it is keyed, and its marks share one phase: the
// reading counts on it at -3 dB at 25 WPM, where a mark scored at any phase lets noise pass for
// dots. A keyer that starts every element at a phase of its own must not be read as if its
// marks shared one: at 0 dB it reads as well as the other.
TEST(EarTest, MarksSharingOnePhaseReadDeeperInNoiseAndOnesThatDoNotStillRead) {
    const char *texts[] = {"THE QUICK BROWN FOX JUMPS OVER 5 LAZY DOGS",
                           "RST 579 QTH NEAR LYON NAME ANNE HW? BK"};
    struct Case {
        double snr_db;
        bool own_phases;
        size_t most_errors; // over both texts, 73 characters
    } cases[] = {{-3, false, 12}, {0, true, 3}};
    for (const Case &c : cases) {
        size_t errors = 0;
        std::string got;
        for (int i = 0; i < 2; i++) {
            AUDIO_STATION st{texts[i], 25, 700, 0.3, 800, 4};
            AUDIO_SCENE scene;
            scene.seed = 41 + (uint64_t)i;
            std::vector<float> x;
            if (c.own_phases) {
                // The same marks, each from a phase drawn anew, with the same noise.
                x.assign((size_t)((audio_station_end_ms(st) + scene.tail_ms) * 8), 0.0f);
                std::mt19937_64 rng(scene.seed);
                std::uniform_real_distribution<double> turn(0.0, 2.0 * M_PI);
                double t = st.start_ms, w = 2.0 * M_PI * st.hz / 8000, ramp = st.ramp_ms * 8;
                for (const RUN &r : audio_station_runs(st)) {
                    size_t a = (size_t)(t * 8), b = (size_t)((t + r.ms) * 8);
                    double phase = turn(rng);
                    for (size_t k = a; r.on && k < b; k++) {
                        double env = 1.0, in = (double)(k - a), out = (double)(b - k);
                        if (in < ramp) env = 0.5 - 0.5 * cos(M_PI * in / ramp);
                        if (out < ramp) env = std::min(env, 0.5 - 0.5 * cos(M_PI * out / ramp));
                        x[k] += (float)(st.amplitude * env * sin(w * (double)k + phase));
                    }
                    t += r.ms;
                }
                add_noise(x, 8000, st.amplitude, c.snr_db, scene.seed);
            } else {
                scene.snr_db = c.snr_db;
                x = audio_render(scene, {st});
            }
            std::string heard = hear(x, 8000).joined();
            errors += morse_text_distance(st.text, heard);
            got += heard + " | ";
        }
        EXPECT_LE(errors, c.most_errors) << c.snr_db << " dB: " << got;
    }
}

// A fade of 12 dB every three seconds and a neighbour 200 Hz up, 6 dB weaker and keying all
// along: the station is read whole, its levels followed through the fade, and the neighbour
// neither read into it nor taken for it.
TEST(EarTest, FadingAndANeighbourLeaveTheStationWhole) {
    AUDIO_STATION st{"PSE QSL VIA BUREAU 73 ES GL", 25, 700, 0.3, 1000, 4};
    AUDIO_SCENE faded;
    faded.snr_db = 20;
    faded.fade_depth = 0.75;
    faded.fade_period_ms = 3300;
    Heard h = hear(audio_render(faded, {st}), 8000);
    EXPECT_EQ(h.joined(), st.text) << "through the fade";
    // A fade every two seconds, too fast for the curve through the marks' levels to swing its
    // full depth: its troughs once lost dots to a level held at the crests.
    AUDIO_STATION fast{"RST 579 QTH NEAR LYON NAME ANNE HW? BK", 25, 700, 0.3, 1000, 4};
    faded.fade_period_ms = 2000;
    h = hear(audio_render(faded, {fast}), 8000);
    EXPECT_EQ(h.joined(), fast.text) << "through a fast fade";
    // Deeper in noise (+6 dB at the crests), the level drawn through the marks runs above the
    // troughs, whose marks are lost there; a faint one is read at the level it shows (over both
    // texts, 65 characters, 13 were once lost).
    faded.snr_db = 6;
    size_t errors = 0;
    std::string got;
    for (const AUDIO_STATION &s : {st, fast}) {
        std::string heard = hear(audio_render(faded, {s}), 8000).joined();
        errors += morse_text_distance(s.text, heard);
        got += heard + " | ";
    }
    EXPECT_LE(errors, 4u) << "deeper in noise: " << got;

    AUDIO_STATION other{"QRL? QRL? DE W1AW QRL? QRL? DE W1AW QRL? DE W1AW", 22, 900, 0.15, 300, 4};
    AUDIO_SCENE crowded;
    crowded.snr_db = 20;
    h = hear(audio_render(crowded, {st, other}), 8000);
    EXPECT_EQ(h.joined(), st.text) << "beside a neighbour";
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_NEAR(h.messages[0].tone_hz, 700, 10);
}

// Noise alone, crashes in noise, and digital silence print nothing.
TEST(EarTest, NoiseAloneOrSilencePrintsNothing) {
    std::vector<float> x(20 * 8000, 0.0f);
    EXPECT_TRUE(hear(x, 8000).texts.empty());
    add_noise(x, 8000, 0.1, 0, 5);
    EXPECT_TRUE(hear(x, 8000).texts.empty()) << hear(x, 8000).joined();
    for (size_t k = 5000 * 8; k < 5050 * 8; k++) x[k] *= 30.0f;
    EXPECT_TRUE(hear(x, 8000).texts.empty()) << hear(x, 8000).joined();
    EXPECT_TRUE(hear(x, 8000, 700).texts.empty()) << "a fixed tone in noise";
}

// The noise after a fast message's last letter is no faint station: bumps of it far under the
// message's marks were read as letters once in twenty such recordings.
TEST(EarTest, TheNoiseAfterAMessageAddsNoLetters) {
    const char *text = "CQ CQ DE F4LKY F4LKY K";
    for (uint64_t seed = 20; seed <= 40; seed++) {
        AUDIO_STATION st{text, 35, 650, 0.3, 0, 5};
        AUDIO_SCENE scene;
        scene.snr_db = 6;
        scene.seed = seed;
        scene.tail_ms = 6000;
        EXPECT_EQ(hear(audio_render(scene, {st}), 8000).joined(), text) << "seed " << seed;
    }
}

TEST(EarTest, BadArgumentsAreRefusedWithoutHarm) {
    EAR_CONFIG c;
    ear_config_default(&c);
    c.rate = 1000;
    EXPECT_EQ(ear_new(&c), nullptr);
    EAR *ear = ear_new(nullptr);
    ASSERT_NE(ear, nullptr);
    EXPECT_EQ(ear_feed(ear, nullptr, 0), 0);
    EXPECT_EQ(ear_finish(ear, nullptr, nullptr), 0) << "nothing fed, nothing heard";
    ear_free(&ear);
    ear_free(&ear);
}
