// tests/e2e/wav_morse_app.cpp: what Morse a WAV file holds, for end-to-end scripts that point
// the program's sound at OpenAL's wave writer.
//   wav_morse_app expect TEXT      the dots and dashes of TEXT ("... --- ...", " / " between words)
//   wav_morse_app heard WAV UNIT   the dots and dashes of the tone in WAV at UNIT ms per unit
//   wav_morse_app groups WAV UNIT GAP
//                                  the text of each send in WAV, one a line: sends are apart by
//                                  GAP ms of silence or more, and one still sounding (less than
//                                  GAP ms of silence after it in the file) is left out; a sign
//                                  that is no character shows as '?'
// A send that repeats shows as its symbols, " / ", its symbols again.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "morse/morse_table.hpp"
#include "morse/sequencer.hpp"
#include "support/wav_reader.hpp"

static int _expect(const char *text) {
    MORSE_TIMING timing;
    morse_timing_default(&timing);
    MORSE_SEQUENCE *seq = morse_sequence_build(text, &timing);
    if (!seq) return 1;
    char out[4096];
    morse_sequence_to_symbols(seq, out, sizeof out);
    morse_sequence_free(&seq);
    printf("%s\n", out);
    return 0;
}

// Marks shorter than two units are dots; gaps under two units join a letter, under five end it,
// longer ones end a word: halfway between the nominal 1, 3 and 7 units, so jitter of a
// fraction of a unit cannot change the reading.
static int _heard(const char *path, double unit_ms) {
    WavData wav;
    std::string why;
    if (!wav_read(path, &wav, &why)) {
        fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    double ms_per_sample = 1000.0 / wav.rate;
    // Bridge the sine's zero crossings (a few ms), never a gap of a unit.
    size_t bridge = (size_t)(wav.rate * 0.004);
    std::vector<WavSegment> segs = wav_segments(wav.samples, 0.02f, bridge);
    std::string out;
    for (size_t i = 0; i < segs.size(); i++) {
        if (i > 0) {
            double gap = (double)(segs[i].start - segs[i - 1].end) * ms_per_sample / unit_ms;
            if (gap >= 5)
                out += " / ";
            else if (gap >= 2)
                out += " ";
        }
        double len = (double)(segs[i].end - segs[i].start) * ms_per_sample / unit_ms;
        out += len < 2 ? "." : "-";
    }
    printf("%s\n", out.c_str());
    return 0;
}

static int _groups(const char *path, double unit_ms, double gap_ms) {
    WavData wav;
    std::string why;
    if (!wav_read(path, &wav, &why)) {
        fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    double ms_per_sample = 1000.0 / wav.rate;
    std::vector<WavSegment> segs = wav_segments(wav.samples, 0.02f, (size_t)(wav.rate * 0.004));
    std::string code, text;
    auto end_letter = [&]() {
        if (code.empty()) return;
        uint32_t c = morse_char_of(code.c_str());
        text += c > 0 && c < 128 ? (char)c : '?';
        code.clear();
    };
    for (size_t i = 0; i < segs.size(); i++) {
        code += (double)(segs[i].end - segs[i].start) * ms_per_sample / unit_ms < 2 ? '.' : '-';
        size_t next = i + 1 < segs.size() ? segs[i + 1].start : wav.samples.size();
        double gap = (double)(next - segs[i].end) * ms_per_sample;
        if (gap >= 2 * unit_ms) end_letter();
        if (gap >= gap_ms) {
            printf("%s\n", text.c_str());
            text.clear();
        }
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 3 && !strcmp(argv[1], "expect")) return _expect(argv[2]);
    if (argc == 4 && !strcmp(argv[1], "heard")) return _heard(argv[2], atof(argv[3]));
    if (argc == 5 && !strcmp(argv[1], "groups"))
        return _groups(argv[2], atof(argv[3]), atof(argv[4]));
    fprintf(stderr, "usage: %s expect TEXT | heard WAV UNIT_MS | groups WAV UNIT_MS GAP_MS\n",
            argv[0]);
    return 2;
}
