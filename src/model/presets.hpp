// src/model/presets.hpp: the preset list (saved messages with a name and a category, sent with
// one tap), its file "presets.json" and the per-language default presets.
#pragma once
#include <cstddef>

// Most presets a list holds. With every field at its longest and every byte written as a
// six-byte escape, that many make a file of about 3.6 MB, well within what the reader takes.
#define PRESETS_MAX 1000

enum PRESET_CATEGORY {
    PRESET_CAT_EMERGENCY = 0,
    PRESET_CAT_STATUS = 1,
    PRESET_CAT_SOCIAL = 2,
    PRESET_CAT_RADIO = 3,
    PRESET_CAT_PRACTICE = 4,
    PRESET_CAT_CUSTOM = 5,
    PRESET_CAT_COUNT = 6,
};

struct PRESET {
    int id;         // unique, positive, never reused within a list
    char name[64];  // display name; the start of text when no name was given
    char text[512]; // the message; never empty or white space only
    PRESET_CATEGORY category;
    int is_default; // 1: came from a defaults file and is replaced by a restore
    char lang[8];   // language of the defaults file it came from, "" for the user's own
};

// A growable array in display order.
struct PRESET_LIST {
    PRESET *items;
    size_t count;
    size_t cap;
    int next_id;     // the id the next added preset gets
    size_t left_out; // presets of the file read last that were past PRESETS_MAX
};

// The key used in files: "emergency" ... "custom"; "custom" for any value out of range.
const char *preset_category_key(int cat);
// The category of an exact key; null or unknown keys give PRESET_CAT_CUSTOM.
PRESET_CATEGORY preset_category_from_key(const char *key);

// An empty list with next_id 1, or null when out of memory.
PRESET_LIST *presets_new();
// Frees the list and nulls *list; null-safe.
void presets_free(PRESET_LIST **list);
// Empties the list; ids handed out so far are not reused.
void presets_clear(PRESET_LIST *list);
// Appends a preset and returns its new id; -1 for a blank text, a full list (PRESETS_MAX) or
// when memory runs out.
int presets_add(PRESET_LIST *list, const char *name, const char *text, int category, int is_default,
                const char *lang);
// Index of the preset with that id, or -1.
int presets_index_of(const PRESET_LIST *list, int id);
// The preset with that id, or null; valid until the list next changes.
PRESET *presets_get(PRESET_LIST *list, int id);
// Replaces name, text and category; the preset becomes the user's own. 1, or 0 for an unknown
// id or a blank text.
int presets_update(PRESET_LIST *list, int id, const char *name, const char *text, int category);
// Removes the preset, keeping the order of the others. 1 or 0.
int presets_remove(PRESET_LIST *list, int id);
// Swaps the preset with its nearest neighbour of the same category in direction dir (< 0 up,
// > 0 down). 1 if it moved.
int presets_move(PRESET_LIST *list, int id, int dir);
// The "presets.json" text (caller frees), or null.
char *presets_to_json(const PRESET_LIST *list);
// Replaces the content from a "presets.json" text; entries without a usable text are skipped,
// and one whose id is missing, out of range or already taken is kept under a new id (logged as
// a warning). Only the first PRESETS_MAX are read; left_out counts the rest. 1, or 0 when the
// text is not a preset document (the list is then untouched).
int presets_from_json(PRESET_LIST *list, const char *json);
// Replaces the default presets with those of a defaults file and keeps the user's own after
// them. The number of defaults loaded; -1 (not a preset document, out of memory) or
// PRESETS_FULL (the defaults and the user's own would not fit in PRESETS_MAX), the list then
// untouched.
#define PRESETS_FULL (-2)
int presets_restore_defaults(PRESET_LIST *list, const char *defaults_json);
