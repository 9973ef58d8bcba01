// src/morse/ear_segment.hpp: marks and spaces found in a mixed-down tone by soft decisions. Every
// possible mark is scored as a whole, through a filter matched to its own length, against the
// levels of tone and noise around it, and a sequence decision over whole marks and spaces (of
// the lengths Morse keys at the learnt unit) picks the likeliest reading. A mark cut by a dip of
// noise or a space filled by a burst costs less than a reading of pieces, so noise close to the
// tone's own level reads far better than a threshold would. It knows nothing of letters.
#pragma once
#include <complex>
#include <vector>

// One mark (on) or space, in ms, and what the reading over letters made of it: a dot (0) or a
// dash (1), a gap inside a letter (0) or between letters (1); -1 when not read over letters.
struct EAR_RUN {
    int on;
    double ms;
    int kind = -1;
};

// Reads z (the tone mixed down, one value per ms) at unit_ms, starting from a first reading
// (guess, its first mark at guess_first_ms), and returns the runs, from the first mark to the
// last, with the first mark's start in *first_ms. Levels of tone and noise are followed through
// the stretch, so fading and a receiver's gain riding the noise up in the gaps are read in step.
// *score is how much likelier the reading is than silence throughout (log-likelihood, the
// lengths' odds included): readings of one stretch at several units compare by it. Returns the
// guess itself, with a score of 0, when z is too short to be read again. With letters, the last
// reading is over the letters of the Morse table (ear_letters) and every run gets its kind; a
// machine keyer's message is then read again with each letter held to the grid of its unit.
// With noise_var (the noise's power per sample, ms by ms), the moments where it is infinite
// (blanked by ear_blank) count for nothing, neither mark nor space.
std::vector<EAR_RUN> ear_segment(const std::vector<std::complex<float>> &z, double unit_ms,
                                 const std::vector<EAR_RUN> &guess, double guess_first_ms,
                                 bool letters, double *first_ms, double *score,
                                 const std::vector<float> *noise_var = nullptr);
