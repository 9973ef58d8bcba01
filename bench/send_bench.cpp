// bench/send_bench.cpp: what a send costs and how well its outputs agree. The play screen's
// frame time at the 30 Hz animation rate (the light, the panel's widgets and the overlay on
// one real display), and how far ahead of the light's edges the tone's elements sound, both
// as scheduled and as OpenAL wrote them to a WAV file, against the configured lead.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>
#include <benchmark/benchmark.h>

#include "audio/tone.hpp"
#include "bench_stats.hpp"
#include "main/app.hpp"
#include "support/test_display.hpp"
#include "support/wav_reader.hpp"

namespace {

uint64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1'000'000'000ull + (uint64_t)ts.tv_nsec;
}

// A started program's record around one display, without the event loop.
struct BenchApp {
    std::unique_ptr<LUMIKEY_APP> rec{new LUMIKEY_APP()};
    LUMIKEY_APP *a = rec.get();
    bool ok = false;
    explicit BenchApp(bool display) {
        if (!al_is_system_installed() && !al_init()) return;
        settings_default(&a->settings);
        a->settings.out_sound = 0;
        a->msg_field = a->target_id = a->actions_win = a->confirm_win = -1;
        a->ui_scale = 1.0f;
        al_init_user_event_source(&a->wake_source);
        a->player = player_new();
        if (display) {
            a->display = test_display_open();
            if (!a->display) return;
            a->disp_w = 480;
            a->disp_h = 800;
            a->font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 18, 0);
            a->font_big = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 34, 0);
            if (!a->font || !a->font_big) return;
        }
        ok = a->player != nullptr;
    }
    ~BenchApp() {
        app_stop_playback(a);
        player_free(&a->player);
        if (a->gui) ka_gui_destroy_ctx(&a->gui);
        if (a->font) al_destroy_font(a->font);
        if (a->font_big) al_destroy_font(a->font_big);
        if (a->display) al_destroy_display(a->display);
        al_destroy_user_event_source(&a->wake_source);
    }
};

// One frame of the play screen every 1/30 s while a typed message plays, as the animation
// timer asks for them; the time of each whole frame, flip included.
void BM_PlayScreenFrame(benchmark::State &state) {
    BenchApp b(true);
    if (!b.ok) {
        state.SkipWithError("no display or font");
        return;
    }
    LUMIKEY_APP *a = b.a;
    a->play_from_message = 1;
    app_request_play(a, "CQ CQ CQ DE LUMIKEY LUMIKEY K - Grüße, ça va? ¿Qué tal?");
    if (!app_start_playback(a)) {
        state.SkipWithError("send did not start");
        return;
    }
    std::vector<double> frames_ms;
    auto next = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::this_thread::sleep_until(next);
        next += std::chrono::microseconds(33333);
        uint64_t t0 = now_ns();
        app_draw(a);
        frames_ms.push_back((double)(now_ns() - t0) / 1e6);
    }
    state.counters["median_ms"] = bench_median(frames_ms);
    state.counters["worst_ms"] = *std::max_element(frames_ms.begin(), frames_ms.end());
    state.counters["frames"] = (double)frames_ms.size();
}
BENCHMARK(BM_PlayScreenFrame)->Iterations(300)->Unit(benchmark::kMillisecond);

// The tone channel of a send with the moment the player calls it.
struct TimedTone {
    PLAYER_CHANNEL inner;
    std::atomic<uint64_t> called_ns{0};
    static void rep(const MORSE_SEQUENCE *seq, uint32_t r, uint64_t start, void *user) {
        TimedTone *t = (TimedTone *)user;
        if (r == 0) t->called_ns = now_ns();
        t->inner.on_rep_start(seq, r, start, t->inner.user);
    }
    static void event(const MORSE_SEQUENCE *seq, size_t i, uint32_t r, void *user) {
        TimedTone *t = (TimedTone *)user;
        if (t->inner.on_event) t->inner.on_event(seq, i, r, t->inner.user);
    }
    static void stop(int finished, void *user) {
        TimedTone *t = (TimedTone *)user;
        if (t->inner.on_stop) t->inner.on_stop(finished, t->inner.user);
    }
};

// The offset of the "data" chunk's samples and the bytes per frame, from the file itself.
bool _data_layout(const std::string &path, size_t frames, long *offset, double *frame_bytes) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char head[12], chunk[8];
    bool found = false;
    if (fread(head, 1, 12, f) == 12) {
        while (fread(chunk, 1, 8, f) == 8) {
            uint32_t size = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | (uint32_t)chunk[7] << 24;
            if (memcmp(chunk, "data", 4) == 0) {
                *offset = ftell(f);
                *frame_bytes = frames ? (double)size / (double)frames : 0;
                found = frames > 0;
                break;
            }
            fseek(f, size + (size & 1), SEEK_CUR);
        }
    }
    fclose(f);
    return found;
}

// The light's on edges against the tone's onsets, for one send of "PARIS PARIS" at 60 ms a
// unit with the default 60 ms lead. Scheduled: the onsets placed by the moment the player
// started the tone plus their place in the rendered message. Written: the onsets placed by the
// moment OpenAL's wave output had written them to the file (the file's growth is watched every
// millisecond), which adds the audio pipeline's own delay.
void BM_LightToToneOffset(benchmark::State &state) {
    WaveCapture capture;
    if (!al_is_system_installed() && !al_init()) {
        state.SkipWithError("al_init");
        return;
    }
    WaveCapture::select_openal();
    if (!tone_audio_init()) {
        state.SkipWithError("no audio");
        return;
    }
    std::vector<double> sched_ms, written_ms;
    uint32_t lead = 0;
    for (auto _ : state) {
        BenchApp b(false);
        LUMIKEY_APP *a = b.a;
        a->settings.timing.unit_ms = 60;
        a->settings.out_sound = 1;
        lead = a->settings.audio_latency_ms;
        MORSE_SEQUENCE *seq = morse_sequence_build("PARIS PARIS", &a->settings.timing);
        PLAYER_CHANNEL ch[PLAYER_MAX_CHANNELS];
        size_t n = app_playback_channels(a, seq, ch);
        if (n != 2) {
            morse_sequence_free(&seq);
            state.SkipWithError("no sound channel");
            break;
        }
        TimedTone tone;
        tone.inner = ch[1];
        ch[1].on_rep_start = TimedTone::rep;
        ch[1].on_event = TimedTone::event;
        ch[1].on_stop = TimedTone::stop;
        ch[1].user = &tone;

        // (time, file size) pairs while the send plays and the output drains.
        std::vector<std::pair<uint64_t, long>> growth;
        std::atomic<bool> watching{true};
        std::thread watcher([&] {
            struct stat st;
            long last = -1;
            while (watching) {
                if (stat(capture.wav_path().c_str(), &st) == 0 && st.st_size != last) {
                    last = st.st_size;
                    growth.push_back({now_ns(), last});
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        size_t edges_before = screen_light_edge_count(&a->light);
        player_start(a->player, seq, 0, ch, n);
        while (player_is_playing(a->player))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        watching = false;
        watcher.join();
        app_stop_playback(a);
        tone_audio_shutdown(); // closes the file with its final header

        std::vector<uint64_t> on_edges;
        for (size_t e = edges_before; e < screen_light_edge_count(&a->light); e++)
            if (a->light.edge_on[e % SCREEN_LIGHT_EDGES]) on_edges.push_back(a->light.edge_ns[e]);
        WavData wav;
        std::string why;
        if (!wav_read(capture.wav_path(), &wav, &why)) {
            state.SkipWithError(why.c_str());
            break;
        }
        auto segs = wav_segments(wav.samples, 0.05f, wav.rate / 500);
        if (segs.size() != on_edges.size() || segs.empty()) {
            state.SkipWithError("tone segments and light edges differ in number");
            break;
        }
        // Where the samples start in the file and how many bytes each frame takes.
        long header = 0;
        double frame_bytes = 0;
        if (!_data_layout(capture.wav_path(), wav.samples.size(), &header, &frame_bytes)) {
            state.SkipWithError("no data chunk");
            break;
        }
        auto written_at = [&](size_t sample) -> double {
            long need = header + (long)((sample + 1) * frame_bytes);
            for (auto &[t, size] : growth)
                if (size >= need) {
                    // The chunk that holds the sample ends at `size`; its last sample is the
                    // one written at t.
                    double behind = (double)(size - need) / frame_bytes / wav.rate;
                    return (double)t / 1e6 - behind * 1000.0;
                }
            return 0;
        };
        for (size_t k = 0; k < segs.size(); k++) {
            double onset_rel_ms = (double)(segs[k].start - segs[0].start) * 1000.0 / wav.rate;
            double sched = (double)tone.called_ns.load() / 1e6 + onset_rel_ms;
            sched_ms.push_back((double)on_edges[k] / 1e6 - sched);
            written_ms.push_back((double)on_edges[k] / 1e6 - written_at(segs[k].start));
        }
        tone_audio_init();
    }
    if (sched_ms.empty()) return;
    auto worst_dev = [lead](const std::vector<double> &v) {
        double w = 0;
        for (double x : v) w = std::max(w, std::abs(x - lead));
        return w;
    };
    state.counters["lead_ms"] = lead;
    state.counters["sched_median_ms"] = bench_median(sched_ms);
    state.counters["sched_worst_dev_ms"] = worst_dev(sched_ms);
    state.counters["written_median_ms"] = bench_median(written_ms);
    state.counters["written_worst_dev_ms"] = worst_dev(written_ms);
    state.counters["edges"] = (double)sched_ms.size();
}
BENCHMARK(BM_LightToToneOffset)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
