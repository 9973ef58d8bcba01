// src/morse/ear_blank.hpp: crashes of static taken out of a mixed-down tone before it is read. A
// crash (a click, a burst of a few tens of ms) stands far above the station's own marks around
// it; read as sound it makes a mark of nothing, cuts a word gap in two and lifts every level
// measured over it. The moments it covers are blanked instead: the tone set to nothing there and
// the noise to infinite, so that the readers take nothing from them, neither mark nor space,
// and the lengths of Morse bridge them. It knows nothing of letters or speed.
#pragma once
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

// Blanks the crashes in z (the tone mixed down, one value per ms) and in noise_var (the noise's
// power per sample, ms by ms, the same length): z is set to 0 and noise_var to +infinity over
// each crash and a few ms each side. Returns how many ms were blanked.
size_t ear_blank_crashes(std::vector<std::complex<float>> &z, std::vector<float> &noise_var);

// Blanks, in z and noise_var as above, the crashes that stand out by their breadth rather than
// their strength: a mark lifts the band only at its tone, a crash across the whole of it at once.
// x holds the n samples at rate (8 kHz; any other rate blanks nothing) that z was mixed down
// from, z[k] their k-th ms, and hz is the station's tone. Run after ear_blank_crashes: a crash
// it blanked is left as it measured it. Returns how many ms were blanked.
size_t ear_blank_wide(const float *x, size_t n, uint32_t rate, double hz,
                      std::vector<std::complex<float>> &z, std::vector<float> &noise_var);

// Whether the moment at k was blanked (noise_var infinite there).
inline bool ear_blanked(const std::vector<float> &noise_var, size_t k) {
    return k < noise_var.size() && !(noise_var[k] < 1e30f);
}
