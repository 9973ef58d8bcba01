// support/ka_log.cpp: line formatting, sinks and colours of the process-wide logger.
//
// The threshold and the sink are set once at start-up before any thread exists, but tests
// change them while threads run, so they are atomics read with relaxed ordering: a line never
// needs to see a threshold change made "at the same moment" by another thread.
#include "support/ka_log.hpp"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
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

// Put where a message cannot be formatted at all (a conversion the C library refuses, a
// result longer than it can count).
static const char LOG_UNFORMATTED[] = "<log: vasprintf failed>";

// A line is built in one buffer on the stack and leaves in one write, so lines of two threads
// never interleave. Only a line longer than the buffer needs the heap: logging is how an
// allocation failure is reported, so without memory the line is cut instead of lost, and
// nothing here may throw or abort.
void _ka_log(int level, const char *file, const char *func, int line, const char *format, ...) {
    if (level == KA_LOG_NONE || level > LOG_LEVEL.load(std::memory_order_relaxed)) return;
    if (!file) file = "NULL";
    if (!func) func = "NULL";
    bool to_syslog = LOG_TYPE.load(std::memory_order_relaxed) == KA_LOG_SYSLOG;
    bool colours = !to_syslog && terminal_support_colors.load(std::memory_order_relaxed) == 1;
    const char *tail = colours ? "\x1b[0m\n" : "\n";
    size_t tail_len = strlen(tail);

    char fixed[2048];
    size_t head = 0; // bytes of the line before the message
    if (!to_syslog) {
        int n = snprintf(fixed, sizeof fixed, "%s%s:%jd:%s->%s:%d ",
                         colours ? _level_colour(level) : "", _level_name(level),
                         (intmax_t)time(nullptr), file, func, line);
        // Absurdly long source names keep half the buffer for the message.
        head = n < 0 ? 0 : std::min((size_t)n, sizeof fixed / 2);
    }
    char *text = fixed;
    char *heap = nullptr;
    size_t room = sizeof fixed - head - tail_len; // for the message and its NUL
    size_t len = 0;
    if (format) {
        va_list args;
        va_start(args, format);
        va_list again;
        va_copy(again, args);
        int n = vsnprintf(fixed + head, room, format, args);
        if (n < 0) {
            len = std::min(sizeof LOG_UNFORMATTED - 1, room - 1);
            memcpy(fixed + head, LOG_UNFORMATTED, len);
        } else if ((size_t)n < room) {
            len = (size_t)n;
        } else {
            heap = (char *)malloc(head + (size_t)n + tail_len + 1);
            if (heap && vsnprintf(heap + head, (size_t)n + 1, format, again) == n) {
                memcpy(heap, fixed, head);
                text = heap;
                len = (size_t)n;
            } else {
                len = room - 1; // what fitted
            }
        }
        va_end(again);
        va_end(args);
    }
    text[head + len] = '\0';

    if (to_syslog) {
        syslog(level, "%s->%s:%d %s", file, func, line, text);
    } else {
        memcpy(text + head + len, tail, tail_len);
        FILE *out = log_file.load(std::memory_order_relaxed);
        if (!out) out = stderr;
        fwrite(text, 1, head + len + tail_len, out);
        fflush(out);
    }
    free(heap);
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
