// fuzz/settings_fuzz.cpp: any text given as settings.json leaves a record within its limits
// that writes and reads back unchanged.
#include <cstring>

#include "fuzz_common.hpp"
#include "model/settings.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text = fuzz_text(data, size);
    SETTINGS s;
    settings_default(&s);
    SETTINGS before = s;
    if (!settings_from_json(&s, text.c_str())) {
        FUZZ_CHECK(memcmp(&s, &before, sizeof s) == 0);
        return 0;
    }
    SETTINGS sanitized = s;
    settings_sanitize(&sanitized);
    FUZZ_CHECK(memcmp(&s, &sanitized, sizeof s) == 0);
    FUZZ_CHECK(fuzz_terminated(s.lang, sizeof s.lang));
    char *json = settings_to_json(&s);
    FUZZ_CHECK(json);
    SETTINGS back;
    settings_default(&back);
    FUZZ_CHECK(settings_from_json(&back, json) == 1);
    FUZZ_CHECK(memcmp(&s, &back, sizeof s) == 0);
    free(json);
    return 0;
}
