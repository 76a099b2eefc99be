// Camera protocol records, names and field readers.
#include "velk/camera/camera_protocol.h"

#include <cstring>
#include <initializer_list>

#include "velk/message/message.h"

namespace velk {

log_module_t log_camera = {0, "CAMERA"};

namespace {

const char* const request_names[REQUEST_Count] = {
    "REQUEST_Synchronise",      "REQUEST_DetectCameras",  "REQUEST_Connect",
    "REQUEST_Disconnect",       "REQUEST_TakePhoto",      "REQUEST_Reshoot",
    "REQUEST_AutoFocus",        "REQUEST_Download",       "REQUEST_DownloadAll",
    "REQUEST_Rename",           "REQUEST_Delete",         "REQUEST_EnableLiveView",
    "REQUEST_LiveViewZoom",     "REQUEST_LiveViewRecord", "REQUEST_LiveViewFocus",
    "REQUEST_LiveViewPosition", "REQUEST_EnableDof",      "REQUEST_EnableVideo",
    "REQUEST_SetProperty",      "REQUEST_SetName",        "REQUEST_SetOptions",
    "REQUEST_SetSequenceNum",   "REQUEST_SetBatchNum",    "REQUEST_Rollback",
};

const char* const property_names[CameraProperty::Count] = {
    "Aperture",     "ShutterSpeed", "Iso",       "Exposure",     "Quality", "ProgramMode",
    "MeteringMode", "DriveMode",    "FocusMode", "WhiteBalance", "Storage",
};

} // namespace

const char* camera_request_name(int kind) {
    return (kind >= 0 && kind < REQUEST_Count) ? request_names[kind] : "invalid";
}

CameraProperty::Type CameraProperty::GetType(const char* name) {
    if (name == nullptr)
        return Unknown;
    for (uint32_t i = 0; i < Count; ++i)
        if (strcmp(name, property_names[i]) == 0)
            return Type(i);
    return Unknown;
}

const char* CameraProperty::GetName(Type type) {
    return type < Count ? property_names[type] : "Unknown";
}

void camera_record_clear(camera_t& camera) {
    memset(static_cast<void*>(&camera), 0, sizeof(camera));
    camera.id = cameraid_t{};
    camera.name = stringid_t{};
    camera.make = stringid_t{};
    camera.model = stringid_t{};
    camera.serial = stringid_t{};
    camera.reserved = true;
    camera.batteryLevel = -1.0f;
    camera.liveViewZoomWidth = 1.0f;
    camera.liveViewZoomHeight = 1.0f;
    camera.batchNum = 1;
    camera.batchSize = 1;
}

void photo_record_clear(photo_t& photo) {
    memset(static_cast<void*>(&photo), 0, sizeof(photo));
    photo.id = -1;
    photo.owner = cameraid_t{};
    photo.name = stringid_t{};
    photo.filename = stringid_t{};
    photo.filetype = stringid_t{};
    photo.origin = stringid_t{};
    photo.filenameValid = true;
    photo.sequenceNum = -1;
    photo.batchNum = -1;
}

void camera_record_reference(const camera_t& camera) {
    for (const stringid_t* id : {&camera.name, &camera.make, &camera.model, &camera.serial})
        stringid_add_reference(*id);
}

void camera_record_release(camera_t& camera) {
    for (stringid_t* id : {&camera.name, &camera.make, &camera.model, &camera.serial}) {
        stringid_remove_reference(*id);
        *id = stringid_t{};
    }
}

void photo_record_reference(const photo_t& photo) {
    for (const stringid_t* id : {&photo.name, &photo.filename, &photo.filetype, &photo.origin})
        stringid_add_reference(*id);
}

void photo_record_release(photo_t& photo) {
    for (stringid_t* id : {&photo.name, &photo.filename, &photo.filetype, &photo.origin}) {
        stringid_remove_reference(*id);
        *id = stringid_t{};
    }
}

bool camera_read_elements(const Message& message, int field, uint16_t size, const void*& data,
                          uint32_t& count) {
    const MessageField* found = nullptr;
    if (!message.FindField(field, found) || found->type != MessageField::Data ||
        found->elementSize != size)
        return false;
    data = found->Payload();
    count = found->count;
    return true;
}

bool camera_read_element(const Message& message, int field, uint16_t size, void* out) {
    const void* data = nullptr;
    uint32_t count = 0;
    if (!camera_read_elements(message, field, size, data, count) || count != 1)
        return false;
    memcpy(out, data, size);
    return true;
}

bool camera_read_id(const Message& message, cameraid_t& out) {
    return camera_read_element(message, FIELD_CameraId, sizeof(cameraid_t), &out);
}

bool camera_read_photo_id(const Message& message, photoid_t& out) {
    return camera_read_element(message, FIELD_PhotoId, sizeof(photoid_t), &out);
}

} // namespace velk
