// tests/audio/tone_noaudio_test.cpp: without any audio device the program keys and sends on
// silently: no abort, the documented messages, and no audio call after a failed install.
#include <gtest/gtest.h>
#include <allegro5/allegro.h>

#include "audio/sidetone.hpp"
#include "audio/tone.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"
#include "support/test_sequence.hpp"
#include "support/wav_reader.hpp" // select_openal

TEST(ToneNoAudioTest, EveryOperationDegradesToSilence) {
    MORSE_SEQUENCE *seq = test_sequence("SOS", 100);
    ASSERT_NE(seq, nullptr);
    PLAYER_CHANNEL ch{};
    ch.name = "untouched";
    {
        // Before Allegro itself is up, the audio add-on would assert.
        LogCapture log(LOG_ERR);
        EXPECT_EQ(tone_audio_init(), 0);
        EXPECT_TRUE(log.contains("al_install_audio failed, sound disabled")) << log.text();
    }
    ASSERT_TRUE(al_init());
    // Only OpenAL, and OpenAL with no usable output: the install fails.
    WaveCapture::select_openal();
    ScopedEnv drivers("ALSOFT_DRIVERS", "no-such-output");
    {
        LogCapture log(LOG_ERR);
        EXPECT_EQ(tone_audio_init(), 0);
        EXPECT_TRUE(log.contains("al_install_audio failed, sound disabled")) << log.text();
    }
    EXPECT_EQ(tone_available(), 0);
    EXPECT_EQ(tone_prepare(seq, 700, 0, &ch), 0);
    EXPECT_STREQ(ch.name, "untouched");
    EXPECT_EQ(sidetone_start(700), 0);
    sidetone_key(1);
    sidetone_stop();
    tone_release();
    tone_audio_shutdown();
    EXPECT_EQ(tone_available(), 0);
    morse_sequence_free(&seq);
}
