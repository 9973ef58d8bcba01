// tests/model/store_durability_test.cpp: a save reaches the device before it replaces the old
// file, and the rename itself is synced. fsync and rename are interposed in this test program
// to watch the order of the calls and to make a sync fail.
#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <vector>
#include <gtest/gtest.h>
#include <unistd.h>

#include "model/json_store.hpp"
#include "model/model_test_env.hpp"

namespace {
std::vector<std::string> calls;
std::string fail_sync_of; // a path whose fsync reports EIO

std::string path_of(int fd) {
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, (size_t)n) : std::string("?");
}
} // namespace

extern "C" int fsync(int fd) {
    using fn = int (*)(int);
    static fn real = (fn)dlsym(RTLD_NEXT, "fsync");
    std::string path = path_of(fd);
    calls.push_back("fsync " + path);
    if (!fail_sync_of.empty() && path == fail_sync_of) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

extern "C" int rename(const char *from, const char *to) noexcept {
    using fn = int (*)(const char *, const char *);
    static fn real = (fn)dlsym(RTLD_NEXT, "rename");
    calls.push_back(std::string("rename ") + from + " " + to);
    return real(from, to);
}

TEST(StoreDurability, SyncsTheDataBeforeTheRenameAndTheDirectoryAfterIt) {
    SaveDir save;
    ASSERT_TRUE(save.ok());
    // The temporary folder may be reached through a symbolic link; compare real paths.
    std::string dir = std::filesystem::canonical(save.dir()).string();
    calls.clear();
    ASSERT_EQ(store_write_save("settings.json", "{}"), 1);
    std::vector<std::string> expected = {
        "fsync " + dir + "/settings.json.tmp",
        "rename " + save.file("settings.json.tmp") + " " + save.file("settings.json"),
        "fsync " + dir,
    };
    EXPECT_EQ(calls, expected);
}

TEST(StoreDurability, AFailedSyncFailsTheSaveAndKeepsTheOldFile) {
    SaveDir save;
    ASSERT_EQ(store_write_save("settings.json", "old"), 1);
    std::string dir = std::filesystem::canonical(save.dir()).string();
    fail_sync_of = dir + "/settings.json.tmp";
    LogCapture log;
    EXPECT_EQ(store_write_save("settings.json", "new"), 0);
    fail_sync_of.clear();
    EXPECT_TRUE(log.contains("cannot sync")) << log.text();
    EXPECT_EQ(read_file(save.file("settings.json")), "old");
    EXPECT_FALSE(std::filesystem::exists(save.file("settings.json.tmp")));
}
