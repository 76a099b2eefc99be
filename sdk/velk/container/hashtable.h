// The hash table with caller-supplied callbacks: a fixed number of buckets, each a
// vector of entries stored by value. The bucket count never changes.
#pragma once

#include <cstdint>

#include "velk/container/vector.h"

namespace velk {

template <typename K, typename V> struct hashtable_t {
    vector_t<vector_t<V>> buckets;
    int32_t (*compute_hash)(const void* key) = nullptr;
    const void* (*get_key)(const void* entry) = nullptr;
    bool (*compare_key)(const void* a, const void* b) = nullptr;
};

// Frees every bucket and the bucket vector. The owner first releases what each
// entry holds. Safe on a failed or released table.
template <typename K, typename V> void hashtable_release(hashtable_t<K, V>& table) {
    for (uint32_t i = 0; i < table.buckets.count; ++i)
        vector_release(table.buckets.items[i]);
    vector_release(table.buckets);
}

// Creates `bucket_count` empty buckets of capacity 8. A bucket count of 0 or any
// allocation failure gives false with the table empty and safe to release.
template <typename K, typename V>
bool hashtable_initialise(hashtable_t<K, V>& table, uint32_t bucket_count,
                          int32_t (*compute_hash)(const void*), const void* (*get_key)(const void*),
                          bool (*compare_key)(const void*, const void*)) {
    table.compute_hash = compute_hash;
    table.get_key = get_key;
    table.compare_key = compare_key;
    table.buckets = vector_t<vector_t<V>>{};
    if (bucket_count == 0 || compute_hash == nullptr || get_key == nullptr ||
        compare_key == nullptr)
        return false;
    if (!vector_initialise(table.buckets, bucket_count))
        return false;
    for (uint32_t i = 0; i < bucket_count; ++i) {
        vector_t<V> bucket;
        if (!vector_initialise(bucket, 8)) {
            hashtable_release(table);
            return false;
        }
        vector_append(table.buckets, bucket);
    }
    return true;
}

template <typename K, typename V>
vector_t<V>* hashtable_bucket(const hashtable_t<K, V>& table, const void* key) {
    if (table.buckets.count == 0)
        return nullptr;
    uint32_t hash = static_cast<uint32_t>(table.compute_hash(key));
    return &table.buckets.items[hash % table.buckets.count];
}

// The first entry whose key equals `key`, or null.
template <typename K, typename V> V* hashtable_find(const hashtable_t<K, V>& table, const K& key) {
    vector_t<V>* bucket = hashtable_bucket(table, &key);
    if (bucket == nullptr)
        return nullptr;
    for (uint32_t i = 0; i < bucket->count; ++i)
        if (table.compare_key(table.get_key(&bucket->items[i]), &key))
            return &bucket->items[i];
    return nullptr;
}

// Stores a copy of `entry` unless an entry with the same key is present. True when
// stored; false for a duplicate key or when the bucket cannot grow.
template <typename K, typename V> bool hashtable_insert(hashtable_t<K, V>& table, const V& entry) {
    const void* key = table.get_key(&entry);
    vector_t<V>* bucket = hashtable_bucket(table, key);
    if (bucket == nullptr)
        return false;
    for (uint32_t i = 0; i < bucket->count; ++i)
        if (table.compare_key(table.get_key(&bucket->items[i]), key))
            return false;
    return vector_append(*bucket, entry);
}

// Removes the entry with that key (later entries of its bucket move down). False
// when there is none. The caller releases what the entry held beforehand.
template <typename K, typename V> bool hashtable_remove(hashtable_t<K, V>& table, const K& key) {
    vector_t<V>* bucket = hashtable_bucket(table, &key);
    if (bucket == nullptr)
        return false;
    for (uint32_t i = 0; i < bucket->count; ++i)
        if (table.compare_key(table.get_key(&bucket->items[i]), &key))
            return vector_remove(*bucket, i);
    return false;
}

// Calls `visit(V&)` for every entry: buckets in index order, entries in bucket order.
template <typename K, typename V, typename F>
void hashtable_for_each(hashtable_t<K, V>& table, F visit) {
    for (uint32_t b = 0; b < table.buckets.count; ++b) {
        vector_t<V>& bucket = table.buckets.items[b];
        for (uint32_t i = 0; i < bucket.count; ++i)
            visit(bucket.items[i]);
    }
}

template <typename K, typename V> uint32_t hashtable_count(const hashtable_t<K, V>& table) {
    uint32_t count = 0;
    for (uint32_t b = 0; b < table.buckets.count; ++b)
        count += table.buckets.items[b].count;
    return count;
}

// Callbacks for tables keyed by a plain integer code of type C: the code is its own
// hash and keys compare by value.
template <typename C> int32_t hashtable_hash_code(const void* key) {
    return static_cast<int32_t>(*static_cast<const C*>(key));
}
template <typename C> bool hashtable_compare_code(const void* a, const void* b) {
    return *static_cast<const C*>(a) == *static_cast<const C*>(b);
}

} // namespace velk
