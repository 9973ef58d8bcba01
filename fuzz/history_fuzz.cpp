// fuzz/history_fuzz.cpp: any text given as sent_history.json gives at most 50 non-blank,
// terminated entries that write and read back unchanged.
#include "fuzz_common.hpp"
#include "model/history.hpp"
#include "model/model_json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = fuzz_text(data, size);
    static SENT_HISTORY h, back;
    history_clear(&h);
    history_push(&h, "before");
    if (!history_from_json(&h, text.c_str())) {
        FUZZ_CHECK(h.count == 1 && strcmp(h.items[0], "before") == 0);
        return 0;
    }
    FUZZ_CHECK(h.count <= HISTORY_MAX);
    for (size_t i = 0; i < h.count; i++) {
        FUZZ_CHECK(fuzz_terminated(h.items[i], sizeof h.items[i]));
        FUZZ_CHECK(!_model_is_blank(h.items[i]));
    }
    char *json = history_to_json(&h);
    FUZZ_CHECK(json);
    history_clear(&back);
    FUZZ_CHECK(history_from_json(&back, json) == 1);
    FUZZ_CHECK(back.count == h.count);
    for (size_t i = 0; i < h.count; i++) FUZZ_CHECK(strcmp(back.items[i], h.items[i]) == 0);
    free(json);
    // Pushing onto whatever was loaded keeps the bound.
    history_push(&h, "after");
    FUZZ_CHECK(h.count <= HISTORY_MAX && strcmp(h.items[0], "after") == 0);
    return 0;
}
