// tests/ka/ka_hash_test.cpp: the string hash table: storage rules, ownership, seeding, hashing.
// ctest-label: threaded
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include <gtest/gtest.h>

#include "support/ka_hash.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"

namespace {

// Owns a table for the length of a test, so a failing assertion does not leak it.
struct Table {
    HASH_TABLE *t;
    explicit Table(size_t size) : t(new_ht(size)) {}
    ~Table() {
        if (t) destroy_ht(&t);
    }
};

size_t bucket_nodes(const HASH_TABLE *t) {
    size_t n = 0;
    for (size_t i = 0; i < t->size; i++) {
        size_t walked = 0;
        for (const HASH_NODE *node = t->hash_table[i]->start; node; node = node->next) walked++;
        EXPECT_EQ(walked, t->hash_table[i]->nb_items) << "bucket " << i;
        n += walked;
    }
    return n;
}

int g_destroyed = 0;
void count_destroy(void *) {
    g_destroyed++;
}
void free_destroy(void *p) {
    g_destroyed++;
    free(p);
}

} // namespace

TEST(HashTableTest, ReplacingATextKeepsOneNodeWithTheNewText) {
    Table table(16);
    ASSERT_TRUE(table.t);
    EXPECT_EQ(1, ht_put_string(table.t, "greeting", "hello"));
    EXPECT_EQ(1, ht_put_string(table.t, "greeting", "bonjour"));
    EXPECT_EQ(1u, table.t->nb_keys);
    EXPECT_EQ(1u, bucket_nodes(table.t));
    const char *val = nullptr;
    ASSERT_EQ(1, ht_get_string(table.t, "greeting", &val));
    EXPECT_STREQ("bonjour", val);
}

TEST(HashTableTest, TextValuesAreTheTablesOwnCopies) {
    Table table(8);
    char buffer[16] = "original";
    ASSERT_EQ(1, ht_put_string(table.t, "k", buffer));
    strcpy(buffer, "changed");
    const char *val = nullptr;
    ASSERT_EQ(1, ht_get_string(table.t, "k", &val));
    EXPECT_STREQ("original", val);
    EXPECT_NE(buffer, val);
    // Putting the stored text back under its own key must not read freed memory.
    ASSERT_EQ(1, ht_put_string(table.t, "k", val));
    ASSERT_EQ(1, ht_get_string(table.t, "k", &val));
    EXPECT_STREQ("original", val);
}

TEST(HashTableTest, NullTextIsStoredAndFound) {
    Table table(8);
    ASSERT_EQ(1, ht_put_string(table.t, "empty", nullptr));
    const char *val = "sentinel";
    EXPECT_EQ(1, ht_get_string(table.t, "empty", &val));
    EXPECT_EQ(nullptr, val);
    // A null text can be replaced by a real one and back.
    ASSERT_EQ(1, ht_put_string(table.t, "empty", "full"));
    ASSERT_EQ(1, ht_get_string(table.t, "empty", &val));
    EXPECT_STREQ("full", val);
    ASSERT_EQ(1, ht_put_string(table.t, "empty", nullptr));
    ASSERT_EQ(1, ht_get_string(table.t, "empty", &val));
    EXPECT_EQ(nullptr, val);
    EXPECT_EQ(1u, table.t->nb_keys);
}

TEST(HashTableTest, AbsentKeyLeavesTheOutputUntouched) {
    Table table(8);
    ASSERT_EQ(1, ht_put_string(table.t, "present", "x"));
    const char *val = "sentinel";
    EXPECT_EQ(0, ht_get_string(table.t, "absent", &val));
    EXPECT_STREQ("sentinel", val);
    void *ptr = &val;
    EXPECT_EQ(0, ht_get_ptr(table.t, "absent", &ptr));
    EXPECT_EQ((void *)&val, ptr);
}

TEST(HashTableTest, TypeClashIsRefusedWithTheMessageAndKeepsTheOldValue) {
    Table table(8);
    int widget = 42;
    ASSERT_EQ(1, ht_put_ptr(table.t, "7", &widget, nullptr, nullptr));
    ASSERT_EQ(1, ht_put_string(table.t, "label", "text"));
    {
        LogCapture log(LOG_ERR);
        EXPECT_EQ(0, ht_put_string(table.t, "7", "text"));
        EXPECT_TRUE(log.contains(
            "Can't add key[\"7\"] with type HASH_STRING , key already exist with type HASH_PTR"))
            << log.text();
        EXPECT_EQ(0, ht_put_ptr(table.t, "label", &widget, nullptr, nullptr));
        EXPECT_TRUE(log.contains("Can't add key[\"label\"] with type HASH_PTR , key already exist "
                                 "with type HASH_STRING"))
            << log.text();
        const char *text = "sentinel";
        EXPECT_EQ(0, ht_get_string(table.t, "7", &text));
        EXPECT_STREQ("sentinel", text);
        EXPECT_TRUE(log.contains("Can't get key[\"7\"] of type HASH_STRING, key is type HASH_PTR"))
            << log.text();
        void *ptr = nullptr;
        EXPECT_EQ(0, ht_get_ptr(table.t, "label", &ptr));
        EXPECT_TRUE(
            log.contains("Can't get key[\"label\"] of type HASH_PTR, key is type HASH_STRING"))
            << log.text();
    }
    void *ptr = nullptr;
    ASSERT_EQ(1, ht_get_ptr(table.t, "7", &ptr));
    EXPECT_EQ(&widget, ptr);
    const char *text = nullptr;
    ASSERT_EQ(1, ht_get_string(table.t, "label", &text));
    EXPECT_STREQ("text", text);
    EXPECT_EQ(2u, table.t->nb_keys);
}

TEST(HashTableTest, UnknownTypeNamesAreReportedAsUnknown) {
    EXPECT_STREQ("HASH_INT", ht_node_type(HASH_INT));
    EXPECT_STREQ("HASH_DOUBLE", ht_node_type(HASH_DOUBLE));
    EXPECT_STREQ("HASH_UNKNOWN", ht_node_type(3));
    EXPECT_STREQ("HASH_UNKNOWN", ht_node_type(0));
}

TEST(HashTableTest, EmptyKeyIsNeverStoredNorFound) {
    Table table(8);
    int widget = 1;
    EXPECT_EQ(0, ht_put_string(table.t, "", "text"));
    EXPECT_EQ(0, ht_put_ptr(table.t, "", &widget, nullptr, nullptr));
    EXPECT_EQ(0u, table.t->nb_keys);
    EXPECT_EQ(0u, bucket_nodes(table.t));
    const char *val = "sentinel";
    EXPECT_EQ(0, ht_get_string(table.t, "", &val));
    EXPECT_STREQ("sentinel", val);
    EXPECT_EQ(nullptr, ht_get_node(table.t, ""));
}

TEST(HashTableTest, NullArgumentsReturnTheNeutralValue) {
    Table table(8);
    const char *val = nullptr;
    void *ptr = nullptr;
    EXPECT_EQ(0, ht_put_string(nullptr, "k", "v"));
    EXPECT_EQ(0, ht_put_string(table.t, nullptr, "v"));
    EXPECT_EQ(0, ht_get_string(nullptr, "k", &val));
    EXPECT_EQ(0, ht_get_string(table.t, nullptr, &val));
    EXPECT_EQ(0, ht_get_string(table.t, "k", nullptr));
    EXPECT_EQ(0, ht_put_ptr(nullptr, "k", &val, nullptr, nullptr));
    EXPECT_EQ(0, ht_put_ptr(table.t, nullptr, &val, nullptr, nullptr));
    EXPECT_EQ(0, ht_get_ptr(table.t, nullptr, &ptr));
    EXPECT_EQ(0, ht_get_ptr(table.t, "k", nullptr));
    EXPECT_EQ(0u, table.t->nb_keys);
    HASH_TABLE *none = nullptr;
    EXPECT_EQ(0, destroy_ht(&none));
    EXPECT_EQ(0, destroy_ht(nullptr));
}

TEST(HashTableTest, DestroyCompletesOverANullTextAndNullsThePointer) {
    HASH_TABLE *table = new_ht(4);
    ASSERT_TRUE(table);
    ASSERT_EQ(1, ht_put_string(table, "a", nullptr));
    ASSERT_EQ(1, ht_put_string(table, "b", "text"));
    LogCapture log(LOG_DEBUG);
    EXPECT_EQ(1, destroy_ht(&table));
    EXPECT_EQ(nullptr, table);
    EXPECT_TRUE(log.contains("Free( node->data.string ) already done or NULL at line"))
        << log.text();
}

TEST(HashTableTest, ZeroBucketsIsRefused) {
    LogCapture log(LOG_ERR);
    EXPECT_EQ(nullptr, new_ht(0));
    EXPECT_TRUE(log.contains("Invalid size 0 for new_ht()")) << log.text();
}

TEST(HashTableTest, PointerValuesAreOwnedOnlyWithADestroyFunction) {
    g_destroyed = 0;
    int on_stack = 5; // destroying the table must not touch it
    HASH_TABLE *table = new_ht(8);
    ASSERT_TRUE(table);
    ASSERT_EQ(1, ht_put_ptr(table, "borrowed", &on_stack, nullptr, nullptr));
    void *first = malloc(32);
    void *second = malloc(32);
    ASSERT_EQ(1, ht_put_ptr(table, "owned", first, free_destroy, nullptr));
    // Replacing hands the old value to its destroy function once.
    ASSERT_EQ(1, ht_put_ptr(table, "owned", second, free_destroy, nullptr));
    EXPECT_EQ(1, g_destroyed);
    // Putting the stored value again must neither destroy it nor leave it dangling.
    ASSERT_EQ(1, ht_put_ptr(table, "owned", second, free_destroy, nullptr));
    EXPECT_EQ(1, g_destroyed);
    void *got = nullptr;
    ASSERT_EQ(1, ht_get_ptr(table, "owned", &got));
    EXPECT_EQ(second, got);
    // A null value is never passed to the destroy function.
    ASSERT_EQ(1, ht_put_ptr(table, "null", nullptr, count_destroy, nullptr));
    ASSERT_EQ(1, ht_put_ptr(table, "null", nullptr, count_destroy, nullptr));
    EXPECT_EQ(1, g_destroyed);
    EXPECT_EQ(3u, table->nb_keys);
    ASSERT_EQ(1, destroy_ht(&table));
    EXPECT_EQ(2, g_destroyed); // second, freed; the borrowed and null values untouched
    EXPECT_EQ(5, on_stack);
}

TEST(HashTableTest, TwoTablesHashTheSameKeyDifferently) {
    Table a(256);
    Table b(256);
    ASSERT_TRUE(a.t && b.t);
    EXPECT_NE(a.t->seed, b.t->seed);
    ASSERT_EQ(1, ht_put_string(a.t, "Sending Morse", "x"));
    ASSERT_EQ(1, ht_put_string(b.t, "Sending Morse", "x"));
    EXPECT_NE(ht_get_node(a.t, "Sending Morse")->hash_value,
              ht_get_node(b.t, "Sending Morse")->hash_value);
    // The hash is the first digest word under the table's own seed.
    uint64_t digest[2];
    MurmurHash3_x64_128("Sending Morse", strlen("Sending Morse"), a.t->seed, digest);
    EXPECT_EQ(digest[0], ht_get_node(a.t, "Sending Morse")->hash_value);
}

TEST(HashTableTest, SeedsOfManyTablesAreDistinct) {
    std::set<uint64_t> seeds;
    for (int i = 0; i < 200; i++) {
        HASH_TABLE *t = new_ht(1);
        ASSERT_TRUE(t);
        seeds.insert(t->seed);
        destroy_ht(&t);
    }
    EXPECT_EQ(200u, seeds.size());
}

TEST(HashTableTest, TablesMadeOnSeveralThreadsAtOnceGetDistinctSeeds) {
    // The process key is drawn once and the counter is shared: racing creators must neither
    // tear them nor hand two tables the same serial number.
    const int threads = 4, per_thread = 100;
    std::vector<std::vector<uint64_t>> seeds(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
        workers.emplace_back([&seeds, t] {
            for (int i = 0; i < per_thread; i++) {
                HASH_TABLE *table = new_ht(2);
                if (!table) return;
                ht_put_string(table, "key", "value");
                seeds[t].push_back(table->seed);
                destroy_ht(&table);
            }
        });
    }
    for (std::thread &w : workers) w.join();
    std::set<uint64_t> distinct;
    for (const auto &list : seeds) distinct.insert(list.begin(), list.end());
    EXPECT_EQ((size_t)(threads * per_thread), distinct.size());
}

TEST(HashTableTest, OneBucketWithManyKeysStillFindsEveryKey) {
    Table table(1);
    ASSERT_TRUE(table.t);
    const int n = 2000;
    for (int i = 0; i < n; i++) {
        std::string key = std::to_string(i);
        ASSERT_EQ(1, ht_put_string(table.t, key.c_str(), ("v" + key).c_str()));
    }
    // Keys that are prefixes of one another must not be confused.
    ASSERT_EQ(1, ht_put_string(table.t, "1000", "replaced"));
    EXPECT_EQ((size_t)n, table.t->nb_keys);
    EXPECT_EQ((size_t)n, table.t->hash_table[0]->nb_items);
    for (int i = 0; i < n; i++) {
        std::string key = std::to_string(i);
        const char *val = nullptr;
        ASSERT_EQ(1, ht_get_string(table.t, key.c_str(), &val)) << key;
        EXPECT_EQ(i == 1000 ? std::string("replaced") : "v" + key, val);
    }
    const char *val = nullptr;
    EXPECT_EQ(0, ht_get_string(table.t, "20000", &val));
    ASSERT_EQ(1, ht_get_string(table.t, "10", &val));
    EXPECT_STREQ("v10", val);
}

TEST(HashTableTest, WidgetIndexUseFindsEveryIdAcrossBuckets) {
    Table table(256);
    static int widgets[600];
    for (int id = 1; id <= 600; id++) {
        char key[16];
        snprintf(key, sizeof key, "%d", id);
        ASSERT_EQ(1, ht_put_ptr(table.t, key, &widgets[id - 1], nullptr, nullptr));
    }
    EXPECT_EQ(600u, bucket_nodes(table.t));
    for (int id = 1; id <= 600; id++) {
        char key[16];
        snprintf(key, sizeof key, "%d", id);
        void *got = nullptr;
        ASSERT_EQ(1, ht_get_ptr(table.t, key, &got));
        EXPECT_EQ(&widgets[id - 1], got);
    }
}

TEST(MurmurHash3Test, MatchesThePublishedDigests) {
    struct Case {
        const char *text;
        uint64_t seed, h1, h2;
    } cases[] = {
        {"", 0, 0, 0},
        {"hello", 0, 0xcbd8a7b341bd9b02ULL, 0x5b1e906a48ae1d19ULL},
        {"The quick brown fox jumps over the lazy dog", 0, 0xe34bbc7bbc071b6cULL,
         0x7a433ca9c49a9347ULL},
    };
    for (const Case &c : cases) {
        uint64_t out[2];
        MurmurHash3_x64_128(c.text, strlen(c.text), c.seed, out);
        EXPECT_EQ(c.h1, out[0]) << c.text;
        EXPECT_EQ(c.h2, out[1]) << c.text;
    }
}

TEST(MurmurHash3Test, EveryTailLengthAndUnalignedStartHashTheSame) {
    // The same bytes at an odd address must give the same digest as aligned ones, for every
    // tail length 0..15 and more than one block.
    char aligned[64];
    char shifted[65];
    for (int i = 0; i < 64; i++) aligned[i] = shifted[i + 1] = (char)(i * 37 + 11);
    std::set<uint64_t> seen;
    for (size_t len = 0; len <= 40; len++) {
        uint64_t a[2], b[2];
        MurmurHash3_x64_128(aligned, len, 99, a);
        MurmurHash3_x64_128(shifted + 1, len, 99, b);
        EXPECT_EQ(a[0], b[0]) << len;
        EXPECT_EQ(a[1], b[1]) << len;
        seen.insert(a[0]);
    }
    EXPECT_EQ(41u, seen.size()); // every tail byte counts
}
