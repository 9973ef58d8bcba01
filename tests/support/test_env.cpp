// tests/support/test_env.cpp
#include "support/test_env.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sched.h>
#include <unistd.h>

#include "support/ka_log.hpp"

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumikey-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) {
        // Permission changes made by tests must not stop the clean-up.
        for (auto &entry : std::filesystem::recursive_directory_iterator(path_, ec))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
    const char *old = getenv(name);
    had_old_ = old != nullptr;
    if (old) old_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_old_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

LogCapture::LogCapture(int level) : file_(tmpfile()), old_level_(get_log_level()) {
    if (file_) set_log_file_fd(static_cast<FILE *>(file_));
    set_log_level(level);
}

LogCapture::~LogCapture() {
    set_log_file_fd(stderr);
    set_log_level(KA_LOG_STDERR);
    set_log_level(old_level_);
    if (file_) fclose(static_cast<FILE *>(file_));
}

std::string LogCapture::text() const {
    if (!file_) return {};
    FILE *f = static_cast<FILE *>(file_);
    fflush(f);
    long end = ftell(f);
    std::string out((size_t)(end > 0 ? end : 0), '\0');
    rewind(f);
    size_t got = fread(out.data(), 1, out.size(), f);
    out.resize(got);
    fseek(f, 0, SEEK_END);
    return out;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool write_file(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << content;
    return static_cast<bool>(out);
}

ScopedRealtime::ScopedRealtime() : policy_(sched_getscheduler(0)) {
    sched_param old{};
    sched_getparam(0, &old);
    priority_ = old.sched_priority;
    sched_param p{};
    p.sched_priority = 3; // below the sound server's and the sidetone's threads
    raised_ = sched_setscheduler(0, SCHED_FIFO, &p) == 0;
}

ScopedRealtime::~ScopedRealtime() {
    if (!raised_) return;
    sched_param p{};
    p.sched_priority = priority_;
    sched_setscheduler(0, policy_, &p);
}
