// src/ui/ui_scrollbar.hpp: the thin bar the scrolling views draw at their right edge, so that
// lists and text views show their position alike.
#pragma once

struct LUMIKEY_APP;

// Draws the bar of a view at (x, y), w x h, showing content_h pixels scrolled down by scroll;
// nothing when the content fits.
void ui_scrollbar_draw(const LUMIKEY_APP *app, float x, float y, float w, float h, float content_h,
                       float scroll);
