// Interned string identifiers and their dictionary.
#include "velk/core/stringid.h"

#include <cstdlib>
#include <set>

#include "velk/core/log.h"
#include "velk/core/memory.h"
#include "velk/core/mutex.h"
#include "velk/core/thread.h"

namespace velk {
namespace {

typedef std::set<const char*, stringid_compare_t> stringid_set;

// Function-local statics: identifiers may be resolved during static initialisation of
// other files, and the dictionary outlives every user (it is never destroyed).
stringid_set& dictionary() {
    static stringid_set* set = new stringid_set();
    return *set;
}

global_mutex_t& stringid_mutex() {
    static global_mutex_t* mutex = new global_mutex_t();
    return *mutex;
}

int* count_of(const char* text) {
    return reinterpret_cast<int*>(const_cast<char*>(text) - sizeof(int));
}

bool is_empty(const stringid_t& id) { return id.text == empty_cstr || id.length == 0; }

void drop(const stringid_t& id) {
    if (is_empty(id))
        return;
    if (atomic_decrement(count_of(id.text)) == 0)
        log_writef(LEVEL_Error, LOG_General, "string id released too many times: %s", id.text);
}

// A new entry with count 2 (the dictionary's and the caller's), or null when memory
// runs out; nothing escapes with the dictionary lock held.
const char* insert_locked(stringid_set& set, const char* key, uint32_t length) {
    char* block =
        static_cast<char*>(memory_alloc(sizeof(int) + length + 1, alignof(int), VELK_TAG));
    if (block == nullptr)
        return nullptr;
    *reinterpret_cast<int*>(block) = 2;
    memcpy(block + sizeof(int), key, length);
    block[sizeof(int) + length] = 0;
    const char* entry = block + sizeof(int);
    try {
        set.insert(entry);
    } catch (...) {
        memory_free(block, VELK_TAG);
        return nullptr;
    }
    return entry;
}

} // namespace

void stringid_resolve(stringid_t& id, const string_t& text) {
    drop(id);
    id = stringid_t{};
    if (text.length == 0)
        return;
    // The set compares NUL-terminated texts. A view is normally NUL-terminated at its
    // length; a view cut out of a longer text is looked up through a copy.
    char* cut = nullptr;
    const char* key = text.text;
    if (text.text[text.length] != 0) {
        cut = static_cast<char*>(memory_alloc(text.length + 1, 1, VELK_TAG));
        if (cut == nullptr) {
            log_writef(LEVEL_Error, LOG_General, "string id: out of memory interning %u bytes",
                       text.length);
            return;
        }
        memcpy(cut, text.text, text.length);
        cut[text.length] = 0;
        key = cut;
    }
    const char* entry = nullptr;
    {
        CancelGuard no_cancel;
        global_mutex_t& mutex = stringid_mutex();
        if (mutex_lock(mutex)) {
            stringid_set& set = dictionary();
            auto found = set.find(key);
            if (found != set.end()) {
                entry = *found;
                atomic_increment(count_of(entry));
            } else {
                entry = insert_locked(set, key, text.length);
            }
            mutex_unlock(mutex);
        }
    }
    memory_free(cut, VELK_TAG);
    if (entry == nullptr) {
        log_writef(LEVEL_Error, LOG_General, "string id: out of memory interning %u bytes",
                   text.length);
        return;
    }
    id.text = entry;
    id.length = uint32_t(strlen(entry));
}

void stringid_add_reference(const stringid_t& id) {
    if (!is_empty(id))
        atomic_increment(count_of(id.text));
}

void stringid_remove_reference(const stringid_t& id) { drop(id); }

int stringid_reference_count(const stringid_t& id) {
    if (is_empty(id))
        return 0;
    return __atomic_load_n(count_of(id.text), __ATOMIC_SEQ_CST);
}

void stringid_check() {
    CancelGuard no_cancel;
    global_mutex_t& mutex = stringid_mutex();
    if (!mutex_lock(mutex))
        return;
    stringid_set& set = dictionary();
    if (!set.empty() && log_begin(LEVEL_Warning, LOG_General)) {
        log_printf("string id dictionary: %d unfreed entries", int(set.size()));
        int listed = 0;
        for (const char* entry : set) {
            if (listed++ == 10)
                break;
            int count = __atomic_load_n(count_of(entry), __ATOMIC_SEQ_CST);
            if (count >= 2)
                log_printf("\nrefCount %d: %s", count, entry);
        }
        log_end();
    }
    mutex_unlock(mutex);
}

int32_t stringid_hash(const void* key) {
    const stringid_t* id = static_cast<const stringid_t*>(key);
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(id->text)) >> 2;
}

bool stringid_compare_key(const void* a, const void* b) {
    return static_cast<const stringid_t*>(a)->text == static_cast<const stringid_t*>(b)->text;
}

} // namespace velk
