// src/model/received.cpp: the received-messages list, a fixed newest-first array of 200.
#include "model/received.hpp"

#include <cstring>

#include "model/model_json.hpp"
#include "support/ka_common.hpp"

RECEIVED_LIST *received_new() {
    RECEIVED_LIST *l;
    if (!Malloc(l, RECEIVED_LIST, 1)) return nullptr;
    if (!Malloc(l->items, RECEIVED_MSG, RECEIVED_MAX)) {
        Free(l);
        return nullptr;
    }
    l->next_id = 1;
    return l;
}

void received_free(RECEIVED_LIST **list) {
    if (!list || !*list) return;
    if ((*list)->items) Free((*list)->items);
    Free(*list);
}

// Fills *m from scratch. 0 when the text does not survive the cut to its field (a text of
// nothing but stray continuation bytes has no character to keep).
static int _fill(RECEIVED_MSG *m, int id, int64_t when, const char *text, const char *symbols,
                 uint32_t unit_ms) {
    memset(m, 0, sizeof *m);
    m->id = id;
    m->when = when;
    ka_copy_text(m->text, sizeof m->text, text);
    ka_copy_text(m->symbols, sizeof m->symbols, symbols);
    m->unit_ms = unit_ms;
    return m->text[0] != '\0';
}

int received_add(RECEIVED_LIST *list, int64_t when, const char *text, const char *symbols,
                 uint32_t unit_ms) {
    __ka_assert(list, return -1);
    if (!text || !text[0]) return -1;
    // Ids are never reused; a list that has handed out every id takes no more messages.
    if (list->next_id < 1 || list->next_id > MODEL_ID_MAX) return -1;
    RECEIVED_MSG m;
    if (!_fill(&m, list->next_id, when, text, symbols, unit_ms)) return -1;
    size_t moved = list->count < RECEIVED_MAX ? list->count : RECEIVED_MAX - 1;
    memmove(&list->items[1], &list->items[0], moved * sizeof(RECEIVED_MSG));
    if (list->count < RECEIVED_MAX) list->count++;
    list->items[0] = m;
    return list->next_id++;
}

RECEIVED_MSG *received_get(RECEIVED_LIST *list, int id) {
    __ka_assert(list, return nullptr);
    for (size_t i = 0; i < list->count; i++) {
        if (list->items[i].id == id) return &list->items[i];
    }
    return nullptr;
}

int received_remove(RECEIVED_LIST *list, int id) {
    __ka_assert(list, return 0);
    RECEIVED_MSG *m = received_get(list, id);
    if (!m) return 0;
    size_t i = (size_t)(m - list->items);
    memmove(&list->items[i], &list->items[i + 1], (list->count - i - 1) * sizeof(RECEIVED_MSG));
    list->count--;
    return 1;
}

char *received_to_json(const RECEIVED_LIST *list) {
    __ka_assert(list, return nullptr);
    cJSON *array = nullptr;
    CJSON_PTR root(_model_new_list("received", &list->next_id, &array));
    bool ok = root != nullptr;
    for (size_t i = 0; ok && i < list->count && i < RECEIVED_MAX; i++) {
        const RECEIVED_MSG *m = &list->items[i];
        cJSON *o = _model_add_object(array);
        ok = o && cJSON_AddNumberToObject(o, "id", m->id) &&
             cJSON_AddNumberToObject(o, "when", (double)m->when) &&
             cJSON_AddStringToObject(o, "text", m->text) &&
             cJSON_AddStringToObject(o, "symbols", m->symbols) &&
             cJSON_AddNumberToObject(o, "unit_ms", m->unit_ms);
    }
    if (!ok) return nullptr;
    return _model_print(root.release());
}

// cJSON writes a number with 15 significant digits whenever they read back within its own
// tolerance, which is looser than one step of a double: a larger time would move a little at
// every save. 10^15 s is 31 million years, so nothing real is lost by reading a larger one as
// unknown.
static constexpr double RECEIVED_WHEN_MAX = 999999999999999.0;

// A number member truncated toward zero, when it lies within [lo, hi]; else 0. Values a damaged
// file may hold beyond the target type's range would make the conversion undefined.
static double _number_in(const cJSON *o, const char *key, double lo, double hi) {
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(o, key);
    if (!cJSON_IsNumber(item)) return 0;
    double v = item->valuedouble;
    return (v >= lo && v <= hi) ? v : 0;
}

// A file edited by hand can hold two messages with one id. Both are kept, but the later one gets
// a fresh id: the screens address messages by id, and deleting one must not delete the other.
static void _renumber_duplicates(RECEIVED_LIST *list) {
    for (size_t i = 1; i < list->count; i++) {
        for (size_t k = 0; k < i; k++) {
            if (list->items[k].id != list->items[i].id) continue;
            // Past the last id there is nothing to give; the message then keeps its twin's id.
            if (list->next_id <= MODEL_ID_MAX) list->items[i].id = list->next_id++;
            break;
        }
    }
}

int received_from_json(RECEIVED_LIST *list, const char *json) {
    __ka_assert(list, return 0);
    __ka_assert(json, return 0);
    CJSON_PTR root;
    const cJSON *array =
        _model_parse_list(json, "received", "received.json: not a received document", &root);
    if (!array) return 0;
    list->count = 0;
    int highest = 0;
    const cJSON *e;
    cJSON_ArrayForEach(e, array) {
        if (list->count >= RECEIVED_MAX) break;
        const cJSON *text = cJSON_GetObjectItemCaseSensitive(e, "text");
        int id = _model_json_id(cJSON_GetObjectItemCaseSensitive(e, "id"));
        if (!cJSON_IsString(text) || !text->valuestring[0] || id <= 0) continue;
        const cJSON *symbols = cJSON_GetObjectItemCaseSensitive(e, "symbols");
        int64_t when = (int64_t)_number_in(e, "when", -RECEIVED_WHEN_MAX, RECEIVED_WHEN_MAX);
        uint32_t unit_ms = (uint32_t)_number_in(e, "unit_ms", 1.0, 4294967295.0);
        RECEIVED_MSG *m = &list->items[list->count];
        if (!_fill(m, id, when, text->valuestring,
                   cJSON_IsString(symbols) ? symbols->valuestring : "", unit_ms))
            continue;
        list->count++;
        if (id > highest) highest = id;
    }
    list->next_id =
        _model_next_id(cJSON_GetObjectItemCaseSensitive(root.get(), "next_id"), highest);
    _renumber_duplicates(list);
    return 1;
}
