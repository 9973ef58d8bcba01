// tests/main/app_gui_test.cpp: building the GUI of a screen on a real (virtual) display, and
// trying again when a build could not be made.
// ctest-label: display
#include <memory>
#include <gtest/gtest.h>

#include "main/app.hpp"
#include "support/test_display.hpp"

namespace {

class AppGui : public DisplayTest {
protected:
    void SetUp() override {
        app_.reset(new LUMIKEY_APP());
        a = app_.get();
        settings_default(&a->settings);
        a->display = display;
        a->disp_w = 480;
        a->disp_h = 800;
        a->ui_scale = 1;
        a->msg_field = a->target_id = -1;
    }
    void TearDown() override {
        // What the screens built hold (the key screen's decoder) goes as at the program's exit.
        for (int s = SCREEN_HOME; s <= SCREEN_KEY; s++) {
            const APP_SCREEN_HOOKS *hooks = app_screen_hooks((APP_SCREEN)s);
            if (hooks->release) hooks->release(a);
        }
        if (a->gui) ka_gui_destroy_ctx(&a->gui);
    }

    std::unique_ptr<LUMIKEY_APP> app_;
    LUMIKEY_APP *a = nullptr;
};

// A context the toolkit cannot make (here: no font to give it) must not leave the window blank
// for good: the build stays asked for, and the loop's next pass makes it.
TEST_F(AppGui, ABuildThatFailsIsTriedAgainOnTheNextPass) {
    a->screen = SCREEN_KEY;
    a->built_screen = SCREEN_HOME;
    a->needs_rebuild = 0; // the first build at start-up is not asked for through the flag
    app_build_gui(a);
    EXPECT_EQ(a->gui, nullptr);
    EXPECT_EQ(a->needs_rebuild, 1);
    EXPECT_EQ(a->built_screen, SCREEN_HOME);

    a->font = a->font_big = font;
    app_build_gui(a);
    ASSERT_NE(a->gui, nullptr);
    EXPECT_EQ(a->needs_rebuild, 0);
    EXPECT_EQ(a->built_screen, SCREEN_KEY);

    // A failed switch keeps the screen shown and still asks for the new one.
    KA_GUI_CTX *shown = a->gui;
    a->font = nullptr;
    app_set_screen(a, SCREEN_HISTORY);
    app_build_gui(a);
    EXPECT_EQ(a->gui, shown);
    EXPECT_EQ(a->built_screen, SCREEN_KEY);
    EXPECT_EQ(a->needs_rebuild, 1);
    a->font = font;
    app_build_gui(a);
    EXPECT_EQ(a->built_screen, SCREEN_HISTORY);
    EXPECT_EQ(a->needs_rebuild, 0);
}

} // namespace
