// bench/camera_bench.cpp: the desktop camera's light. Prints, at 30 fps, the character error
// rate by speed and camera effect, read the phone's way (the square's plain mean at the lamp,
// "before") and through the desktop's front end (the light searched for and read against the
// picture's brightness, then through the light's front end, light_front: "after"), with rows at
// 15 and 60 fps; the same for videos made by
// ffmpeg's filters (tests/e2e/lavfi_morse.py, a second generator written apart from the test
// camera); the time to find the light against its size; the time from the last mark to the
// message; and what a 640 x 480 frame costs, decoding included, with the search on and off.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "morse/decoder.hpp"
#include "morse/light_front.hpp"
#include "phone/light_search.hpp"
#include "phone/video_input.hpp"
#include "tests/support/camera_scene.hpp"
#include "tests/support/morse_signal.hpp"
#include "tests/support/test_sequence.hpp"

namespace {

const char *const TEXTS[] = {"CQ CQ DE F4LKY PSE K", "MEET AT 1930 NEAR THE BRIDGE",
                             "SOS SOS WE NEED WATER"};

std::vector<RUN> runs_of(const char *text, double wpm) {
    MORSE_SEQUENCE *seq = test_sequence(text, (uint32_t)lround(1200 / wpm));
    std::vector<RUN> runs = sequence_runs(seq);
    morse_sequence_free(&seq);
    return runs;
}

struct Front {
    MORSE_DECODER *dec;
    LIGHT_FRONT front;
};

void to_decoder(double t_ms, float luma, void *user) {
    Front *f = (Front *)user;
    light_front_feed(&f->front, f->dec, t_ms, luma);
}

struct Reading {
    std::string text;
    double found_ms = -1;   // stream time of the first sample handed on
    double message_ms = -1; // stream time at which the first message was finished
};

// Reads frames into a decoder; search false reads the lamp's own square without correction.
struct Reader {
    MORSE_DECODER *dec = decoder_new(nullptr);
    Front front{dec, {}};
    LIGHT_WATCH w{};
    bool search, ready = false;
    float cx, cy, side;
    Reading r;
    Reader(bool s, float x, float y, float sd) : search(s), cx(x), cy(y), side(sd) {}
    ~Reader() {
        light_watch_free(&w);
        decoder_free(&dec);
    }
    void frame(const VIDEO_FRAME &f) {
        if (!ready) ready = light_watch_init(&w, f.w, f.h, search, cx, cy, side);
        if (search) {
            if (light_watch_frame(&w, &f, to_decoder, &front) && r.found_ms < 0)
                r.found_ms = f.t_ms;
        } else {
            decoder_feed(dec, f.t_ms, light_area_mean(&f, cx, cy, side));
        }
        DECODED_MESSAGE m;
        while (decoder_poll_message(dec, &m)) {
            if (r.message_ms < 0) r.message_ms = f.t_ms;
            r.text += (r.text.empty() ? "" : " ") + std::string(m.text);
        }
    }
    Reading finish(double t_end) {
        light_front_flush(&front.front, dec);
        decoder_tick(dec, t_end);
        DECODED_MESSAGE m;
        if (decoder_finish(dec, &m)) r.text += (r.text.empty() ? "" : " ") + std::string(m.text);
        return r;
    }
};

struct Effect {
    const char *name;
    void (*apply)(CAMERA_SCENE *s);
};

void lag(CAMERA_SCENE *s) {
    s->lag_on_ms = 13, s->lag_off_ms = 27; // settled within about 40 and 80 ms
}
void exposure(CAMERA_SCENE *s) {
    s->auto_exposure = true;
    s->light_pct = 8; // a lamp large enough for the exposure to answer it
}
void jitter(CAMERA_SCENE *s) {
    s->jitter_ms = 5;
}
void drops(CAMERA_SCENE *s) {
    s->drop = 0.02;
}
void rolling(CAMERA_SCENE *s) {
    s->rolling_ms = 30;
}
void all_effects(CAMERA_SCENE *s) {
    lag(s), exposure(s), jitter(s), drops(s), rolling(s);
    s->light_pct = 2;
}

const Effect EFFECTS[] = {{"clean", nullptr},          {"lag 40/80 ms", lag},
                          {"auto-exposure", exposure}, {"jitter 5 ms", jitter},
                          {"2 % dropped", drops},      {"rolling shutter", rolling},
                          {"all of them", all_effects}};

// Character errors over the texts, in percent, before and after.
void error_rate(const Effect &e, double fps, double noise, double wpm, double *before,
                double *after) {
    size_t errors[2] = {0, 0}, chars = 0;
    uint64_t seed = 1;
    for (const char *text : TEXTS) {
        CAMERA_SCENE s;
        s.fps = fps;
        s.noise = noise;
        s.seed = seed++;
        s.w = 160, s.h = 120; // the working frame's light, at a quarter of the cost
        if (e.apply) e.apply(&s);
        std::vector<RUN> runs = runs_of(text, wpm);
        float side = (float)std::sqrt(s.light_pct / 100.0 * s.w * s.h) / (float)s.h;
        Reader plain(false, s.cx, s.cy, side), watch(true, 0.5f, 0.5f, 0.2f);
        double last = 0;
        film_runs(runs, s, 1500, 6000, [&](const VIDEO_FRAME &f) {
            plain.frame(f);
            watch.frame(f);
            last = f.t_ms;
        });
        errors[0] += morse_text_distance(text, plain.finish(last).text);
        Reading got = watch.finish(last);
        errors[1] += morse_text_distance(text, got.text);
        if (getenv("CAMERA_BENCH_DEBUG") && morse_text_distance(text, got.text))
            fprintf(stderr, "[%s %.0f wpm noise %.0f: '%s' found %.0f ms at %.2f,%.2f]\n", e.name,
                    wpm, noise, got.text.c_str(), got.found_ms, (double)watch.w.cx,
                    (double)watch.w.cy);
        chars += morse_text_length(text);
    }
    *before = 100.0 * errors[0] / chars;
    *after = 100.0 * errors[1] / chars;
}

void print_error_rates() {
    const double speeds[] = {8, 12, 15};
    printf("Character error rate, %% (before: the square's plain mean at the lamp; after: the\n"
           "light searched for and read against the picture). 30 fps unless said.\n");
    printf("%-22s %-6s", "effect", "noise");
    for (double w : speeds) printf("  %2.0f WPM before/after", w);
    printf("\n");
    for (double noise : {0.0, 8.0}) {
        for (const Effect &e : EFFECTS) {
            printf("%-22s %-6.0f", e.name, noise);
            for (double w : speeds) {
                double b, a;
                error_rate(e, 30, noise, w, &b, &a);
                printf("  %9.1f / %-9.1f", b, a);
            }
            printf("\n");
            fflush(stdout);
        }
    }
    for (double fps : {15.0, 60.0}) {
        printf("%-16s %3.0f fps %-6.0f", "all of them", fps, 8.0);
        for (double w : speeds) {
            double b, a;
            error_rate(EFFECTS[6], fps, 8, w, &b, &a);
            printf("  %9.1f / %-9.1f", b, a);
        }
        printf("\n");
    }
}

// The second generator: ffmpeg's filters, read back from the file.
Reading read_video(const std::string &path) {
    Reader watch(true, 0.5f, 0.5f, 0.2f);
    VIDEO_INPUT *in = video_open(path.c_str(), 0, 0, 0, nullptr, 0);
    VIDEO_FRAME f;
    double last = 0;
    while (in && video_read(in, &f) == 1) {
        watch.frame(f);
        last = f.t_ms;
    }
    video_close(&in);
    return watch.finish(last);
}

std::string lavfi_script() {
    const char *src = getenv("LUMIKEY_SOURCE");
    std::string dir = src ? src : ".";
    if (!std::filesystem::exists(dir + "/tests/e2e/lavfi_morse.py")) dir = "..";
    return dir + "/tests/e2e/lavfi_morse.py";
}

void print_lavfi_rates(const std::string &tmp) {
    std::string script = lavfi_script();
    printf("\nVideos from ffmpeg's filters (320 x 240, light 0.5 %%, a person swaying), CER %%:\n");
    printf("%-14s", "fps, noise");
    const double speeds[] = {8, 12, 15};
    for (double w : speeds) printf("  %2.0f WPM", w);
    printf("\n");
    for (auto [fps, noise] : {std::pair{30, 4}, std::pair{30, 16}, std::pair{15, 4}}) {
        printf("%2d fps, %-6d", fps, noise);
        for (double w : speeds) {
            size_t errors = 0, chars = 0;
            for (const char *text : TEXTS) {
                std::string out = tmp + "/lavfi.avi";
                std::string cmd = "python3 " + script + " " + out + " '" + text + "' --wpm " +
                                  std::to_string(w) + " --noise " + std::to_string(noise) +
                                  " --fps " + std::to_string(fps) + " --at 0.85,0.2 --person";
                if (system(cmd.c_str()) != 0) {
                    printf("  (ffmpeg failed)");
                    continue;
                }
                errors += morse_text_distance(text, read_video(out).text);
                chars += morse_text_length(text);
            }
            printf("  %6.1f", chars ? 100.0 * errors / chars : -1.0);
        }
        printf("\n");
        fflush(stdout);
    }
}

void print_find_times() {
    printf("\nTime to find the light (ms after its first mark; median of 5 rooms), 12 WPM, with\n"
           "lag, auto-exposure, jitter, dropped frames, rolling shutter and noise 8, 320 x 240:\n");
    for (double pct : {0.25, 0.5, 1.0, 2.0, 5.0}) {
        std::vector<double> times;
        int missed = 0;
        for (uint64_t seed = 1; seed <= 5; seed++) {
            CAMERA_SCENE s;
            lag(&s), jitter(&s), drops(&s), rolling(&s);
            s.auto_exposure = true;
            s.noise = 8;
            s.light_pct = pct;
            s.seed = seed;
            s.cx = 0.15f + 0.14f * seed;
            s.cy = 0.2f + 0.12f * seed;
            Reader watch(true, 0.5f, 0.5f, 0.2f);
            double last = 0;
            film_runs(runs_of(TEXTS[seed % 3], 12), s, 1000, 500, [&](const VIDEO_FRAME &f) {
                if (watch.r.found_ms < 0) watch.frame(f);
                last = f.t_ms;
            });
            if (watch.r.found_ms < 0)
                missed++;
            else
                times.push_back(watch.r.found_ms - 1000);
        }
        std::sort(times.begin(), times.end());
        double med = times.empty() ? -1 : times[times.size() / 2];
        printf("  light %4.2f %% of the frame: %6.0f ms  (worst %6.0f ms, missed %d of 5)\n", pct,
               med, times.empty() ? -1 : times.back(), missed);
        fflush(stdout);
    }
}

void print_message_delay() {
    CAMERA_SCENE s;
    all_effects(&s);
    s.noise = 8;
    std::vector<RUN> runs = runs_of("CQ DE TEST", 12);
    double end = 1500;
    for (const RUN &r : runs) end += r.ms;
    Reader watch(true, 0.5f, 0.5f, 0.2f);
    film_runs(runs, s, 1500, 8000, [&](const VIDEO_FRAME &f) { watch.frame(f); });
    DECODER_CONFIG dc;
    decoder_config_default(&dc);
    printf("\nFrom the last mark to the finished message: %.0f ms (the end-of-message silence is "
           "%u ms)\n",
           watch.r.message_ms - end, dc.eom_timeout_ms);
}

double thread_cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void print_frame_cost(const std::string &tmp) {
    std::string path = tmp + "/vga.mkv";
    CAMERA_SCENE s;
    s.w = 640, s.h = 480;
    all_effects(&s);
    s.noise = 8;
    s.light_pct = 0.5;
    if (!film_to_file(path, runs_of("PARIS PARIS", 12), s, 1000, 1000)) {
        printf("could not write the 640 x 480 video\n");
        return;
    }
    printf("\nA 640 x 480 frame at 30 fps (MPEG-4 decoding, scaling to the working frame, the\n"
           "light and the decoder), CPU time of the reading thread:\n");
    for (int search : {1, 0}) {
        VIDEO_INPUT *in = video_open(path.c_str(), 0, 0, 0, nullptr, 0);
        Reader r(search, s.cx, s.cy, 0.07f);
        VIDEO_FRAME f;
        size_t frames = 0;
        double t0 = thread_cpu_ms();
        while (in && video_read(in, &f) == 1) {
            r.frame(f);
            frames++;
        }
        double ms = (thread_cpu_ms() - t0) / (double)std::max<size_t>(frames, 1);
        video_close(&in);
        printf("  search %-3s: %.2f ms a frame, %zu frames; %.0f fps could be held\n",
               search ? "on" : "off", ms, frames, 1000.0 / ms);
    }
}

void BM_SearchFrame(benchmark::State &state) {
    CAMERA_SCENE s;
    s.noise = 8;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<double> times;
    film_runs(runs_of("PARIS", 12), s, 500, 0, [&](const VIDEO_FRAME &f) {
        frames.emplace_back(f.grey, f.grey + (size_t)f.w * f.h);
        times.push_back(f.t_ms);
    });
    LIGHT_SEARCH *search = light_search_new(s.w, s.h);
    double offset = 0;
    size_t k = 0;
    for (auto _ : state) {
        VIDEO_FRAME f{frames[k].data(), s.w, s.h, s.w, times[k] + offset};
        benchmark::DoNotOptimize(light_search_frame(search, &f));
        if (++k == frames.size()) k = 0, offset += times.back() + 40;
    }
    light_search_free(&search);
}
BENCHMARK(BM_SearchFrame)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
    std::string tmp = (std::filesystem::temp_directory_path() /
                       ("lumikey_camera_bench_" + std::to_string(getpid())))
                          .string();
    std::filesystem::create_directories(tmp);
    print_error_rates();
    // The error rates alone, while working on the front end.
    if (getenv("CAMERA_BENCH_RATES_ONLY")) {
        std::filesystem::remove_all(tmp);
        return 0;
    }
    print_lavfi_rates(tmp);
    print_find_times();
    print_message_delay();
    print_frame_cost(tmp);
    std::filesystem::remove_all(tmp);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
