// src/model/history.hpp: the last 50 distinct texts the user sent, newest first, and their
// file "sent_history.json".
#pragma once
#include <cstddef>

#define HISTORY_MAX 50

struct SENT_HISTORY {
    char items[HISTORY_MAX][512]; // newest first
    size_t count;
};

// Empties the history.
void history_clear(SENT_HISTORY *h);
// Puts text on top; a text already in the history moves up instead of appearing twice, and a
// full history loses its oldest entry. 1 if the history changed; 0 for a blank text or when
// text is already the newest entry.
int history_push(SENT_HISTORY *h, const char *text);
// Removes entry index (0 = newest), keeping the order. 1, or 0 for an index past the end.
int history_remove(SENT_HISTORY *h, size_t index);
// The "sent_history.json" text (caller frees), or null.
char *history_to_json(const SENT_HISTORY *h);
// Loads a "sent_history.json" text. 1, or 0 when it is not a history document (h untouched).
int history_from_json(SENT_HISTORY *h, const char *json);
