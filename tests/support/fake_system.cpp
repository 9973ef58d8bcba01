// tests/support/fake_system.cpp
#include "support/fake_system.hpp"

FakeSystem::FakeSystem() {
    system_.keyboard_visible = [](void *u) { return ((FakeSystem *)u)->keyboard_visible; };
    system_.show_keyboard = [](void *u) { ((FakeSystem *)u)->note("show keyboard"); };
    system_.hide_keyboard = [](void *u) { ((FakeSystem *)u)->note("hide keyboard"); };
    system_.keyboard_overlap = [](void *u) { return ((FakeSystem *)u)->keyboard_overlap; };
    system_.on_halt = [](void *u) { ((FakeSystem *)u)->note("halt"); };
    system_.on_resume = [](ALLEGRO_EVENT_QUEUE *, void *u) { ((FakeSystem *)u)->note("resume"); };
    system_.user = this;
    screen_.keep_on = [](int on, void *u) {
        ((FakeSystem *)u)->note("keep on " + std::to_string(on));
    };
    screen_.max_brightness = [](int on, void *u) {
        ((FakeSystem *)u)->note("bright " + std::to_string(on));
    };
    screen_.user = this;
    background_.start = [](int kinds, const char *title, const char *text, void *u) {
        ((FakeSystem *)u)->note("background " + std::to_string(kinds) + " " + title + "|" + text);
        return 1;
    };
    background_.ask_notifications = [](void *u) { ((FakeSystem *)u)->note("notifications"); };
    background_.stop = [](void *u) { ((FakeSystem *)u)->note("background stop"); };
    background_.user = this;
    platform_set_system(&system_);
    screen_set_platform(&screen_);
    background_set_platform(&background_);
}

FakeSystem::~FakeSystem() {
    platform_set_system(nullptr);
    screen_set_platform(nullptr);
    background_set_platform(nullptr);
}

std::vector<std::string> FakeSystem::of(const std::string &prefix) const {
    std::vector<std::string> out;
    for (const std::string &c : calls)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}
