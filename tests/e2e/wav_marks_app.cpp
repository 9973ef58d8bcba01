// tests/e2e/wav_marks_app.cpp: what an end-to-end script needs to know of a captured WAV: its
// loudest sample and every tone in it, with its length, pitch and the time its edges take to
// ramp, one line each:
//   peak P
//   mark START_MS LENGTH_MS HZ RISE_MS FALL_MS
// A tone is where the signal passes 2 % of full scale (quiet stretches under 30 ms bridged);
// its rise runs from there to the first sample at 90 % of the tone's peak, its fall from the
// last such sample to the end. An abrupt edge rises within a cycle, a ramped one takes longer.
#include <cmath>
#include <cstdio>
#include <string>

#include "support/wav_reader.hpp"

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.wav\n", argv[0]);
        return 2;
    }
    WavData wav;
    std::string why;
    if (!wav_read(argv[1], &wav, &why)) {
        fprintf(stderr, "%s: %s\n", argv[1], why.c_str());
        return 1;
    }
    const std::vector<float> &x = wav.samples;
    double ms = 1000.0 / wav.rate;
    printf("peak %.4f\n", (double)wav_peak(x, 0, x.size()));
    for (const WavSegment &s : wav_segments(x, 0.02f, wav.rate * 30 / 1000)) {
        float top = 0.9f * wav_peak(x, s.start, s.end);
        size_t first = s.start, last = s.end - 1;
        while (first < s.end && std::fabs(x[first]) < top) first++;
        while (last > s.start && std::fabs(x[last]) < top) last--;
        printf("mark %.1f %.1f %.0f %.1f %.1f\n", s.start * ms, (s.end - s.start) * ms,
               wav_frequency(x, s.start, s.end, wav.rate), (first - s.start) * ms,
               (s.end - last) * ms);
    }
    return 0;
}
