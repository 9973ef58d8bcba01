// fuzz/received_fuzz.cpp: any text given as received.json gives at most 200 messages with
// unique, positive ids below next_id, which write and read back unchanged.
#include "fuzz_common.hpp"
#include "model/model_json.hpp"
#include "model/received.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = fuzz_text(data, size);
    RECEIVED_LIST *list = received_new();
    received_add(list, 1, "before", "", 0);
    if (!received_from_json(list, text.c_str())) {
        FUZZ_CHECK(list->count == 1 && list->next_id == 2);
        received_free(&list);
        return 0;
    }
    FUZZ_CHECK(list->count <= RECEIVED_MAX);
    FUZZ_CHECK(list->next_id >= 1 && list->next_id <= MODEL_ID_MAX + 1);
    bool ids_unique = true;
    for (size_t i = 0; i < list->count; i++) {
        const RECEIVED_MSG *m = &list->items[i];
        FUZZ_CHECK(m->id >= 1 && m->id < list->next_id);
        for (size_t k = 0; k < i; k++) ids_unique = ids_unique && list->items[k].id != m->id;
        FUZZ_CHECK(fuzz_terminated(m->text, sizeof m->text) && m->text[0]);
        FUZZ_CHECK(fuzz_terminated(m->symbols, sizeof m->symbols));
    }
    // Ids run out only past MODEL_ID_MAX; short of that, twins are renumbered.
    FUZZ_CHECK(ids_unique || list->next_id > MODEL_ID_MAX);
    char *json = received_to_json(list);
    FUZZ_CHECK(json);
    RECEIVED_LIST *back = received_new();
    FUZZ_CHECK(received_from_json(back, json) == 1);
    FUZZ_CHECK(back->count == list->count);
    if (ids_unique) {
        FUZZ_CHECK(back->next_id == list->next_id);
        for (size_t i = 0; i < list->count; i++)
            FUZZ_CHECK(memcmp(&back->items[i], &list->items[i], sizeof(RECEIVED_MSG)) == 0);
    }
    free(json);
    received_free(&back);
    received_free(&list);
    return 0;
}
