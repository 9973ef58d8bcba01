// tests/model/model_test_env.hpp: a private save directory for the storage tests.
#pragma once
#include <string>

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
