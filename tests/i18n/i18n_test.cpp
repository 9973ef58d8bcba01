// tests/i18n/i18n_test.cpp: choosing the language and loading its translations.
//
// Each test works in a fresh folder with its own assets/lang files: without Allegro's system,
// assets are looked up under ./assets, so the folder decides what the module can read.
#include <filesystem>
#include <string>
#include <unistd.h>
#include <gtest/gtest.h>

#include "i18n/i18n.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"

namespace {

size_t count(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        n++;
    return n;
}

class I18nTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_NE(nullptr, getcwd(old_cwd, sizeof old_cwd));
        ASSERT_EQ(0, chdir(dir.path().c_str()));
        write_lang("fr", R"({"Sending Morse": "Envoi en morse"})");
        write_lang("de", R"({"Sending Morse": "Morsezeichen werden gesendet"})");
        write_lang("it", R"({"Sending Morse": "Invio in Morse"})");
    }
    void TearDown() override {
        i18n_shutdown();
        EXPECT_EQ(0, chdir(old_cwd));
    }
    void write_lang(const std::string &code, const std::string &json) {
        std::filesystem::create_directories(dir.file("assets/lang"));
        ASSERT_TRUE(write_file(dir.file("assets/lang/" + code + ".json"), json));
    }

    TempDir dir;
    char old_cwd[4096];
    // The system language comes from these three; no test may see the caller's own.
    ScopedEnv lc_all{"LC_ALL", nullptr};
    ScopedEnv lc_messages{"LC_MESSAGES", nullptr};
    ScopedEnv lang{"LANG", nullptr};
};

} // namespace

TEST_F(I18nTest, EnglishIsCurrentBeforeAnySelection) {
    EXPECT_STREQ("en", i18n_language());
    const char *key = "Sending Morse";
    EXPECT_EQ(key, i18n_tr(key));
    EXPECT_EQ(nullptr, i18n_tr(nullptr));
}

TEST_F(I18nTest, EmptySettingFollowsTheSystemLanguage) {
    ScopedEnv lang_fr("LANG", "fr_CA.UTF-8");
    EXPECT_STREQ("fr", i18n_set_language(""));
    EXPECT_STREQ("fr", i18n_language());
    EXPECT_STREQ("Envoi en morse", i18n_tr("Sending Morse"));
    {
        ScopedEnv messages("LC_MESSAGES", "de_DE.UTF-8"); // before LANG
        EXPECT_STREQ("de", i18n_set_language(nullptr));
        ScopedEnv all("LC_ALL", "it_IT"); // before both
        EXPECT_STREQ("it", i18n_set_language(""));
        EXPECT_STREQ("Invio in Morse", i18n_tr("Sending Morse"));
    }
    ScopedEnv unknown("LANG", "C");
    EXPECT_STREQ("en", i18n_set_language(""));
    EXPECT_STREQ("Sending Morse", i18n_tr("Sending Morse"));
}

TEST_F(I18nTest, RegionalCodesSelectTheirLanguage) {
    EXPECT_STREQ("de", i18n_set_language("de_AT"));
    EXPECT_STREQ("fr", i18n_set_language("fr-BE"));
    EXPECT_STREQ("en", i18n_set_language("f")); // one letter names nothing
}

TEST_F(I18nTest, PortugueseAndEnglishGiveEnglishWithoutReadingAFile) {
    ASSERT_STREQ("fr", i18n_set_language("fr"));
    LogCapture log(LOG_DEBUG);
    EXPECT_STREQ("en", i18n_set_language("pt"));
    EXPECT_STREQ("en", i18n_language());
    EXPECT_STREQ("Sending Morse", i18n_tr("Sending Morse"));
    EXPECT_STREQ("en", i18n_set_language("pt_BR"));
    EXPECT_STREQ("en", i18n_set_language("en"));
    EXPECT_STREQ("en", i18n_set_language("en_GB"));
    // A read of lang/en.json or lang/pt.json would have logged the missing asset.
    EXPECT_EQ(std::string::npos, log.text().find("asset")) << log.text();
    EXPECT_EQ(std::string::npos, log.text().find("language")) << log.text();
}

TEST_F(I18nTest, ALanguageIsReadOnceHoweverOftenItIsSelected) {
    LogCapture log(LOG_INFO);
    ASSERT_STREQ("de", i18n_set_language("de"));
    // Had the file been read again, the changed translation would show.
    write_lang("de", R"({"Sending Morse": "geändert"})");
    EXPECT_STREQ("de", i18n_set_language("de"));
    EXPECT_STREQ("fr", i18n_set_language("fr"));
    EXPECT_STREQ("en", i18n_set_language("en"));
    EXPECT_STREQ("de", i18n_set_language("de_CH"));
    EXPECT_STREQ("Morsezeichen werden gesendet", i18n_tr("Sending Morse"));
    EXPECT_EQ(1u, count(log.text(), "language de: 1 strings")) << log.text();
    EXPECT_EQ(1u, count(log.text(), "language fr: 1 strings")) << log.text();
}

TEST_F(I18nTest, AMissingFileFallsBackToEnglishAndIsTriedAgain) {
    ASSERT_STREQ("fr", i18n_set_language("fr"));
    {
        LogCapture log(LOG_ERR);
        EXPECT_STREQ("en", i18n_set_language("es"));
        EXPECT_TRUE(log.contains("asset assets/lang/es.json not found")) << log.text();
    }
    // English, not the French that was current before.
    EXPECT_STREQ("en", i18n_language());
    EXPECT_STREQ("Sending Morse", i18n_tr("Sending Morse"));
    write_lang("es", R"({"Sending Morse": "Enviando morse"})");
    EXPECT_STREQ("es", i18n_set_language("es"));
    EXPECT_STREQ("Enviando morse", i18n_tr("Sending Morse"));
}

TEST_F(I18nTest, AFileThatIsNotAnObjectFallsBackToEnglish) {
    for (const char *json : {R"(["Sending Morse", "Envoi en morse"])", "{", "", "\"text\""}) {
        write_lang("fr", json);
        LogCapture log(LOG_ERR);
        EXPECT_STREQ("en", i18n_set_language("fr")) << json;
        EXPECT_TRUE(log.contains("lang/fr.json: not a translation object")) << json << log.text();
        EXPECT_STREQ("Sending Morse", i18n_tr("Sending Morse"));
    }
    // Mended, it loads at the next selection.
    write_lang("fr", R"({"Sending Morse": "Envoi en morse"})");
    EXPECT_STREQ("fr", i18n_set_language("fr"));
}

TEST_F(I18nTest, OnlyTextMembersAreTranslations) {
    write_lang("it", R"({"number": 1, "null": null, "object": {"a": "b"}, "list": ["x"],
                         "flag": true, "Key": "Tasto", "Empty": ""})");
    LogCapture log(LOG_INFO);
    ASSERT_STREQ("it", i18n_set_language("it"));
    EXPECT_TRUE(log.contains("language it: 2 strings")) << log.text();
    EXPECT_STREQ("Tasto", i18n_tr("Key"));
    EXPECT_STREQ("number", i18n_tr("number"));
    EXPECT_STREQ("object", i18n_tr("object"));
    // An empty translation would blank the text: the English is shown instead.
    EXPECT_STREQ("Empty", i18n_tr("Empty"));
}

TEST_F(I18nTest, AMissingTextComesBackUnchanged) {
    ASSERT_STREQ("de", i18n_set_language("de"));
    const char *key = "Receiving Morse light";
    EXPECT_EQ(key, i18n_tr(key));
    EXPECT_STREQ("", i18n_tr(""));
}

TEST_F(I18nTest, ShutdownReturnsToEnglishAndForgetsTheTables) {
    ASSERT_STREQ("it", i18n_set_language("it"));
    ASSERT_STREQ("fr", i18n_set_language("fr"));
    i18n_shutdown();
    EXPECT_STREQ("en", i18n_language());
    EXPECT_STREQ("Sending Morse", i18n_tr("Sending Morse"));
    i18n_shutdown(); // twice is harmless
    // A language selected after shutdown is read afresh.
    write_lang("fr", R"({"Sending Morse": "Émission en morse"})");
    LogCapture log(LOG_INFO);
    EXPECT_STREQ("fr", i18n_set_language("fr"));
    EXPECT_TRUE(log.contains("language fr: 1 strings")) << log.text();
    EXPECT_STREQ("Émission en morse", i18n_tr("Sending Morse"));
}
