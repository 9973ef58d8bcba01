// src/main/decode_main.cpp: lumikey-decode, Morse from a recording. Reads a sound file (WAV,
// FLAC, Ogg and whatever else libsndfile knows, any rate, channels mixed to one), reads it whole
// with the ear (tones, stations, speeds learnt from all of it before a letter is read). Prints
// one line per message: start time, speed and text, or one JSON object per line with --json.
#include <cJSON.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "morse/ear.hpp"
#include "support/ka_log.hpp"

namespace {

const char *const USAGE = "usage: lumikey-decode [--json] [--tone HZ] FILE";

constexpr size_t FRAMES_PER_READ = 4096;

struct Options {
    bool json = false;
    float tone_hz = 0;
    const char *path = nullptr;
};

void print_help() {
    printf("%s\n\n"
           "Reads Morse code from a recording and prints every message it hears.\n"
           "The tone is found by itself anywhere from 300 to 1200 Hz.\n\n"
           "  --json       one JSON object per message and line\n"
           "  --tone HZ    read the tone at HZ instead of searching\n"
           "  --help       this help\n"
           "  --version    the program's version\n\n"
           "Each message prints as its start time, its speed and its text:\n"
           "  00:12.4  18 WPM  CQ CQ DE F4ABC\n"
           "Exit status: 0 when the file was read (even without Morse in it), 1 when it could\n"
           "not be read, 2 for a bad command line.\n",
           USAGE);
}

// mm:ss.d, with hours in front when there are any.
std::string clock_text(double ms) {
    long tenths = lround(ms / 100.0);
    long h = tenths / 36000, m = tenths / 600 % 60, s = tenths / 10 % 60, d = tenths % 10;
    char buf[32];
    if (h > 0)
        snprintf(buf, sizeof buf, "%ld:%02ld:%02ld.%ld", h, m, s, d);
    else
        snprintf(buf, sizeof buf, "%02ld:%02ld.%ld", m, s, d);
    return buf;
}

struct Printer {
    bool json = false;
    FILE *out = stdout;
};

void print_message(const EAR_MESSAGE *m, void *user) {
    Printer *p = (Printer *)user;
    if (!m->text[0]) return;
    long wpm = m->unit_ms > 0 ? lround(1200.0 / m->unit_ms) : 0;
    if (p->json) {
        cJSON *o = cJSON_CreateObject();
        cJSON_AddNumberToObject(o, "start", round(m->start_ms / 100.0) / 10.0);
        cJSON_AddNumberToObject(o, "wpm", (double)wpm);
        cJSON_AddStringToObject(o, "text", m->text);
        cJSON_AddStringToObject(o, "symbols", m->symbols);
        cJSON_AddNumberToObject(o, "unit_ms", lround(m->unit_ms));
        cJSON_AddNumberToObject(o, "tone_hz", round(m->tone_hz));
        char *line = cJSON_PrintUnformatted(o);
        if (line) fprintf(p->out, "%s\n", line);
        cJSON_free(line);
        cJSON_Delete(o);
    } else {
        fprintf(p->out, "%s  %ld WPM  %s\n", clock_text(m->start_ms).c_str(), wpm, m->text);
    }
    fflush(p->out);
}

// Reads one opened sound whole (channels mixed to one) and prints its messages. The number of
// frames read; *read_error is libsndfile's error once reading stopped (0 at the end).
sf_count_t decode_sound(SNDFILE *sf, const SF_INFO &info, float tone_hz, Printer *printer,
                        int *read_error) {
    EAR_CONFIG cfg;
    ear_config_default(&cfg);
    cfg.rate = (uint32_t)info.samplerate;
    cfg.fixed_hz = tone_hz;
    EAR *ear = ear_new(&cfg);
    *read_error = 0;
    if (!ear) {
        fprintf(stderr, "lumikey-decode: out of memory\n");
        return -1;
    }
    std::vector<float> frames(FRAMES_PER_READ * (size_t)info.channels), mono(FRAMES_PER_READ);
    sf_count_t total = 0, got;
    bool memory = true;
    while (memory && (got = sf_readf_float(sf, frames.data(), FRAMES_PER_READ)) > 0) {
        for (sf_count_t i = 0; i < got; i++) {
            float sum = 0;
            for (int c = 0; c < info.channels; c++) sum += frames[(size_t)i * info.channels + c];
            mono[(size_t)i] = sum / (float)info.channels;
        }
        memory = ear_feed(ear, mono.data(), (size_t)got) == 0;
        total += got;
    }
    *read_error = sf_error(sf);
    if (!memory) fprintf(stderr, "lumikey-decode: out of memory, reading what fitted\n");
    if (total > 0 && ear_finish(ear, print_message, printer) < 0)
        fprintf(stderr, "lumikey-decode: out of memory\n");
    ear_free(&ear);
    return total;
}

// Parses the command line; 0 when fine, 2 (after the usage line) when not, -1 after --help or
// --version (answered, exit 0).
int parse(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
            print_help();
            return -1;
        } else if (!strcmp(a, "--version")) {
            printf("lumikey-decode %s\n", LUMIKEY_VERSION);
            return -1;
        } else if (!strcmp(a, "--json")) {
            o->json = true;
        } else if (!strcmp(a, "--tone")) {
            char *end = nullptr;
            double hz = i + 1 < argc ? strtod(argv[i + 1], &end) : 0;
            if (i + 1 >= argc || !end || *end || !(hz >= 100 && hz <= 3000)) {
                fprintf(stderr, "lumikey-decode: --tone needs a frequency from 100 to 3000 Hz\n");
                fprintf(stderr, "%s\n", USAGE);
                return 2;
            }
            o->tone_hz = (float)hz;
            i++;
        } else if (!strcmp(a, "--")) {
            if (i + 2 != argc || o->path) break;
            o->path = argv[i + 1];
            return 0;
        } else if (a[0] == '-' && a[1]) {
            fprintf(stderr, "lumikey-decode: unknown option %s\n%s\n", a, USAGE);
            return 2;
        } else if (o->path) {
            fprintf(stderr, "lumikey-decode: one file at a time\n%s\n", USAGE);
            return 2;
        } else {
            o->path = a;
        }
    }
    if (!o->path) {
        fprintf(stderr, "%s\n", USAGE);
        return 2;
    }
    return 0;
}

// Opens the file for reading; null after one error line.
SNDFILE *open_sound(const char *path, SF_INFO *info) {
    struct stat sb;
    if (stat(path, &sb) != 0) {
        fprintf(stderr, "lumikey-decode: %s: %s\n", path, strerror(errno));
        return nullptr;
    }
    if (S_ISDIR(sb.st_mode)) {
        fprintf(stderr, "lumikey-decode: %s: is a directory\n", path);
        return nullptr;
    }
    FILE *probe = fopen(path, "rb");
    if (!probe) {
        fprintf(stderr, "lumikey-decode: %s: %s\n", path, strerror(errno));
        return nullptr;
    }
    fclose(probe);
    if (sb.st_size == 0) {
        fprintf(stderr, "lumikey-decode: %s: empty file\n", path);
        return nullptr;
    }
    memset(info, 0, sizeof *info);
    SNDFILE *sf = sf_open(path, SFM_READ, info);
    if (!sf) {
        fprintf(stderr, "lumikey-decode: %s: not a sound file this program can read (%s)\n", path,
                sf_strerror(nullptr));
        return nullptr;
    }
    if (info->channels < 1 || info->samplerate < 2000) {
        fprintf(stderr, "lumikey-decode: %s: unusable sound (%d channels at %d Hz)\n", path,
                info->channels, info->samplerate);
        sf_close(sf);
        return nullptr;
    }
    if (info->frames == 0) {
        fprintf(stderr, "lumikey-decode: %s: no sound in the file\n", path);
        sf_close(sf);
        return nullptr;
    }
    return sf;
}

} // namespace

int main(int argc, char **argv) {
    set_log_level(LOG_WARNING);
    Options opt;
    int rc = parse(argc, argv, &opt);
    if (rc) return rc < 0 ? 0 : rc;

    SF_INFO info;
    SNDFILE *sf = open_sound(opt.path, &info);
    if (!sf) return 1;

    Printer printer;
    printer.json = opt.json;
    int read_error = 0;
    sf_count_t total = decode_sound(sf, info, opt.tone_hz, &printer, &read_error);
    std::string why = read_error ? sf_strerror(sf) : "";
    sf_close(sf);
    if (total < 0) return 1;
    if (total == 0) {
        fprintf(stderr, "lumikey-decode: %s: %s\n", opt.path,
                read_error ? why.c_str() : "no sound in the file");
        return 1;
    }
    if (read_error) {
        // What was read has been printed; the file itself is damaged.
        fprintf(stderr, "lumikey-decode: %s: %s\n", opt.path, why.c_str());
        return 1;
    }
    return 0;
}
