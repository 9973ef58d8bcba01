// tests/support/wav_reader.hpp: reading back what an audio output wrote (16-bit or float WAV,
// plain or extensible), and finding tones in it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct WavData {
    uint32_t rate = 0;
    unsigned channels = 0;
    std::vector<float> samples; // the first channel, full scale = 1
};

// false (with a reason in *why when given) when the file is missing or not a supported WAV.
bool wav_read(const std::string &path, WavData *out, std::string *why = nullptr);

// A stretch of sound: [start, end) in samples.
struct WavSegment {
    size_t start;
    size_t end;
};

// Stretches where |x| exceeds threshold, bridging quiet runs shorter than bridge samples (a
// sine passes through zero twice a cycle).
std::vector<WavSegment> wav_segments(const std::vector<float> &x, float threshold, size_t bridge);

// Frequency from the sign changes in [start, end), in Hz.
double wav_frequency(const std::vector<float> &x, size_t start, size_t end, uint32_t rate);

// Samples in [start, end) that break the recurrence of a sine of hz (x[k-1] + x[k+1] =
// 2 cos(w) x[k]) by more than tolerance: a dropped, repeated or zeroed sample shows here.
size_t wav_sine_breaks(const std::vector<float> &x, size_t start, size_t end, double hz,
                       uint32_t rate, float tolerance);

// Largest |x| in [start, end).
float wav_peak(const std::vector<float> &x, size_t start, size_t end);

// For the whole process: makes OpenAL, under Allegro's audio, write what it plays to a WAV file
// in a temporary folder instead of a sound card, and makes Allegro use OpenAL. Create it before
// the audio system is installed.
class WaveCapture {
public:
    WaveCapture();
    ~WaveCapture();
    WaveCapture(const WaveCapture &) = delete;
    WaveCapture &operator=(const WaveCapture &) = delete;
    const std::string &wav_path() const { return wav_; }
    // Selects OpenAL in Allegro's configuration (needs al_init).
    static void select_openal();

private:
    std::string dir_;
    std::string conf_;
    std::string wav_;
};
