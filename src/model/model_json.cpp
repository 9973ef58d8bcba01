// src/model/model_json.cpp: helpers shared by the model's JSON readers and writers.
#include "model/model_json.hpp"

#include "support/ka_common.hpp"

int _model_is_blank(const char *text) {
    if (!text) return 1;
    for (const char *c = text; *c; c++) {
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return 0;
    }
    return 1;
}

int _model_json_id(const cJSON *item) {
    if (!cJSON_IsNumber(item)) return 0;
    double v = item->valuedouble;
    // The comparisons are false for NaN as well, which cJSON can produce for "-nan"-like input.
    if (!(v >= 1.0 && v < (double)MODEL_ID_MAX + 1.0)) return 0;
    return (int)v;
}

int _model_next_id(const cJSON *stored, int highest) {
    int next = _model_json_id(stored);
    return next > highest ? next : highest + 1;
}

char *_model_print(cJSON *root) {
    CJSON_PTR owned(root);
    if (!owned) return nullptr;
    return cJSON_Print(owned.get());
}

const cJSON *_model_parse_list(const char *json, const char *key, const char *message,
                               CJSON_PTR *root) {
    root->reset(cJSON_Parse(json));
    const cJSON *array = cJSON_GetObjectItemCaseSensitive(root->get(), key);
    if (!cJSON_IsObject(root->get()) || !cJSON_IsArray(array)) {
        ka_log(LOG_ERR, "%s", message);
        return nullptr;
    }
    return array;
}

cJSON *_model_new_list(const char *key, const int *next_id, cJSON **array) {
    CJSON_PTR root(cJSON_CreateObject());
    __ka_assert(root, return nullptr);
    if (!cJSON_AddNumberToObject(root.get(), "version", 1)) return nullptr;
    if (next_id && !cJSON_AddNumberToObject(root.get(), "next_id", *next_id)) return nullptr;
    *array = cJSON_AddArrayToObject(root.get(), key);
    return *array ? root.release() : nullptr;
}

cJSON *_model_add_object(cJSON *array) {
    cJSON *o = cJSON_CreateObject();
    if (o && cJSON_AddItemToArray(array, o)) return o;
    cJSON_Delete(o);
    return nullptr;
}
