// src/ui/ui_popup.hpp: the small centred popup window the screens use for actions and questions.
#pragma once

struct LUMIKEY_APP;

// A closed popup of w × h, centred across the display a quarter of the way down, kept in front
// of the screen's window. Its id, or -1.
int ui_popup(LUMIKEY_APP *app, float w, float h);
// Opens the popup win in front of the others and asks for a frame.
void ui_popup_show(LUMIKEY_APP *app, int win);
// Closes the popup win if it is open and then asks for a frame; 1 when it was open.
int ui_popup_close(LUMIKEY_APP *app, int win);
