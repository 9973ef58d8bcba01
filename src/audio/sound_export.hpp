// src/audio/sound_export.hpp: Morse saved as a sound file to take away (WAV, FLAC or Ogg/Vorbis
// through libsndfile), rendered by the same tone renderer and edges as the live sound.
#pragma once
#include <cstddef>
#include <cstdint>

#include "morse/sequencer.hpp"

enum SOUND_FORMAT {
    SOUND_WAV = 0,
    SOUND_FLAC = 1,
    SOUND_OGG = 2,
    SOUND_FORMAT_COUNT = 3,
};

enum SOUND_EXPORT_RESULT {
    SOUND_SAVED = 0,
    SOUND_NO_DIR = 1,       // the folder does not exist (or is not a folder)
    SOUND_NOT_WRITABLE = 2, // the folder refuses a new file
    SOUND_NOTHING = 3,      // the text has nothing that can be sent
    SOUND_FAILED = 4,       // bad arguments, memory, or the encoder failed (no file is left)
};

// What to render: the text at the timing, letter and word gaps spread to effective_wpm
// (0: none), a tone of tone_hz at sample_rate (0: 44100).
struct SOUND_EXPORT {
    const char *text;
    MORSE_TIMING timing;
    uint32_t effective_wpm;
    uint32_t tone_hz;
    uint32_t sample_rate;
    SOUND_FORMAT format;
};

// The file name extension of format, without the dot ("wav", "flac", "ogg").
const char *sound_format_ext(SOUND_FORMAT format);
// The name of a file for text saved at when (seconds since the epoch, local time): up to 24
// letters and digits of the text, words joined by '_' ("morse" when none are left), then the
// date and time, then the extension. Always NUL-terminated when out_size > 0.
void sound_export_name(const char *text, int64_t when, SOUND_FORMAT format, char *out,
                       size_t out_size);
// Renders e and writes it into dir under sound_export_name, never over an existing file: a
// taken name gets "-2", "-3"... before the extension. On SOUND_SAVED the file's path is in
// path (when it fits path_size); on any other result nothing was created.
SOUND_EXPORT_RESULT sound_export_write(const SOUND_EXPORT *e, const char *dir, int64_t when,
                                       char *path, size_t path_size);
// The sequence a SOUND_EXPORT renders (built, spread and closed with a word gap), or null.
MORSE_SEQUENCE *sound_export_sequence(const SOUND_EXPORT *e);
