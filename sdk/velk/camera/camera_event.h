// The decoded camera event a client data surface hands to its listeners, and the router
// that turns a listener object into a callback.
#pragma once

#include <cstdint>

#include "velk/camera/camera_protocol.h"

namespace velk {

struct CameraEvent {
    int32_t type = -1;          // event kind
    cameraid_t camera;          // field 5; number -1 when absent
    photoid_t photo = -1;       // field 7; -1 when absent
    int32_t sequenceNum = -1;   // field 20; -1 when absent
    int32_t batchNum = -1;      // field 21; -1 when absent
    const char* text = nullptr; // field 3; valid only during the call
};

// A listener: an object and the function that hands it an event. The surface calls
// listeners in registration order and stops at the first that returns true.
typedef bool (*camera_event_route_t)(void* object, const CameraEvent& event);

template <typename Event> struct EventRouter {
    // Calls T::EventNotify(const Event&) on the object; returns false, so that later
    // listeners see the event too.
    template <typename T> static bool Route(void* object, const Event& event) {
        static_cast<T*>(object)->EventNotify(event);
        return false;
    }
};

} // namespace velk
