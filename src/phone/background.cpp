// src/phone/background.cpp: the background service behind an installable platform side. The
// desktop has none: the program keeps running with its window hidden anyway.
#include "phone/background.hpp"

static int _desktop_start(int, const char *, const char *, void *) {
    return 0;
}
static void _desktop_nothing(void *) {}
static const BACKGROUND_PLATFORM _DESKTOP = {_desktop_start, _desktop_nothing, _desktop_nothing,
                                             nullptr};

static struct { BACKGROUND_PLATFORM platform = _DESKTOP; } _background;

void background_set_platform(const BACKGROUND_PLATFORM *platform) {
    _background.platform = platform ? *platform : _DESKTOP;
}

int background_start(int kinds, const char *title, const char *text) {
    if (!_background.platform.start) return 0;
    return _background.platform.start(kinds, title ? title : "", text ? text : "",
                                      _background.platform.user);
}

void background_ask_notifications() {
    if (_background.platform.ask_notifications)
        _background.platform.ask_notifications(_background.platform.user);
}

void background_stop() {
    if (_background.platform.stop) _background.platform.stop(_background.platform.user);
}
