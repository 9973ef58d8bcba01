// src/model/received.hpp: the last 200 messages decoded by the receiver or kept from the key
// screen, newest first, with their time, symbols and speed, and their file "received.json".
#pragma once
#include <cstddef>
#include <cstdint>

#define RECEIVED_MAX 200

struct RECEIVED_MSG {
    int id;             // unique, positive, never reused within the list's life
    int64_t when;       // seconds since the Unix epoch (UTC)
    char text[512];     // decoded text
    char symbols[2048]; // the dots and dashes it was decoded from
    uint32_t unit_ms;   // measured Morse unit, 0 = unknown
};

struct RECEIVED_LIST {
    RECEIVED_MSG *items; // RECEIVED_MAX slots, allocated with the list; newest first
    size_t count;
    int next_id;
};

// An empty list with room for RECEIVED_MAX messages and next_id 1, or null when out of memory.
RECEIVED_LIST *received_new();
// Frees the list and nulls *list; null-safe.
void received_free(RECEIVED_LIST **list);
// Stores a new message on top (a full list loses its oldest) and returns its id; -1 for a null
// or empty text. symbols may be null.
int received_add(RECEIVED_LIST *list, int64_t when, const char *text, const char *symbols,
                 uint32_t unit_ms);
// The message with that id, or null.
RECEIVED_MSG *received_get(RECEIVED_LIST *list, int id);
// Removes it, keeping the order of the others. 1 or 0.
int received_remove(RECEIVED_LIST *list, int id);
// The "received.json" text (caller frees), or null.
char *received_to_json(const RECEIVED_LIST *list);
// Loads a "received.json" text; invalid entries are skipped. 1, or 0 when it is not a received
// document (the list is then untouched).
int received_from_json(RECEIVED_LIST *list, const char *json);
