// tests/model/app_storage_test.cpp: the application's saves, the settings retry of the main
// loop and the restore of the default presets, on a record without a display.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <gtest/gtest.h>

#include "i18n/i18n.hpp"

#include "main/app.hpp"
#include "model/json_store.hpp"
#include "model/model_test_env.hpp"

namespace fs = std::filesystem;

namespace {
// A zero-filled application record with the model of a started program.
struct App {
    std::unique_ptr<LUMIKEY_APP> app{new LUMIKEY_APP()};
    App() {
        settings_default(&app->settings);
        app->presets = presets_new();
        app->received = received_new();
        history_clear(&app->history);
    }
    ~App() {
        presets_free(&app->presets);
        received_free(&app->received);
    }
    LUMIKEY_APP *operator->() { return app.get(); }
    LUMIKEY_APP *get() { return app.get(); }
};

size_t count_of(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        n++;
    return n;
}
} // namespace

TEST(AppSaves, EachSaveWritesItsFileFromTheModel) {
    SaveDir save;
    App app;
    app->settings.tone_hz = 880;
    app->settings_dirty = 1;
    presets_add(app->presets, "Hi", "HELLO", PRESET_CAT_SOCIAL, 0, "");
    history_push(&app->history, "SENT TEXT");
    received_add(app->received, 1733600000, "RECEIVED TEXT", ".-.", 90);

    EXPECT_EQ(app_save_settings(app.get()), 1);
    EXPECT_EQ(app->settings_dirty, 0);
    EXPECT_EQ(app_save_presets(app.get()), 1);
    EXPECT_EQ(app_save_history(app.get()), 1);
    EXPECT_EQ(app_save_received(app.get()), 1);

    SETTINGS s;
    settings_default(&s);
    ASSERT_EQ(settings_from_json(&s, read_file(save.file("settings.json")).c_str()), 1);
    EXPECT_EQ(s.tone_hz, 880u);
    EXPECT_NE(read_file(save.file("presets.json")).find("\"HELLO\""), std::string::npos);
    EXPECT_NE(read_file(save.file("sent_history.json")).find("\"SENT TEXT\""), std::string::npos);
    EXPECT_NE(read_file(save.file("received.json")).find("\"RECEIVED TEXT\""), std::string::npos);
}

TEST(AppSaves, AFailedSaveIsLoggedAndKeepsTheOldFileAndTheDirtyFlag) {
    SaveDir save;
    App app;
    ASSERT_EQ(app_save_settings(app.get()), 1);
    std::string old = read_file(save.file("settings.json"));
    fs::create_directory(save.file("settings.json.tmp"));
    fs::create_directory(save.file("received.json.tmp"));
    app->settings.tone_hz = 900;
    app->settings_dirty = 1;
    LogCapture log;
    EXPECT_EQ(app_save_settings(app.get()), 0);
    EXPECT_EQ(app_save_received(app.get()), 0);
    EXPECT_TRUE(log.contains("could not save settings.json")) << log.text();
    EXPECT_TRUE(log.contains("could not save received.json")) << log.text();
    EXPECT_EQ(app->settings_dirty, 1);
    EXPECT_EQ(app->settings.tone_hz, 900u);
    EXPECT_EQ(read_file(save.file("settings.json")), old);
}

// The loop calls the settings save on every pass (at least ten a second, more while events
// come); a save that keeps failing must not be retried, and logged, at that rate.
TEST(AppSaves, AFailingSettingsSaveIsRetriedWithAGrowingPause) {
    SaveDir save;
    App app;
    fs::create_directory(save.file("settings.json.tmp"));
    app->settings_dirty = 1;
    LogCapture log;
    auto attempts = [&] { return count_of(log.text(), "could not save settings.json"); };

    double now = 1000.0;
    EXPECT_EQ(app_save_due(app.get(), now), 0);
    EXPECT_EQ(attempts(), 1u);
    // A second of loop passes, one every 10 ms: no new attempt until the pause is over.
    for (int pass = 1; pass < 100; pass++) app_save_due(app.get(), now + pass * 0.01);
    EXPECT_EQ(attempts(), 1u);
    app_save_due(app.get(), now + 1.0);
    EXPECT_EQ(attempts(), 2u);
    // The pauses double up to 30 s: 2, 4, 8, 16, 30, 30 s.
    double t = now + 1.0;
    for (double pause : {2.0, 4.0, 8.0, 16.0, 30.0, 30.0}) {
        size_t before = attempts();
        app_save_due(app.get(), t + pause - 0.05);
        EXPECT_EQ(attempts(), before) << pause;
        t += pause;
        app_save_due(app.get(), t);
        EXPECT_EQ(attempts(), before + 1) << pause;
    }
    EXPECT_EQ(app->settings_dirty, 1);

    // Once the disk takes the file again, the next due attempt saves and the pause is reset.
    fs::remove(save.file("settings.json.tmp"));
    EXPECT_EQ(app_save_due(app.get(), t + 30.0), 1);
    EXPECT_EQ(app->settings_dirty, 0);
    EXPECT_TRUE(fs::exists(save.file("settings.json")));
    app->settings_dirty = 1;
    EXPECT_EQ(app_save_due(app.get(), t + 30.01), 1);
    // Clean settings are not written.
    fs::remove(save.file("settings.json"));
    EXPECT_EQ(app_save_due(app.get(), t + 31.0), 0);
    EXPECT_FALSE(fs::exists(save.file("settings.json")));
}

// Quitting while a failed settings save waits for its retry: the exit makes one more try.
TEST(AppSaves, SettingsStillDirtyAtExitGetOneLastTryEvenWhileBackingOff) {
    SaveDir save;
    App app;
    fs::create_directory(save.file("settings.json.tmp"));
    app->settings_dirty = 1;
    LogCapture log;
    EXPECT_EQ(app_save_due(app.get(), 50.0), 0);
    app->settings.tone_hz = 990; // changed within the pause
    fs::remove(save.file("settings.json.tmp"));
    EXPECT_EQ(app_save_due(app.get(), 50.5), 0) << "the loop still waits";
    EXPECT_EQ(app_save_at_exit(app.get()), 1);
    EXPECT_EQ(app->settings_dirty, 0);
    EXPECT_TRUE(log.contains("settings saved at exit")) << log.text();
    SETTINGS s;
    settings_default(&s);
    ASSERT_EQ(settings_from_json(&s, read_file(save.file("settings.json")).c_str()), 1);
    EXPECT_EQ(s.tone_hz, 990u);

    // Clean settings are not written again.
    fs::remove(save.file("settings.json"));
    EXPECT_EQ(app_save_at_exit(app.get()), 0);
    EXPECT_FALSE(fs::exists(save.file("settings.json")));

    // A disk that still refuses: the loss is said.
    fs::create_directory(save.file("settings.json.tmp"));
    app->settings_dirty = 1;
    EXPECT_EQ(app_save_at_exit(app.get()), 0);
    EXPECT_TRUE(log.contains("settings changed since the last save are lost")) << log.text();
    EXPECT_EQ(app_save_at_exit(nullptr), 0);
}

TEST(AppPresets, RestoreUsesTheInterfaceLanguageAndSaves) {
    SaveDir save;
    App app;
    presets_add(app->presets, "mine", "MY OWN", PRESET_CAT_CUSTOM, 0, "");
    i18n_set_language("fr");
    char name[64];
    app_defaults_asset_name(app.get(), name, sizeof name);
    EXPECT_STREQ(name, "presets/defaults_fr.json");
    int n = app_restore_default_presets(app.get());
    ASSERT_GT(n, 0);
    EXPECT_EQ(app->presets->count, (size_t)n + 1);
    EXPECT_STREQ(app->presets->items[0].lang, "fr");
    EXPECT_STREQ(app->presets->items[n].text, "MY OWN");
    std::string file = read_file(save.file("presets.json"));
    EXPECT_NE(file.find("\"lang\":\t\"fr\""), std::string::npos);
    EXPECT_NE(file.find("\"MY OWN\""), std::string::npos);

    // An empty setting follows the system; a language without translations gives English.
    {
        ScopedEnv all("LC_ALL", "de_DE.UTF-8");
        i18n_set_language("");
        app_defaults_asset_name(app.get(), name, sizeof name);
        EXPECT_STREQ(name, "presets/defaults_de.json");
    }
    {
        ScopedEnv all("LC_ALL", "pt_BR.UTF-8");
        i18n_set_language("");
        app_defaults_asset_name(app.get(), name, sizeof name);
        EXPECT_STREQ(name, "presets/defaults_en.json");
    }
    i18n_shutdown();
}

// A full disk: every list keeps its change in memory, marked unsaved; the loop writes it as
// soon as the disk takes it again, after the same growing pause as the settings.
TEST(AppSaves, AFailedListSaveIsKeptAndRetriedUntilWritten) {
    SaveDir save;
    App app;
    for (const char *name : {"presets.json", "sent_history.json", "received.json"})
        fs::create_directory(save.file(std::string(name) + ".tmp"));
    LogCapture log;
    presets_add(app->presets, "Mine", "MY PRESET", PRESET_CAT_CUSTOM, 0, "");
    EXPECT_EQ(app_save_presets(app.get()), 0);
    app_send_message(app.get(), "TYPED MESSAGE"); // the history's save fails
    received_add(app->received, 1733600000, "HEARD", ".... . .- .-. -..", 80);
    EXPECT_EQ(app_save_received(app.get()), 0);
    for (APP_FILE f : {APP_FILE_PRESETS, APP_FILE_HISTORY, APP_FILE_RECEIVED})
        EXPECT_EQ(app_file_unsaved(app.get(), f), 1) << f;
    EXPECT_EQ(app_file_unsaved(app.get(), APP_FILE_SETTINGS), 0);
    EXPECT_STREQ(app->history.items[0], "TYPED MESSAGE") << "the history still shows it";
    EXPECT_TRUE(log.contains("sent messages kept unsaved, to be saved again")) << log.text();

    // Still failing: one try per file, then a pause of 1 s and then 2 s.
    EXPECT_EQ(app_save_due(app.get(), 100.0), 0);
    size_t tries = count_of(log.text(), "could not save sent_history.json");
    EXPECT_EQ(app_save_due(app.get(), 100.9), 0);
    EXPECT_EQ(count_of(log.text(), "could not save sent_history.json"), tries);
    EXPECT_EQ(app_save_due(app.get(), 101.0), 0);
    EXPECT_EQ(count_of(log.text(), "could not save sent_history.json"), tries + 1);
    EXPECT_EQ(app_save_due(app.get(), 102.9), 0);
    EXPECT_EQ(count_of(log.text(), "could not save sent_history.json"), tries + 1);

    for (const char *name : {"presets.json", "sent_history.json", "received.json"})
        fs::remove(save.file(std::string(name) + ".tmp"));
    EXPECT_EQ(app_save_due(app.get(), 103.0), 3);
    for (APP_FILE f : {APP_FILE_PRESETS, APP_FILE_HISTORY, APP_FILE_RECEIVED})
        EXPECT_EQ(app_file_unsaved(app.get(), f), 0) << f;
    EXPECT_NE(read_file(save.file("presets.json")).find("\"MY PRESET\""), std::string::npos);
    EXPECT_NE(read_file(save.file("sent_history.json")).find("\"TYPED MESSAGE\""),
              std::string::npos);
    EXPECT_NE(read_file(save.file("received.json")).find("\"HEARD\""), std::string::npos);
    EXPECT_TRUE(log.contains("sent messages saved again")) << log.text();
    // Saved files are not written again.
    fs::remove(save.file("presets.json"));
    EXPECT_EQ(app_save_due(app.get(), 200.0), 0);
    EXPECT_FALSE(fs::exists(save.file("presets.json")));
}

// Quitting while failed saves wait for their retry: the exit writes every one of them.
TEST(AppSaves, EveryUnsavedFileGetsOneLastTryAtExit) {
    SaveDir save;
    App app;
    fs::create_directory(save.file("sent_history.json.tmp"));
    fs::create_directory(save.file("received.json.tmp"));
    LogCapture log;
    history_push(&app->history, "LAST WORDS");
    app_save_history(app.get());
    received_add(app->received, 1733600000, "LAST HEARD", "", 0);
    app_save_received(app.get());
    app_save_due(app.get(), 10.0); // both fail again and wait
    fs::remove(save.file("sent_history.json.tmp"));
    EXPECT_EQ(app_save_due(app.get(), 10.5), 0) << "the loop still waits";
    EXPECT_EQ(app_save_at_exit(app.get()), 1);
    EXPECT_TRUE(log.contains("sent messages saved at exit")) << log.text();
    EXPECT_TRUE(log.contains("received messages changed since the last save are lost"))
        << log.text();
    EXPECT_NE(read_file(save.file("sent_history.json")).find("\"LAST WORDS\""), std::string::npos);
    EXPECT_FALSE(fs::exists(save.file("presets.json"))) << "nothing pending, nothing written";
}

// The largest files the program can write, with every field at its longest and every byte one
// that JSON writes as a six-byte escape, are read back whole.
TEST(AppSaves, TheLargestWritableFilesReadBack) {
    SaveDir save;
    App app;
    std::string name(63, '\x01'), text(511, '\x01'), lang(7, '\x01'), symbols(2047, '\x01');
    app->presets->next_id = app->received->next_id = 999000000; // ids of the most digits
    for (int i = 0; i < PRESETS_MAX; i++)
        ASSERT_GT(presets_add(app->presets, name.c_str(), text.c_str(), PRESET_CAT_EMERGENCY, 1,
                              lang.c_str()),
                  0);
    EXPECT_EQ(presets_add(app->presets, "", "ONE TOO MANY", PRESET_CAT_CUSTOM, 0, ""), -1);
    for (int i = 0; i < RECEIVED_MAX; i++)
        received_add(app->received, -999999999999999, text.c_str(), symbols.c_str(), 4294967295u);
    for (int i = 0; i < HISTORY_MAX; i++)
        history_push(&app->history, (text.substr(0, 500) + std::to_string(i)).c_str());
    ASSERT_EQ(app_save_presets(app.get()), 1);
    ASSERT_EQ(app_save_received(app.get()), 1);
    ASSERT_EQ(app_save_history(app.get()), 1);

    for (const char *file : {"presets.json", "received.json", "sent_history.json"}) {
        auto size = fs::file_size(save.file(file));
        printf("%s at its largest: %ju bytes\n", file, (uintmax_t)size);
        EXPECT_LT(size, (uintmax_t)STORE_MAX_FILE_BYTES / 4) << file;
    }
    OwnedList<PRESET_LIST, presets_new, presets_free> presets;
    OwnedList<RECEIVED_LIST, received_new, received_free> received;
    SENT_HISTORY history;
    char *t = store_read_save("presets.json");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(presets_from_json(presets.l, t), 1);
    free(t);
    EXPECT_EQ(presets->count, (size_t)PRESETS_MAX);
    EXPECT_EQ(presets->left_out, 0u);
    EXPECT_EQ(std::string(presets[PRESETS_MAX - 1].text), text);
    t = store_read_save("received.json");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(received_from_json(received.l, t), 1);
    free(t);
    EXPECT_EQ(received->count, (size_t)RECEIVED_MAX);
    EXPECT_EQ(std::string(received[0].symbols), symbols);
    t = store_read_save("sent_history.json");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(history_from_json(&history, t), 1);
    free(t);
    EXPECT_EQ(history.count, (size_t)HISTORY_MAX);
}
