// support/ka_clipboard.hpp: the X11 text selections CLIPBOARD (0) and PRIMARY (1), served from a
// private X connection by a background thread so that other programs can paste what we offer.
#pragma once
#include <cstddef>

#define KA_CLIPBOARD_CLIPBOARD 0
#define KA_CLIPBOARD_PRIMARY 1

// Starts the service; 0 when it is up (also when it already was), -1 without an X display.
int ka_clipboard_init();
// 1 when the service is up; while it is not, every call tries to start it.
int ka_clipboard_available();
// Offers a copy of text on the selection; null or "" withdraws the offer. 0, or -1.
int ka_clipboard_set(int which, const char *text);
// A newly allocated copy of the selection's text (free() it), or null. Waits at most about
// 2 seconds for another owner to answer.
char *ka_clipboard_get(int which);
// The same, cut to at most max_bytes bytes (maybe inside a character): of another program's
// text only that much is read, and a large transfer is abandoned there, so a huge foreign
// selection costs next to nothing.
char *ka_clipboard_get_prefix(int which, size_t max_bytes);
// Stops and joins the serving thread, closes the connection and drops every offered text.
void ka_clipboard_destroy();
