// support/ka_hash.cpp: the classic chained hash table and its per-table seeding.
//
// Seeds come from one random process key mixed with a table serial number, so that two tables
// (and two runs) never share hash values and a crafted set of keys cannot be aimed at one
// bucket in advance. Buckets are plain singly linked lists appended at the end; lookups walk
// them from the front, so a bucket's cost grows with its length and nothing else.
#include "support/ka_hash.hpp"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sys/random.h>

#include "support/ka_common.hpp"

// SplitMix64's increment (the golden ratio in 64 bits).
static constexpr uint64_t _GOLDEN = 0x9e3779b97f4a7c15ULL;

// What every table shares: the process key (drawn once) and the table counter.
static struct {
    std::once_flag key_once;
    uint64_t process_key = 0;
    std::mutex counter_lock;
    uint64_t counter = 0;
} _seeding;

static int _seeding_anchor; // its address feeds the last-resort key

const char *ht_node_type(int type) {
    switch (type) {
    case HASH_INT:
        return "HASH_INT";
    case HASH_DOUBLE:
        return "HASH_DOUBLE";
    case HASH_STRING:
        return "HASH_STRING";
    case HASH_PTR:
        return "HASH_PTR";
    default:
        return "HASH_UNKNOWN";
    }
}

// SplitMix64's output finaliser.
static uint64_t _mix64(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

static int _read_urandom(uint64_t *out) {
    FILE *f = fopen("/dev/urandom", "rb");
    if (!f) return 0;
    size_t n = fread(out, 1, sizeof *out, f);
    fclose(f);
    return n == sizeof *out;
}

static void _draw_process_key() {
    uint64_t key = 0;
    // Never block: early in boot the pool may not be ready, and a weaker key beats a hang.
    if (getrandom(&key, sizeof key, GRND_NONBLOCK) == (ssize_t)sizeof key) {
        _seeding.process_key = key;
        return;
    }
    if (_read_urandom(&key)) {
        _seeding.process_key = key;
        return;
    }
    int local = 0;
    key = (uint64_t)(uintptr_t)&local ^ (uint64_t)(uintptr_t)&_seeding_anchor ^
          ((uint64_t)time(nullptr) * _GOLDEN) ^ ((uint64_t)clock() << 21);
    _seeding.process_key = key;
}

static uint64_t _new_seed() {
    std::call_once(_seeding.key_once, _draw_process_key);
    uint64_t c;
    {
        std::lock_guard<std::mutex> hold(_seeding.counter_lock);
        c = _seeding.counter++;
    }
    uint64_t a = _mix64(c + _GOLDEN + 1);
    uint64_t b = (a ^ _seeding.process_key) + _GOLDEN;
    return _mix64(b);
}

static inline uint64_t _rotl64(uint64_t x, int r) {
    return (x << r) | (x >> (64 - r));
}

static inline uint64_t _fmix64(uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdULL;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ULL;
    k ^= k >> 33;
    return k;
}

// Little-endian 64-bit read that does not care about alignment.
static inline uint64_t _load64(const uint8_t *p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; i--) v = (v << 8) | p[i];
    return v;
}

static constexpr uint64_t _MM_C1 = 0x87c37b91114253d5ULL;
static constexpr uint64_t _MM_C2 = 0x4cf5ad432745937fULL;

static inline uint64_t _mix_k1(uint64_t k1) {
    return _rotl64(k1 * _MM_C1, 31) * _MM_C2;
}
static inline uint64_t _mix_k2(uint64_t k2) {
    return _rotl64(k2 * _MM_C2, 33) * _MM_C1;
}

void MurmurHash3_x64_128(const void *key, size_t len, uint64_t seed, uint64_t out[2]) {
    const uint8_t *data = (const uint8_t *)key;
    const size_t nblocks = len / 16;
    uint64_t h1 = seed;
    uint64_t h2 = seed;

    for (size_t i = 0; i < nblocks; i++) {
        h1 ^= _mix_k1(_load64(data + i * 16));
        h1 = _rotl64(h1, 27) + h2;
        h1 = h1 * 5 + 0x52dce729;
        h2 ^= _mix_k2(_load64(data + i * 16 + 8));
        h2 = _rotl64(h2, 31) + h1;
        h2 = h2 * 5 + 0x38495ab5;
    }

    // The last 1 to 15 bytes, zero-padded to a block: the same words the reference's
    // byte-by-byte switch assembles.
    size_t rem = len & 15;
    uint8_t tail[16] = {0};
    if (rem) memcpy(tail, data + nblocks * 16, rem);
    if (rem > 8) h2 ^= _mix_k2(_load64(tail + 8));
    if (rem > 0) h1 ^= _mix_k1(_load64(tail));

    h1 ^= (uint64_t)len;
    h2 ^= (uint64_t)len;
    h1 += h2;
    h2 += h1;
    h1 = _fmix64(h1);
    h2 = _fmix64(h2);
    h1 += h2;
    h2 += h1;
    out[0] = h1;
    out[1] = h2;
}

static size_t _hash_key(const HASH_TABLE *table, const char *key) {
    uint64_t digest[2];
    MurmurHash3_x64_128(key, strlen(key), table->seed, digest);
    return (size_t)digest[0];
}

static HASH_NODE *_ht_get_node(HASH_TABLE *table, const char *key) {
    __ka_assert(table, return nullptr);
    __ka_assert(key, return nullptr);
    if (key[0] == '\0') return nullptr;
    size_t hash = _hash_key(table, key);
    for (HASH_NODE *node = table->hash_table[hash % table->size]->start; node; node = node->next) {
        if (strcmp(node->key, key) == 0) return node;
    }
    return nullptr;
}

static void _ht_append(HASH_TABLE *table, HASH_NODE *node) {
    HASH_LIST *bucket = table->hash_table[node->hash_value % table->size];
    if (bucket->end) {
        bucket->end->next = node;
    } else {
        bucket->start = node;
    }
    bucket->end = node;
    bucket->nb_items++;
    table->nb_keys++;
}

// A new node of the given type for key, appended to its bucket, its value still empty; null
// for an empty key or when out of memory (nothing is left allocated then).
static HASH_NODE *_ht_add_node(HASH_TABLE *table, const char *key, int type) {
    if (key[0] == '\0') return nullptr;
    HASH_NODE *node = nullptr;
    Malloc(node, HASH_NODE, 1);
    __ka_assert(node, return nullptr);
    node->key = strdup(key);
    if (!node->key) {
        ka_log(LOG_ERR, "could not strdup key %s", key);
        Free(node);
        return nullptr;
    }
    node->hash_value = _hash_key(table, key);
    node->type = type;
    node->is_leaf = 1;
    _ht_append(table, node);
    return node;
}

// Whether a value of type may go under key: 1 with *node the key's node, or null when the key
// is new; 0 (logged) when the key holds a value of another type.
static int _ht_put_check(HASH_TABLE *table, const char *key, int type, HASH_NODE **node) {
    *node = _ht_get_node(table, key);
    if (*node && (*node)->type != type) {
        ka_log(LOG_ERR, "Can't add key[\"%s\"] with type %s , key already exist with type %s", key,
               ht_node_type(type), ht_node_type((*node)->type));
        return 0;
    }
    return 1;
}

static void _ht_node_free(HASH_NODE *node) {
    if (node->type == HASH_STRING) {
        // A null text is a legal value; Free reports it at debug level and goes on.
        Free(node->data.string);
    } else if (node->type == HASH_PTR && node->destroy_func && node->data.ptr) {
        node->destroy_func(node->data.ptr);
        node->data.ptr = nullptr;
    }
    Free(node->key);
    Free(node);
}

static int _ht_put_string(HASH_TABLE *table, const char *key, const char *string) {
    __ka_assert(table, return 0);
    __ka_assert(key, return 0);
    HASH_NODE *node = nullptr;
    if (!_ht_put_check(table, key, HASH_STRING, &node)) return 0;
    // Copy before freeing the old value: string may be the stored value itself.
    char *copy = string ? strdup(string) : nullptr;
    if (string && !copy) {
        ka_log(LOG_ERR, "could not strdup char *string at %p, didn't overwrite %s",
               (const void *)string, key);
        return 0;
    }
    if (!node) node = _ht_add_node(table, key, HASH_STRING);
    if (!node) {
        free(copy);
        return 0;
    }
    free(node->data.string); // null for a new node
    node->data.string = copy;
    return 1;
}

static int _ht_put_ptr(HASH_TABLE *table, const char *key, void *ptr,
                       HASH_DESTROY_FUNC destroy_func, HASH_DUPLICATE_FUNC duplicate_func) {
    __ka_assert(table, return 0);
    __ka_assert(key, return 0);
    HASH_NODE *node = nullptr;
    if (!_ht_put_check(table, key, HASH_PTR, &node)) return 0;
    if (node) {
        // Putting the value that is already stored must not destroy it and keep it dangling.
        if (node->destroy_func && node->data.ptr && node->data.ptr != ptr)
            node->destroy_func(node->data.ptr);
    } else {
        node = _ht_add_node(table, key, HASH_PTR);
        if (!node) return 0;
    }
    node->data.ptr = ptr;
    node->destroy_func = destroy_func;
    node->duplicate_func = duplicate_func;
    return 1;
}

// The node of key when it holds a value of the given type; null when the key is absent or
// (logged) holds another type.
static HASH_NODE *_ht_get_typed(HASH_TABLE *table, const char *key, int type) {
    HASH_NODE *node = _ht_get_node(table, key);
    if (node && node->type != type) {
        ka_log(LOG_ERR, "Can't get key[\"%s\"] of type %s, key is type %s", key, ht_node_type(type),
               ht_node_type(node->type));
        return nullptr;
    }
    return node;
}

static int _ht_get_string(HASH_TABLE *table, const char *key, const char **val) {
    __ka_assert(val, return 0);
    HASH_NODE *node = _ht_get_typed(table, key, HASH_STRING);
    if (!node) return 0;
    *val = node->data.string;
    return 1;
}

static int _ht_get_ptr(HASH_TABLE *table, const char *key, void **val) {
    __ka_assert(val, return 0);
    HASH_NODE *node = _ht_get_typed(table, key, HASH_PTR);
    if (!node) return 0;
    *val = node->data.ptr;
    return 1;
}

// Frees the first count buckets with their nodes, then the bucket array.
static void _ht_free_buckets(HASH_TABLE *table, size_t count) {
    for (size_t i = 0; i < count; i++) {
        HASH_LIST *bucket = table->hash_table[i];
        if (!bucket) continue;
        HASH_NODE *node = bucket->start;
        while (node) {
            HASH_NODE *next = node->next;
            _ht_node_free(node);
            node = next;
        }
        Free(table->hash_table[i]);
    }
    Free(table->hash_table);
}

static int _destroy_ht(HASH_TABLE **table) {
    __ka_assert(table, return 0);
    __ka_assert(*table, return 0);
    _ht_free_buckets(*table, (*table)->size);
    Free(*table);
    return 1;
}

HASH_TABLE *new_ht(size_t size) {
    if (size < 1) {
        ka_log(LOG_ERR, "Invalid size %zu for new_ht()", size);
        return nullptr;
    }
    HASH_TABLE *table = nullptr;
    Malloc(table, HASH_TABLE, 1);
    if (!table) {
        ka_log(LOG_ERR, "Error allocating HASH_TABLE *table");
        return nullptr;
    }
    table->size = size;
    table->mode = HASH_CLASSIC;
    Malloc(table->hash_table, HASH_LIST *, size);
    if (!table->hash_table) {
        ka_log(LOG_ERR, "Can't allocate table -> hash_table with size %zu !", size);
        Free(table);
        return nullptr;
    }
    for (size_t i = 0; i < size; i++) {
        Malloc(table->hash_table[i], HASH_LIST, 1);
        if (!table->hash_table[i]) {
            ka_log(LOG_ERR, "Can't allocate table -> hash_table[ %zu ] !", i);
            _ht_free_buckets(table, i);
            Free(table);
            return nullptr;
        }
    }
    table->seed = _new_seed();
    // The classic table keeps text and pointer values only; the other slots stay null.
    table->ht_get_node = _ht_get_node;
    table->ht_put_ptr = _ht_put_ptr;
    table->ht_put_string = _ht_put_string;
    table->ht_get_ptr = _ht_get_ptr;
    table->ht_get_string = _ht_get_string;
    table->destroy_ht = _destroy_ht;
    return table;
}

int ht_put_string(HASH_TABLE *table, const char *key, const char *string) {
    __ka_assert(table, return 0);
    __ka_assert(key, return 0);
    __ka_assert(table->ht_put_string, return 0);
    return table->ht_put_string(table, key, string);
}

int ht_get_string(HASH_TABLE *table, const char *key, const char **val) {
    __ka_assert(table, return 0);
    __ka_assert(key, return 0);
    __ka_assert(table->ht_get_string, return 0);
    return table->ht_get_string(table, key, val);
}

int ht_put_ptr(HASH_TABLE *table, const char *key, void *ptr, HASH_DESTROY_FUNC destroy_func,
               HASH_DUPLICATE_FUNC duplicate_func) {
    __ka_assert(table, return 0);
    __ka_assert(key, return 0);
    __ka_assert(table->ht_put_ptr, return 0);
    return table->ht_put_ptr(table, key, ptr, destroy_func, duplicate_func);
}

int ht_get_ptr(HASH_TABLE *table, const char *key, void **val) {
    __ka_assert(table, return 0);
    __ka_assert(key, return 0);
    __ka_assert(table->ht_get_ptr, return 0);
    return table->ht_get_ptr(table, key, val);
}

HASH_NODE *ht_get_node(HASH_TABLE *table, const char *key) {
    __ka_assert(table, return nullptr);
    __ka_assert(key, return nullptr);
    __ka_assert(table->ht_get_node, return nullptr);
    return table->ht_get_node(table, key);
}

int destroy_ht(HASH_TABLE **table) {
    __ka_assert(table, return 0);
    __ka_assert(*table, return 0);
    __ka_assert((*table)->destroy_ht, return 0);
    return (*table)->destroy_ht(table);
}
