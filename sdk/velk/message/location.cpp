// The location registry.
#include "velk/message/location.h"

#include <cstring>
#include <vector>

#include "velk/core/log.h"
#include "velk/core/mutex.h"
#include "velk/core/thread.h"

namespace velk {
namespace internal {

// Function-local statics: processors may be constructed during static initialisation,
// and the registry outlives every user.
Mutex& Location_mutex() {
    static Mutex* mutex = new Mutex();
    return *mutex;
}

std::vector<const char*>& Location_list() {
    static std::vector<const char*>* list = new std::vector<const char*>();
    return *list;
}

} // namespace internal

uint16_t Location::GetLocationId(const char* name, bool reuse) {
    if (name == nullptr || name[0] == 0) {
        log_writef(LEVEL_Error, LOG_Message, "Location ID refused for an empty name");
        return Invalid;
    }
    CancelGuard no_cancel;
    Mutex& mutex = internal::Location_mutex();
    if (!mutex.Acquire()) {
        log_writef(LEVEL_Error, LOG_Message, "Location ID failed (mutex failed): %s", name);
        return Invalid;
    }
    std::vector<const char*>& list = internal::Location_list();
    if (list.empty())
        list.push_back("BROADCAST");
    if (reuse) {
        for (size_t id = 1; id < list.size(); ++id) {
            if (strcmp(list[id], name) == 0) {
                mutex.Release();
                return uint16_t(id);
            }
        }
    }
    if (list.size() >= Invalid) {
        mutex.Release();
        log_writef(LEVEL_Error, LOG_Message, "Location ID failed (limit exceeded): %s", name);
        return Invalid;
    }
    uint16_t id = uint16_t(list.size());
    list.push_back(name);
    mutex.Release();
    log_writef(LEVEL_Info, LOG_Message, "Location ID for %s: %d", name, id);
    return id;
}

uint16_t Location::GetSubscriptionId(const char* name) { return GetLocationId(name, true); }

const char* Location::GetLocationName(uint16_t id) {
    CancelGuard no_cancel;
    Mutex& mutex = internal::Location_mutex();
    if (!mutex.Acquire())
        return "";
    std::vector<const char*>& list = internal::Location_list();
    if (list.empty())
        list.push_back("BROADCAST");
    const char* name = id < list.size() ? list[id] : "";
    mutex.Release();
    return name;
}

} // namespace velk
