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

// Parses json into *root and returns its array member key. Null, with message logged at
// LOG_ERR, when the text is not an object holding such an array: the whole document is then
// rejected.
const cJSON *_model_parse_list(const char *json, const char *key, const char *message,
                               CJSON_PTR *root);

// A new document {"version": 1, ["next_id": *next_id,] key: []} with *array set to its array,
// or null when memory runs out. next_id may be null.
cJSON *_model_new_list(const char *key, const int *next_id, cJSON **array);

// A new empty object appended to array, or null when memory runs out.
cJSON *_model_add_object(cJSON *array);

// The formatted text of root (caller frees with free), or null when root is null or printing
// fails. Takes ownership of root.
char *_model_print(cJSON *root);
