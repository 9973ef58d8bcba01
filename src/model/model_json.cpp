// src/model/model_json.cpp: helpers shared by the model's JSON readers and writers.
#include "model/model_json.hpp"

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
