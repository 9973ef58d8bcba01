// tests/model/model_test_env.hpp: a private save directory for the storage tests.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform_desktop.hpp"
#include "support/test_env.hpp"

// Points the program's save directory at a fresh temporary folder for the object's lifetime.
class SaveDir {
public:
    SaveDir() : xdg_("XDG_DATA_HOME", tmp_.path().c_str()) { ok_ = platform_init() == 1; }
    bool ok() const { return ok_; }
    std::string dir() const { return tmp_.path() + "/lumikey"; }
    std::string file(const std::string &name) const { return dir() + "/" + name; }

private:
    TempDir tmp_;
    ScopedEnv xdg_;
    bool ok_ = false;
};

// Owns a preset or received list made by NEW and freed by FREE.
template <typename LIST, LIST *(*NEW)(), void (*FREE)(LIST **)> struct OwnedList {
    LIST *l = NEW();
    OwnedList() = default;
    ~OwnedList() { FREE(&l); }
    OwnedList(const OwnedList &) = delete;
    OwnedList &operator=(const OwnedList &) = delete;
    LIST *operator->() { return l; }
    auto &operator[](size_t i) { return l->items[i]; }
};

// The ids of a list (presets or received messages), in list order.
template <typename LIST> std::vector<int> ids_of(const LIST *list) {
    std::vector<int> out;
    for (size_t i = 0; i < list->count; i++) out.push_back(list->items[i].id);
    return out;
}

// The text a *_to_json function returned, freed; "" for null.
inline std::string json_text(char *json) {
    std::string out = json ? json : "";
    free(json);
    return out;
}
