// tests/ui/screen_fit_test.cpp: every text of every screen fits where it is shown, in every
// language, on the default portrait window and on a landscape one, with the phone's extra
// controls shown as well; and the checker itself notices a text too long, a widget out of its
// window and two widgets on top of each other.
// ctest-label: display
// ctest-label: threaded
#include <cstdio>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "audio/tone.hpp"
#include "i18n/i18n.hpp"
#include "support/fake_phone.hpp"
#include "support/gui_fit.hpp"
#include "support/ka_common.hpp"
#include "support/screen_kit.hpp"
#include "support/test_env.hpp"

namespace {

struct Page {
    APP_SCREEN screen;
    int tab; // options tab, practice phase, -1 elsewhere
    const char *name;
};

const Page kPages[] = {
    {SCREEN_HOME, -1, "home"},
    {SCREEN_PLAY, -1, "play"},
    {SCREEN_EDIT, -1, "editor"},
    {SCREEN_HISTORY, -1, "history"},
    {SCREEN_RECEIVE, -1, "receive"},
    {SCREEN_RECEIVED, -1, "received"},
    {SCREEN_KEY, -1, "key"},
    {SCREEN_KEY, 1, "send practice"},
    {SCREEN_OPTIONS, 0, "options Output"},
    {SCREEN_OPTIONS, 1, "options Timing"},
    {SCREEN_OPTIONS, 2, "options Colors"},
    {SCREEN_OPTIONS, 3, "options Receiver"},
    {SCREEN_OPTIONS, 4, "options Key"},
    {SCREEN_OPTIONS, 5, "options General"},
    {SCREEN_PRACTICE, PRACTICE_SETUP, "practice choices"},
    {SCREEN_PRACTICE, PRACTICE_LISTEN, "practice session"},
    {SCREEN_PRACTICE, PRACTICE_DONE, "practice result"},
    {SCREEN_PROGRESS, -1, "progress"},
};

// Values with the most digits each caption can show.
void widest_settings(SETTINGS *s) {
    s->timing.unit_ms = 100;
    s->timing.word_gap_units = 20;
    s->timing.letter_gap_units = 10;
    s->tone_hz = 1000;
    s->audio_latency_ms = s->torch_latency_ms = 300;
    s->vibrate_latency_ms = 200;
    s->duplex_torch_latency_ms = 500;
    s->eom_timeout_ms = 15000;
    s->key_bounce_ms = 50;
    s->debug_overlay = 1;
}

// The practice choices with the most digits, the screen light shown, and a failed session's
// result (its note shown) whose counts are the widest.
void widest_practice(LUMIKEY_APP *app) {
    PRACTICE_LOG *log = app->practice_log;
    log->lesson = KOCH_LESSONS;
    log->wpm = log->effective_wpm = 50;
    log->group_len = 10;
    log->minutes = 10;
    log->goal_ms = 5000;
    log->show_light = 1;
    app->practice.session.right = 8888;
    app->practice.session.total = 9999;
    PRACTICE_SESSION s{};
    s.total = s.right = s.seconds = 59999;
    practice_add_session(log, &s);
}

// Texts a screen puts into a label after it was built, each tried in turn.
void check_late_texts(ScreenKit &kit, int label, const std::vector<std::string> &texts,
                      const std::string &where, std::vector<std::string> &faults) {
    for (const std::string &t : texts) {
        ka_gui_label_set_text(kit.app->gui, label, t.c_str());
        float nw, nh;
        if (!ka_gui_label_fits(kit.app->gui, label, &nw, &nh))
            faults.push_back(where + ": '" + t + "' needs " + std::to_string((int)nw) + "x" +
                             std::to_string((int)nh) + " px");
    }
}

std::string printed(const char *format, int value) {
    char out[128];
    snprintf(out, sizeof out, format, value);
    return out;
}

TEST(ScreenFit, EveryTextFitsItsWidgetInEveryLanguagePortraitAndLandscape) {
    // Sound is there (its check is shown) without a sound server's threads.
    ScopedEnv no_server("PULSE_SERVER", "unix:/nonexistent");
    // Two webcams, so that the receive screen offers the choice; names as long as a driver's.
    TempDir cams;
    for (const char *file : {"video0", "video2", "video4"}) {
        FILE *f = fopen(cams.file(file).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(file[5] == '0' ? "Integrated Webcam HD: Integrate\nusb-0000:00:14.0-5\nx.mkv\n"
                             : "HD Pro Webcam C920\nusb-0000:00:14.0-2\nx.mkv\n",
              f);
        fclose(f);
    }
    ScopedEnv webcams("LUMIKEY_WEBCAMS", cams.path().c_str());
    ScopedEnv no_file("LUMIKEY_CAMERA", nullptr);
    FakePhone phone;
    TORCH_PLATFORM torch = phone.torch();
    VIBRATOR_PLATFORM vib = phone.vibrator();
    std::vector<std::string> faults;
    for (int with_phone = 0; with_phone < 2; with_phone++) {
        torch_set_platform(with_phone ? &torch : nullptr);
        vibrator_set_platform(with_phone ? &vib : nullptr);
        for (const char *lang : {"en", "fr", "es", "de", "it"}) {
            ASSERT_STREQ(i18n_set_language(lang), lang);
            for (auto [w, h] : {std::pair{480, 800}, std::pair{800, 480}}) {
                ScreenKit kit(w, h);
                if (!tone_available()) tone_audio_init();
                widest_settings(&kit.app->settings);
                presets_add(kit.app->presets, "SOS", "SOS", PRESET_CAT_EMERGENCY, 1, "en");
                ka_copy_text(kit.app->play_text, sizeof kit.app->play_text, "SOS");
                widest_practice(kit.app);
                for (const Page &page : kPages) {
                    kit.app->options_tab = page.tab;
                    if (page.screen == SCREEN_PRACTICE) kit.app->practice.phase = page.tab;
                    kit.app->send.active = page.screen == SCREEN_KEY && page.tab == 1;
                    kit.show(page.screen);
                    std::string where = std::string(lang) + " " + std::to_string(w) + "x" +
                                        std::to_string(h) + (with_phone ? " phone " : " ") +
                                        page.name;
                    for (const std::string &f : gui_misfits(kit.app->gui))
                        faults.push_back(where + ": " + f);
                    // The save notice is on every screen but the play screen's light.
                    if (page.screen != SCREEN_PLAY)
                        check_late_texts(
                            kit, kit.app->save_notice_label,
                            {i18n_tr("Your changes could not be saved. Is the disk full? Lumikey "
                                     "keeps them and tries again."),
                             i18n_tr("Your changes are saved now.")},
                            where + " save notice", faults);
                    if (page.screen == SCREEN_OPTIONS)
                        check_late_texts(
                            kit, kit.app->options_status,
                            {i18n_tr("Could not read the default presets"),
                             printed(i18n_tr("%d default presets restored"), 25),
                             printed(i18n_tr("%d defaults restored, not saved yet"), 25),
                             printed(i18n_tr("No room: %d presets at most"), PRESETS_MAX),
                             i18n_tr("Measuring... (the flashlight blinks)"),
                             i18n_tr("Torch latency: not measurable"),
                             printed(i18n_tr("Torch latency measured: %d ms"), 300)},
                            where + " status", faults);
                    if (page.screen == SCREEN_PRACTICE && page.tab == PRACTICE_LISTEN) {
                        char status[128];
                        snprintf(status, sizeof status, i18n_tr("Group %d, %d:%02d left"), 888, 9,
                                 59);
                        check_late_texts(kit, kit.app->practice.status_label, {status},
                                         where + " status", faults);
                    }
                    if (page.screen == SCREEN_HOME) {
                        // The sound file popup's answers, with a music folder of a usual length.
                        const char *dir = "/home/someone/Music";
                        char line[4][300];
                        snprintf(
                            line[0], sizeof line[0], i18n_tr("Saved: %s"),
                            "/home/someone/Music/\nCQ_CQ_DE_F4ABC_PSE_K_2026-12-08_235959.ogg");
                        snprintf(line[1], sizeof line[1],
                                 i18n_tr("The music folder %s does not exist."), dir);
                        snprintf(line[2], sizeof line[2],
                                 i18n_tr("The music folder %s cannot be written to."), dir);
                        snprintf(line[3], sizeof line[3], "%s",
                                 i18n_tr("There is no music folder to save to."));
                        check_late_texts(kit, kit.app->sound_save.status,
                                         {line[0], line[1], line[2], line[3],
                                          i18n_tr("Nothing in this text can be sent."),
                                          i18n_tr("The sound file could not be written."),
                                          i18n_tr("Path copied")},
                                         where + " sound file", faults);
                    }
                    if (page.screen == SCREEN_EDIT)
                        check_late_texts(
                            kit, kit.app->edit_preview,
                            {i18n_tr("The message is empty"), i18n_tr("Type the message to send"),
                             printed(i18n_tr("The list is full: %d presets at most"), PRESETS_MAX)},
                            where + " preview", faults);
                }
            }
        }
    }
    torch_shutdown();
    vibrator_shutdown();
    torch_set_platform(nullptr);
    vibrator_set_platform(nullptr);
    i18n_set_language("en");
    std::string all;
    for (const std::string &f : faults) all += f + "\n";
    EXPECT_TRUE(faults.empty()) << faults.size() << " misfits:\n" << all;
}

TEST(ScreenFit, TheCheckerFindsLongTextsStrayWidgetsAndOverlaps) {
    ScreenKit kit;
    kit.app->gui = ka_gui_new_ctx(ScreenKit::font);
    ka_gui_set_display_size(kit.app->gui, 480, 800);
    KA_GUI_CTX *g = kit.app->gui;
    int win = ka_gui_add_window(g, "W", 0, 0, 300, 200);
    ka_gui_window_set_flags(g, win, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    ka_gui_add_button(g, win, "OK", 10, 10, 80, 40, 1, nullptr, nullptr);
    ka_gui_add_label(g, win, "Short", 100, 10, 80, 40, KA_GUI_ALIGN_LEFT);
    EXPECT_TRUE(gui_misfits(g).empty());

    int button = ka_gui_add_button(g, win, "A button label far too long", 10, 60, 80, 40, 1,
                                   nullptr, nullptr);
    int check = ka_gui_add_checkbox(g, win, "A checkbox caption far too long", 100, 60, 190, 40, 0,
                                    nullptr, nullptr);
    int box = ka_gui_add_combobox(g, win, 10, 110, 120, 40, nullptr, nullptr);
    ka_gui_combobox_add_item(g, box, "Fits");
    ka_gui_combobox_add_item(g, box, "An item that does not fit");
    int stray = ka_gui_add_label(g, win, "", 250, 150, 80, 40, KA_GUI_ALIGN_LEFT);
    int onto = ka_gui_add_label(g, win, "", 20, 20, 30, 10, KA_GUI_ALIGN_LEFT);
    ka_gui_add_window(g, "Low", 0, 700, 300, 200);
    std::vector<std::string> found = gui_misfits(g);
    auto mentions = [&](int id, const char *what) {
        std::string key = " " + std::to_string(id) + " at";
        for (const std::string &f : found)
            if (f.find(key) != std::string::npos && f.find(what) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(mentions(button, "needs")) << found.size();
    EXPECT_TRUE(mentions(check, "needs"));
    EXPECT_TRUE(mentions(box, "An item that does not fit"));
    EXPECT_FALSE(mentions(box, "'Fits'"));
    EXPECT_TRUE(mentions(stray, "reaches out"));
    EXPECT_TRUE(mentions(onto, "overlaps"));
    bool window_out = false;
    for (const std::string &f : found)
        window_out |= f.find("'Low' at (0,700 300x200) reaches out of the display") != f.npos;
    EXPECT_TRUE(window_out);
    EXPECT_EQ(found.size(), 6u);
}

} // namespace
