// fuzz/presets_fuzz.cpp: any text given as presets.json gives a list with unique, positive
// ids below next_id and non-blank texts, which writes and reads back unchanged.
#include "fuzz_common.hpp"
#include "model/model_json.hpp"
#include "model/presets.hpp"
#include "presets_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = fuzz_text(data, size);
    PRESET_LIST *list = presets_new();
    presets_add(list, "before", "kept when the file is rejected", 0, 0, "");
    if (!presets_from_json(list, text.c_str())) {
        FUZZ_CHECK(list->count == 1 && strcmp(list->items[0].name, "before") == 0);
        presets_free(&list);
        return 0;
    }
    check_presets(list);
    char *json = presets_to_json(list);
    FUZZ_CHECK(json);
    PRESET_LIST *back = presets_new();
    FUZZ_CHECK(presets_from_json(back, json) == 1);
    FUZZ_CHECK(back->count == list->count && back->next_id == list->next_id);
    for (size_t i = 0; i < list->count; i++)
        FUZZ_CHECK(memcmp(&back->items[i], &list->items[i], sizeof(PRESET)) == 0);
    free(json);
    presets_free(&back);
    presets_free(&list);
    return 0;
}
