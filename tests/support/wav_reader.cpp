// tests/support/wav_reader.cpp
#include "support/wav_reader.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <allegro5/allegro.h>

#include "support/test_env.hpp"

static uint32_t _u32(const std::string &s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = (v << 8) | (unsigned char)s[at + i];
    return v;
}

static uint16_t _u16(const std::string &s, size_t at) {
    return (uint16_t)((unsigned char)s[at] | ((unsigned char)s[at + 1] << 8));
}

static bool _fail(std::string *why, const std::string &reason) {
    if (why) *why = reason;
    return false;
}

bool wav_read(const std::string &path, WavData *out, std::string *why) {
    std::string s = read_file(path);
    if (s.size() < 12 || s.compare(0, 4, "RIFF") || s.compare(8, 4, "WAVE"))
        return _fail(why, "not a RIFF WAVE file: " + path);
    unsigned format = 0, bits = 0, block = 0;
    size_t data_at = 0, data_len = 0;
    for (size_t at = 12; at + 8 <= s.size();) {
        std::string id = s.substr(at, 4);
        size_t len = _u32(s, at + 4);
        size_t body = at + 8;
        if (id == "fmt " && body + 16 <= s.size()) {
            format = _u16(s, body);
            out->channels = _u16(s, body + 2);
            out->rate = _u32(s, body + 4);
            block = _u16(s, body + 12);
            bits = _u16(s, body + 14);
            // WAVE_FORMAT_EXTENSIBLE: the real format is the first word of the sub-format.
            if (format == 0xFFFE && len >= 40 && body + 26 <= s.size()) format = _u16(s, body + 24);
        } else if (id == "data") {
            data_at = body;
            // A writer that was not closed leaves the size unset: take the rest of the file.
            data_len = (len == 0 || body + len > s.size()) ? s.size() - body : len;
            break;
        }
        at = body + len + (len & 1);
    }
    if (!data_at || !out->channels || !block) return _fail(why, "no fmt or data chunk");
    bool pcm16 = format == 1 && bits == 16;
    bool float32 = format == 3 && bits == 32;
    if (!pcm16 && !float32) return _fail(why, "unsupported sample format");
    size_t frames = data_len / block;
    out->samples.resize(frames);
    for (size_t i = 0; i < frames; i++) {
        const char *p = s.data() + data_at + i * block;
        if (pcm16) {
            int16_t v;
            memcpy(&v, p, 2);
            out->samples[i] = (float)v / 32768.0f;
        } else {
            memcpy(&out->samples[i], p, 4);
        }
    }
    return true;
}

std::vector<WavSegment> wav_segments(const std::vector<float> &x, float threshold, size_t bridge) {
    std::vector<WavSegment> out;
    size_t i = 0, n = x.size();
    while (i < n) {
        while (i < n && std::fabs(x[i]) <= threshold) i++;
        if (i == n) break;
        size_t start = i, last = i;
        while (i < n && i - last <= bridge) {
            if (std::fabs(x[i]) > threshold) last = i;
            i++;
        }
        out.push_back({start, last + 1});
        i = last + 1;
    }
    return out;
}

double wav_frequency(const std::vector<float> &x, size_t start, size_t end, uint32_t rate) {
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = start + 1; i < end && i < x.size(); i++) {
        if ((x[i - 1] < 0) != (x[i] < 0)) {
            if (crossings == 0) first = i;
            last = i;
            crossings++;
        }
    }
    if (crossings < 2) return 0.0;
    // Between the first and the last crossing lie crossings - 1 half periods.
    return (double)(crossings - 1) / 2.0 * rate / (double)(last - first);
}

size_t wav_sine_breaks(const std::vector<float> &x, size_t start, size_t end, double hz,
                       uint32_t rate, float tolerance) {
    double c2 = 2.0 * cos(2.0 * M_PI * hz / (double)rate);
    size_t breaks = 0;
    for (size_t k = start + 1; k + 1 < end && k + 1 < x.size(); k++)
        breaks += std::fabs(x[k - 1] + x[k + 1] - c2 * x[k]) > tolerance;
    return breaks;
}

float wav_peak(const std::vector<float> &x, size_t start, size_t end) {
    float peak = 0.0f;
    for (size_t i = start; i < end && i < x.size(); i++) peak = std::max(peak, std::fabs(x[i]));
    return peak;
}

WaveCapture::WaveCapture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumikey-wave-XXXXXX").string();
    if (mkdtemp(pattern.data())) dir_ = pattern;
    conf_ = dir_ + "/alsoft.conf";
    wav_ = dir_ + "/out.wav";
    write_file(conf_, "[general]\ndrivers=wave\n[wave]\nfile=" + wav_ + "\n");
    setenv("ALSOFT_CONF", conf_.c_str(), 1);
    // The test runner points OpenAL at its null output; that would win over the file.
    unsetenv("ALSOFT_DRIVERS");
}

WaveCapture::~WaveCapture() {
    std::error_code ec;
    if (!dir_.empty() && !getenv("LUMIKEY_KEEP_WAV")) std::filesystem::remove_all(dir_, ec);
}

void WaveCapture::select_openal() {
    ALLEGRO_CONFIG *cfg = al_get_system_config();
    if (cfg) al_set_config_value(cfg, "audio", "driver", "openal");
}

// Every audio test links this file. Allegro 5.2.8's OpenAL voice never frees the record of
// its mixing thread (200 bytes per al_install_audio); that is the library's, not ours.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:al_create_thread\n";
}
