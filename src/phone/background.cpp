// src/phone/background.cpp: the desktop has no background service; the program keeps running
// with its window anyway.
#include "phone/background.hpp"

int background_start(int, const char *, const char *) {
    return 0;
}

void background_ask_notifications() {}

void background_stop() {}
