// tests/main/app_ops_test.cpp: starting and stopping sends on a record without a display: the
// outputs each send uses, the flashlight's unit floor, a send replacing another, texts with
// nothing to send, the editor draft, the requests the loop applies and the history save.
// ctest-label: threaded
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>

#include "audio/tone.hpp"
#include "main/app.hpp"
#include "model/model_test_env.hpp"
#include "phone/torch.hpp"
#include "phone/vibrator.hpp"
#include "support/fake_phone.hpp"
#include "support/ka_log.hpp"

namespace {

// A started program's model and player, without display or GUI; the desktop's outputs unless
// a test installs the fake phone.
class AppOps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(al_init());
        ASSERT_EQ(tone_audio_init(), 1);
    }
    void SetUp() override {
        ASSERT_TRUE(save_.ok());
        app_.reset(new LUMIKEY_APP());
        a = app_.get();
        settings_default(&a->settings);
        a->settings.out_sound = 0;
        a->presets = presets_new();
        a->received = received_new();
        a->player = player_new();
        a->msg_field = a->target_id = -1;
        al_init_user_event_source(&a->wake_source);
    }
    void TearDown() override {
        app_stop_playback(a);
        player_free(&a->player);
        presets_free(&a->presets);
        received_free(&a->received);
        al_destroy_user_event_source(&a->wake_source);
        torch_shutdown();
        vibrator_shutdown();
        torch_set_platform(nullptr);
        vibrator_set_platform(nullptr);
    }
    void install_phone() {
        torch_ = phone_.torch();
        vib_ = phone_.vibrator();
        torch_set_platform(&torch_);
        vibrator_set_platform(&vib_);
    }
    // The events a sequence built from text with the settings' timing holds.
    size_t events_of(const char *text) {
        MORSE_SEQUENCE *seq = morse_sequence_build(text, &a->settings.timing);
        size_t n = seq ? seq->count : 0;
        morse_sequence_free(&seq);
        return n;
    }

    SaveDir save_;
    std::unique_ptr<LUMIKEY_APP> app_;
    LUMIKEY_APP *a = nullptr;
    FakePhone phone_;
    TORCH_PLATFORM torch_;
    VIBRATOR_PLATFORM vib_;
};

std::vector<std::string> names_of(const PLAYER_CHANNEL *ch, size_t n) {
    std::vector<std::string> out;
    for (size_t i = 0; i < n; i++) out.push_back(ch[i].name);
    return out;
}

} // namespace

TEST_F(AppOps, EachOutputCombinationGivesItsChannelsInOrderWithTheirLeads) {
    install_phone();
    a->settings.audio_latency_ms = 40;
    a->settings.torch_latency_ms = 120;
    a->settings.vibrate_latency_ms = 70;
    MORSE_SEQUENCE *seq = morse_sequence_build("SOS", &a->settings.timing);
    ASSERT_NE(seq, nullptr);
    struct Case {
        int sound, torch, vibrate;
        std::vector<std::string> names;
        std::vector<uint32_t> leads;
    } cases[] = {
        {0, 0, 0, {"screen"}, {0}},
        {1, 0, 0, {"screen", "sound"}, {0, 40}},
        {0, 1, 0, {"screen", "torch"}, {0, 120}},
        {0, 0, 1, {"screen", "vibrate"}, {0, 70}},
        {1, 1, 1, {"screen", "sound", "torch", "vibrate"}, {0, 40, 120, 70}},
    };
    for (const Case &c : cases) {
        a->settings.out_sound = c.sound;
        a->settings.out_torch = c.torch;
        a->settings.out_vibrate = c.vibrate;
        PLAYER_CHANNEL ch[PLAYER_MAX_CHANNELS];
        size_t n = app_playback_channels(a, seq, ch);
        tone_release();
        EXPECT_EQ(names_of(ch, n), c.names);
        for (size_t i = 0; i < n && i < c.leads.size(); i++)
            EXPECT_EQ(ch[i].lead_ms, c.leads[i]) << ch[i].name;
        // The light reports to the app's record and starts with no current event.
        EXPECT_EQ(ch[0].user, &a->light);
        EXPECT_EQ(a->light.index, SIZE_MAX);
    }
    morse_sequence_free(&seq);

    // play_bg: only a send with an output besides the light may go on in the background.
    a->settings.out_torch = a->settings.out_vibrate = 0;
    a->settings.out_sound = 0;
    app_request_play(a, "E");
    ASSERT_EQ(app_start_playback(a), 1);
    EXPECT_EQ(a->play_bg, 0);
    EXPECT_EQ(a->screen, SCREEN_PLAY);
    a->settings.out_sound = 1;
    ASSERT_EQ(app_start_playback(a), 1);
    EXPECT_EQ(a->play_bg, 1);
}

TEST_F(AppOps, TheFlashlightRaisesAShortUnitForTheSendOnly) {
    install_phone();
    a->settings.timing.unit_ms = 40;
    a->settings.out_torch = 1;
    LogCapture log(LOG_INFO);
    app_request_play(a, "SOS");
    ASSERT_EQ(app_start_playback(a), 1);
    ASSERT_NE(player_sequence(a->player), nullptr);
    EXPECT_EQ(player_sequence(a->player)->timing.unit_ms, 60u);
    EXPECT_EQ(player_sequence(a->player)->events[0].duration_ms, 60u);
    EXPECT_EQ(a->settings.timing.unit_ms, 40u);
    std::string text = log.text();
    const std::string raise = "unit 40 ms raised to 60 ms for the flashlight";
    size_t at = text.find(raise);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find(raise, at + 1), std::string::npos) << text;

    // Without a flashlight the unit is the user's.
    app_stop_playback(a);
    torch_shutdown();
    torch_set_platform(nullptr);
    ASSERT_EQ(app_start_playback(a), 1);
    EXPECT_EQ(player_sequence(a->player)->timing.unit_ms, 40u);
}

TEST_F(AppOps, ASendStartedWhileAnotherPlaysReplacesIt) {
    a->settings.out_sound = 1;
    app_request_play(a, "PARIS PARIS PARIS");
    ASSERT_EQ(app_start_playback(a), 1);
    const MORSE_SEQUENCE *first = player_sequence(a->player);
    ASSERT_NE(first, nullptr);
    size_t first_count = first->count;
    LogCapture log(LOG_INFO);
    app_request_play(a, "E");
    ASSERT_EQ(app_start_playback(a), 1);
    EXPECT_TRUE(player_is_playing(a->player));
    const MORSE_SEQUENCE *second = player_sequence(a->player);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->count, first_count);
    // "E" is one dot, closed by the player with an off gap.
    EXPECT_LE(second->count, events_of("E") + 1);
    // The first send's tone was dropped before the second was rendered.
    EXPECT_TRUE(log.contains("tone ready")) << log.text();
    EXPECT_EQ(a->screen, SCREEN_PLAY);
}

TEST_F(AppOps, ATextOfOnlyUnsupportedCharactersSendsNothingAndGoesHome) {
    a->settings.out_sound = 1;
    a->screen = SCREEN_HISTORY;
    LogCapture log(LOG_INFO);
    app_request_play(a, "\xE2\x82\xAC\xE2\x82\xAC~");
    app_apply_requests(a);
    EXPECT_FALSE(player_is_playing(a->player));
    EXPECT_EQ(a->screen, SCREEN_HOME);
    EXPECT_EQ(a->play_requested, 0);
    EXPECT_TRUE(log.contains("3 unsupported character(s) skipped")) << log.text();
    EXPECT_TRUE(log.contains("nothing playable in '\xE2\x82\xAC\xE2\x82\xAC~'")) << log.text();
}

TEST_F(AppOps, TheEditorDraftIsCutOnACharacterBoundary) {
    std::string two_byte;
    while (two_byte.size() < 600) two_byte += "\xC3\xA9";
    app_edit_new_preset_from(a, two_byte.c_str());
    EXPECT_EQ(strlen(a->draft_text), 510u);
    EXPECT_EQ(std::string(a->draft_text), two_byte.substr(0, 510));
    EXPECT_EQ(a->draft_valid, 1);
    EXPECT_EQ(a->target_id, -1);
    EXPECT_EQ(a->draft_cat, PRESET_CAT_CUSTOM);
    EXPECT_STREQ(a->draft_name, "");
    EXPECT_EQ(a->screen, SCREEN_EDIT);

    std::string ascii(511, 'A');
    app_edit_new_preset_from(a, ascii.c_str());
    EXPECT_EQ(std::string(a->draft_text), ascii);
    app_edit_new_preset_from(a, nullptr);
    EXPECT_STREQ(a->draft_text, "");
}

TEST_F(AppOps, StopThenSaveAsPresetOpensTheEditorOnThePlayedText) {
    app_request_play(a, "CQ CQ DE TEST");
    app_apply_requests(a);
    ASSERT_TRUE(player_is_playing(a->player));
    a->save_after_stop = 1;
    app_request_stop(a);
    app_apply_requests(a);
    EXPECT_FALSE(player_is_playing(a->player));
    EXPECT_EQ(a->screen, SCREEN_EDIT);
    EXPECT_STREQ(a->draft_text, "CQ CQ DE TEST");
    EXPECT_EQ(a->save_after_stop, 0);
    // A plain stop goes home.
    app_request_play(a, "CQ");
    app_apply_requests(a);
    app_request_stop(a);
    app_apply_requests(a);
    EXPECT_EQ(a->screen, SCREEN_HOME);
    EXPECT_TRUE(screen_light_stopped(&a->light));
}

TEST_F(AppOps, ASentMessageIsKeptInTheHistoryEvenWhenItsSaveFails) {
    app_send_message(a, "GR\xC3\x9C\xC3\x9F"
                        "E");
    EXPECT_EQ(a->play_requested, 1);
    EXPECT_EQ(a->play_from_message, 1);
    EXPECT_STREQ(a->play_text, "GR\xC3\x9C\xC3\x9F"
                               "E");
    EXPECT_NE(read_file(save_.file("sent_history.json"))
                  .find("GR\xC3\x9C\xC3\x9F"
                        "E"),
              std::string::npos);

    std::filesystem::create_directory(save_.file("sent_history.json.tmp"));
    LogCapture log(LOG_INFO);
    app_send_message(a, "SECOND");
    EXPECT_TRUE(log.contains("could not save sent_history.json")) << log.text();
    ASSERT_EQ(a->history.count, 2u);
    EXPECT_STREQ(a->history.items[0], "SECOND");
    EXPECT_STREQ(a->play_text, "SECOND");
    // Once the disk works again, the next change writes both.
    std::filesystem::remove(save_.file("sent_history.json.tmp"));
    app_send_message(a, "THIRD");
    std::string file = read_file(save_.file("sent_history.json"));
    EXPECT_NE(file.find("SECOND"), std::string::npos) << file;
    EXPECT_NE(file.find("THIRD"), std::string::npos) << file;
}

// Sending an entry of the history again moves it to the top of the very array the text lives
// in: the send must still be of that entry, not of whatever moved into its place.
TEST_F(AppOps, AHistoryEntrySentAgainIsTheOneSent) {
    for (const char *m : {"OLDEST", "MIDDLE", "NEWEST"}) app_send_message(a, m);
    ASSERT_EQ(a->history.count, 3u);
    ASSERT_STREQ(a->history.items[2], "OLDEST");
    app_send_message(a, a->history.items[2]);
    EXPECT_STREQ(a->play_text, "OLDEST");
    EXPECT_STREQ(a->history.items[0], "OLDEST");
    EXPECT_STREQ(a->history.items[1], "NEWEST");
    EXPECT_STREQ(a->history.items[2], "MIDDLE");
}

// The bounce guard compares the presses' own time stamps: after a stall of the loop two
// deliberate presses 0.4 s apart arrive together and both count; 0.2 s apart is a bounce.
TEST_F(AppOps, TheBackKeyTellsABounceByTheEventsOwnTimes) {
    a->back_time = -1;
    a->screen = SCREEN_KEY;
    app_back(a, 20.0);
    EXPECT_EQ(a->screen, SCREEN_HOME);
    a->screen = SCREEN_RECEIVED;
    app_back(a, 20.4);
    EXPECT_EQ(a->screen, SCREEN_RECEIVE) << "0.4 s later, handled at once";
    app_back(a, 20.6);
    EXPECT_EQ(a->screen, SCREEN_RECEIVE) << "0.2 s later: a bounce";
    app_back(a, 20.75);
    EXPECT_EQ(a->screen, SCREEN_HOME) << "0.35 s after the last press acted on";
    a->running = 1;
    app_back(a, 20.8);
    EXPECT_EQ(a->running, 1) << "a bounce on the home screen does not quit";
    app_back(a, 21.2);
    EXPECT_EQ(a->running, 0);
}
