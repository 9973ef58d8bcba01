// src/model/model_json.hpp: small pieces the model files (settings, presets, history, received)
// share when they read and write their JSON documents. Not used outside src/model.
#pragma once
#include <cstdint>
#include <memory>
#include <cjson/cJSON.h>

// Owns a cJSON tree; cJSON_Delete on destruction.
struct _CJSON_DELETE {
    void operator()(cJSON *json) const { cJSON_Delete(json); }
};
using CJSON_PTR = std::unique_ptr<cJSON, _CJSON_DELETE>;

// Largest id a preset or received message may carry. Ids are never reused, so the next id is
// always one above the highest; keeping ids far below INT_MAX means a damaged or foreign file
// with a huge id cannot make that addition overflow.
#define MODEL_ID_MAX 1000000000

// 1 for null, "" or a text of nothing but spaces, tabs, carriage returns and line feeds.
int _model_is_blank(const char *text);

// The id held by item when it is a number whose integer part is 1 to MODEL_ID_MAX, else 0.
int _model_json_id(const cJSON *item);

// The next id for a list whose highest id is highest, given the stored "next_id" member
// (null when absent): the stored value when it is larger and valid, else highest + 1.
int _model_next_id(const cJSON *stored, int highest);

// The formatted text of root (caller frees with free), or null when root is null or printing
// fails. Takes ownership of root.
char *_model_print(cJSON *root);
