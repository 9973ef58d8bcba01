// src/model/history.cpp: the sent history, a fixed newest-first array of texts.
#include "model/history.hpp"

#include <cstring>

#include "model/model_json.hpp"
#include "support/ka_common.hpp"

void history_clear(SENT_HISTORY *h) {
    __ka_assert(h, return );
    h->count = 0;
}

int history_push(SENT_HISTORY *h, const char *text) {
    __ka_assert(h, return 0);
    if (_model_is_blank(text)) return 0;
    char entry[sizeof h->items[0]];
    ka_copy_text(entry, sizeof entry, text);
    // Cutting a long text can leave only the white space it started with.
    if (_model_is_blank(entry)) return 0;
    size_t i = h->count < HISTORY_MAX ? h->count : HISTORY_MAX - 1;
    for (size_t k = 0; k < h->count; k++) {
        if (strcmp(h->items[k], entry) == 0) {
            if (k == 0) return 0;
            i = k;
            break;
        }
    }
    // Entries 0 .. i-1 move down one place, overwriting the duplicate, dropping the oldest
    // entry of a full history or taking a new slot.
    memmove(h->items[1], h->items[0], i * sizeof h->items[0]);
    memcpy(h->items[0], entry, sizeof entry);
    if (i == h->count && h->count < HISTORY_MAX) h->count++;
    return 1;
}

int history_remove(SENT_HISTORY *h, size_t index) {
    __ka_assert(h, return 0);
    if (index >= h->count) return 0;
    memmove(h->items[index], h->items[index + 1], (h->count - index - 1) * sizeof h->items[0]);
    h->count--;
    return 1;
}

char *history_to_json(const SENT_HISTORY *h) {
    __ka_assert(h, return nullptr);
    cJSON *sent = nullptr;
    CJSON_PTR root(_model_new_list("sent", nullptr, &sent));
    bool ok = root != nullptr;
    for (size_t i = 0; ok && i < h->count && i < HISTORY_MAX; i++) {
        cJSON *s = cJSON_CreateString(h->items[i]);
        ok = s && cJSON_AddItemToArray(sent, s);
        if (!ok) cJSON_Delete(s);
    }
    if (!ok) return nullptr;
    return _model_print(root.release());
}

int history_from_json(SENT_HISTORY *h, const char *json) {
    __ka_assert(h, return 0);
    __ka_assert(json, return 0);
    CJSON_PTR root;
    const cJSON *sent =
        _model_parse_list(json, "sent", "sent_history.json: not a history document", &root);
    if (!sent) return 0;
    h->count = 0;
    const cJSON *e;
    cJSON_ArrayForEach(e, sent) {
        if (h->count >= HISTORY_MAX) break;
        if (!cJSON_IsString(e) || !e->valuestring[0]) continue;
        // The history never holds a text the user could not have sent; white space is kept
        // out here as it is by history_push.
        char *slot = h->items[h->count];
        ka_copy_text(slot, sizeof h->items[0], e->valuestring);
        if (!_model_is_blank(slot)) h->count++;
    }
    return 1;
}
