// fuzz/presets_check.hpp: the invariants of a preset list, whatever file it was read from.
#pragma once
#include "fuzz_common.hpp"
#include "model/model_json.hpp"
#include "model/presets.hpp"

inline void check_presets(const PRESET_LIST *list) {
    FUZZ_CHECK(list->count <= list->cap);
    FUZZ_CHECK(list->next_id >= 1 && list->next_id <= MODEL_ID_MAX + 1);
    for (size_t i = 0; i < list->count; i++) {
        const PRESET *p = &list->items[i];
        FUZZ_CHECK(p->id >= 1 && p->id < list->next_id);
        for (size_t k = 0; k < i; k++) FUZZ_CHECK(list->items[k].id != p->id);
        FUZZ_CHECK(fuzz_terminated(p->name, sizeof p->name));
        FUZZ_CHECK(fuzz_terminated(p->text, sizeof p->text));
        FUZZ_CHECK(fuzz_terminated(p->lang, sizeof p->lang));
        FUZZ_CHECK(!_model_is_blank(p->text));
        // The name may still be empty: a text that starts with a long run of stray
        // continuation bytes has no character boundary within the name's field.
        FUZZ_CHECK(p->category >= PRESET_CAT_EMERGENCY && p->category <= PRESET_CAT_CUSTOM);
        FUZZ_CHECK(p->is_default == 0 || p->is_default == 1);
    }
}
