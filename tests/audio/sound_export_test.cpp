// tests/audio/sound_export_test.cpp: Morse saved as sound files, read back with libsndfile.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include "audio/sound_export.hpp"
#include "platform/platform_desktop.hpp"
#include "support/morse_signal.hpp"
#include "support/test_env.hpp"
#include "support/wav_reader.hpp"

namespace {

const int64_t WHEN = 1765000000; // a fixed moment, so the name is known

struct Sound {
    uint32_t rate = 0;
    int format = 0;
    std::vector<float> x;
};

bool read_back(const std::string &path, Sound *out) {
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return false;
    out->rate = (uint32_t)info.samplerate;
    out->format = info.format;
    out->x.assign((size_t)info.frames * (size_t)info.channels, 0.0f);
    sf_count_t got = sf_readf_float(f, out->x.data(), info.frames);
    sf_close(f);
    out->x.resize((size_t)got * (size_t)info.channels);
    return info.channels == 1 && got == info.frames;
}

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

SOUND_EXPORT lesson(const char *text, SOUND_FORMAT format) {
    SOUND_EXPORT e{};
    e.text = text;
    morse_timing_default(&e.timing);
    e.timing.unit_ms = morse_wpm_to_unit_ms(20);
    e.effective_wpm = 8; // letters at 20 WPM, spaced out to 8
    e.tone_hz = 700;
    e.format = format;
    return e;
}

// Every format carries the sequence: one tone per mark, at the tone's pitch, starting and
// ending where the sequence (Farnsworth gaps included) says, to within the raised-cosine edges
// (Vorbis smears them a little more).
TEST(SoundExport, FilesReadBackWithTheSequencesElementsAndTiming) {
    TempDir dir;
    const SOUND_FORMAT formats[] = {SOUND_WAV, SOUND_FLAC, SOUND_OGG};
    const int major[] = {SF_FORMAT_WAV, SF_FORMAT_FLAC, SF_FORMAT_OGG};
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(sound_format_ext(formats[i]));
        SOUND_EXPORT e = lesson("PARIS KM5", formats[i]);
        char path[512];
        ASSERT_EQ(sound_export_write(&e, dir.path().c_str(), WHEN, path, sizeof path), SOUND_SAVED);
        Sound s;
        ASSERT_TRUE(read_back(path, &s));
        EXPECT_EQ(s.format & SF_FORMAT_TYPEMASK, major[i]);
        ASSERT_EQ(s.rate, 44100u);

        MORSE_SEQUENCE *seq = sound_export_sequence(&e);
        ASSERT_NE(seq, nullptr);
        std::vector<const MORSE_EVENT *> marks;
        for (size_t k = 0; k < seq->count; k++)
            if (seq->events[k].state < MORSE_SYM_GAP) marks.push_back(&seq->events[k]);
        // The gaps are those of 20 WPM letters spaced out to 8 WPM, worked out independently.
        double letter_units, word_units;
        farnsworth_gaps(20, 8, &letter_units, &word_units);
        const MORSE_EVENT &after_p = seq->events[7]; // P is .--. : 4 marks, 3 gaps inside
        ASSERT_EQ(after_p.state, MORSE_LETTER_GAP);
        EXPECT_NEAR(after_p.duration_ms, letter_units * e.timing.unit_ms, 2.0);
        double tol_ms = formats[i] == SOUND_OGG ? 6.0 : 4.0;
        std::vector<WavSegment> tones = wav_segments(s.x, 0.15f, s.rate / 700);
        ASSERT_EQ(tones.size(), marks.size());
        for (size_t k = 0; k < marks.size(); k++) {
            double start = 1000.0 * (double)tones[k].start / s.rate;
            double end = 1000.0 * (double)tones[k].end / s.rate;
            EXPECT_NEAR(start, marks[k]->start_ms, tol_ms) << "tone " << k;
            EXPECT_NEAR(end, marks[k]->start_ms + marks[k]->duration_ms, tol_ms) << "tone " << k;
            EXPECT_NEAR(wav_frequency(s.x, tones[k].start, tones[k].end, s.rate), 700.0, 15.0);
        }
        // The file ends on a word's silence after the last mark.
        EXPECT_NEAR(1000.0 * (double)s.x.size() / s.rate, seq->total_ms, 1.0);
        morse_sequence_free(&seq);
    }
    EXPECT_EQ(files_in(dir.path()).size(), 3u);
}

// A second save of the same text in the same second gets a name of its own; the first file is
// left exactly as it was. The name is made of the text's letters and digits and the time.
TEST(SoundExport, AnExistingFileIsNeverOverwritten) {
    TempDir dir;
    SOUND_EXPORT e = lesson("cq de f4/abc", SOUND_WAV);
    char first[512], second[512];
    ASSERT_EQ(sound_export_write(&e, dir.path().c_str(), WHEN, first, sizeof first), SOUND_SAVED);
    char name[128];
    sound_export_name(e.text, WHEN, SOUND_WAV, name, sizeof name);
    EXPECT_EQ(std::string(first), dir.file(name));
    EXPECT_EQ(std::string(name).rfind("cq_de_f4_abc_20", 0), 0u) << name;
    struct stat before {};
    ASSERT_EQ(stat(first, &before), 0);

    e.timing.unit_ms = 200; // a longer file, so an overwrite would show in the size
    ASSERT_EQ(sound_export_write(&e, dir.path().c_str(), WHEN, second, sizeof second), SOUND_SAVED);
    EXPECT_NE(std::string(first), std::string(second));
    EXPECT_NE(std::string(second).find("-2.wav"), std::string::npos) << second;
    struct stat after {};
    ASSERT_EQ(stat(first, &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(files_in(dir.path()).size(), 2u);
}

// A folder that is missing or refuses files gets its own answer and nothing is created; a
// text with nothing to send writes nothing either.
TEST(SoundExport, MissingOrUnwritableFolderCreatesNothing) {
    TempDir dir;
    SOUND_EXPORT e = lesson("TEST", SOUND_FLAC);
    char path[512] = "stale";
    EXPECT_EQ(sound_export_write(&e, dir.file("Music").c_str(), WHEN, path, sizeof path),
              SOUND_NO_DIR);
    EXPECT_STREQ(path, "");
    EXPECT_TRUE(files_in(dir.path()).empty());

    // The superuser writes through permissions, so it is given a folder no one may write to.
    std::string locked = dir.file("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    const char *refusing = geteuid() == 0 ? "/sys" : locked.c_str();
    EXPECT_EQ(sound_export_write(&e, refusing, WHEN, path, sizeof path), SOUND_NOT_WRITABLE);
    EXPECT_STREQ(path, "");
    EXPECT_TRUE(files_in(locked).empty());

    e.text = "~~~";
    EXPECT_EQ(sound_export_write(&e, dir.path().c_str(), WHEN, path, sizeof path), SOUND_NOTHING);
    EXPECT_EQ(files_in(dir.path()).size(), 1u); // only "locked"
    chmod(locked.c_str(), 0755);
}

// The music folder is what xdg-user-dir names, and ~/Music when it answers the home folder.
TEST(SoundExport, MusicFolderFollowsTheUserDirsSetting) {
    TempDir home;
    ScopedEnv env("HOME", home.path().c_str());
    ScopedEnv cfg("XDG_CONFIG_HOME", nullptr);
    char out[512];
    ASSERT_EQ(platform_music_dir(out, sizeof out), 1);
    EXPECT_EQ(std::string(out), home.file("Music"));
    ASSERT_EQ(mkdir(home.file(".config").c_str(), 0755), 0);
    FILE *f = fopen(home.file(".config/user-dirs.dirs").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("XDG_MUSIC_DIR=\"$HOME/Klänge\"\n", f);
    fclose(f);
    ASSERT_EQ(platform_music_dir(out, sizeof out), 1);
    EXPECT_EQ(std::string(out), home.file("Klänge"));
}

} // namespace
