// Vectors and hash tables.
#include <gtest/gtest.h>

#include "velk/container/hashtable.h"
#include "velk/container/vector.h"
#include "velk/core/stringid.h"

using namespace velk;

TEST(Vector, AppendDoublesAndRemoveKeepsOrder) {
    vector_t<int> v;
    ASSERT_TRUE(vector_initialise(v, 2));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(vector_append(v, i));
    EXPECT_EQ(v.count, 5u);
    EXPECT_EQ(v.capacity, 8u);
    EXPECT_TRUE(vector_remove(v, 1));
    EXPECT_FALSE(vector_remove(v, 4));
    int expected[] = {0, 2, 3, 4};
    ASSERT_EQ(v.count, 4u);
    for (uint32_t i = 0; i < v.count; ++i)
        EXPECT_EQ(v.items[i], expected[i]);
    vector_release(v);
    EXPECT_EQ(v.items, nullptr);
    EXPECT_EQ(v.count, 0u);
    EXPECT_EQ(v.capacity, 0u);
    vector_release(v); // twice is safe
}

TEST(Vector, CapacityZeroStillGrows) {
    vector_t<int> v;
    ASSERT_TRUE(vector_initialise(v, 0));
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(vector_append(v, i));
    EXPECT_EQ(v.count, 100u);
    EXPECT_EQ(v.items[99], 99);
    vector_release(v);
}

TEST(Vector, AppendingOwnElementWhileGrowing) {
    vector_t<int> v;
    ASSERT_TRUE(vector_initialise(v, 1));
    vector_append(v, 42);
    ASSERT_EQ(v.count, v.capacity);
    ASSERT_TRUE(vector_append(v, v.items[0])); // the source block is freed by the growth
    EXPECT_EQ(v.items[1], 42);
    vector_release(v);
}

namespace {

struct entry_t {
    stringid_t key;
    int value;
};

const void* entry_key(const void* entry) { return &static_cast<const entry_t*>(entry)->key; }

struct code_entry_t {
    uint32_t code;
    int value;
};

const void* code_key(const void* entry) { return &static_cast<const code_entry_t*>(entry)->code; }

} // namespace

TEST(Hashtable, StringKeysInsertFindRemove) {
    hashtable_t<stringid_t, entry_t> table;
    ASSERT_TRUE(hashtable_initialise(table, 7, stringid_hash, entry_key, stringid_compare_key));
    stringid_t a, a_again, b;
    stringid_resolve(a, string_make("camera-serial-A"));
    stringid_resolve(a_again, string_make("camera-serial-A"));
    stringid_resolve(b, string_make("camera-serial-B"));

    EXPECT_TRUE(hashtable_insert(table, entry_t{a, 1}));
    EXPECT_TRUE(hashtable_insert(table, entry_t{b, 2}));
    // The same text resolved twice is the same key: refused, the first entry kept.
    EXPECT_FALSE(hashtable_insert(table, entry_t{a_again, 3}));
    ASSERT_NE(hashtable_find(table, a_again), nullptr);
    EXPECT_EQ(hashtable_find(table, a_again)->value, 1);
    EXPECT_EQ(hashtable_count(table), 2u);

    EXPECT_TRUE(hashtable_remove(table, a));
    EXPECT_EQ(hashtable_find(table, a), nullptr);
    EXPECT_FALSE(hashtable_remove(table, a));
    int sum = 0;
    hashtable_for_each(table, [&](entry_t& e) { sum += e.value; });
    EXPECT_EQ(sum, 2);

    hashtable_release(table);
    hashtable_release(table);
    for (stringid_t* id : {&a, &a_again, &b})
        stringid_remove_reference(*id);
}

TEST(Hashtable, IntegerCodesCollideIntoBucketsInOrder) {
    hashtable_t<uint32_t, code_entry_t> table;
    ASSERT_TRUE(hashtable_initialise(table, 4, hashtable_hash_code<uint32_t>, code_key,
                                     hashtable_compare_code<uint32_t>));
    // 1, 5, 9, ... share bucket 1; more than the bucket's 8 starting places.
    for (uint32_t code = 1; code < 80; code += 4)
        ASSERT_TRUE(hashtable_insert(table, code_entry_t{code, int(code) * 10}));
    for (uint32_t code = 1; code < 80; code += 4) {
        ASSERT_NE(hashtable_find(table, code), nullptr);
        EXPECT_EQ(hashtable_find(table, code)->value, int(code) * 10);
    }
    EXPECT_EQ(hashtable_find(table, 2u), nullptr);
    EXPECT_EQ(table.buckets.items[1].count, 20u);
    EXPECT_EQ(table.buckets.items[0].count, 0u);
    hashtable_release(table);
}

TEST(Hashtable, ZeroBucketsIsRefused) {
    hashtable_t<uint32_t, code_entry_t> table;
    EXPECT_FALSE(hashtable_initialise(table, 0, hashtable_hash_code<uint32_t>, code_key,
                                      hashtable_compare_code<uint32_t>));
    EXPECT_FALSE(hashtable_insert(table, code_entry_t{1, 1}));
    EXPECT_EQ(hashtable_find(table, 1u), nullptr);
    hashtable_release(table);
}
