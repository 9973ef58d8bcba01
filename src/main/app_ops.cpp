// src/main/app_ops.cpp: operations the screens and the loop ask of the application.
#include "main/app.hpp"

void app_set_screen(LUMIKEY_APP *app, APP_SCREEN screen) {
    app->screen = screen;
    app->needs_rebuild = 1;
}
