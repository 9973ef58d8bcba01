// bench/tone_detect_bench.cpp: how well and how fast Morse is read from sound. Generated
// recordings (a keyed sine with soft edges in white noise, the noise measured in a 500 Hz band
// around the tone) go through the tone detector and the decoder; the character error rate is
// printed against the signal-to-noise ratio at three speeds, then for clean signals from 5 to
// 40 WPM, and the delay from a tone's end to its character showing in the live text at the
// microphone's settings. The framework then times the decoding as a multiple of real time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "audio/mic.hpp"
#include "morse/decoder.hpp"
#include "morse/tone_detect.hpp"
#include "tests/support/morse_audio.hpp"

namespace {

const char *const TEXTS[] = {
    "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG",
    "CQ CQ DE F4LKY PSE K",
    "MEET AT 1930 NEAR THE OLD BRIDGE, BRING 2 LAMPS",
    "SOS SOS WE NEED WATER AND A DOCTOR",
    "RST 599 QTH PARIS NAME JEAN HW? BK",
    "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS",
};
constexpr int SEEDS = 3;
constexpr double SNRS[] = {20, 12, 9, 6, 3, 0, -3, -6};
constexpr double SNR_SPEEDS[] = {12, 20, 30};
constexpr double CLEAN_SPEEDS[] = {5, 8, 12, 16, 20, 25, 30, 35, 40};
constexpr double TONES[] = {400, 600, 700, 850, 1000};

struct Score {
    size_t errors = 0, chars = 0;
    void add(const std::string &ref, const std::string &got) {
        errors += morse_text_distance(ref, got);
        chars += morse_text_length(ref);
    }
    double cer() const { return chars ? 100.0 * errors / chars : 0.0; }
};

std::string decode(const AUDIO_SCENE &scene, const AUDIO_STATION &st) {
    return audio_decode(audio_render(scene, {st}), scene.rate).text;
}

void print_snr_table() {
    printf("Character error rate %% against SNR (dB in 500 Hz), tones 400-1000 Hz, 8 kHz\n");
    printf("%-8s", "WPM");
    for (double snr : SNRS) printf("%8.0f", snr);
    printf("\n");
    for (double wpm : SNR_SPEEDS) {
        printf("%-8.0f", wpm);
        for (double snr : SNRS) {
            Score sc;
            int k = 0;
            for (const char *text : TEXTS) {
                for (int seed = 1; seed <= SEEDS; seed++, k++) {
                    AUDIO_SCENE scene;
                    scene.snr_db = snr;
                    scene.seed = (uint64_t)(seed * 1000 + k);
                    AUDIO_STATION st;
                    st.text = text;
                    st.wpm = wpm;
                    st.hz = TONES[k % 5];
                    sc.add(text, decode(scene, st));
                }
            }
            printf("%8.2f", sc.cer());
        }
        printf("\n");
    }
}

void print_clean_row() {
    printf("\nClean signals, character error rate %% by WPM (tones 400-1000 Hz, 8 and 44.1 kHz)\n");
    printf("%-8s", "WPM");
    for (double w : CLEAN_SPEEDS) printf("%7.0f", w);
    printf("\n%-8s", "CER");
    for (double wpm : CLEAN_SPEEDS) {
        Score sc;
        int k = 0;
        for (const char *text : TEXTS) {
            AUDIO_SCENE scene;
            scene.rate = k % 2 ? 44100 : 8000;
            AUDIO_STATION st;
            st.text = text;
            st.wpm = wpm;
            st.hz = TONES[k++ % 5];
            sc.add(text, decode(scene, st));
        }
        printf("%7.2f", sc.cer());
    }
    printf("\n");
}

// The live path at the microphone's settings (blocks of mic_block_ms, no lookahead): for every
// letter, the stream time from the end of its last mark to the first block after which the live
// text holds every letter so far, read right.
void print_live_delay() {
    const char *text = "PARIS CQ TEST";
    for (double wpm : {12.0, 20.0, 30.0}) {
        AUDIO_SCENE scene;
        scene.rate = 48000;
        scene.snr_db = 12;
        AUDIO_STATION st;
        st.text = text;
        st.wpm = wpm;
        std::vector<float> x = audio_render(scene, {st});
        // Letter ends: the end of the mark before every letter or word gap, and the last one.
        std::vector<double> ends;
        std::vector<RUN> runs = audio_station_runs(st);
        double t = st.start_ms;
        for (size_t i = 0; i < runs.size(); i++) {
            t += runs[i].ms;
            bool last_mark =
                runs[i].on && (i + 1 == runs.size() || runs[i + 1].ms > 2 * 1200 / wpm);
            if (last_mark) ends.push_back(t);
        }
        std::string letters;
        for (char c : std::string(text))
            if (c != ' ') letters += c;
        DECODER_CONFIG dc;
        decoder_config_default(&dc);
        MORSE_DECODER *dec = decoder_new(&dc);
        TONE_DETECT_CONFIG tc;
        mic_tone_config(&tc, scene.rate);
        tc.on_edge = tone_detect_edge_to_decoder;
        tc.user = dec;
        TONE_DETECT *td = tone_detect_new(&tc);
        size_t block = scene.rate * MIC_BLOCK_MS / 1000, shown = 0;
        double sum = 0, worst = 0;
        DECODED_MESSAGE m{};
        for (size_t i = 0; i < x.size() && shown < ends.size(); i += block) {
            tone_detect_process(td, x.data() + i, std::min(block, x.size() - i));
            tone_detect_sync_decoder(td, dec);
            decoder_live(dec, &m);
            std::string live;
            for (const char *p = m.text; *p; p++)
                if (*p != ' ') live += *p;
            double now = (i + block) * 1000.0 / scene.rate;
            while (shown < ends.size() && live.size() > shown &&
                   live.compare(0, shown + 1, letters, 0, shown + 1) == 0) {
                double d = now - ends[shown++];
                sum += d;
                worst = std::max(worst, d);
            }
        }
        printf("live delay at %2.0f WPM: %zu/%zu letters, mean %.0f ms, worst %.0f ms "
               "(plus the sound server's fragment)\n",
               wpm, shown, ends.size(), shown ? sum / shown : 0.0, worst);
        tone_detect_free(&td);
        decoder_free(&dec);
    }
}

// Decoding a minute of 20 WPM at 6 dB SNR, 48 kHz stereo mixed to mono beforehand.
void BM_DecodeOneMinute(benchmark::State &state) {
    AUDIO_SCENE scene;
    scene.rate = (uint32_t)state.range(0);
    scene.snr_db = 6;
    scene.length_ms = 60000;
    std::vector<AUDIO_STATION> st;
    for (int i = 0; i < 4; i++) {
        AUDIO_STATION s;
        s.text = TEXTS[i];
        s.start_ms = 1000 + i * 15000;
        st.push_back(s);
    }
    std::vector<float> x = audio_render(scene, st);
    for (auto _ : state) benchmark::DoNotOptimize(audio_decode(x, scene.rate).text);
    double seconds = x.size() / (double)scene.rate;
    state.counters["x_realtime"] =
        benchmark::Counter(seconds * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeOneMinute)->Arg(8000)->Arg(48000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    print_snr_table();
    print_clean_row();
    printf("\n");
    print_live_delay();
    printf("\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
