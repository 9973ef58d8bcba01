// src/audio/sound_export.cpp: Morse saved as a sound file through libsndfile.
#include "audio/sound_export.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/tone.hpp"
#include "audio/tone_synth.hpp"
#include "support/ka_common.hpp"

// Vorbis quality (0 to 1): a pure tone with silences needs little, and a five-minute lesson
// should stay small enough for a phone.
static const double _VORBIS_QUALITY = 0.3;
// Frames handed to the encoder at a time, so a long lesson's progress is steady.
static const size_t _WRITE_CHUNK = 65536;
// Names tried before giving up on a folder full of takes of the same text in the same second.
static const int _MAX_TAKES = 100;

const char *sound_format_ext(SOUND_FORMAT format) {
    switch (format) {
    case SOUND_FLAC:
        return "flac";
    case SOUND_OGG:
        return "ogg";
    default:
        return "wav";
    }
}

static int _sf_format(SOUND_FORMAT format) {
    switch (format) {
    case SOUND_FLAC:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case SOUND_OGG:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    default:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    }
}

// The text's letters and digits, words joined by one '_', cut to max characters.
static void _slug(const char *text, char *out, size_t max) {
    size_t n = 0;
    int pending_sep = 0;
    for (const unsigned char *p = (const unsigned char *)text; *p && n < max; p++) {
        if (*p < 0x80 && isalnum(*p)) {
            if (pending_sep && n > 0 && n + 1 < max) out[n++] = '_';
            pending_sep = 0;
            out[n++] = (char)*p;
        } else {
            pending_sep = 1;
        }
    }
    out[n] = '\0';
}

void sound_export_name(const char *text, int64_t when, SOUND_FORMAT format, char *out,
                       size_t out_size) {
    __ka_assert(out && out_size > 0, return );
    char slug[25];
    _slug(text ? text : "", slug, sizeof slug - 1);
    time_t t = (time_t)when;
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    localtime_r(&t, &tm);
    snprintf(out, out_size, "%s_%04d-%02d-%02d_%02d%02d%02d.%s", slug[0] ? slug : "morse",
             tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
             sound_format_ext(format));
}

MORSE_SEQUENCE *sound_export_sequence(const SOUND_EXPORT *e) {
    __ka_assert(e && e->text, return nullptr);
    MORSE_SEQUENCE *seq = morse_sequence_build(e->text, &e->timing);
    if (!seq) return nullptr;
    if (e->effective_wpm && !morse_sequence_spread(seq, e->effective_wpm)) {
        morse_sequence_free(&seq);
        return nullptr;
    }
    // The file ends on a word's silence, so it does not stop dead on the last element and
    // files played one after another keep the rhythm.
    if (seq->count) morse_sequence_close(seq, seq->timing.word_gap_units);
    return seq;
}

// Opens a new file in dir for name, adding "-2", "-3"... to a name already taken. The
// descriptor, or -1 with *result saying why.
static int _create(const char *dir, const char *name, char *path, size_t path_size,
                   SOUND_EXPORT_RESULT *result) {
    const char *dot = strrchr(name, '.');
    size_t stem = dot ? (size_t)(dot - name) : strlen(name);
    for (int take = 1; take <= _MAX_TAKES; take++) {
        int n = take == 1 ? snprintf(path, path_size, "%s/%s", dir, name)
                          : snprintf(path, path_size, "%s/%.*s-%d%s", dir, (int)stem, name, take,
                                     dot ? dot : "");
        if (n < 0 || (size_t)n >= path_size) break;
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) return fd;
        if (errno == EEXIST) continue;
        *result = errno == ENOENT || errno == ENOTDIR ? SOUND_NO_DIR : SOUND_NOT_WRITABLE;
        ka_log(LOG_ERR, "cannot create %s: %s", path, strerror(errno));
        return -1;
    }
    *result = SOUND_FAILED;
    ka_log(LOG_ERR, "no free name for %s in %s", name, dir);
    return -1;
}

// Writes frames of samples to the new file behind fd (taken over). 1 on success.
static int _encode(int fd, SOUND_FORMAT format, uint32_t rate, const int16_t *samples,
                   size_t frames) {
    SF_INFO info;
    memset(&info, 0, sizeof info);
    info.samplerate = (int)rate;
    info.channels = 1;
    info.format = _sf_format(format);
    SNDFILE *f = sf_open_fd(fd, SFM_WRITE, &info, 1);
    if (!f) {
        ka_log(LOG_ERR, "sound file not opened: %s", sf_strerror(nullptr));
        close(fd);
        return 0;
    }
    if (format == SOUND_OGG) {
        double q = _VORBIS_QUALITY;
        sf_command(f, SFC_SET_VBR_ENCODING_QUALITY, &q, sizeof q);
    }
    int ok = 1;
    for (size_t at = 0; ok && at < frames; at += _WRITE_CHUNK) {
        size_t n = frames - at < _WRITE_CHUNK ? frames - at : _WRITE_CHUNK;
        ok = sf_writef_short(f, samples + at, (sf_count_t)n) == (sf_count_t)n;
    }
    if (!ok) ka_log(LOG_ERR, "sound file not written: %s", sf_strerror(f));
    if (sf_close(f) != 0) ok = 0;
    return ok;
}

SOUND_EXPORT_RESULT sound_export_write(const SOUND_EXPORT *e, const char *dir, int64_t when,
                                       char *path, size_t path_size) {
    __ka_assert(e && e->text && dir && path && path_size > 0, return SOUND_FAILED);
    path[0] = '\0';
    struct stat st;
    if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) return SOUND_NO_DIR;
    if (access(dir, W_OK | X_OK) != 0) return SOUND_NOT_WRITABLE;
    uint32_t rate = e->sample_rate ? e->sample_rate : 44100;
    MORSE_SEQUENCE *seq = sound_export_sequence(e);
    if (!seq) return SOUND_FAILED;
    if (seq->count == 0) {
        morse_sequence_free(&seq);
        return SOUND_NOTHING;
    }
    int16_t *samples = nullptr;
    size_t frames = 0;
    int rendered =
        tone_render(seq, rate, e->tone_hz, TONE_AMPLITUDE, TONE_RAMP_MS, &samples, &frames);
    morse_sequence_free(&seq);
    if (!rendered) return SOUND_FAILED;

    char name[128];
    sound_export_name(e->text, when, e->format, name, sizeof name);
    SOUND_EXPORT_RESULT result = SOUND_FAILED;
    int fd = _create(dir, name, path, path_size, &result);
    if (fd >= 0) {
        if (_encode(fd, e->format, rate, samples, frames)) {
            result = SOUND_SAVED;
            ka_log(LOG_INFO, "saved %zu frames to %s", frames, path);
        } else {
            unlink(path);
            result = SOUND_FAILED;
        }
    }
    free(samples);
    if (result != SOUND_SAVED) path[0] = '\0';
    return result;
}
