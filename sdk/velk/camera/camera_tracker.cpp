// Multi-camera request tracking.
#include "velk/camera/camera_tracker.h"

#include <new>

#include "velk/camera/camera_processor.h"

namespace velk {

cameratracker_t* cameratracker_create(CameraProcessor& processor, const Message& request) {
    int kind = 0;
    if (!request.GetInt(FIELD_Request, kind))
        return nullptr;
    cameratracker_t* tracker = new (std::nothrow) cameratracker_t();
    if (tracker == nullptr)
        return nullptr;
    tracker->kind = kind;
    tracker->header = request.GetHeader();
    tracker->processor = &processor;
    processor.TrackerCreated(tracker);
    return tracker;
}

void cameratracker_handle(cameratracker_t* tracker, const Message& request) {
    if (tracker == nullptr)
        return;
    CameraProcessor& processor = *tracker->processor;
    bool resolved = true;
    cameraid_t id;
    if (camera_read_id(request, id)) {
        CameraDevice* device = nullptr;
        if (processor.FindDevice(id, device)) {
            tracker->device = device;
            tracker->device_id = id;
        } else {
            resolved = false;
        }
    }
    photoid_t photo_id = -1;
    if (resolved && camera_read_photo_id(request, photo_id)) {
        CameraPhoto* photo = nullptr;
        if (processor.FindPhoto(photo_id, photo)) {
            tracker->photo = photo;
            tracker->photo_id = photo_id;
        } else {
            resolved = false;
        }
    }
    if (!resolved || !processor.Handle(tracker, request))
        tracker->success = false;
    cameratracker_notify(tracker, tracker->success, tracker->device);
}

void cameratracker_notify(cameratracker_t* tracker, bool success, CameraDevice* device) {
    if (tracker == nullptr)
        return;
    CameraProcessor& processor = *tracker->processor;
    if (device != nullptr)
        processor.BroadcastCameraStatus(device);
    if (!success)
        tracker->success = false;
    if (--tracker->references > 0)
        return;
    processor.Complete(tracker);
    MessageEncoder* encoder = processor.GetEncoder();
    if (encoder != nullptr && encoder->Begin() && encoder->AddField(FIELD_Request, tracker->kind) &&
        encoder->AddField(FIELD_Success, tracker->success) &&
        (tracker->device_id.number < 0 ||
         encoder->AddData(FIELD_CameraId, &tracker->device_id, sizeof(cameraid_t), 1)) &&
        (tracker->photo == nullptr ||
         encoder->AddData(FIELD_PhotoId, &tracker->photo_id, sizeof(photoid_t), 1))) {
        Message response = encoder->End();
        processor.Notify(response, tracker->header);
    } else {
        log_writef(LEVEL_Error, log_camera, "Failed to build camera response %d",
                   tracker->header.refNum);
    }
    stringid_remove_reference(tracker->origin);
    processor.TrackerFreed(tracker);
    delete tracker;
}

} // namespace velk
