// tests/ka/ka_log_test.cpp: the logger: thresholds, sinks, line shape and the guarded allocation
// conventions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "support/ka_common.hpp"
#include "support/test_env.hpp"

namespace {

TEST(LogThreshold, NothingIsWrittenBeforeAThresholdIsSet) {
    // The capture restores the old threshold; force "never set" inside it.
    LogCapture capture(KA_LOG_NONE);
    for (int level = 0; level <= 7; level++) ka_log(level, "level %d", level);
    EXPECT_EQ(capture.text(), "");
}

TEST(LogThreshold, InfoWritesErrorsButDropsFailedChecks) {
    LogCapture capture(LOG_INFO);
    ka_log(LOG_ERR, "disk on fire");
    auto check = []() -> int {
        __ka_assert(1 == 2, return -1);
        return 0;
    };
    EXPECT_EQ(check(), -1);
    std::string text = capture.text();
    EXPECT_NE(text.find("disk on fire"), std::string::npos);
    EXPECT_EQ(text.find("assert"), std::string::npos);
}

TEST(LogThreshold, FailedCheckAtDebugNamesTheCondition) {
    LogCapture capture(LOG_DEBUG);
    auto check = [](const char *p) -> int {
        __ka_assert(p, return 0);
        return 1;
    };
    EXPECT_EQ(check(nullptr), 0);
    EXPECT_TRUE(capture.contains("if( !(p) ) assert at line "));
    EXPECT_TRUE(capture.contains("ka_log_test.cpp"));
}

TEST(LogThreshold, LevelMinusOneIsNeverWritten) {
    LogCapture capture(LOG_DEBUG);
    ka_log(KA_LOG_NONE, "invisible");
    EXPECT_EQ(capture.text(), "");
}

TEST(LogThreshold, SinkSelectorsLeaveTheThresholdAlone) {
    LogCapture capture(LOG_NOTICE);
    for (int selector : {KA_LOG_FILE, KA_LOG_STDERR}) {
        set_log_level(selector);
        EXPECT_EQ(get_log_level(), LOG_NOTICE);
    }
    set_log_level(KA_LOG_SYSLOG);
    EXPECT_EQ(get_log_level(), LOG_NOTICE);
    set_log_level(KA_LOG_FILE);
}

TEST(LogLine, HasLevelTimeSourceFunctionLineAndMessage) {
    LogCapture capture(LOG_DEBUG);
    ka_log(LOG_WARNING, "value %d of %s", 42, "x");
    std::string text = capture.text();
    // Standard output is not a terminal under ctest, so no escape sequence may appear.
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    std::regex shape(R"(^WARNING:\d+:tests/ka/ka_log_test\.cpp->TestBody:\d+ value 42 of x\n$)");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
}

TEST(LogLine, EveryLevelHasItsName) {
    LogCapture capture(LOG_DEBUG);
    const char *names[] = {"EMERG",   "ALERT",  "CRITICAL", "ERR",
                           "WARNING", "NOTICE", "INFO",     "DEBUG"};
    for (int level = 0; level <= 7; level++) ka_log(level, "m");
    std::string text = capture.text();
    size_t at = 0;
    for (const char *name : names) {
        size_t found = text.find(std::string(name) + ":", at);
        ASSERT_NE(found, std::string::npos) << name;
        at = found + 1;
    }
    EXPECT_STREQ(prioritynames[8].c_name, nullptr);
    EXPECT_EQ(prioritynames[8].c_val, -1);
}

TEST(LogLine, NullFormatWritesPrefixAndNewlineOnly) {
    LogCapture capture(LOG_DEBUG);
    _ka_log(LOG_INFO, nullptr, nullptr, 7, nullptr);
    std::string text = capture.text();
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(^INFO:\d+:NULL->NULL:7 \n$)"))) << text;
}

TEST(LogLine, LongMessagesAreWrittenWhole) {
    LogCapture capture(LOG_DEBUG);
    std::string big(5000, 'z');
    ka_log(LOG_INFO, "%s|end", big.c_str());
    EXPECT_TRUE(capture.contains(big + "|end\n"));
}

TEST(LogLine, LinesAroundTheStackBufferAreWrittenWholeAndOnce) {
    LogCapture capture(LOG_DEBUG);
    std::string expected;
    for (size_t n = 1900; n < 2100; n += 7) {
        std::string body(n, (char)('a' + n % 26));
        ka_log(LOG_INFO, "%s|end", body.c_str());
        expected += body + "|end\n";
    }
    std::string text = capture.text();
    std::string messages;
    std::regex prefix(R"(^INFO:\d+:tests/ka/ka_log_test\.cpp->TestBody:\d+ )");
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        ASSERT_NE(nl, std::string::npos);
        std::string line = text.substr(at, nl + 1 - at);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, prefix)) << line.substr(0, 80);
        messages += m.suffix().str();
        at = nl + 1;
    }
    EXPECT_EQ(messages, expected);
}

TEST(LogLine, AMessageThatCannotBeFormattedIsReplacedByAPlaceholder) {
    LogCapture capture(LOG_DEBUG);
    // No wide character beyond ASCII converts in the C locale, which tests run in.
    ka_log(LOG_ERR, "summer: %ls", L"\u00e9t\u00e9");
    ka_log(LOG_ERR, "next line");
    std::regex shape(R"(^ERR:\d+:tests/ka/ka_log_test\.cpp->TestBody:\d+ <log: vasprintf failed>\n)"
                     R"(ERR:\d+:\S+ next line\n$)");
    std::string text = capture.text();
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
}

// Address space limits mean nothing under the sanitizers, which reserve terabytes up front.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A long line while memory has run out: the line is cut to what fits the logger's own buffer
// and the process goes on. Runs in a child process of its own.
void log_without_memory() {
    set_log_level(LOG_INFO);
    std::string huge(64u << 20, 'x');
    long pages = 0;
    if (FILE *statm = fopen("/proc/self/statm", "r")) {
        if (fscanf(statm, "%ld", &pages) != 1) pages = 0;
        fclose(statm);
    }
    if (pages <= 0) _exit(3);
    // What is mapped now and 16 MiB more: a second copy of the text cannot be had.
    rlim_t limit = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + (16u << 20);
    struct rlimit rl = {limit, limit};
    if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(4);
    ka_log(LOG_ERR, "huge %s|end", huge.c_str());
    ka_log(LOG_ERR, "still logging");
    _exit(0);
}

TEST(LogLineDeathTest, WithoutMemoryALongLineIsCutAndTheProcessGoesOn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(log_without_memory(), ::testing::ExitedWithCode(0),
                "ERR:[0-9]+:[^\n]* huge x{1000}x*\n[^\n]* still logging");
}
#endif

TEST(LogFile, SetLogFileAppendsAndCreatesPrivateFile) {
    TempDir dir;
    std::string path = dir.file("log.txt");
    {
        LogCapture capture(LOG_INFO); // restores standard error afterwards
        ASSERT_EQ(set_log_file(path.c_str()), 1);
        ka_log(LOG_INFO, "first");
        ASSERT_EQ(set_log_file(path.c_str()), 1); // reopening closes the first stream
        ka_log(LOG_INFO, "second");
    }
    std::string text = read_file(path);
    EXPECT_NE(text.find("first"), std::string::npos);
    EXPECT_NE(text.find("second"), std::string::npos);
    EXPECT_EQ(set_log_file(dir.file("missing/dir/log.txt").c_str()), 0);
    EXPECT_EQ(set_log_file_fd(nullptr), 0);
}

TEST(GuardedAllocation, MallocGivesZeroFilledBlocks) {
    uint64_t *block = nullptr;
    Malloc(block, uint64_t, 16);
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; i++) EXPECT_EQ(block[i], 0u);
    Free(block);
    EXPECT_EQ(block, nullptr);
}

TEST(GuardedAllocation, OverflowingReallocIsRefusedAndKeepsTheBlock) {
    LogCapture capture(LOG_DEBUG);
    uint64_t *block = nullptr;
    Malloc(block, uint64_t, 4);
    ASSERT_NE(block, nullptr);
    block[3] = 77;
    uint64_t *before = block;
    Realloc(block, uint64_t, SIZE_MAX / 4);
    EXPECT_EQ(block, before);
    EXPECT_EQ(block[3], 77u);
    EXPECT_TRUE(capture.contains("realloc error"));
    EXPECT_TRUE(capture.contains("( block *)realloc( uint64_t * sizeof("));
    Free(block);
}

TEST(GuardedAllocation, ReallocGrowsAndKeepsContent) {
    int *block = nullptr;
    Malloc(block, int, 2);
    ASSERT_NE(block, nullptr);
    block[1] = 5;
    Realloc(block, int, 1000);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[1], 5);
    block[999] = 1;
    Free(block);
}

TEST(GuardedAllocation, FreeOfNullIsLoggedNotFatal) {
    LogCapture capture(LOG_DEBUG);
    char *nothing = nullptr;
    Free(nothing);
    EXPECT_TRUE(capture.contains("Free( nothing ) already done or NULL"));
}

TEST(TextField, CopiesWholeTextWhenItFits) {
    char field[8];
    EXPECT_EQ(ka_copy_text(field, sizeof field, "abc"), 3u);
    EXPECT_STREQ(field, "abc");
    EXPECT_EQ(ka_copy_text(field, sizeof field, nullptr), 0u);
    EXPECT_STREQ(field, "");
    EXPECT_EQ(ka_copy_text(field, sizeof field, "1234567"), 7u);
    EXPECT_STREQ(field, "1234567");
}

TEST(TextField, CutNeverSplitsACharacter) {
    char field[6];
    // "aé€" is 1 + 2 + 3 bytes: 5 bytes of room keep "aé" only.
    EXPECT_EQ(ka_copy_text(field, sizeof field, "a\xC3\xA9\xE2\x82\xAC"), 3u);
    EXPECT_STREQ(field, "a\xC3\xA9");
    // A four-byte character that does not fit leaves nothing of it.
    EXPECT_EQ(ka_copy_text(field, 4, "\xF0\x9F\x98\x80"), 0u);
    EXPECT_STREQ(field, "");
    EXPECT_EQ(ka_copy_text(field, 0, "x"), 0u);
}

} // namespace
