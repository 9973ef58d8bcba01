// support/ka_hash.hpp: a chained hash table keyed by text, holding text or pointer values.
//
// Each table hashes with its own seed (MurmurHash3 x64 128 over the key bytes), so hash values
// differ between tables and between runs; nothing may store or compare them. A table has no
// lock: one thread at a time uses it.
#pragma once
#include <cstddef>
#include <cstdint>

// Value types; the names appear in the error messages.
enum {
    HASH_INT = 1,
    HASH_DOUBLE = 2,
    HASH_STRING = 4,
    HASH_PTR = 8,
};

// The classic (bucket) table; the only kind new_ht makes.
#define HASH_CLASSIC 128

// Called on a pointer value when its node is destroyed or the value replaced.
typedef void (*HASH_DESTROY_FUNC)(void *ptr);
// Copies a pointer value (kept with the value for callers that duplicate tables).
typedef void *(*HASH_DUPLICATE_FUNC)(void *ptr);

union HASH_DATA {
    int64_t ival;
    double fval;
    void *ptr;
    char *string;
};

// One stored key. The key copy and a text value belong to the table.
struct HASH_NODE {
    char *key;
    char key_id;
    size_t hash_value;
    int type;
    HASH_DATA data;
    HASH_DESTROY_FUNC destroy_func;
    HASH_DUPLICATE_FUNC duplicate_func;
    // Used by the trie variant only.
    int is_leaf;
    int need_rehash;
    HASH_NODE **children;
    unsigned int alphabet_length;
    HASH_NODE *next; // next node of the same bucket
};

// One bucket: its nodes in insertion order, without length limit.
struct HASH_LIST {
    HASH_NODE *start;
    HASH_NODE *end;
    size_t nb_items;
};

struct HASH_TABLE;

// The operation set a table variant supplies; the public functions dispatch through it. The
// classic table fills in the operations it supports and leaves the others null.
struct HASH_TABLE {
    size_t size;    // number of buckets, fixed at creation
    size_t nb_keys; // number of keys stored
    uint64_t seed;  // per-table hash seed
    HASH_LIST **hash_table;
    // Used by the trie variant only.
    HASH_NODE *root;
    unsigned int alphabet_length;
    unsigned int alphabet_offset;
    unsigned int mode;

    HASH_NODE *(*ht_get_node)(HASH_TABLE *table, const char *key);
    int (*ht_put_int)(HASH_TABLE *table, const char *key, int64_t val);
    int (*ht_put_double)(HASH_TABLE *table, const char *key, double val);
    int (*ht_put_ptr)(HASH_TABLE *table, const char *key, void *ptr, HASH_DESTROY_FUNC destroy_func,
                      HASH_DUPLICATE_FUNC duplicate_func);
    int (*ht_put_string)(HASH_TABLE *table, const char *key, const char *string);
    int (*ht_put_string_ptr)(HASH_TABLE *table, const char *key, char *string);
    int (*ht_get_int)(HASH_TABLE *table, const char *key, int64_t *val);
    int (*ht_get_double)(HASH_TABLE *table, const char *key, double *val);
    int (*ht_get_ptr)(HASH_TABLE *table, const char *key, void **val);
    int (*ht_get_string)(HASH_TABLE *table, const char *key, const char **val);
    int (*ht_remove)(HASH_TABLE *table, const char *key);
    int (*ht_search)(HASH_TABLE *table, int (*node_is_matching)(HASH_NODE *node));
    int (*empty_ht)(HASH_TABLE *table);
    int (*destroy_ht)(HASH_TABLE **table);
    void (*ht_print)(HASH_TABLE *table);
};

// A new empty classic table with size buckets, or null (size 0, or out of memory; logged).
HASH_TABLE *new_ht(size_t size);

// Stores a copy of string (null stores a null value) under key. 1 on success; 0 on failure, on
// an empty key, or when key already holds a value of another type (logged).
int ht_put_string(HASH_TABLE *table, const char *key, const char *string);

// On success *val is the table's own copy (valid until the key is replaced or the table
// destroyed; never free it) and the result is 1. 0 leaves *val untouched.
int ht_get_string(HASH_TABLE *table, const char *key, const char **val);

// Stores a pointer value. The table owns it only when destroy_func is given: destroy_func is
// then called on it when the node goes or the value is replaced by another. 1 on success.
int ht_put_ptr(HASH_TABLE *table, const char *key, void *ptr, HASH_DESTROY_FUNC destroy_func,
               HASH_DUPLICATE_FUNC duplicate_func);

// As ht_get_string, for pointer values.
int ht_get_ptr(HASH_TABLE *table, const char *key, void **val);

// The node holding key, or null (an empty key finds nothing).
HASH_NODE *ht_get_node(HASH_TABLE *table, const char *key);

// Frees every node (key copies, text values, owned pointer values), the buckets and the table,
// and nulls *table. 1, or 0 when *table is already null.
int destroy_ht(HASH_TABLE **table);

// "HASH_INT", "HASH_DOUBLE", "HASH_STRING", "HASH_PTR" or "HASH_UNKNOWN".
const char *ht_node_type(int type);

// MurmurHash3 x64 128 of len bytes with both state halves started from seed; out receives the
// two 64-bit words of the digest.
void MurmurHash3_x64_128(const void *key, size_t len, uint64_t seed, uint64_t out[2]);
