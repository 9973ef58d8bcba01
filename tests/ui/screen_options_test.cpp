// tests/ui/screen_options_test.cpp: the options screen built on a real (virtual) display and
// driven through its widgets: the columns and tab lines on portrait and landscape displays,
// the slider captions, the desktop's Output tab, the palette with its hex field, the language,
// the default presets, the flashlight measurement and the back key.
// ctest-label: display
// ctest-label: threaded
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <gtest/gtest.h>

#include "i18n/i18n.hpp"
#include "support/fake_phone.hpp"
#include "support/screen_kit.hpp"
#include "ui/screen_options.hpp"

namespace {

class OptionsScreen : public ::testing::Test {
protected:
    void TearDown() override {
        i18n_set_language("en");
        torch_shutdown();
        vibrator_shutdown();
        torch_set_platform(nullptr);
        vibrator_set_platform(nullptr);
    }
    void open(ScreenKit &kit, int tab) {
        kit.app->options_tab = tab;
        kit.show(SCREEN_OPTIONS);
        ASSERT_NE(kit.app->gui, nullptr);
    }
    void install_phone() {
        torch_ = phone_.torch();
        vib_ = phone_.vibrator();
        torch_set_platform(&torch_);
        vibrator_set_platform(&vib_);
    }
    static std::string label_text(ScreenKit &kit, int id) {
        KA_GUI_WIDGET *w = ka_gui_get_widget(kit.app->gui, id);
        return w ? ((KA_GUI_LABEL_DATA *)w->data)->text : "";
    }
    // The controls under the tabs and above the status line, in insertion order.
    static std::vector<KA_GUI_WIDGET *> content(ScreenKit &kit) {
        std::vector<KA_GUI_WIDGET *> out;
        KA_GUI_WINDOW *win = kit.app->gui->windows[0];
        float tabs_end = 0;
        for (size_t i = 0; i < win->nb_widgets; i++) {
            KA_GUI_WIDGET *w = win->widgets[i];
            if (w->type == KA_GUI_BUTTON && ((KA_GUI_BUTTON_DATA *)w->data)->toggle_mode)
                tabs_end = std::max(tabs_end, w->y + w->h);
        }
        for (size_t i = 0; i < win->nb_widgets; i++) {
            KA_GUI_WIDGET *w = win->widgets[i];
            if (w->y > tabs_end && w->id != kit.app->options_status) out.push_back(w);
        }
        return out;
    }
    static std::vector<float> tab_tops(ScreenKit &kit) {
        std::vector<float> tops;
        for (KA_GUI_WIDGET *w : kit.all(KA_GUI_BUTTON))
            if (((KA_GUI_BUTTON_DATA *)w->data)->toggle_mode) tops.push_back(w->y);
        return tops;
    }
    // A slider's caption: the label right above it.
    static std::string caption_of(ScreenKit &kit, KA_GUI_WIDGET *slider) {
        for (KA_GUI_WIDGET *w : kit.all(KA_GUI_LABEL))
            if (w->y + w->h <= slider->y + 0.5f && w->y + w->h >= slider->y - 0.5f)
                return ((KA_GUI_LABEL_DATA *)w->data)->text;
        return "";
    }
    static void select(ScreenKit &kit, KA_GUI_WIDGET *combo, int index) {
        KA_GUI_COMBOBOX_DATA *d = (KA_GUI_COMBOBOX_DATA *)combo->data;
        ka_gui_combobox_set_selected(kit.app->gui, combo->id, index);
        d->on_select(combo->id, index, d->user_data);
    }
    static KA_GUI_WIDGET *hex_field(ScreenKit &kit) {
        return ka_gui_get_widget(kit.app->gui, kit.app->palette_hex);
    }

    FakePhone phone_;
    TORCH_PLATFORM torch_;
    VIBRATOR_PLATFORM vib_;
};

TEST_F(OptionsScreen, PortraitKeepsOneColumnAndTwoLinesOfTabs) {
    ScreenKit kit(480, 800);
    for (int tab = 0; tab < 6; tab++) {
        open(kit, tab);
        // Down one column: no control goes back up to start another.
        float y = 0;
        for (KA_GUI_WIDGET *w : content(kit)) {
            EXPECT_GE(w->y, y) << "tab " << tab << " widget " << w->id;
            EXPECT_LE(w->x + w->w, 480 - 12 + 0.5f);
            y = w->y;
        }
    }
    std::vector<float> tops = tab_tops(kit);
    ASSERT_EQ(tops.size(), 6u);
    EXPECT_EQ(std::set<float>(tops.begin(), tops.end()).size(), 2u);
    EXPECT_EQ(std::count(tops.begin(), tops.end(), tops[0]), 3);
}

TEST_F(OptionsScreen, LandscapeMovesToTheSecondColumnOnceForGood) {
    ScreenKit kit(800, 480);
    open(kit, 1); // Timing: four sliders, a note and a button, more than one column holds
    std::vector<float> tops = tab_tops(kit);
    EXPECT_EQ(std::set<float>(tops.begin(), tops.end()).size(), 1u) << "one line of tabs";
    float second_x = 2 * 12 + (800 - 3 * 12) / 2.0f, bottom = 480 - 52 - 28 - 12;
    bool in_second = false, used_first = false;
    for (KA_GUI_WIDGET *w : content(kit)) {
        bool second = w->x >= second_x - 0.5f;
        EXPECT_FALSE(in_second && !second) << "widget " << w->id << " went back to the first";
        if (!second) {
            used_first = true;
            EXPECT_LE(w->y + w->h, bottom + 0.5f) << "widget " << w->id;
        }
        in_second |= second;
    }
    EXPECT_TRUE(used_first);
    EXPECT_TRUE(in_second);
}

TEST_F(OptionsScreen, CaptionsShowUnitsSpeedsAndSecondsAndFollowTheSlider) {
    ScreenKit kit;
    kit.app->settings.timing.unit_ms = 60;
    kit.app->settings.eom_timeout_ms = 1500;
    open(kit, 1);
    std::vector<KA_GUI_WIDGET *> sliders = kit.all(KA_GUI_SLIDER);
    ASSERT_EQ(sliders.size(), 4u);
    EXPECT_EQ(caption_of(kit, sliders[0]), "Unit (dot length): 60 ms (20.0 WPM)");
    EXPECT_EQ(caption_of(kit, sliders[1]), "Dash length: 3 units");

    // A press at the track's left end takes the slider to its lowest step.
    kit.click(sliders[0], 1, sliders[0]->h / 2);
    EXPECT_EQ(kit.app->settings.timing.unit_ms, 20u);
    EXPECT_EQ(kit.app->settings_dirty, 1);
    EXPECT_EQ(caption_of(kit, sliders[0]), "Unit (dot length): 20 ms (60.0 WPM)");

    open(kit, 3);
    sliders = kit.all(KA_GUI_SLIDER);
    ASSERT_EQ(sliders.size(), 2u) << "no flashlight on the desktop";
    EXPECT_EQ(caption_of(kit, sliders[0]), "Detection area: 20 %");
    EXPECT_EQ(caption_of(kit, sliders[1]), "End of message after: 1.5 s");

    // Languages that write a decimal comma get one, and only in the figures.
    i18n_set_language("fr");
    open(kit, 1);
    sliders = kit.all(KA_GUI_SLIDER);
    EXPECT_EQ(caption_of(kit, sliders[0]), "Unité (point) : 20 ms (60,0 mots/min)");
}

TEST_F(OptionsScreen, TheDesktopOutputTabOffersNoFlashlightOrVibration) {
    {
        ScreenKit kit;
        open(kit, 0);
        EXPECT_TRUE(kit.all(KA_GUI_CHECKBOX, "Flashlight").empty());
        EXPECT_TRUE(kit.all(KA_GUI_CHECKBOX, "Vibration").empty());
        EXPECT_TRUE(kit.all(KA_GUI_BUTTON, "Measure flashlight delay").empty());
        EXPECT_EQ(kit.all(KA_GUI_SLIDER).size(), 2u);
        KA_GUI_WIDGET *loop = kit.find(KA_GUI_CHECKBOX, "Loop until stopped");
        kit.click(loop, 5, loop->h / 2);
        EXPECT_EQ(kit.app->settings.loop, 1);
        EXPECT_EQ(kit.app->settings_dirty, 1);
    }
    install_phone();
    ScreenKit kit;
    open(kit, 0);
    EXPECT_EQ(kit.all(KA_GUI_CHECKBOX, "Flashlight").size(), 1u);
    EXPECT_EQ(kit.all(KA_GUI_CHECKBOX, "Vibration").size(), 1u);
    EXPECT_EQ(kit.all(KA_GUI_BUTTON, "Measure flashlight delay").size(), 1u);
    EXPECT_EQ(kit.all(KA_GUI_SLIDER).size(), 4u);
}

TEST_F(OptionsScreen, ThePaletteTakesSwatchesAndHexTextsAndIgnoresTheRest) {
    ScreenKit kit;
    open(kit, 2);
    std::vector<KA_GUI_WIDGET *> change = kit.all(KA_GUI_BUTTON, "Change");
    ASSERT_EQ(change.size(), 5u);
    kit.click(change[0]);
    ASSERT_TRUE(ka_gui_window_is_open(kit.app->gui, kit.app->palette_win));
    EXPECT_EQ(kit.app->color_target, 0);
    EXPECT_EQ(kit.app->palette_rgb, kit.app->settings.color_dot);

    // The third palette cell is red.
    std::vector<KA_GUI_WIDGET *> cells;
    for (KA_GUI_WIDGET *w : kit.all(KA_GUI_CUSTOM))
        if (w->window_id == kit.app->palette_win) cells.push_back(w);
    ASSERT_EQ(cells.size(), 13u); // twelve colours and the preview
    kit.click(cells[2]);
    EXPECT_EQ(kit.app->palette_rgb, 0xFF0000u);

    kit.click(hex_field(kit));
    kit.type("zz9");
    EXPECT_EQ(kit.app->palette_rgb, 0xFF0000u) << "a text that does not parse changes nothing";
    kit.click(kit.find(KA_GUI_BUTTON, "OK"));
    EXPECT_FALSE(ka_gui_window_is_open(kit.app->gui, kit.app->palette_win));
    EXPECT_EQ(kit.app->settings.color_dot, 0xFF0000u);
    EXPECT_EQ(kit.app->color_target, -1);
    EXPECT_EQ(kit.app->settings_dirty, 1);

    kit.click(change[1]);
    kit.click(hex_field(kit));
    kit.type("#1a2B3c");
    EXPECT_EQ(kit.app->palette_rgb, 0x1A2B3Cu);
    kit.click(kit.find(KA_GUI_BUTTON, "OK"));
    EXPECT_EQ(kit.app->settings.color_dash, 0x1A2B3Cu);

    kit.click(change[2]);
    kit.click(hex_field(kit));
    kit.type("abc");
    kit.click(kit.all(KA_GUI_BUTTON, "Cancel")[0]);
    EXPECT_NE(kit.app->settings.color_gap, 0xAABBCCu) << "Cancel keeps the colour";
    kit.click(change[2]);
    kit.click(hex_field(kit));
    kit.type("abc");
    kit.click(kit.find(KA_GUI_BUTTON, "OK"));
    EXPECT_EQ(kit.app->settings.color_gap, 0xAABBCCu);

    kit.click(kit.find(KA_GUI_BUTTON, "Reset colours"));
    SETTINGS d;
    settings_default(&d);
    EXPECT_EQ(kit.app->settings.color_dot, d.color_dot);
    EXPECT_EQ(kit.app->settings.color_dash, d.color_dash);
    EXPECT_EQ(kit.app->settings.color_gap, d.color_gap);
}

TEST_F(OptionsScreen, BackClosesThePaletteFirstThenGoesHome) {
    ScreenKit kit;
    open(kit, 2);
    kit.click(kit.all(KA_GUI_BUTTON, "Change")[3]);
    kit.back();
    EXPECT_EQ(kit.app->screen, SCREEN_OPTIONS);
    EXPECT_FALSE(ka_gui_window_is_open(kit.app->gui, kit.app->palette_win));
    EXPECT_EQ(kit.app->color_target, -1);
    kit.back();
    EXPECT_EQ(kit.app->screen, SCREEN_HOME);
}

TEST_F(OptionsScreen, TimingResetAndDebugOverlayRebuildTheTab) {
    ScreenKit kit;
    kit.app->settings.timing.dash_units = 5;
    open(kit, 1);
    kit.click(kit.find(KA_GUI_BUTTON, "Reset to defaults"));
    EXPECT_EQ(kit.app->settings.timing.dash_units, 3u);
    EXPECT_EQ(kit.app->settings.timing.unit_ms, 100u);
    EXPECT_EQ(caption_of(kit, kit.all(KA_GUI_SLIDER)[1]), "Dash length: 3 units");

    open(kit, 3);
    EXPECT_TRUE(kit.all(KA_GUI_CHECKBOX, "Receive with the front camera").empty());
    KA_GUI_WIDGET *debug = kit.find(KA_GUI_CHECKBOX, "Debug overlay");
    kit.click(debug, 5, debug->h / 2);
    EXPECT_EQ(kit.app->settings.debug_overlay, 1);
    EXPECT_EQ(kit.all(KA_GUI_CHECKBOX, "Receive with the front camera").size(), 1u);

    KA_GUI_WIDGET *fps = kit.find(KA_GUI_COMBOBOX, "30 fps");
    select(kit, fps, 2);
    EXPECT_EQ(kit.app->settings.fps_target, 60u);
}

TEST_F(OptionsScreen, TheLanguageChangesAtOnceEvenWhenChosenAgain) {
    ScreenKit kit;
    open(kit, 5);
    select(kit, kit.find(KA_GUI_COMBOBOX, "Deutsch"), 4);
    EXPECT_STREQ(kit.app->settings.lang, "de");
    EXPECT_STREQ(i18n_language(), "de");
    EXPECT_EQ(kit.app->settings_dirty, 1);
    kit.pass();
    EXPECT_EQ(kit.all(KA_GUI_LABEL, "Optionen").size(), 1u);
    EXPECT_EQ(kit.all(KA_GUI_BUTTON, "Allgemein").size(), 1u);

    select(kit, kit.find(KA_GUI_COMBOBOX, "Deutsch"), 4);
    EXPECT_EQ(kit.app->needs_rebuild, 1) << "the same language still rebuilds";
    kit.pass();
    select(kit, kit.find(KA_GUI_COMBOBOX, "Deutsch"), 0);
    EXPECT_STREQ(kit.app->settings.lang, "");
}

TEST_F(OptionsScreen, RestoringTheDefaultsKeepsTheUsersOwnPresets) {
    ScreenKit kit;
    i18n_set_language("fr");
    int own = presets_add(kit.app->presets, "Mine", "MY OWN TEXT", PRESET_CAT_CUSTOM, 0, "");
    open(kit, 5);
    kit.click(kit.find(KA_GUI_BUTTON, i18n_tr("Restore default presets")));
    ASSERT_NE(presets_get(kit.app->presets, own), nullptr);
    size_t defaults = 0;
    for (size_t i = 0; i < kit.app->presets->count; i++)
        if (kit.app->presets->items[i].is_default) {
            defaults++;
            EXPECT_STREQ(kit.app->presets->items[i].lang, "fr");
        }
    EXPECT_GT(defaults, 5u);
    char expected[96];
    snprintf(expected, sizeof expected, i18n_tr("%d default presets restored"), (int)defaults);
    EXPECT_EQ(label_text(kit, kit.app->options_status), expected);
    std::string saved = read_file(kit.save.file("presets.json"));
    EXPECT_NE(saved.find("MY OWN TEXT"), std::string::npos);

    // The status stays through a tab change, not into the next visit.
    open(kit, 0);
    EXPECT_EQ(label_text(kit, kit.app->options_status), expected);
    kit.show(SCREEN_HOME);
    open(kit, 5);
    EXPECT_EQ(label_text(kit, kit.app->options_status), "");
}

TEST_F(OptionsScreen, AFlashlightMeasurementShowsItsResultOrThatItFailed) {
    install_phone();
    ScreenKit kit;
    kit.app->settings.torch_latency_ms = 40;
    // The measurement wakes the loop when it is done, as it does the program's.
    ALLEGRO_EVENT_QUEUE *queue = al_create_event_queue();
    ASSERT_NE(queue, nullptr);
    al_register_event_source(queue, &kit.app->wake_source);
    auto measure = [&](int result) {
        phone_.latency_ms = result;
        open(kit, 0);
        kit.click(kit.find(KA_GUI_BUTTON, "Measure flashlight delay"));
        EXPECT_EQ(label_text(kit, kit.app->options_status), "Measuring... (the flashlight blinks)");
        ALLEGRO_EVENT ev;
        ASSERT_TRUE(al_wait_for_event_timed(queue, &ev, 10.0));
        screen_options_update(kit.app);
        kit.pass();
    };
    measure(-1);
    EXPECT_EQ(label_text(kit, kit.app->options_status), "Torch latency: not measurable");
    EXPECT_EQ(kit.app->settings.torch_latency_ms, 40u);

    measure(123);
    EXPECT_EQ(kit.app->settings.torch_latency_ms, 123u);
    EXPECT_EQ(label_text(kit, kit.app->options_status), "Torch latency measured: 123 ms");
    KA_GUI_WIDGET *slider = kit.all(KA_GUI_SLIDER).back();
    EXPECT_EQ(caption_of(kit, slider), "Flashlight delay compensation: 123 ms");
    // Shown once: the next pass finds nothing new.
    kit.app->settings.torch_latency_ms = 7;
    screen_options_update(kit.app);
    EXPECT_EQ(kit.app->settings.torch_latency_ms, 7u);
    al_destroy_event_queue(queue);
}

} // namespace

namespace {
int notice_open(ScreenKit &kit) {
    return kit.app->save_notice_win > 0 &&
           ka_gui_window_is_open(kit.app->gui, kit.app->save_notice_win);
}
} // namespace

// A full disk: the restore happens in memory, and the words say the file lacks it. The notice
// tells the user on every screen until closed, and again when the retry has written the file.
TEST_F(OptionsScreen, ARestoreThatCannotBeWrittenSaysSoAndTheNoticeFollowsTheUser) {
    ScreenKit kit;
    std::filesystem::create_directory(kit.save.file("presets.json.tmp"));
    open(kit, 5);
    EXPECT_FALSE(notice_open(kit));
    kit.click(kit.find(KA_GUI_BUTTON, i18n_tr("Restore default presets")));
    int n = (int)kit.app->presets->count;
    ASSERT_GT(n, 5);
    char expected[128];
    snprintf(expected, sizeof expected, "%d defaults restored, not saved yet", n);
    EXPECT_EQ(label_text(kit, kit.app->options_status), expected);
    EXPECT_FALSE(std::filesystem::exists(kit.save.file("presets.json")));
    ASSERT_TRUE(notice_open(kit));
    const char *failed =
        "Your changes could not be saved. Is the disk full? Lumikey keeps them and tries again.";
    EXPECT_EQ(label_text(kit, kit.app->save_notice_label), failed);

    kit.show(SCREEN_HOME);
    EXPECT_TRUE(notice_open(kit)) << "the notice stays until the user closes it";
    EXPECT_EQ(label_text(kit, kit.app->save_notice_label), failed);
    kit.app->running = 1;
    kit.back();
    EXPECT_FALSE(notice_open(kit));
    EXPECT_EQ(kit.app->running, 1) << "back closed the notice without quitting";
    kit.show(SCREEN_HOME);
    EXPECT_FALSE(notice_open(kit)) << "a closed notice stays closed";

    std::filesystem::remove(kit.save.file("presets.json.tmp"));
    EXPECT_EQ(app_save_due(kit.app, 1e6), 1);
    EXPECT_TRUE(notice_open(kit));
    EXPECT_EQ(label_text(kit, kit.app->save_notice_label), "Your changes are saved now.");
    std::string saved = read_file(kit.save.file("presets.json"));
    size_t defaults = 0;
    for (size_t at = saved.find("\"default\":\ttrue"); at != std::string::npos;
         at = saved.find("\"default\":\ttrue", at + 1))
        defaults++;
    EXPECT_EQ(defaults, (size_t)n);
}

TEST_F(OptionsScreen, ARestoreThatWouldOverfillTheListChangesNothingAndSaysWhy) {
    ScreenKit kit;
    for (int i = 0; i < PRESETS_MAX; i++)
        ASSERT_GT(presets_add(kit.app->presets, "", "MINE", PRESET_CAT_CUSTOM, 0, ""), 0);
    open(kit, 5);
    kit.click(kit.find(KA_GUI_BUTTON, i18n_tr("Restore default presets")));
    EXPECT_EQ(label_text(kit, kit.app->options_status), "No room: 1000 presets at most");
    EXPECT_EQ(kit.app->presets->count, (size_t)PRESETS_MAX);
    EXPECT_EQ(kit.app->presets->items[0].is_default, 0);
}
