// tests/model/app_storage_test.cpp: the application's saves, the settings retry of the main
// loop and the restore of the default presets, on a record without a display.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <gtest/gtest.h>

#include "i18n/i18n.hpp"

#include "main/app.hpp"
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
    EXPECT_EQ(app_save_settings_if_due(app.get(), now), 0);
    EXPECT_EQ(attempts(), 1u);
    // A second of loop passes, one every 10 ms: no new attempt until the pause is over.
    for (int pass = 1; pass < 100; pass++) app_save_settings_if_due(app.get(), now + pass * 0.01);
    EXPECT_EQ(attempts(), 1u);
    app_save_settings_if_due(app.get(), now + 1.0);
    EXPECT_EQ(attempts(), 2u);
    // The pauses double up to 30 s: 2, 4, 8, 16, 30, 30 s.
    double t = now + 1.0;
    for (double pause : {2.0, 4.0, 8.0, 16.0, 30.0, 30.0}) {
        size_t before = attempts();
        app_save_settings_if_due(app.get(), t + pause - 0.05);
        EXPECT_EQ(attempts(), before) << pause;
        t += pause;
        app_save_settings_if_due(app.get(), t);
        EXPECT_EQ(attempts(), before + 1) << pause;
    }
    EXPECT_EQ(app->settings_dirty, 1);

    // Once the disk takes the file again, the next due attempt saves and the pause is reset.
    fs::remove(save.file("settings.json.tmp"));
    EXPECT_EQ(app_save_settings_if_due(app.get(), t + 30.0), 1);
    EXPECT_EQ(app->settings_dirty, 0);
    EXPECT_TRUE(fs::exists(save.file("settings.json")));
    app->settings_dirty = 1;
    EXPECT_EQ(app_save_settings_if_due(app.get(), t + 30.01), 1);
    // Clean settings are not written.
    fs::remove(save.file("settings.json"));
    EXPECT_EQ(app_save_settings_if_due(app.get(), t + 31.0), 0);
    EXPECT_FALSE(fs::exists(save.file("settings.json")));
}

// Quitting while a failed settings save waits for its retry: the exit makes one more try.
TEST(AppSaves, SettingsStillDirtyAtExitGetOneLastTryEvenWhileBackingOff) {
    SaveDir save;
    App app;
    fs::create_directory(save.file("settings.json.tmp"));
    app->settings_dirty = 1;
    LogCapture log;
    EXPECT_EQ(app_save_settings_if_due(app.get(), 50.0), 0);
    app->settings.tone_hz = 990; // changed within the pause
    fs::remove(save.file("settings.json.tmp"));
    EXPECT_EQ(app_save_settings_if_due(app.get(), 50.5), 0) << "the loop still waits";
    EXPECT_EQ(app_save_settings_at_exit(app.get()), 1);
    EXPECT_EQ(app->settings_dirty, 0);
    EXPECT_TRUE(log.contains("settings saved at exit")) << log.text();
    SETTINGS s;
    settings_default(&s);
    ASSERT_EQ(settings_from_json(&s, read_file(save.file("settings.json")).c_str()), 1);
    EXPECT_EQ(s.tone_hz, 990u);

    // Clean settings are not written again.
    fs::remove(save.file("settings.json"));
    EXPECT_EQ(app_save_settings_at_exit(app.get()), 0);
    EXPECT_FALSE(fs::exists(save.file("settings.json")));

    // A disk that still refuses: the loss is said.
    fs::create_directory(save.file("settings.json.tmp"));
    app->settings_dirty = 1;
    EXPECT_EQ(app_save_settings_at_exit(app.get()), 0);
    EXPECT_TRUE(log.contains("settings changed since the last save are lost")) << log.text();
    EXPECT_EQ(app_save_settings_at_exit(nullptr), 0);
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
