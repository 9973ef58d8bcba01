// support/ka_common.hpp: the argument-check and guarded-allocation conventions, and the one
// helper that copies text into a fixed-size field without splitting a UTF-8 character.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include "support/ka_log.hpp"

// When cond is false: log the failed check at LOG_DEBUG, then run action (usually a return of
// the function's neutral value).
#define __ka_assert(cond, action)                                                                  \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            ka_log(LOG_DEBUG, "if( !(%s) ) assert at line %d of %s", #cond, __LINE__, __FILE__);   \
            action;                                                                                \
        }                                                                                          \
    } while (0)

void *_ka_calloc(size_t count, size_t size, const char *ptr_text, const char *type_text, int line,
                 const char *file);
void *_ka_realloc(void *old, size_t count, size_t size, const char *ptr_text, const char *type_text,
                  int line, const char *file);
void _ka_free_null(const char *ptr_text, int line, const char *file);

// ptr = count zero-filled elements of type, or nullptr with the failure logged at LOG_ERR.
#define Malloc(ptr, type, count)                                                                   \
    ((ptr) = (type *)_ka_calloc((count), sizeof(type), #ptr, #type, __LINE__, __FILE__))

// Resizes ptr to count elements. Only on success is ptr replaced; on failure (including a
// byte size that would overflow) the old block stays valid and the failure is logged.
#define Realloc(ptr, type, count)                                                                  \
    do {                                                                                           \
        void *_ka_new =                                                                            \
            _ka_realloc((ptr), (count), sizeof(type), #ptr, #type, __LINE__, __FILE__);            \
        if (_ka_new) (ptr) = (type *)_ka_new;                                                      \
    } while (0)

// Frees ptr and nulls it; a null pointer is logged at LOG_DEBUG as already freed.
#define Free(ptr)                                                                                  \
    do {                                                                                           \
        if (ptr) {                                                                                 \
            free((void *)(ptr));                                                                   \
            (ptr) = nullptr;                                                                       \
        } else {                                                                                   \
            _ka_free_null(#ptr, __LINE__, __FILE__);                                               \
        }                                                                                          \
    } while (0)

// Length of the longest prefix of text (at most max_bytes) that ends on a character boundary:
// the cut is moved back while it lands on a continuation byte (10xxxxxx).
size_t ka_utf8_cut_len(const char *text, size_t max_bytes);

// Copies src (null counts as "") into a field of dst_size bytes, NUL-terminated, cut back to a
// character boundary when it does not fit. Returns the number of bytes copied before the NUL.
size_t ka_copy_text(char *dst, size_t dst_size, const char *src);
