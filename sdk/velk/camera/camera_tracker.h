// Multi-camera request tracking: one request from its arrival until every party that
// works on it has reported; the last report sends the single response and runs the
// request kind's completion. "CAMERA" thread only.
#pragma once

#include <cstdint>

#include "velk/camera/camera_protocol.h"
#include "velk/message/message.h"

namespace velk {

class CameraProcessor;
class CameraDevice;
class CameraPhoto;

struct cameratracker_t {
    int32_t references = 1; // outstanding reports; the processor's own at creation
    int32_t kind = 0;       // the request kind
    bool success = true;    // cleared by any failed report, never set again
    MessageHeader header{}; // the request's header: who asked, which sequence number
    stringid_t origin;      // the request's origin text (field 38) once read
    CameraProcessor* processor = nullptr;
    CameraDevice* device = nullptr; // the addressed device, or one a handler chose
    cameraid_t device_id;           // its id when it was chosen (kept if it goes away)
    CameraPhoto* photo = nullptr;   // the photo named by field 7
    photoid_t photo_id = -1;
};

// A new tracker for the request, or null when it has no int field 0 or memory runs
// out. The processor keeps track of it until it completes.
cameratracker_t* cameratracker_create(CameraProcessor& processor, const Message& request);
// Resolves the ids, runs the processor's handler for the kind, then reports the
// processor's own part. A null tracker does nothing.
void cameratracker_handle(cameratracker_t* tracker, const Message& request);
// Records one report; the last one completes the request and frees the tracker. A null
// tracker does nothing.
void cameratracker_notify(cameratracker_t* tracker, bool success, CameraDevice* device);
// Adds one outstanding report (before handing the tracker to a device).
inline void cameratracker_add_reference(cameratracker_t* tracker) { ++tracker->references; }

} // namespace velk
