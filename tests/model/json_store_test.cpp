// tests/model/json_store_test.cpp: whole-file reads, the size cap, and atomic saves that fail
// without harming the old file.
#include "model/json_store.hpp"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <vector>

#include "model/model_test_env.hpp"

namespace fs = std::filesystem;

namespace {
struct FreeText {
    void operator()(char *p) const { free(p); }
};
using Text = std::unique_ptr<char, FreeText>;

Text read_save(const char *name) {
    return Text(store_read_save(name));
}
} // namespace

TEST(JsonStoreRead, EmptyFileIsAnEmptyTextAndMissingFileIsNullQuietly) {
    SaveDir save;
    ASSERT_TRUE(save.ok());
    ASSERT_TRUE(write_file(save.file("empty.json"), ""));
    Text empty = read_save("empty.json");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty.get(), "");

    LogCapture log;
    EXPECT_EQ(read_save("missing.json"), nullptr);
    EXPECT_EQ(log.text(), "");
}

TEST(JsonStoreRead, ReturnsTheBytesUpToAnEmbeddedNul) {
    SaveDir save;
    ASSERT_TRUE(write_file(save.file("nul.json"), std::string("{\"a\":1}\0tail", 12)));
    Text text = read_save("nul.json");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text.get(), "{\"a\":1}");
}

TEST(JsonStoreRead, SizesAroundTheBufferStepsAndTheCap) {
    SaveDir save;
    const size_t cap = STORE_MAX_FILE_BYTES;
    for (size_t size : {size_t(4095), size_t(4096), size_t(8191), cap - 2}) {
        std::string content(size, 'x');
        content.back() = 'y';
        ASSERT_TRUE(write_file(save.file("big.json"), content));
        Text text = read_save("big.json");
        ASSERT_NE(text, nullptr) << size;
        EXPECT_EQ(strlen(text.get()), size);
        EXPECT_EQ(text.get()[size - 1], 'y');
    }
    // One byte must stay free for the NUL, so the cap itself minus one is already refused.
    for (size_t size : {cap - 1, cap, cap + 1}) {
        ASSERT_TRUE(write_file(save.file("big.json"), std::string(size, 'x')));
        LogCapture log;
        EXPECT_EQ(read_save("big.json"), nullptr) << size;
        EXPECT_TRUE(log.contains("file larger than " + std::to_string(cap) + " bytes, refused"))
            << log.text();
    }
}

TEST(JsonStoreRead, AssetsComeFromTheAssetsFolderAndAMissingOneIsLogged) {
    Text text(store_read_asset("presets/defaults_en.json"));
    ASSERT_NE(text, nullptr);
    EXPECT_NE(strstr(text.get(), "\"presets\""), nullptr);

    LogCapture log;
    EXPECT_EQ(store_read_asset("presets/defaults_xx.json"), nullptr);
    EXPECT_TRUE(log.contains("asset assets/presets/defaults_xx.json not found")) << log.text();
}

TEST(JsonStoreRead, NullNamesAreRefused) {
    EXPECT_EQ(store_read_asset(nullptr), nullptr);
    EXPECT_EQ(store_read_save(nullptr), nullptr);
    EXPECT_EQ(store_write_save(nullptr, "x"), 0);
    EXPECT_EQ(store_write_save("x.json", nullptr), 0);
}

TEST(JsonStoreWrite, ReplacesTheFileWholeAndLeavesNoTemporaryFile) {
    SaveDir save;
    ASSERT_EQ(store_write_save("a.json", "first version, longer"), 1);
    ASSERT_EQ(store_write_save("a.json", "second"), 1);
    EXPECT_EQ(read_file(save.file("a.json")), "second");
    EXPECT_FALSE(fs::exists(save.file("a.json.tmp")));

    ASSERT_EQ(store_write_save("a.json", ""), 1);
    EXPECT_TRUE(fs::exists(save.file("a.json")));
    EXPECT_EQ(fs::file_size(save.file("a.json")), 0u);
}

TEST(JsonStoreWrite, AStaleTemporaryFileIsOverwritten) {
    SaveDir save;
    ASSERT_TRUE(write_file(save.file("a.json.tmp"), std::string(10000, 'z')));
    ASSERT_EQ(store_write_save("a.json", "{}"), 1);
    EXPECT_EQ(read_file(save.file("a.json")), "{}");
    EXPECT_FALSE(fs::exists(save.file("a.json.tmp")));
}

// Tests run as root, for whom permissions stop nothing; these failures are made with names
// instead.
TEST(JsonStoreWrite, AnUncreatableTemporaryFileFailsAndKeepsTheOldFile) {
    SaveDir save;
    ASSERT_EQ(store_write_save("a.json", "old"), 1);
    fs::create_directory(save.file("a.json.tmp"));
    LogCapture log;
    EXPECT_EQ(store_write_save("a.json", "new"), 0);
    EXPECT_TRUE(log.contains("cannot write " + save.file("a.json.tmp"))) << log.text();
    EXPECT_EQ(read_file(save.file("a.json")), "old");
}

TEST(JsonStoreWrite, AVanishedSaveDirectoryFails) {
    SaveDir save;
    fs::remove_all(save.dir());
    LogCapture log;
    EXPECT_EQ(store_write_save("a.json", "new"), 0);
    EXPECT_TRUE(log.contains("cannot write " + save.file("a.json.tmp"))) << log.text();
    EXPECT_FALSE(fs::exists(save.dir()));
}

TEST(JsonStoreWrite, AFailedRenameRemovesTheTemporaryFile) {
    SaveDir save;
    // A directory with something in it cannot be replaced by a file.
    fs::create_directories(save.file("a.json") + "/inside");
    LogCapture log;
    EXPECT_EQ(store_write_save("a.json", "new"), 0);
    EXPECT_TRUE(log.contains("rename " + save.file("a.json.tmp") + " -> " + save.file("a.json") +
                             " failed"))
        << log.text();
    EXPECT_FALSE(fs::exists(save.file("a.json.tmp")));
    EXPECT_TRUE(fs::is_directory(save.file("a.json") + "/inside"));
}

TEST(JsonStoreWrite, ANameTooLongForThePathBufferFailsWithoutTouchingTheDisk) {
    SaveDir save;
    std::string name(1100, 'n');
    EXPECT_EQ(store_write_save(name.c_str(), "x"), 0);
    EXPECT_EQ(store_read_save(name.c_str()), nullptr);
    EXPECT_TRUE(fs::is_empty(save.dir()));
}

TEST(JsonStoreSetAside, MovesAnUnusableFileOutOfTheWayAndIgnoresAMissingOne) {
    SaveDir save;
    ASSERT_TRUE(write_file(save.file("presets.json"), "[damaged"));
    char kept[128] = "junk";
    EXPECT_EQ(store_set_aside("presets.json", kept, sizeof kept), 1);
    EXPECT_STREQ(kept, "presets.json.rejected");
    EXPECT_FALSE(fs::exists(save.file("presets.json")));
    EXPECT_EQ(read_file(save.file("presets.json.rejected")), "[damaged");

    LogCapture log;
    EXPECT_EQ(store_set_aside("presets.json", kept, sizeof kept), 0);
    EXPECT_STREQ(kept, "");
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(store_set_aside(nullptr, kept, sizeof kept), 0);
    EXPECT_EQ(store_set_aside("presets.json", nullptr, 0), 0);
}

// Each rejected copy may hold the user's only presets: none replaces another, and each gets
// the name reported for it.
TEST(JsonStoreSetAside, NeverReplacesAnEarlierRejectedCopy) {
    SaveDir save;
    std::vector<std::string> names;
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(write_file(save.file("presets.json"), "damage " + std::to_string(i)));
        char kept[128] = "";
        ASSERT_EQ(store_set_aside("presets.json", kept, sizeof kept), 1) << i;
        names.push_back(kept);
    }
    EXPECT_EQ(names[0], "presets.json.rejected");
    // Later copies carry the time and, within one second, a counter.
    std::regex stamped(R"(presets\.json\.\d{8}-\d{6}(-\d+)?\.rejected)");
    for (size_t i = 1; i < names.size(); i++)
        EXPECT_TRUE(std::regex_match(names[i], stamped)) << names[i];
    std::set<std::string> distinct(names.begin(), names.end());
    EXPECT_EQ(distinct.size(), names.size());
    for (size_t i = 0; i < names.size(); i++)
        EXPECT_EQ(read_file(save.file(names[i])), "damage " + std::to_string(i)) << names[i];
    EXPECT_FALSE(fs::exists(save.file("presets.json")));
    size_t files = 0;
    for (const auto &entry : fs::directory_iterator(save.dir())) files += entry.exists();
    EXPECT_EQ(files, names.size()) << "no temporary or stray file is left";
}

TEST(JsonStoreSetAside, ACopyThatCannotBeMovedIsLoggedAndLeftInPlace) {
    SaveDir save;
    // A name the file system takes, but not with the suffix added.
    std::string name(250, 'n');
    ASSERT_TRUE(write_file(save.file(name), "[damaged"));
    LogCapture log;
    char kept[128] = "junk";
    EXPECT_EQ(store_set_aside(name.c_str(), kept, sizeof kept), 0);
    EXPECT_STREQ(kept, "");
    EXPECT_TRUE(log.contains(name + ".rejected failed")) << log.text();
    EXPECT_EQ(read_file(save.file(name)), "[damaged");
}

int mode_of(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (int)(st.st_mode & 07777) : -1;
}

// A user who keeps a save file elsewhere (a synced folder) links it into the save folder; the
// link must stay a link, and the file it leads to must get the new text with its own mode.
TEST(JsonStoreWrite, ALinkedFileIsWrittenThroughItsLinksAndKeepsItsMode) {
    SaveDir save;
    TempDir elsewhere;
    std::string real = elsewhere.file("real.json");
    ASSERT_TRUE(write_file(real, "old"));
    ASSERT_EQ(chmod(real.c_str(), 0600), 0);
    // a.json -> (relative) b.json -> (absolute) the real file
    fs::create_symlink(real, save.file("b.json"));
    fs::create_symlink("b.json", save.file("a.json"));
    ASSERT_EQ(store_write_save("a.json", "new"), 1);
    EXPECT_TRUE(fs::is_symlink(save.file("a.json")));
    EXPECT_TRUE(fs::is_symlink(save.file("b.json")));
    EXPECT_EQ(read_file(real), "new");
    EXPECT_EQ(mode_of(real), 0600) << "the mode is kept";
    EXPECT_FALSE(fs::exists(real + ".tmp"));
    EXPECT_FALSE(fs::exists(save.file("a.json.tmp")));

    // A link to a file not made yet makes it where the link leads.
    fs::create_symlink(elsewhere.file("later.json"), save.file("c.json"));
    ASSERT_EQ(store_write_save("c.json", "first"), 1);
    EXPECT_TRUE(fs::is_symlink(save.file("c.json")));
    EXPECT_EQ(read_file(elsewhere.file("later.json")), "first");

    // Links that lead round in a circle lead nowhere.
    fs::create_symlink("e.json", save.file("d.json"));
    fs::create_symlink("d.json", save.file("e.json"));
    LogCapture log;
    EXPECT_EQ(store_write_save("d.json", "x"), 0);
    EXPECT_TRUE(log.contains("cannot follow the link " + save.file("d.json"))) << log.text();
}

// A read-only folder, made by a read-only bind mount of the save folder onto itself in a mount
// namespace of this process's own (the rest of the system never sees it).
class ReadOnlySaveDir : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(save.ok());
        ASSERT_TRUE(write_file(save.file("damaged.json"), "[damaged"));
        const char *dir = save_dir.c_str();
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
            GTEST_SKIP() << "no mount namespace here";
        ASSERT_EQ(mount(dir, dir, nullptr, MS_BIND, nullptr), 0);
        mounted = true;
        ASSERT_EQ(mount(nullptr, dir, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    }
    void TearDown() override {
        if (mounted) umount(save_dir.c_str());
    }
    SaveDir save;
    std::string save_dir = save.dir();
    bool mounted = false;
};

TEST_F(ReadOnlySaveDir, AMissingFileHasNothingToSetAsideAndSaysNothing) {
    LogCapture log;
    char kept[128] = "junk";
    EXPECT_EQ(store_set_aside("presets.json", kept, sizeof kept), 0);
    EXPECT_STREQ(kept, "");
    EXPECT_EQ(log.text(), "");

    // A file that is there and cannot be moved is still reported.
    EXPECT_EQ(store_set_aside("damaged.json", kept, sizeof kept), 0);
    EXPECT_TRUE(log.contains("Read-only file system")) << log.text();
    EXPECT_EQ(read_file(save.file("damaged.json")), "[damaged");
}
