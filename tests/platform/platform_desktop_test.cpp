// Desktop platform layer: save directory, save paths, asset lookup order, system language.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform_desktop.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"

namespace fs = std::filesystem;

namespace {

std::string save_path(const char *name) {
    char out[1024];
    EXPECT_EQ(platform_save_path(name, out, sizeof out), 1);
    return out;
}

class SaveDir : public ::testing::Test {
protected:
    TempDir tmp;
};

TEST_F(SaveDir, XdgDataHomeWins) {
    ScopedEnv xdg("XDG_DATA_HOME", tmp.path().c_str());
    ScopedEnv home("HOME", "/nonexistent-home");
    LogCapture log(LOG_INFO);
    ASSERT_EQ(platform_init(), 1);
    EXPECT_TRUE(fs::is_directory(tmp.file("lumikey")));
    EXPECT_EQ(save_path("settings.json"), tmp.file("lumikey/settings.json"));
    EXPECT_TRUE(log.contains("desktop platform ready, save dir: " + tmp.file("lumikey")));
}

TEST_F(SaveDir, EmptyXdgFallsBackToHomeAndCreatesTheParents) {
    ScopedEnv xdg("XDG_DATA_HOME", "");
    ScopedEnv home("HOME", tmp.path().c_str());
    ASSERT_EQ(platform_init(), 1);
    EXPECT_TRUE(fs::is_directory(tmp.file(".local/share/lumikey")));
    EXPECT_EQ(save_path("presets.json"), tmp.file(".local/share/lumikey/presets.json"));
}

TEST_F(SaveDir, NeitherVariableUsesSaveInTheWorkingDirectory) {
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    std::string old = fs::current_path();
    fs::current_path(tmp.path());
    int ok = platform_init();
    std::string path = save_path("x.json");
    fs::current_path(old);
    ASSERT_EQ(ok, 1);
    EXPECT_TRUE(fs::is_directory(tmp.file("save")));
    EXPECT_EQ(path, "./save/x.json");
}

TEST_F(SaveDir, ExistingDirectoryIsFine) {
    ScopedEnv xdg("XDG_DATA_HOME", tmp.path().c_str());
    fs::create_directory(tmp.file("lumikey"));
    write_file(tmp.file("lumikey/settings.json"), "{}");
    EXPECT_EQ(platform_init(), 1);
    EXPECT_EQ(read_file(tmp.file("lumikey/settings.json")), "{}");
}

TEST_F(SaveDir, UncreatableDirectoryFailsWithMessage) {
    // A plain file where a parent folder should be.
    write_file(tmp.file("no"), "");
    std::string missing = tmp.file("no/such/parent");
    ScopedEnv xdg("XDG_DATA_HOME", missing.c_str());
    LogCapture log(LOG_INFO);
    EXPECT_EQ(platform_init(), 0);
    EXPECT_TRUE(log.contains("could not create save dir " + missing + "/lumikey: Not a directory"))
        << log.text();
}

TEST_F(SaveDir, ARelativeXdgIsIgnored) {
    ScopedEnv xdg("XDG_DATA_HOME", "relative/data");
    ScopedEnv home("HOME", tmp.path().c_str());
    std::string old = fs::current_path();
    fs::current_path(tmp.path());
    LogCapture log(LOG_INFO);
    int ok = platform_init();
    fs::current_path(old);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(save_path("settings.json"), tmp.file(".local/share/lumikey/settings.json"));
    EXPECT_FALSE(fs::exists(tmp.file("relative")));
    EXPECT_TRUE(log.contains("XDG_DATA_HOME is not an absolute path, ignored: relative/data"));
}

TEST_F(SaveDir, AFolderTooLongForEverySaveNameIsRefusedAtStart) {
    // The longest value accepted leaves room for a name of PLATFORM_SAVE_NAME_MAX - 1 bytes after
    // "<value>/lumikey/"; it is made of folders of at most 200 bytes, as file systems allow.
    const size_t longest = 1024 - 1 - PLATFORM_SAVE_NAME_MAX - 8;
    std::string fits = tmp.path();
    while (fits.size() + 201 < longest) fits += "/" + std::string(200, 'd');
    fits += "/" + std::string(longest - fits.size() - 1, 'e');
    ScopedEnv xdg("XDG_DATA_HOME", fits.c_str());
    ASSERT_EQ(platform_init(), 1);
    std::string over = fits + "e";
    ScopedEnv too_long("XDG_DATA_HOME", over.c_str());
    LogCapture log(LOG_INFO);
    EXPECT_EQ(platform_init(), 0);
    EXPECT_TRUE(log.contains("could not create save dir " + over + "/lumikey: File name too long"));
    EXPECT_FALSE(fs::exists(over)) << "nothing is made for a folder that is refused";
}

TEST_F(SaveDir, AFileInTheWayIsNotADirectory) {
    // mkdir reports EEXIST for a plain file too; the program must not treat it as its folder.
    ScopedEnv xdg("XDG_DATA_HOME", tmp.path().c_str());
    write_file(tmp.file("lumikey"), "not a folder");
    LogCapture log(LOG_INFO);
    EXPECT_EQ(platform_init(), 0);
    EXPECT_TRUE(log.contains("could not create save dir"));
}

TEST(SavePath, ShortBufferIsRefused) {
    TempDir tmp;
    ScopedEnv xdg("XDG_DATA_HOME", tmp.path().c_str());
    ASSERT_EQ(platform_init(), 1);
    char small[10];
    EXPECT_EQ(platform_save_path("settings.json", small, sizeof small), 0);
    char out[1024];
    EXPECT_EQ(platform_save_path(nullptr, out, sizeof out), 0);
    EXPECT_EQ(platform_save_path("a", nullptr, 10), 0);
}

TEST(SystemLanguage, FollowsLcAllThenLcMessagesThenLang) {
    char out[8];
    {
        ScopedEnv all("LC_ALL", "de_DE.UTF-8"), msg("LC_MESSAGES", "it_IT"), lang("LANG", "fr_FR");
        platform_system_language(out, sizeof out);
        EXPECT_STREQ(out, "de");
    }
    {
        ScopedEnv all("LC_ALL", ""), msg("LC_MESSAGES", "it_IT"), lang("LANG", "fr_FR");
        platform_system_language(out, sizeof out);
        EXPECT_STREQ(out, "it");
    }
    {
        ScopedEnv all("LC_ALL", nullptr), msg("LC_MESSAGES", nullptr), lang("LANG", "es_ES.UTF-8");
        platform_system_language(out, sizeof out);
        EXPECT_STREQ(out, "es");
    }
}

TEST(SystemLanguage, UnusableValuesGiveEnglish) {
    char out[8];
    for (const char *value : {"C", "POSIX", "", "F", "Fr_FR", "1a"}) {
        ScopedEnv all("LC_ALL", nullptr), msg("LC_MESSAGES", nullptr), lang("LANG", value);
        platform_system_language(out, sizeof out);
        EXPECT_STREQ(out, "en") << value;
    }
    {
        // LC_ALL=C hides a usable LANG: the user asked for the C locale.
        ScopedEnv all("LC_ALL", "C"), msg("LC_MESSAGES", nullptr), lang("LANG", "fr_FR");
        platform_system_language(out, sizeof out);
        EXPECT_STREQ(out, "en");
    }
    ScopedEnv all("LC_ALL", nullptr), msg("LC_MESSAGES", nullptr), lang("LANG", nullptr);
    platform_system_language(out, sizeof out);
    EXPECT_STREQ(out, "en");
}

// Asset lookup needs Allegro's idea of the executable's folder.
class AssetPath : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(al_install_system(ALLEGRO_VERSION_INT, nullptr));
        ALLEGRO_PATH *dir = al_get_standard_path(ALLEGRO_RESOURCES_PATH);
        ASSERT_NE(dir, nullptr);
        exe_dir = al_path_cstr(dir, '/');
        al_destroy_path(dir);
        name = "lookup-test-" + std::to_string(getpid()) + ".txt";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove(next_to_exe(), ec);
        fs::remove(installed(), ec);
        fs::remove_all(exe_dir + "../share/lumikey/assets/lookup-probe", ec);
    }
    std::string next_to_exe() const { return exe_dir + "assets/" + name; }
    std::string installed() const { return exe_dir + "../share/lumikey/assets/" + name; }
    std::string lookup() const {
        char out[1024];
        EXPECT_EQ(platform_asset_path(name.c_str(), out, sizeof out), 1);
        return out;
    }
    std::string exe_dir, name;
};

TEST_F(AssetPath, MissingEverywhereGivesTheWorkingDirectoryPath) {
    EXPECT_EQ(lookup(), "assets/" + name);
}

TEST_F(AssetPath, NextToTheExecutableComesBeforeTheInstalledTree) {
    fs::create_directories(fs::path(installed()).parent_path());
    write_file(installed(), "installed");
    EXPECT_EQ(lookup(), installed());
    fs::create_directories(fs::path(next_to_exe()).parent_path());
    write_file(next_to_exe(), "local");
    EXPECT_EQ(lookup(), next_to_exe());
}

TEST_F(AssetPath, TooSmallBufferIsRefused) {
    char out[8];
    EXPECT_EQ(platform_asset_path("fonts/DejaVuSans.ttf", out, sizeof out), 0);
    EXPECT_EQ(platform_asset_path(nullptr, out, sizeof out), 0);
}

TEST(WaitEvent, IdleQueueTimesOutAfterAboutATenthOfASecond) {
    ASSERT_TRUE(al_install_system(ALLEGRO_VERSION_INT, nullptr));
    ALLEGRO_EVENT_QUEUE *queue = al_create_event_queue();
    ASSERT_NE(queue, nullptr);
    ALLEGRO_EVENT ev;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform_wait_event(queue, &ev), 0);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(90));

    ALLEGRO_EVENT_SOURCE source;
    al_init_user_event_source(&source);
    al_register_event_source(queue, &source);
    ALLEGRO_EVENT user = {};
    user.type = ALLEGRO_GET_EVENT_TYPE('L', 'K', 'W', 'K');
    al_emit_user_event(&source, &user, nullptr);
    EXPECT_EQ(platform_wait_event(queue, &ev), 1);
    EXPECT_EQ(ev.type, user.type);
    EXPECT_EQ(platform_wait_event(nullptr, &ev), 0);
    EXPECT_EQ(platform_wait_event(queue, nullptr), 0);
    al_destroy_event_queue(queue);
    al_destroy_user_event_source(&source);
}

} // namespace
