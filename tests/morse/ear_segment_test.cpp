// tests/morse/ear_segment_test.cpp: the sequence decision over marks and spaces, on a tone
// already mixed down (one value per ms), against a first reading as rough as a threshold gives:
// a tone whose phase turns along every mark, noise close to the limit, and a deep fade, clean
// and in noise.
#include "morse/ear_segment.hpp"

#include <gtest/gtest.h>

#include "morse/ear_blank.hpp"

#include <complex>
#include <random>
#include <string>
#include <vector>

#include "tests/support/morse_audio.hpp"

namespace {

using cplx = std::complex<float>;
constexpr double UNIT = 60.0; // 20 WPM
constexpr double LEAD = 400.0;

std::vector<EAR_RUN> truth(const char *text) {
    AUDIO_STATION st{text, 20, 700, 0.5, 0, 0};
    std::vector<EAR_RUN> runs;
    for (const RUN &r : audio_station_runs(st)) runs.push_back(EAR_RUN{r.on, r.ms});
    return runs;
}

// The runs keyed from LEAD on a tone of amplitude gain(t) turning at offset_hz, in complex
// noise of sigma per part and per ms.
template <typename Gain>
std::vector<cplx> baseband(const std::vector<EAR_RUN> &runs, double offset_hz, double sigma,
                           uint64_t seed, Gain gain) {
    double len = LEAD + 400;
    for (const EAR_RUN &r : runs) len += r.ms;
    std::vector<cplx> z((size_t)len);
    std::mt19937_64 rng(seed);
    std::normal_distribution<float> g(0.0f, (float)sigma);
    double t = LEAD;
    for (const EAR_RUN &r : runs) {
        for (size_t k = (size_t)t; r.on && k < (size_t)(t + r.ms); k++)
            z[k] = std::polar((float)gain((double)k), (float)(2 * M_PI * offset_hz * k / 1000));
        t += r.ms;
    }
    for (cplx &v : z) v += cplx(g(rng), g(rng));
    return z;
}

// A first reading by a threshold on the tone's level over a unit, as rough as noise makes it.
std::vector<EAR_RUN> threshold(const std::vector<cplx> &z, float level, double *first) {
    std::vector<EAR_RUN> runs;
    int on = 0;
    bool seen = false;
    size_t start = 0, half = (size_t)UNIT / 2;
    for (size_t k = 0; k < z.size(); k++) {
        cplx s = 0;
        for (size_t j = k >= half ? k - half : 0; j < std::min(z.size(), k + half); j++) s += z[j];
        int now = std::abs(s) / (float)UNIT > level;
        if (now == on) continue;
        if (seen)
            runs.push_back(EAR_RUN{on, (double)(k - start)});
        else
            *first = (double)k;
        seen = true;
        start = k;
        on = now;
    }
    if (on) runs.push_back(EAR_RUN{1, (double)(z.size() - start)});
    return runs;
}

// The dot-dash form of runs read at UNIT: letters apart by spaces, words by " / ".
std::string form(const std::vector<EAR_RUN> &runs) {
    std::string s;
    for (const EAR_RUN &r : runs) {
        double u = r.ms / UNIT;
        if (r.on)
            s += u < 2 ? "." : "-";
        else if (u > 5)
            s += " / ";
        else if (u > 2)
            s += " ";
    }
    return s;
}

// The dot-dash form of runs by what the reading over letters named them.
std::string named(const std::vector<EAR_RUN> &runs) {
    std::string s;
    for (const EAR_RUN &r : runs) {
        if (r.on)
            s += r.kind == 1 ? "-" : r.kind == 0 ? "." : "?";
        else if (r.kind == 1)
            s += r.ms / UNIT > 5 ? " / " : " ";
        else if (r.kind != 0)
            s += "?";
    }
    return s;
}

} // namespace

// A tone 6 Hz off its mixer turns a dash's phase once over: its sum over the dash cancels. From
// a first reading with every mark shrunk by a third, every edge is found within a frame.
TEST(EarSegmentTest, ATurningPhaseAndARoughFirstReadingStillGiveEveryEdge) {
    std::vector<EAR_RUN> want = truth("PARIS 73 QTH");
    std::vector<cplx> z = baseband(want, 6.0, 0.002, 1, [](double) { return 0.1; });
    std::vector<EAR_RUN> guess = want;
    for (size_t i = 0; i < guess.size(); i++) {
        double cut = guess[i].on ? -0.33 * guess[i].ms : 0.33 * (guess[i - 1].ms + guess[i + 1].ms);
        guess[i].ms += 0.5 * cut;
    }
    double first = 0, score = 0;
    std::vector<EAR_RUN> got = ear_segment(z, UNIT, guess, LEAD + 10, false, &first, &score);
    ASSERT_EQ(got.size(), want.size()) << form(got);
    EXPECT_NEAR(first, LEAD, UNIT / 5);
    for (size_t i = 0; i < want.size(); i++)
        EXPECT_NEAR(got[i].ms, want[i].ms, UNIT / 5 + 1) << "run " << i;
    EXPECT_GT(score, 0);
}

// Noise at a signal-to-noise ratio of 11 dB over a unit (about -3 dB in a 500 Hz band at
// 20 WPM), where a threshold reads little but noise: the decision over whole marks makes five
// times fewer mistakes than the threshold it starts from, marks of noise in the spaces and cuts
// in the marks alike.
TEST(EarSegmentTest, NoiseCloseToTheLimitIsReadBetterThanByAThreshold) {
    std::vector<EAR_RUN> want = truth("THE QUICK BROWN FOX JUMPS OVER 5 LAZY DOGS");
    double amp = 0.1, sigma = amp * sqrt(UNIT / 2.0 / 12.6);
    size_t by_threshold = 0, by_segment = 0;
    for (uint64_t seed = 1; seed <= 3; seed++) {
        std::vector<cplx> z = baseband(want, 0.5, sigma, seed, [&](double) { return amp; });
        double first = 0, score = 0;
        std::vector<EAR_RUN> guess = threshold(z, (float)(amp / 2), &first);
        std::vector<EAR_RUN> got = ear_segment(z, UNIT, guess, first, false, &first, &score);
        by_threshold += morse_text_distance(form(want), form(guess));
        by_segment += morse_text_distance(form(want), form(got));
    }
    EXPECT_LE(by_segment, 100u) << "of about 570 signs; a threshold: " << by_threshold;
    EXPECT_LT(by_segment * 5, by_threshold);
}

// Read over letters, every run is named a dot, a dash or a gap of either kind, the names agree
// with the lengths keyed (a rare letter keyed clearly stays itself), and in noise near the limit
// the letters make fewer mistakes than the marks and spaces read alone.
TEST(EarSegmentTest, TheReadingOverLettersNamesEveryRunAndMendsLettersInNoise) {
    std::vector<EAR_RUN> want = truth("PARIS 73 QTH XJZ");
    std::vector<cplx> z = baseband(want, 0.0, 0.002, 2, [](double) { return 0.1; });
    double first = 0, score = 0;
    std::vector<EAR_RUN> clean = ear_segment(z, UNIT, want, LEAD, true, &first, &score);
    EXPECT_EQ(named(clean), form(want));

    want = truth("THE QUICK BROWN FOX JUMPS OVER 5 LAZY DOGS");
    double amp = 0.1, sigma = amp * sqrt(UNIT / 2.0 / 10.0);
    size_t plain = 0, letters = 0;
    for (uint64_t seed = 1; seed <= 4; seed++) {
        z = baseband(want, 0.5, sigma, seed, [&](double) { return amp; });
        std::vector<EAR_RUN> guess = threshold(z, (float)(amp / 2), &first);
        double f1 = first, f2 = first;
        plain += morse_text_distance(form(want),
                                     form(ear_segment(z, UNIT, guess, first, false, &f1, &score)));
        std::vector<EAR_RUN> got = ear_segment(z, UNIT, guess, first, true, &f2, &score);
        letters += morse_text_distance(form(want), named(got));
    }
    EXPECT_LT(letters, plain) << "of about 760 signs";
}

// An operator's own fist: heavy dashes, element gaps long and letter gaps short so that the two
// nearly meet, and a speed that slows by a fifth halfway, in noise 15 dB under the tone over a
// unit. By the standard lengths and a steady pace, letters run together (N and E as a D) or
// fall apart twice as often as by the fist and pace the reading learns.
TEST(EarSegmentTest, TheReadingOverLettersLearnsTheOperatorsFistAndPace) {
    std::vector<EAR_RUN> want = truth("NEAR LYON NAME ANNE TNX FER CALL ES 73 GL SEE U AGN");
    double total = 0, t = 0;
    for (const EAR_RUN &r : want) total += r.ms;
    for (EAR_RUN &r : want) {
        double u = r.ms / UNIT, pace = t > total / 2 ? 1.2 : 1.0;
        t += r.ms;
        if (r.on)
            u = u > 2 ? 3.8 : 1.0;
        else
            u = u < 2 ? 1.3 : u < 5 ? 2.3 : 5.5;
        r.ms = u * UNIT * pace;
    }
    std::string keyed;
    for (const EAR_RUN &r : want) {
        double u = r.ms / UNIT;
        keyed += r.on ? (u > 2 ? "-" : ".") : u < 1.8 ? "" : u < 4 ? " " : " / ";
    }
    size_t errors = 0;
    std::string got;
    for (uint64_t seed = 1; seed <= 6; seed++) {
        std::vector<cplx> z = baseband(want, 0.0, 0.1, seed, [](double) { return 0.1; });
        double first = 0, score = 0;
        got = named(ear_segment(z, UNIT, want, LEAD, true, &first, &score));
        errors += morse_text_distance(got, keyed);
    }
    EXPECT_LE(errors, 4u) << "of about 720 signs; the last:\n" << got << "\n" << keyed;
}

// Farnsworth's spacing (letters at 20 WPM, gaps for 10): letter gaps of eleven units, words
// of twenty-five, in noise 11 dB under the tone over a unit. Weighed against a machine's three
// and seven units, gaps that long are all alike unlikely, so a bump of noise in one passes for
// an element of the letter beside it and a gap inside a letter read long splits the letter
// (some 134 signs wrong in 16 readings): the gaps this spacing keeps are learnt instead (some
// 83). Fewer readings vary too much to tell the two apart.
TEST(EarSegmentTest, TheReadingOverLettersLearnsSlowSpacing) {
    std::vector<EAR_RUN> want = truth("THE QUICK BROWN FOX JUMPS OVER 5 LAZY DOGS");
    for (EAR_RUN &r : want)
        if (!r.on && r.ms > 2 * UNIT) r.ms *= 3.63;
    auto letters = [](std::string s) {
        for (size_t at; (at = s.find(" / ")) != std::string::npos;) s.replace(at, 3, " ");
        return s;
    };
    double amp = 0.1, sigma = amp * sqrt(UNIT / 2.0 / 12.6);
    size_t errors = 0;
    std::string got;
    for (uint64_t seed = 1; seed <= 16; seed++) {
        std::vector<cplx> z = baseband(want, 0.5, sigma, seed, [&](double) { return amp; });
        double first = 0, score = 0;
        std::vector<EAR_RUN> guess = threshold(z, (float)(amp / 2), &first);
        got = letters(named(ear_segment(z, UNIT, guess, first, true, &first, &score)));
        errors += morse_text_distance(got, letters(form(want)));
    }
    EXPECT_LE(errors, 105u) << "of about 3040 signs; the last:\n" << got;
}

// A fade of 12 dB every three seconds under a threshold set for the loud part: the marks in the
// troughs are lost at first and found again as the levels follow the fade.
TEST(EarSegmentTest, TheLevelsFollowADeepFade) {
    std::vector<EAR_RUN> want = truth("CQ CQ DE F4LKY F4LKY K");
    auto gain = [](double ms) { return 0.1 * (0.625 - 0.375 * cos(2 * M_PI * ms / 3000.0)); };
    std::vector<cplx> z = baseband(want, 0.0, 0.001, 5, gain);
    double first = 0, score = 0;
    std::vector<EAR_RUN> guess = threshold(z, 0.045f, &first);
    ASSERT_NE(form(guess), form(want)) << "the threshold alone must miss the troughs";
    std::vector<EAR_RUN> got = ear_segment(z, UNIT, guess, first, false, &first, &score);
    EXPECT_EQ(form(got), form(want));
}

// The same fade in noise, over letters: in the troughs the few marks read are those the noise
// lifted, and levels taken from them stand too high to find the rest; a curve through the
// marks' levels in decibels reaches down into each trough.
TEST(EarSegmentTest, TheLevelsReachDownIntoTheTroughsOfAFadeInNoise) {
    const char *text = "THE QUICK BROWN FOX JUMPS OVER 5 LAZY DOGS";
    std::vector<EAR_RUN> want = truth(text);
    auto gain = [](double ms) { return 0.1 * (0.625 - 0.375 * cos(2 * M_PI * ms / 3000.0)); };
    size_t errors = 0;
    std::string got, keyed = form(want);
    for (uint64_t seed = 1; seed <= 4; seed++) {
        std::vector<cplx> z = baseband(want, 0.0, 0.035, seed, gain);
        double first = 0, score = 0;
        std::vector<EAR_RUN> guess = threshold(z, 0.04f, &first);
        got = named(ear_segment(z, UNIT, guess, first, true, &first, &score));
        errors += morse_text_distance(got, keyed);
    }
    EXPECT_LE(errors, 12u) << errors << " of about 720 signs wrong; the last:\n"
                           << got << "\n"
                           << keyed;
}

// Crashes 30 dB above a tone fading by 12 dB, one in a word gap and one across a dash in a
// trough, are blanked (and no mark of the fade, nor the first after a pause of 3 s, with them);
// read across the blanks, the crashes cost nothing: no mark in the gap, the dash still a dash.
TEST(EarSegmentTest, CrashesAreBlankedAndReadAcross) {
    std::vector<EAR_RUN> want = truth("CQ DE F4LKY");
    want.push_back(EAR_RUN{0, 3000});
    for (const EAR_RUN &r : truth("TEST K")) want.push_back(r);
    auto gain = [](double ms) { return 0.1 * (0.625 - 0.375 * cos(2 * M_PI * ms / 3300.0)); };
    std::vector<cplx> z = baseband(want, 0.0, 0.01, 8, gain);
    std::vector<float> nv(z.size(), 1e-4f);
    std::vector<cplx> clean = z;
    ASSERT_EQ(ear_blank_crashes(clean, nv), 0u) << "a fade and a pause are no crashes";
    // Where the crashes go: the middle of the first word gap, and the middle of the second dash
    // near the trough at 1.65 s.
    double t = LEAD, gap_at = 0, dash_at = 0;
    for (const EAR_RUN &r : want) {
        if (!r.on && r.ms > 5 * UNIT && gap_at == 0) gap_at = t + r.ms / 2;
        if (r.on && r.ms > 2 * UNIT && t > 1300 && dash_at == 0) dash_at = t + r.ms / 2;
        t += r.ms;
    }
    std::mt19937_64 rng(3);
    std::normal_distribution<float> g(0.0f, 2.0f);
    for (double at : {gap_at, dash_at})
        for (size_t k = (size_t)at - 15; k < (size_t)at + 15; k++) z[k] += cplx(g(rng), g(rng));
    size_t blanked = ear_blank_crashes(z, nv);
    EXPECT_GE(blanked, 60u);
    EXPECT_LE(blanked, 60u + 4 * 12) << "a crash and its ring, no more";
    for (double at : {gap_at, dash_at}) EXPECT_TRUE(ear_blanked(nv, (size_t)at));
    double first = 0, score = 0;
    std::vector<EAR_RUN> got = ear_segment(z, UNIT, want, LEAD, true, &first, &score, &nv);
    EXPECT_EQ(named(got), form(want));
}

// Crashes told by their breadth, on the sound itself: a loud station keyed hard (every edge a
// click across the band) has none; a 40 ms burst only 10 dB over the tone in a word gap is
// blanked, and no mark with it; one 30 dB over is left to ear_blank_crashes.
TEST(EarSegmentTest, AWeakCrashIsToldByItsBreadthAndAClickIsNot) {
    AUDIO_STATION st{"CQ DE F4LKY K", 20, 700, 0.9, 500, 0.5};
    AUDIO_SCENE scene;
    scene.snr_db = 30;
    std::vector<float> x = audio_render(scene, {st});
    // The tone mixed down by plain sums over each ms, near enough for a blanker's levels.
    auto mixed = [&](const std::vector<float> &v) {
        std::vector<cplx> z(v.size() / 8);
        for (size_t k = 0; k < z.size() * 8; k++)
            z[k / 8] += v[k] / 8.0f * std::polar(1.0f, (float)(-2 * M_PI * 700 * k / 8000.0));
        return z;
    };
    std::vector<cplx> z = mixed(x);
    std::vector<float> nv(z.size(), 1e-4f);
    ASSERT_EQ(ear_blank_wide(x.data(), x.size(), 8000, 700, z, nv), 0u) << "clicks are no crash";
    double t = st.start_ms, gap_at = 0;
    std::vector<double> marks;
    for (const RUN &r : audio_station_runs(st)) {
        if (r.on) marks.push_back(t + r.ms / 2);
        if (!r.on && r.ms > 5 * UNIT && gap_at == 0) gap_at = t + r.ms / 2;
        t += r.ms;
    }
    std::mt19937_64 rng(5);
    for (double db : {10.0, 30.0}) {
        std::vector<float> y = x;
        audio_add_crash(y, 8000, 0.9, db, gap_at - 20, 40, rng);
        z = mixed(y);
        nv.assign(z.size(), 1e-4f);
        size_t blanked = ear_blank_wide(y.data(), y.size(), 8000, 700, z, nv);
        if (db > 20) {
            EXPECT_EQ(blanked, 0u) << "a strong crash is measured at the tone";
            continue;
        }
        EXPECT_GE(blanked, 40u);
        EXPECT_LE(blanked, 40u + 30u) << "the crash and the filter's reach, no more";
        EXPECT_TRUE(ear_blanked(nv, (size_t)gap_at));
        for (double at : marks) EXPECT_FALSE(ear_blanked(nv, (size_t)at)) << at;
    }
}

TEST(EarSegmentTest, TooLittleToReadGivesTheGuessBack) {
    std::vector<cplx> z(50, cplx(0.1f, 0.0f));
    std::vector<EAR_RUN> guess{{1, 20}, {0, 10}, {1, 20}};
    double first = 0, score = 1;
    std::vector<EAR_RUN> got = ear_segment(z, UNIT, guess, 3, false, &first, &score);
    EXPECT_EQ(got.size(), guess.size());
    EXPECT_EQ(first, 3);
    EXPECT_EQ(score, 0);
    EXPECT_TRUE(ear_segment(z, UNIT, {}, 0, false, &first, &score).empty());
}
