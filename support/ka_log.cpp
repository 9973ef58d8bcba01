// support/ka_log.cpp: line formatting, sinks and colours of the process-wide logger.
//
// The threshold and the sink are set once at start-up before any thread exists, but tests
// change them while threads run, so they are atomics read with relaxed ordering: a line never
// needs to see a threshold change made "at the same moment" by another thread.
#include "support/ka_log.hpp"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

const LOG_LEVELS prioritynames[9] = {
    {"EMERG", LOG_EMERG, "ERROR"},
    {"ALERT", LOG_ALERT, "ERROR"},
    {"CRITICAL", LOG_CRIT, "ERROR"},
    {"ERR", LOG_ERR, "ERROR"},
    {"WARNING", LOG_WARNING, "WARNING"},
    {"NOTICE", LOG_NOTICE, "SUCCESS"},
    {"INFO", LOG_INFO, "INFORMATION"},
    {"DEBUG", LOG_DEBUG, "INFORMATION"},
    {nullptr, -1, nullptr},
};

static std::atomic<int> LOG_LEVEL{KA_LOG_NONE};
static std::atomic<int> LOG_TYPE{KA_LOG_STDERR};
static std::atomic<FILE *> log_file{nullptr};
static std::atomic<int> log_file_owned{0};
static std::atomic<int> terminal_support_colors{0};

static const char *_level_colour(int level) {
    static const char *const colours[8] = {"\x1b[31m", "\x1b[35m", "\x1b[31m", "\x1b[31m",
                                           "\x1b[33m", "\x1b[32m", "\x1b[36m", "\x1b[34m"};
    return (level >= 0 && level <= 7) ? colours[level] : "\x1b[37m";
}

// Levels outside 0..7 have no name; an empty one keeps the line's shape.
static const char *_level_name(int level) {
    return (level >= 0 && level <= 7) ? prioritynames[level].c_name : "";
}

void _ka_log(int level, const char *file, const char *func, int line, const char *format, ...) {
    if (level == KA_LOG_NONE || level > LOG_LEVEL.load(std::memory_order_relaxed)) return;
    if (!file) file = "NULL";
    if (!func) func = "NULL";

    std::string message;
    if (format) {
        va_list args;
        va_start(args, format);
        char small[512];
        va_list again;
        va_copy(again, args);
        int n = vsnprintf(small, sizeof small, format, args);
        if (n >= 0 && (size_t)n < sizeof small) {
            message.assign(small, (size_t)n);
        } else if (n >= 0) {
            message.resize((size_t)n + 1);
            vsnprintf(message.data(), message.size(), format, again);
            message.resize((size_t)n);
        }
        va_end(again);
        va_end(args);
    }

    if (LOG_TYPE.load(std::memory_order_relaxed) == KA_LOG_SYSLOG) {
        syslog(level, "%s->%s:%d %s", file, func, line, message.c_str());
        return;
    }

    bool colours = terminal_support_colors.load(std::memory_order_relaxed) == 1;
    // The whole line goes out in one write, so lines of two threads never interleave.
    std::string text;
    text.reserve(message.size() + 96);
    char prefix[256];
    snprintf(prefix, sizeof prefix, "%s%s:%jd:", colours ? _level_colour(level) : "",
             _level_name(level), (intmax_t)time(nullptr));
    text += prefix;
    text += file;
    text += "->";
    text += func;
    snprintf(prefix, sizeof prefix, ":%d ", line);
    text += prefix;
    text += message;
    text += colours ? "\x1b[0m\n" : "\n";

    FILE *out = log_file.load(std::memory_order_relaxed);
    if (!out) out = stderr;
    fwrite(text.data(), 1, text.size(), out);
    fflush(out);
}

void set_log_level(int value) {
    if (value == KA_LOG_FILE || value == KA_LOG_STDERR || value == KA_LOG_SYSLOG) {
        LOG_TYPE.store(value, std::memory_order_relaxed);
        return;
    }
    LOG_LEVEL.store(value, std::memory_order_relaxed);
    // Colours follow standard output, not standard error: piping the program's output is
    // the usual sign that nobody is reading escape sequences.
    if (isatty(STDOUT_FILENO)) terminal_support_colors.store(1, std::memory_order_relaxed);
}

int get_log_level() {
    return LOG_LEVEL.load(std::memory_order_relaxed);
}

static void _replace_stream(FILE *stream, int owned) {
    FILE *old = log_file.exchange(stream);
    if (old && log_file_owned.load() == 1) fclose(old);
    log_file_owned.store(owned);
    LOG_TYPE.store(KA_LOG_FILE, std::memory_order_relaxed);
}

int set_log_file(const char *path) {
    if (!path) return 0;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    FILE *stream = fdopen(fd, "a");
    if (!stream) {
        close(fd);
        return 0;
    }
    _replace_stream(stream, 1);
    return 1;
}

int set_log_file_fd(FILE *stream) {
    if (!stream) return 0;
    _replace_stream(stream, 0);
    return 1;
}
