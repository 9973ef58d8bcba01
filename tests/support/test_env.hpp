// tests/support/test_env.hpp: temporary folders, environment overrides and log capture.
#pragma once
#include <string>

// A fresh folder under the system's temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or, with nullptr, unsets) one environment variable and restores it on destruction.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_old_;
};

// Real-time scheduling for the calling thread while it lives, where the process may have it,
// for a test thread that plays an operator's keying: one that wakes late on a busy machine
// shortens the gap after a press until two tones merge. raised() says whether it took.
class ScopedRealtime {
public:
    ScopedRealtime();
    ~ScopedRealtime();
    ScopedRealtime(const ScopedRealtime &) = delete;
    ScopedRealtime &operator=(const ScopedRealtime &) = delete;
    bool raised() const { return raised_; }

private:
    int policy_;
    int priority_;
    bool raised_ = false;
};

// Sends the log to a temporary file at the given threshold for its lifetime; text() reads what
// was written so far. Restores standard error and the threshold INFO afterwards.
class LogCapture {
public:
    explicit LogCapture(int level = 7);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    std::string text() const;
    bool contains(const std::string &needle) const {
        return text().find(needle) != std::string::npos;
    }

private:
    void *file_;
    int old_level_;
};

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string &path);
// Writes a whole file; true on success.
bool write_file(const std::string &path, const std::string &content);
