// src/main/decode_main.cpp: lumikey-decode, Morse from a recording. Reads a sound file (WAV,
// FLAC, Ogg and whatever else libsndfile knows, any rate, channels mixed to one) and reads it whole
// with the ear (tones, stations, speeds learnt from all of it before a letter is read). Prints
// one line per message: start time, speed and text, or one JSON object per line with --json.
// Several files are read in turn, each under a line with its name; "-" is standard input.
#include <cJSON.h>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "morse/decoder.hpp"
#include "morse/ear.hpp"
#include "morse/light_front.hpp"
#include "phone/light_search.hpp"
#include "phone/video_input.hpp"
#include "support/ka_log.hpp"

namespace {

const char *const USAGE = "usage: lumikey-decode [--json] [--tone HZ] [--] FILE...";
const char *const STDIN_NAME = "(standard input)";

constexpr size_t FRAMES_PER_READ = 4096;
// A pipe is read into memory, because some formats are only read with seeks. Half a gigabyte
// is over an hour of 48 kHz stereo WAV; anything longer belongs in a file.
constexpr size_t STREAM_MAX_BYTES = (size_t)512 << 20;

struct Options {
    bool json = false;
    float tone_hz = 0;
    std::vector<const char *> paths;
};

struct Reader {
    FILE *out = nullptr;
    bool json = false;
    const char *file = nullptr; // named in every JSON object when several files are read
    bool out_failed = false;
    size_t printed = 0;
};

void print_help() {
    printf("%s\n\n"
           "Reads Morse code from a recording and prints every message it hears.\n"
           "The tone is found by itself anywhere from 300 to 1200 Hz. In a video, the\n"
           "blinking light is found by itself anywhere in the picture.\n\n"
           "  --json       one JSON object per message and line\n"
           "  --tone HZ    read the tone at HZ instead of searching\n"
           "  --help       this help\n"
           "  --version    the program's version\n\n"
           "Each message prints as its start time, its speed and its text:\n"
           "  00:12.4  18 WPM  CQ CQ DE F4ABC\n"
           "A FILE of - reads standard input. Several files are read in turn, each under a\n"
           "line with its name (in JSON, a \"file\" member names it).\n"
           "Exit status: 0 when every file was read (even without Morse in it), 1 when one\n"
           "could not be read (the others are still read) or the output could not be\n"
           "written, 2 for a bad command line.\n",
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

void print_message(const EAR_MESSAGE *m, void *user) {
    Reader *r = (Reader *)user;
    if (!m->text[0] || r->out_failed) return;
    long wpm = m->unit_ms > 0 ? lround(1200.0 / m->unit_ms) : 0;
    if (r->json) {
        cJSON *o = cJSON_CreateObject();
        if (r->file) cJSON_AddStringToObject(o, "file", r->file);
        cJSON_AddNumberToObject(o, "start", round(m->start_ms / 100.0) / 10.0);
        cJSON_AddNumberToObject(o, "wpm", (double)wpm);
        cJSON_AddStringToObject(o, "text", m->text);
        cJSON_AddStringToObject(o, "symbols", m->symbols);
        cJSON_AddNumberToObject(o, "unit_ms", (double)lround(m->unit_ms));
        if (m->tone_hz > 0) cJSON_AddNumberToObject(o, "tone_hz", round(m->tone_hz));
        char *line = cJSON_PrintUnformatted(o);
        if (line) fprintf(r->out, "%s\n", line);
        cJSON_free(line);
        cJSON_Delete(o);
    } else {
        fprintf(r->out, "%s  %ld WPM  %s\n", clock_text(m->start_ms).c_str(), wpm, m->text);
    }
    // Each line goes out as it is found, and a full disk or a closed reader is seen at once.
    if (fflush(r->out) != 0 || ferror(r->out)) r->out_failed = true;
    r->printed++;
}

// Parses the command line; 0 when fine, 2 (after the usage line) when not, -1 after --help or
// --version (answered, exit 0). Everything after "--" is a file, even when it looks like an
// option.
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
            for (i++; i < argc; i++) o->paths.push_back(argv[i]);
        } else if (a[0] == '-' && a[1]) {
            fprintf(stderr, "lumikey-decode: unknown option %s\n%s\n", a, USAGE);
            return 2;
        } else {
            o->paths.push_back(a);
        }
    }
    if (o->paths.empty()) {
        fprintf(stderr, "%s\n", USAGE);
        return 2;
    }
    return 0;
}

// A whole stream held in memory, which libsndfile reads and seeks through as a file.
struct Held {
    char *data = nullptr;
    sf_count_t size = 0, pos = 0;
    Held() = default;
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    ~Held() { free(data); }
};

sf_count_t held_length(void *u) {
    return ((Held *)u)->size;
}
sf_count_t held_seek(sf_count_t offset, int whence, void *u) {
    Held *h = (Held *)u;
    sf_count_t to = whence == SEEK_SET   ? offset
                    : whence == SEEK_CUR ? h->pos + offset
                                         : h->size + offset;
    if (to < 0 || to > h->size) return -1;
    return h->pos = to;
}
sf_count_t held_read(void *ptr, sf_count_t count, void *u) {
    Held *h = (Held *)u;
    sf_count_t n = std::max<sf_count_t>(0, std::min(count, h->size - h->pos));
    memcpy(ptr, h->data + h->pos, (size_t)n);
    h->pos += n;
    return n;
}
sf_count_t held_write(const void *, sf_count_t, void *) {
    return 0;
}
sf_count_t held_tell(void *u) {
    return ((Held *)u)->pos;
}

// Reads the stream to its end, once; false after one error line. Reading it all also lets
// the writer finish instead of dying of a broken pipe.
bool hold_stream(int fd, const char *name, Held *h) {
    size_t room = 0;
    for (;;) {
        if ((size_t)h->size == room) {
            if (room >= STREAM_MAX_BYTES) {
                fprintf(stderr,
                        "lumikey-decode: %s: more than %zu MiB of sound in a pipe; save it to a "
                        "file and read that\n",
                        name, STREAM_MAX_BYTES >> 20);
                return false;
            }
            room = std::min(STREAM_MAX_BYTES, std::max<size_t>(room * 2, 1 << 20));
            char *grown = (char *)realloc(h->data, room);
            if (!grown) {
                fprintf(stderr, "lumikey-decode: %s: out of memory\n", name);
                return false;
            }
            h->data = grown;
        }
        ssize_t got = read(fd, h->data + h->size, room - (size_t)h->size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            fprintf(stderr, "lumikey-decode: %s: %s\n", name, strerror(errno));
            return false;
        }
        if (got == 0) break;
        h->size += got;
    }
    if (h->size == 0) {
        fprintf(stderr, "lumikey-decode: %s: empty input\n", name);
        return false;
    }
    return true;
}

// Opens one file, or standard input for "-", for reading; null after one error line. A
// regular file is read where it lies; a pipe, a terminal or a socket is held in memory first.
SNDFILE *open_sound(const char *path, const char *name, SF_INFO *info, Held *held) {
    bool is_stdin = !strcmp(path, "-");
    struct stat sb;
    if (is_stdin ? fstat(STDIN_FILENO, &sb) != 0 : stat(path, &sb) != 0) {
        fprintf(stderr, "lumikey-decode: %s: %s\n", name, strerror(errno));
        return nullptr;
    }
    if (S_ISDIR(sb.st_mode)) {
        fprintf(stderr, "lumikey-decode: %s: is a directory\n", name);
        return nullptr;
    }
    memset(info, 0, sizeof *info);
    SNDFILE *sf = nullptr;
    if (S_ISREG(sb.st_mode)) {
        if (sb.st_size == 0) {
            fprintf(stderr, "lumikey-decode: %s: empty file\n", name);
            return nullptr;
        }
        if (is_stdin) {
            sf = sf_open_fd(STDIN_FILENO, SFM_READ, info, 0);
        } else {
            FILE *probe = fopen(path, "rb");
            if (!probe) {
                fprintf(stderr, "lumikey-decode: %s: %s\n", name, strerror(errno));
                return nullptr;
            }
            fclose(probe);
            sf = sf_open(path, SFM_READ, info);
        }
    } else {
        if (is_stdin && isatty(STDIN_FILENO)) {
            fprintf(stderr, "lumikey-decode: %s is a terminal, not a recording\n", name);
            return nullptr;
        }
        int fd = is_stdin ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            fprintf(stderr, "lumikey-decode: %s: %s\n", name, strerror(errno));
            return nullptr;
        }
        bool held_ok = hold_stream(fd, name, held);
        if (!is_stdin) close(fd);
        if (!held_ok) return nullptr;
        static SF_VIRTUAL_IO io = {held_length, held_seek, held_read, held_write, held_tell};
        sf = sf_open_virtual(&io, SFM_READ, info, held);
    }
    if (!sf) {
        fprintf(stderr, "lumikey-decode: %s: not a sound file this program can read (%s)\n", name,
                sf_strerror(nullptr));
        return nullptr;
    }
    if (info->channels < 1 || info->samplerate < 2000) {
        fprintf(stderr, "lumikey-decode: %s: unusable sound (%d channels at %d Hz)\n", name,
                info->channels, info->samplerate);
        sf_close(sf);
        return nullptr;
    }
    if (info->frames == 0) {
        fprintf(stderr, "lumikey-decode: %s: no sound in the file\n", name);
        sf_close(sf);
        return nullptr;
    }
    return sf;
}

// Decodes one opened recording onto out and closes it. False when the sound could not be
// read to its end (after one error line) or out failed; what was read is printed either way.
bool decode_sound(SNDFILE *sf, const SF_INFO &info, const Options &opt, const char *name,
                  const char *file, FILE *out) {
    Reader r;
    r.json = opt.json;
    r.out = out;
    r.file = file;
    EAR_CONFIG cfg;
    ear_config_default(&cfg);
    cfg.rate = (uint32_t)info.samplerate;
    cfg.fixed_hz = opt.tone_hz;
    EAR *ear = ear_new(&cfg);
    if (!ear) {
        fprintf(stderr, "lumikey-decode: out of memory\n");
        sf_close(sf);
        return false;
    }
    // The whole recording is gathered first: the ear reads it with hindsight.
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
    int read_error = sf_error(sf);
    std::string why = read_error ? sf_strerror(sf) : "";
    sf_close(sf);
    if (!memory) fprintf(stderr, "lumikey-decode: %s: out of memory, reading what fitted\n", name);
    if (total == 0) {
        fprintf(stderr, "lumikey-decode: %s: %s\n", name,
                read_error ? why.c_str() : "no sound in the file");
        ear_free(&ear);
        return false;
    }
    bool heard = ear_finish(ear, print_message, &r) >= 0;
    ear_free(&ear);
    if (!heard) fprintf(stderr, "lumikey-decode: %s: out of memory\n", name);
    if (read_error) {
        // What was read has been printed; the file itself is damaged.
        fprintf(stderr, "lumikey-decode: %s: %s\n", name, why.c_str());
        return false;
    }
    return heard && memory && !r.out_failed;
}

// The messages of a light, as the decoder finishes them; the start of each is the first sample
// at which the decoder saw a message under way.
struct LightReader {
    MORSE_DECODER *dec = nullptr;
    LIGHT_FRONT front{};
    Reader *r = nullptr;
    double start_ms = -1;
};

void print_light(LightReader *lr, const DECODED_MESSAGE *msg) {
    EAR_MESSAGE m{};
    m.start_ms = lr->start_ms > 0 ? lr->start_ms : 0;
    m.unit_ms = msg->unit_ms;
    m.text = msg->text;
    m.symbols = msg->symbols;
    print_message(&m, lr->r);
    lr->start_ms = -1;
}

void light_sample(double t_ms, float luma, void *user) {
    LightReader *lr = (LightReader *)user;
    light_front_feed(&lr->front, lr->dec, t_ms, luma);
    DECODER_STATUS st;
    decoder_status(lr->dec, &st);
    if (st.on && lr->start_ms < 0) lr->start_ms = t_ms;
    static DECODED_MESSAGE msg;
    while (decoder_poll_message(lr->dec, &msg)) print_light(lr, &msg);
}

// Reads the light in an opened video to its end and closes it. False when it could not be read
// to its end or out failed; what was read is printed either way.
bool decode_video(VIDEO_INPUT *in, const Options &opt, const char *name, const char *file,
                  FILE *out) {
    Reader r;
    r.json = opt.json;
    r.out = out;
    r.file = file;
    LightReader lr;
    lr.r = &r;
    DECODER_CONFIG dc;
    decoder_config_default(&dc);
    lr.dec = decoder_new(&dc);
    LIGHT_WATCH watch;
    memset(&watch, 0, sizeof watch);
    VIDEO_FRAME f;
    int rc = video_read(in, &f);
    bool ready = rc == 1 && lr.dec && light_watch_init(&watch, f.w, f.h, 1, 0.5f, 0.5f, 0.1f);
    if (rc == 1 && !ready) fprintf(stderr, "lumikey-decode: out of memory\n");
    double t_end = 0;
    for (; ready && rc == 1; rc = video_read(in, &f)) {
        light_watch_frame(&watch, &f, light_sample, &lr);
        t_end = f.t_ms;
    }
    if (ready) {
        // The end-of-message silence a video cut right after its last mark never had.
        light_front_flush(&lr.front, lr.dec);
        decoder_tick(lr.dec, t_end);
        static DECODED_MESSAGE last;
        if (decoder_finish(lr.dec, &last)) print_light(&lr, &last);
    }
    light_watch_free(&watch);
    decoder_free(&lr.dec);
    video_close(&in);
    if (rc < 0)
        fprintf(stderr, "lumikey-decode: %s: the video could not be read to its end\n", name);
    return ready && rc == 0 && !r.out_failed;
}

// A video file when FFmpeg finds a picture in it (a sound file has none); null otherwise.
VIDEO_INPUT *open_video(const char *path) {
    struct stat sb;
    if (!strcmp(path, "-") || stat(path, &sb) != 0 || !S_ISREG(sb.st_mode) || sb.st_size == 0)
        return nullptr;
    return video_open(path, 0, 0, 0, nullptr, 0);
}

// Flushes out; false after one error line when anything written to it was lost.
bool output_ok(FILE *out) {
    if (fflush(out) == 0 && !ferror(out)) return true;
    fprintf(stderr, "lumikey-decode: could not write the output: %s\n",
            errno ? strerror(errno) : "write error");
    return false;
}

} // namespace

int main(int argc, char **argv) {
    set_log_level(LOG_WARNING);
    Options opt;
    int rc = parse(argc, argv, &opt);
    if (rc) return rc < 0 ? (output_ok(stdout) ? 0 : 1) : rc;

    // With several files each one's messages stand under its name, as a folder's files do in
    // ls; in JSON each object names its file instead, so that every line stays one object.
    bool several = opt.paths.size() > 1;
    bool all_read = true, headed = false;
    for (const char *path : opt.paths) {
        const char *name = strcmp(path, "-") ? path : STDIN_NAME;
        if (VIDEO_INPUT *video = open_video(path)) {
            if (several && !opt.json) {
                fprintf(stdout, "%s%s:\n", headed ? "\n" : "", name);
                headed = true;
            }
            errno = 0;
            bool ok = decode_video(video, opt, name, several ? name : nullptr, stdout);
            if (!output_ok(stdout)) return 1;
            all_read = all_read && ok;
            continue;
        }
        SF_INFO info;
        Held held;
        SNDFILE *sf = open_sound(path, name, &info, &held);
        if (!sf) {
            all_read = false;
            continue;
        }
        if (several && !opt.json) {
            fprintf(stdout, "%s%s:\n", headed ? "\n" : "", name);
            headed = true;
        }
        errno = 0;
        bool ok = decode_sound(sf, info, opt, name, several ? name : nullptr, stdout);
        if (!output_ok(stdout)) return 1;
        all_read = all_read && ok;
    }
    errno = 0;
    if (!output_ok(stdout)) return 1;
    if (fclose(stdout) != 0) {
        fprintf(stderr, "lumikey-decode: could not write the output: %s\n", strerror(errno));
        return 1;
    }
    return all_read ? 0 : 1;
}
