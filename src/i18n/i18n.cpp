// src/i18n/i18n.cpp: translation tables, one per language, loaded on first use and kept until
// shutdown, so switching back and forth on the options screen never reads a file twice.
#include "i18n/i18n.hpp"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cJSON.h>

#include "model/json_store.hpp"
#include "platform/platform_desktop.hpp"
#include "support/ka_common.hpp"
#include "support/ka_hash.hpp"

#define I18N_LANG_COUNT 5

// Index 0 is the built-in English, which has no table.
static const char *const _langs[I18N_LANG_COUNT] = {"en", "fr", "es", "de", "it"};

static struct {
    HASH_TABLE *tables[I18N_LANG_COUNT]; // null: not loaded, or its file failed (tried again)
    size_t cur;                          // index into _langs
} _i18n;

// The language whose code starts with the same two bytes as code, or 0 (English) for none.
static size_t _lang_index(const char *code) {
    for (size_t i = 0; i < I18N_LANG_COUNT; i++) {
        if (strncmp(code, _langs[i], 2) == 0) return i;
    }
    return 0;
}

// Reads lang/<code>.json into a new table; null when the file is missing or not an object.
static HASH_TABLE *_load_table(size_t index) {
    char name[64];
    snprintf(name, sizeof name, "lang/%s.json", _langs[index]);
    char *text = store_read_asset(name);
    if (!text) return nullptr;
    cJSON *doc = cJSON_Parse(text);
    free(text);
    if (!cJSON_IsObject(doc)) {
        ka_log(LOG_ERR, "%s: not a translation object", name);
        cJSON_Delete(doc);
        return nullptr;
    }
    HASH_TABLE *table = new_ht(512);
    if (!table) {
        cJSON_Delete(doc);
        return nullptr;
    }
    int stored = 0;
    const cJSON *entry = nullptr;
    cJSON_ArrayForEach(entry, doc) {
        if (cJSON_IsString(entry) && entry->string && entry->valuestring &&
            ht_put_string(table, entry->string, entry->valuestring))
            stored++;
    }
    cJSON_Delete(doc);
    ka_log(LOG_INFO, "language %s: %d strings", _langs[index], stored);
    return table;
}

const char *i18n_set_language(const char *code) {
    char system_code[8];
    if (!code || !code[0]) {
        platform_system_language(system_code, sizeof system_code);
        code = system_code;
    }
    size_t index = _lang_index(code);
    if (index != 0 && !_i18n.tables[index]) _i18n.tables[index] = _load_table(index);
    _i18n.cur = (index != 0 && _i18n.tables[index]) ? index : 0;
    return _langs[_i18n.cur];
}

const char *i18n_language() {
    return _langs[_i18n.cur];
}

void i18n_decimals(char *text) {
    if (!text || _i18n.cur == 0) return;
    for (char *p = text; *p; p++) {
        if (*p == '.' && p > text && isdigit((unsigned char)p[-1]) && isdigit((unsigned char)p[1]))
            *p = ',';
    }
}

const char *i18n_tr(const char *key) {
    if (!key) return nullptr;
    HASH_TABLE *table = _i18n.tables[_i18n.cur];
    if (_i18n.cur == 0 || !table) return key;
    const char *text = nullptr;
    // An empty translation would blank a button or a message: show the English instead.
    if (ht_get_string(table, key, &text) && text && text[0]) return text;
    return key;
}

void i18n_shutdown() {
    for (HASH_TABLE *&table : _i18n.tables) {
        if (table) destroy_ht(&table);
    }
    _i18n.cur = 0;
}
