// The location registry: names such as "velk::CameraProcessor" or
// "BROADCAST::CameraEvent" turned into the 16-bit ids that stand in message headers.
#pragma once

#include <cstdint>

namespace velk {

class Location {
  public:
    // Id 0: every processor on every queue.
    static constexpr uint16_t Broadcast = 0;
    // Never handed out: the registration failed (the registry was full or could not be
    // locked). Nothing is ever delivered to it.
    static constexpr uint16_t Invalid = 0xffff;

    // The id for `name`, which must stay valid for the life of the process. With reuse,
    // an earlier registration of the same name (compared by characters) is returned;
    // otherwise, or when there is none, a new id is handed out and logged. Any thread.
    static uint16_t GetLocationId(const char* name, bool reuse);
    // The id of a broadcast channel: GetLocationId(name, true).
    static uint16_t GetSubscriptionId(const char* name);
    // The registered name, or the empty text for an unknown id.
    static const char* GetLocationName(uint16_t id);
};

} // namespace velk
