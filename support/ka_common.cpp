// support/ka_common.cpp: guarded allocation and the UTF-8-safe field copy.
#include "support/ka_common.hpp"

#include <cerrno>
#include <cstring>

void *_ka_calloc(size_t count, size_t size, const char *ptr_text, const char *type_text, int line,
                 const char *file) {
    errno = 0;
    void *block = calloc(count, size);
    if (!block) {
        ka_log(LOG_ERR, "( %s *)calloc( %zu , sizeof( %s ) ) %s at line %d of %s", ptr_text, count,
               type_text, errno ? strerror(errno) : "malloc error", line, file);
    }
    return block;
}

void *_ka_realloc(void *old, size_t count, size_t size, const char *ptr_text, const char *type_text,
                  int line, const char *file) {
    if (size != 0 && count > SIZE_MAX / size) {
        ka_log(LOG_ERR, "( %s *)realloc( %s * sizeof( %zu ) ) %s at line %d of %s", ptr_text,
               type_text, count, "realloc error", line, file);
        return nullptr;
    }
    errno = 0;
    // A zero size would make realloc free the block and return null, which callers read as
    // "failed, old block still yours".
    size_t bytes = count * size;
    void *block = realloc(old, bytes ? bytes : 1);
    if (!block) {
        ka_log(LOG_ERR, "( %s *)realloc( %s * sizeof( %zu ) ) %s at line %d of %s", ptr_text,
               type_text, count, errno ? strerror(errno) : "realloc error", line, file);
    }
    return block;
}

void _ka_free_null(const char *ptr_text, int line, const char *file) {
    ka_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", ptr_text, line, file);
}

size_t ka_utf8_cut_len(const char *text, size_t max_bytes) {
    if (!text) return 0;
    size_t n = strnlen(text, max_bytes);
    if (n < max_bytes || text[n] == '\0') return n;
    // text is longer than max_bytes: back off while the cut would fall inside a character.
    while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80) n--;
    return n;
}

size_t ka_copy_text(char *dst, size_t dst_size, const char *src) {
    if (!dst || dst_size == 0) return 0;
    size_t n = ka_utf8_cut_len(src ? src : "", dst_size - 1);
    if (n) memmove(dst, src, n);
    dst[n] = '\0';
    return n;
}
