// fuzz/defaults_fuzz.cpp: any text given as a defaults file either changes nothing or puts
// valid defaults first and keeps every one of the user's own presets after them, unchanged.
#include "fuzz_common.hpp"
#include "model/presets.hpp"
#include "presets_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = fuzz_text(data, size);
    PRESET_LIST *list = presets_new();
    presets_add(list, "old default", "OLD", 0, 1, "en");
    presets_add(list, "mine", "MY OWN", 2, 0, "");
    presets_add(list, "mine too", "ALSO MINE", 5, 0, "");
    PRESET own[2] = {list->items[1], list->items[2]};
    int loaded = presets_restore_defaults(list, text.c_str());
    if (loaded < 0) {
        FUZZ_CHECK(list->count == 3 && list->next_id == 4);
    } else {
        check_presets(list);
        FUZZ_CHECK(list->count == (size_t)loaded + 2);
        for (int i = 0; i < loaded; i++) FUZZ_CHECK(list->items[i].is_default == 1);
        FUZZ_CHECK(memcmp(&list->items[loaded], &own[0], sizeof(PRESET)) == 0);
        FUZZ_CHECK(memcmp(&list->items[loaded + 1], &own[1], sizeof(PRESET)) == 0);
    }
    presets_free(&list);
    return 0;
}
