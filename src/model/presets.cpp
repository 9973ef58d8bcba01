// src/model/presets.cpp: the preset list and its two file formats (the user's presets.json and
// the shipped defaults files).
#include "model/presets.hpp"

#include <cstring>
#include <utility>

#include "model/model_json.hpp"
#include "support/ka_common.hpp"

static const char *const _category_keys[PRESET_CAT_COUNT] = {
    "emergency", "status", "social", "radio", "practice", "custom",
};

const char *preset_category_key(int cat) {
    if (cat < 0 || cat >= PRESET_CAT_COUNT) return _category_keys[PRESET_CAT_CUSTOM];
    return _category_keys[cat];
}

PRESET_CATEGORY preset_category_from_key(const char *key) {
    if (!key) return PRESET_CAT_CUSTOM;
    for (int i = 0; i < PRESET_CAT_COUNT; i++) {
        if (strcmp(key, _category_keys[i]) == 0) return (PRESET_CATEGORY)i;
    }
    return PRESET_CAT_CUSTOM;
}

// Fills *p from scratch. Texts longer than their fields are cut on a character boundary; a
// preset without a name shows the start of its text.
static void _fill(PRESET *p, int id, const char *name, const char *text, int category,
                  int is_default, const char *lang) {
    memset(p, 0, sizeof *p);
    p->id = id;
    ka_copy_text(p->name, sizeof p->name, name);
    ka_copy_text(p->text, sizeof p->text, text);
    p->category = (category < 0 || category > PRESET_CAT_CUSTOM) ? PRESET_CAT_CUSTOM
                                                                 : (PRESET_CATEGORY)category;
    p->is_default = is_default ? 1 : 0;
    ka_copy_text(p->lang, sizeof p->lang, lang);
    if (!p->name[0]) ka_copy_text(p->name, sizeof p->name, p->text);
}

// Room for one more preset. 0 (logged by the allocator) when the array cannot grow; the list
// is then unchanged.
static int _reserve(PRESET_LIST *list) {
    if (list->count < list->cap) return 1;
    size_t cap = list->cap ? list->cap * 2 : 32;
    void *grown =
        _ka_realloc(list->items, cap, sizeof(PRESET), "list->items", "PRESET", __LINE__, __FILE__);
    if (!grown) return 0;
    list->items = (PRESET *)grown;
    list->cap = cap;
    return 1;
}

// Appends a filled preset. A text that was cut down to white space (a long run of spaces before
// the words) is as blank as one that came blank, and is refused the same way.
static int _append(PRESET_LIST *list, const PRESET *p) {
    if (_model_is_blank(p->text)) return 0;
    if (!_reserve(list)) return 0;
    list->items[list->count++] = *p;
    return 1;
}

PRESET_LIST *presets_new() {
    PRESET_LIST *l;
    if (!Malloc(l, PRESET_LIST, 1)) return nullptr;
    l->next_id = 1;
    return l;
}

void presets_free(PRESET_LIST **list) {
    if (!list || !*list) return;
    if ((*list)->items) Free((*list)->items);
    Free(*list);
}

void presets_clear(PRESET_LIST *list) {
    __ka_assert(list, return );
    list->count = 0;
}

int presets_add(PRESET_LIST *list, const char *name, const char *text, int category, int is_default,
                const char *lang) {
    __ka_assert(list, return -1);
    __ka_assert(text, return -1);
    if (_model_is_blank(text) || list->count >= PRESETS_MAX) return -1;
    // Ids are never reused; a list that has handed out every id takes no more presets.
    if (list->next_id < 1 || list->next_id > MODEL_ID_MAX) return -1;
    PRESET p;
    _fill(&p, list->next_id, name, text, category, is_default, lang);
    if (!_append(list, &p)) return -1;
    return list->next_id++;
}

int presets_index_of(const PRESET_LIST *list, int id) {
    __ka_assert(list, return -1);
    for (size_t i = 0; i < list->count; i++) {
        if (list->items[i].id == id) return (int)i;
    }
    return -1;
}

PRESET *presets_get(PRESET_LIST *list, int id) {
    __ka_assert(list, return nullptr);
    int i = presets_index_of(list, id);
    return i < 0 ? nullptr : &list->items[i];
}

int presets_update(PRESET_LIST *list, int id, const char *name, const char *text, int category) {
    __ka_assert(list, return 0);
    __ka_assert(text, return 0);
    int i = presets_index_of(list, id);
    if (i < 0 || _model_is_blank(text)) return 0;
    PRESET p;
    _fill(&p, id, name, text, category, 0, "");
    if (_model_is_blank(p.text)) return 0;
    list->items[i] = p;
    return 1;
}

int presets_remove(PRESET_LIST *list, int id) {
    __ka_assert(list, return 0);
    int i = presets_index_of(list, id);
    if (i < 0) return 0;
    memmove(&list->items[i], &list->items[i + 1], (list->count - (size_t)i - 1) * sizeof(PRESET));
    list->count--;
    return 1;
}

int presets_move(PRESET_LIST *list, int id, int dir) {
    __ka_assert(list, return 0);
    int j = presets_index_of(list, id);
    if (j < 0 || dir == 0) return 0;
    PRESET_CATEGORY c = list->items[j].category;
    int step = dir < 0 ? -1 : 1;
    for (int k = j + step; k >= 0 && (size_t)k < list->count; k += step) {
        if (list->items[k].category == c) {
            std::swap(list->items[j], list->items[k]);
            return 1;
        }
    }
    return 0;
}

char *presets_to_json(const PRESET_LIST *list) {
    __ka_assert(list, return nullptr);
    cJSON *array = nullptr;
    CJSON_PTR root(_model_new_list("presets", &list->next_id, &array));
    bool ok = root != nullptr;
    for (size_t i = 0; ok && i < list->count; i++) {
        const PRESET *p = &list->items[i];
        cJSON *o = _model_add_object(array);
        ok = o && cJSON_AddNumberToObject(o, "id", p->id) &&
             cJSON_AddStringToObject(o, "name", p->name) &&
             cJSON_AddStringToObject(o, "text", p->text) &&
             cJSON_AddStringToObject(o, "category", preset_category_key(p->category)) &&
             cJSON_AddBoolToObject(o, "default", p->is_default) &&
             cJSON_AddStringToObject(o, "lang", p->lang);
    }
    if (!ok) return nullptr;
    return _model_print(root.release());
}

// A string member's text, or null when absent or not a string.
static const char *_string_member(const cJSON *o, const char *key) {
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(o, key);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

// Moves the content of from into to (items, counts, next_id) and frees what to held.
static void _take_over(PRESET_LIST *to, PRESET_LIST *from) {
    std::swap(to->left_out, from->left_out);
    std::swap(to->items, from->items);
    std::swap(to->count, from->count);
    std::swap(to->cap, from->cap);
    std::swap(to->next_id, from->next_id);
}

// A preset read with a missing, out-of-range or duplicate id keeps its place under a fresh id:
// the screens address presets by id, and deleting one must not delete its twin. Past the last
// id there is nothing to give; such a preset is then left out. given holds the ids as read.
static void _renumber(PRESET_LIST *list, const int *given) {
    static bool twin[PRESETS_MAX];
    for (size_t i = 0; i < list->count; i++)
        twin[i] = list->items[i].id <= 0 || presets_index_of(list, list->items[i].id) < (int)i;
    size_t kept = 0;
    for (size_t i = 0; i < list->count; i++) {
        PRESET p = list->items[i];
        if (twin[i]) {
            if (list->next_id > MODEL_ID_MAX) continue;
            p.id = list->next_id++;
            ka_log(LOG_WARNING,
                   "presets.json: preset '%s' had a missing or duplicate id (%d), now %d", p.name,
                   given[i], p.id);
        }
        list->items[kept++] = p;
    }
    list->count = kept;
}

int presets_from_json(PRESET_LIST *list, const char *json) {
    __ka_assert(list, return 0);
    __ka_assert(json, return 0);
    CJSON_PTR root;
    const cJSON *array =
        _model_parse_list(json, "presets", "presets.json: not a preset document", &root);
    if (!array) return 0;
    PRESET_LIST fresh = {nullptr, 0, 0, 1, 0};
    int highest = 0;
    // The id each entry gave, as far as an int holds it, for the warning of a renumbering.
    static int given[PRESETS_MAX];
    const cJSON *e;
    cJSON_ArrayForEach(e, array) {
        const char *text = _string_member(e, "text");
        const cJSON *id_item = cJSON_GetObjectItemCaseSensitive(e, "id");
        int id = _model_json_id(id_item);
        int shown = id ? id : (cJSON_IsNumber(id_item) ? id_item->valueint : 0);
        PRESET p;
        if (text) {
            _fill(&p, id, _string_member(e, "name"), text,
                  preset_category_from_key(_string_member(e, "category")),
                  cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(e, "default")),
                  _string_member(e, "lang"));
        }
        if (!text || _model_is_blank(p.text)) {
            ka_log(LOG_INFO, "presets.json: skipping an invalid entry (id %d)", shown);
            continue;
        }
        if (fresh.count >= PRESETS_MAX) {
            fresh.left_out++;
            continue;
        }
        given[fresh.count] = shown;
        if (!_append(&fresh, &p)) break; // out of memory: keep what was read
        if (id > highest) highest = id;
    }
    if (fresh.left_out)
        ka_log(LOG_WARNING, "presets.json: %zu presets past the first %d left out", fresh.left_out,
               PRESETS_MAX);
    fresh.next_id =
        _model_next_id(cJSON_GetObjectItemCaseSensitive(root.get(), "next_id"), highest);
    _renumber(&fresh, given);
    _take_over(list, &fresh);
    if (fresh.items) Free(fresh.items);
    return 1;
}

int presets_restore_defaults(PRESET_LIST *list, const char *defaults_json) {
    __ka_assert(list, return -1);
    __ka_assert(defaults_json, return -1);
    CJSON_PTR root;
    const cJSON *array =
        _model_parse_list(defaults_json, "presets", "defaults: not a preset document", &root);
    if (!array) return -1;
    const char *lang = _string_member(root.get(), "lang");
    PRESET_LIST fresh = {nullptr, 0, 0, list->next_id, list->left_out};
    int loaded = 0;
    bool failed = false;
    const cJSON *e;
    cJSON_ArrayForEach(e, array) {
        if (fresh.next_id > MODEL_ID_MAX) {
            failed = true;
            break;
        }
        PRESET p;
        _fill(&p, fresh.next_id, _string_member(e, "name"), _string_member(e, "text"),
              preset_category_from_key(_string_member(e, "category")), 1, lang);
        if (_model_is_blank(p.text)) continue; // no text, or nothing but white space
        if (fresh.count >= PRESETS_MAX) {
            if (fresh.items) Free(fresh.items);
            return PRESETS_FULL;
        }
        if (!_append(&fresh, &p)) {
            failed = true;
            break;
        }
        fresh.next_id++;
        loaded++;
    }
    // The user's own presets must survive a restore; if they cannot all be kept, nothing
    // changes.
    int full = 0;
    for (size_t i = 0; !failed && i < list->count; i++) {
        if (list->items[i].is_default) continue;
        if (fresh.count >= PRESETS_MAX) {
            full = 1;
            failed = true;
        } else if (!_append(&fresh, &list->items[i])) {
            failed = true;
        }
    }
    if (failed) {
        if (fresh.items) Free(fresh.items);
        return full ? PRESETS_FULL : -1;
    }
    _take_over(list, &fresh);
    if (fresh.items) Free(fresh.items);
    return loaded;
}
