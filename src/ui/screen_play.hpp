// src/ui/screen_play.hpp: the play screen, where the whole display is the light of a send.
#pragma once
#include <cstdint>

#include "ui/screen_light.hpp"

struct LUMIKEY_APP;

// Builds the bottom panel with "Stop" (and "Save as preset" for a typed message).
void screen_play_build(LUMIKEY_APP *app);
// Clears the whole display to the colour of the element being sent.
void screen_play_draw(LUMIKEY_APP *app);
// Draws the message, the current letter's symbols, the progress bar and the status line.
void screen_play_draw_overlay(LUMIKEY_APP *app);
// The colour screen_play_draw clears to now, 0xRRGGBB.
uint32_t screen_play_light_rgb(LUMIKEY_APP *app);
// The height of the bottom panel at the current display size and fonts.
float screen_play_panel_h(LUMIKEY_APP *app);
