// support/ka_gui_event_internal.hpp: what the event-processing files of the toolkit share
// (ka_gui_event.cpp for the pointer, keys and focus, ka_gui_event_text.cpp for text editing).
// Not part of the toolkit's contract.
#pragma once
#include <cstddef>
#include "support/ka_clipboard.hpp"
#include "support/ka_gui_internal.hpp"

// 1 once a callback has destroyed the context: the caller must stop touching it at once. The
// record itself stays allocated until the outermost ka_gui_process_event returns.
inline int _gui_ev_gone(const KA_GUI_CTX *ctx) {
    return ctx->destroy_pending;
}

// The pointer position recorded in the context, in the coordinates windows are laid out in (the
// whole GUI scrolls by the global scroll offsets).
void _gui_ev_pointer(const KA_GUI_CTX *ctx, float *px, float *py);

// Allegro modifier bits (shift 1, control 2, alt 4, alt-gr 64) from the held modifier keys.
int _gui_ev_modifiers(const KA_GUI_CTX *ctx);

// A key char for the focused text area `id`; 1 when the text area used the key. May run the
// widget's on_change (check _gui_ev_gone afterwards).
int _gui_textarea_key(KA_GUI_CTX *ctx, int id, const ALLEGRO_KEYBOARD_EVENT *key);

// Longest text a single paste may bring in, before the byte limit is checked; no more of the
// clipboard than this is read.
#define _GUI_PASTE_MAX_BYTES 4095

// Pastes raw clipboard bytes into text area `id` at its selection, filtered as typed text is:
// no carriage returns, newlines only when multi-line, no other control bytes and no malformed
// UTF-8. Nothing is pasted when the result would pass the byte limit. 1 when the text changed
// (on_change has then run).
int _gui_textarea_paste(KA_GUI_CTX *ctx, int id, const char *raw);
