// tests/support/fake_system.hpp: a phone's system side for the main loop's lifecycle: the soft
// keyboard, the screen services and the background service, each call recorded in order.
#pragma once
#include <string>
#include <vector>

#include "phone/background.hpp"
#include "phone/screen.hpp"
#include "platform/platform_desktop.hpp"

class FakeSystem {
public:
    FakeSystem();
    // Puts the desktop's sides back.
    ~FakeSystem();
    FakeSystem(const FakeSystem &) = delete;
    FakeSystem &operator=(const FakeSystem &) = delete;

    // What the system answers.
    int keyboard_visible = -1; // -1 unknown, as the desktop says
    int keyboard_overlap = -1; // pixels, -1 unknown

    // Every call as text: "show keyboard", "hide keyboard", "keep on 1", "bright 1",
    // "notifications", "background 1 Lumikey|Sending Morse", "background stop", "halt", "resume".
    std::vector<std::string> calls;
    // The calls that start with prefix, in order.
    std::vector<std::string> of(const std::string &prefix) const;
    void clear() { calls.clear(); }

private:
    void note(std::string what) { calls.push_back(std::move(what)); }
    PLATFORM_SYSTEM system_{};
    SCREEN_PLATFORM screen_{};
    BACKGROUND_PLATFORM background_{};
};
