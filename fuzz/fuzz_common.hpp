// fuzz/fuzz_common.hpp: what every reader's fuzz target shares: the input as a C text, a quiet
// log, and a check that stops the run with a message.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/ka_log.hpp"

// The fuzzer's bytes as the NUL-terminated text a file read would give (an embedded NUL ends
// it early, as it does for the real readers).
inline std::string fuzz_text(const uint8_t *data, size_t size) {
    return std::string((const char *)data, strnlen((const char *)data, size));
}

// The readers log every rejected file; at fuzzing speed that would be all the run does. Each
// target includes this header once, so this is its one start-up hook.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    set_log_level(LOG_CRIT);
    return 0;
}

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "check failed: %s at line %d\n", #cond, __LINE__);                     \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// 1 when the field of size bytes holds a NUL, i.e. reads as a string without running over.
inline int fuzz_terminated(const char *field, size_t size) {
    return memchr(field, '\0', size) != nullptr;
}
