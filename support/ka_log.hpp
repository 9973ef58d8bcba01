// support/ka_log.hpp: the one process-wide logger every module reports through.
#pragma once
#include <cstdio>
#include <syslog.h>

// One named syslog level; the table ends with {nullptr, -1, nullptr}.
struct LOG_LEVELS {
    const char *c_name;
    int c_val;
    const char *w_name;
};

// Values set_log_level accepts in place of a threshold. They record the sink kind; whether a
// line leaves through syslog depends on it, while stream lines always go to the stream last
// given by set_log_file / set_log_file_fd, else to standard error.
enum {
    KA_LOG_NONE = -1,   // as a threshold or a level: nothing is written
    KA_LOG_FILE = -3,   // lines go to the stream given by set_log_file / set_log_file_fd
    KA_LOG_STDERR = -4, // a stream sink, standard error unless a log file was given
    KA_LOG_SYSLOG = 100 // lines go to the system log
};

extern const LOG_LEVELS prioritynames[9];

// Writes one line when level <= the threshold; never fails visibly.
void _ka_log(int level, const char *file, const char *func, int line, const char *format, ...)
    __attribute__((format(printf, 5, 6)));

#define ka_log(level, ...) _ka_log((level), __FILE__, __func__, __LINE__, __VA_ARGS__)

// -3, -4 and 100 select the sink; any other value becomes the threshold and, when standard
// output is a terminal, switches colours on for good.
void set_log_level(int value);
// The threshold (-1 until set_log_level is first called with one).
int get_log_level();
// Appends the lines to a file (created 0600); 1 on success.
int set_log_file(const char *path);
// Sends the lines to a caller's stream, which the logger never closes; 1 on success.
int set_log_file_fd(FILE *stream);
