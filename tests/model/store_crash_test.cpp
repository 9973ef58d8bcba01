// tests/model/store_crash_test.cpp: a writer killed in the middle of saving a large preset
// list leaves presets.json whole: one of the versions written, never a mixture, never empty.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "model/json_store.hpp"
#include "model/model_test_env.hpp"
#include "model/presets.hpp"

namespace {
// A list of 500 presets whose texts all name the version, so versions differ in every entry
// and in length.
std::string make_version(int version) {
    PRESET_LIST *list = presets_new();
    std::string filler(150 + 40 * version, 'a' + version);
    for (int i = 0; i < 500; i++) {
        std::string text =
            "version " + std::to_string(version) + " preset " + std::to_string(i) + " " + filler;
        presets_add(list, ("preset " + std::to_string(i)).c_str(), text.c_str(), i % 6, i % 2,
                    "en");
    }
    char *json = presets_to_json(list);
    std::string out = json ? json : "";
    free(json);
    presets_free(&list);
    return out;
}
} // namespace

TEST(PresetSaveCrash, KilledWritersLeaveOneCompleteVersion) {
    SaveDir save;
    ASSERT_TRUE(save.ok());
    std::vector<std::string> versions;
    for (int v = 0; v < 4; v++) versions.push_back(make_version(v));
    ASSERT_GT(versions[0].size(), 100000u);
    ASSERT_EQ(store_write_save("presets.json", versions[0].c_str()), 1);

    std::mt19937 random(12345);
    int interrupted = 0;
    for (int round = 0; round < 40; round++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int k = round; k < round + 100000; k++)
                store_write_save("presets.json", versions[k % versions.size()].c_str());
            _exit(0);
        }
        usleep(1000 + random() % 30000);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer finished before it was killed";
        if (std::filesystem::exists(save.file("presets.json.tmp"))) interrupted++;

        std::string content = read_file(save.file("presets.json"));
        ASSERT_FALSE(content.empty()) << "round " << round;
        bool known = false;
        for (const std::string &v : versions) known = known || content == v;
        ASSERT_TRUE(known) << "round " << round << ": presets.json is not a written version ("
                           << content.size() << " bytes)";
        PRESET_LIST *list = presets_new();
        EXPECT_EQ(presets_from_json(list, content.c_str()), 1);
        EXPECT_EQ(list->count, 500u);
        presets_free(&list);
    }
    // The kills must have landed inside saves, or the check above proved nothing.
    EXPECT_GT(interrupted, 0);

    // The next save after the crashes simply replaces the leftover temporary file.
    ASSERT_EQ(store_write_save("presets.json", versions[1].c_str()), 1);
    EXPECT_EQ(read_file(save.file("presets.json")), versions[1]);
    EXPECT_FALSE(std::filesystem::exists(save.file("presets.json.tmp")));
}
