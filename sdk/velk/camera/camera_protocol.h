// The camera protocol: identifiers and records that travel in camera messages, the
// request, event and field enumerations, and the property types.
//
// Records are copied whole into data fields. Interned strings travel as their handle
// (pointer and length); a receiver that keeps one takes its own reference. On this
// platform the records have their natural 64-bit layout; the element sizes of the data
// fields are the record sizes below, and readers check them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "velk/core/log.h"
#include "velk/core/stringid.h"

namespace velk {

// The camera service's log module, "CAMERA".
extern log_module_t log_camera;

// Location and subscriptions.
constexpr const char* CAMERA_ProcessorLocation = "velk::CameraProcessor";
constexpr const char* CAMERA_EventChannel = "BROADCAST::CameraEvent";
constexpr const char* CAMERA_LiveViewChannel = "BROADCAST::CameraLiveView";

// A camera: its number (given when the device was added; -1 means none) and its index
// in the processor's device list when the id was issued.
struct cameraid_t {
    int32_t number = -1;
    uint32_t index = 0;
};
static_assert(sizeof(cameraid_t) == 8, "a camera id is 8 bytes");

inline bool operator==(const cameraid_t& a, const cameraid_t& b) {
    return a.number == b.number && a.index == b.index;
}

// A photo: its index in the processor's photo list; -1 means none.
typedef int32_t photoid_t;

struct camera_t {
    cameraid_t id;
    stringid_t name;
    stringid_t make;
    stringid_t model;
    stringid_t serial;
    bool valid;
    bool connected;
    bool bulbEnabled;
    bool bulbSupported;
    bool reserved; // set at creation; nothing reads it
    bool liveViewSupported;
    bool liveViewEnabled;
    bool liveViewZoomEnabled;
    bool dofSupported;
    bool dofEnabled;
    bool autoFocusSupported;
    bool videoSupported;
    bool videoEnabled;
    float batteryLevel; // 0..1; -1 unknown; 2 on external power
    float liveViewZoomWidth;
    float liveViewZoomHeight;
    int32_t liveViewZoomX;
    int32_t liveViewZoomY;
    int32_t numPhotosTaken;
    int32_t numPhotosFailed;
    int32_t numPhotosDownloaded;
    int32_t numDownloadsFailed;
    int32_t numConnectionAttempts;
    int32_t numLiveViewFrames;
    int32_t batchNum;
    int32_t batchSize;
    int32_t batchCount;
};

struct photo_t {
    photoid_t id;
    cameraid_t owner;
    stringid_t name;     // file name without folder; with extension once saved
    stringid_t filename; // full path of the saved file; empty until saved
    stringid_t filetype; // extension as the camera reports it
    stringid_t origin;   // "ui", "script", or "manual" for the camera's own button
    uint32_t size;
    bool valid;
    bool downloaded;
    bool orphaned;
    bool deleted;
    bool video;
    bool filenameValid;
    int32_t sequenceNum;
    int32_t batchNum;
};

// One property of one camera.
struct property_value_t {
    uint32_t value; // index into the property's value list
    bool valid;
    uint32_t version;      // moves when value or valid changes
    uint32_t rangeVersion; // moves when the value list changes
};

// Element sizes of the record-carrying data fields.
constexpr uint16_t CAMERA_RecordSize = sizeof(camera_t);
constexpr uint16_t PHOTO_RecordSize = sizeof(photo_t);
constexpr uint16_t PROPERTY_RecordSize = sizeof(property_value_t);
constexpr uint16_t STRINGID_HandleSize = sizeof(stringid_t);
static_assert(sizeof(void*) != 8 || CAMERA_RecordSize == 144, "camera record layout");
static_assert(sizeof(void*) != 8 || PHOTO_RecordSize == 104, "photo record layout");
static_assert(PROPERTY_RecordSize == 16, "property record layout");

// Fills a record as a new device's: number -1, empty texts, reserved set, battery
// unknown, zoom 1 by 1, batch 1 of size 1.
void camera_record_clear(camera_t& camera);
// Fills a record as no photo: id -1, owner -1, empty texts, only filenameValid set,
// sequence and batch -1.
void photo_record_clear(photo_t& photo);
// Adds / drops one reference to each string of the record.
void camera_record_reference(const camera_t& camera);
void camera_record_release(camera_t& camera);
void photo_record_reference(const photo_t& photo);
void photo_record_release(photo_t& photo);

namespace CameraProperty {
enum Type : uint32_t {
    Aperture = 0,
    ShutterSpeed = 1,
    Iso = 2,
    Exposure = 3,
    Quality = 4,
    ProgramMode = 5,
    MeteringMode = 6,
    DriveMode = 7,
    FocusMode = 8,
    WhiteBalance = 9,
    Storage = 10,
    Count = 11,
    Unknown = 12,
};
// The type for an exact, case-sensitive name; Unknown for null or anything else.
Type GetType(const char* name);
// The name of a type, or "Unknown".
const char* GetName(Type type);
} // namespace CameraProperty

enum camera_request_t : int32_t {
    REQUEST_Synchronise = 0,
    REQUEST_DetectCameras = 1,
    REQUEST_Connect = 2,
    REQUEST_Disconnect = 3,
    REQUEST_TakePhoto = 4,
    REQUEST_Reshoot = 5,
    REQUEST_AutoFocus = 6,
    REQUEST_Download = 7,
    REQUEST_DownloadAll = 8,
    REQUEST_Rename = 9,
    REQUEST_Delete = 10,
    REQUEST_EnableLiveView = 11,
    REQUEST_LiveViewZoom = 12,
    REQUEST_LiveViewRecord = 13,
    REQUEST_LiveViewFocus = 14,
    REQUEST_LiveViewPosition = 15,
    REQUEST_EnableDof = 16,
    REQUEST_EnableVideo = 17,
    REQUEST_SetProperty = 18,
    REQUEST_SetName = 19,
    REQUEST_SetOptions = 20,
    REQUEST_SetSequenceNum = 21,
    REQUEST_SetBatchNum = 22,
    REQUEST_Rollback = 23,
    REQUEST_Count = 24,
    REQUEST_Unreadable = 25, // the kind answered to a request without an int field 0
};

// The log name of a request kind ("invalid" outside 0 to 23).
const char* camera_request_name(int kind);

enum camera_broadcast_t : int32_t {
    BROADCAST_Status = 0,
    BROADCAST_PhotoTaken = 1,
    BROADCAST_PhotoDownloaded = 2,
    BROADCAST_LiveView = 3,
    BROADCAST_CameraList = 4,
    BROADCAST_CameraStatus = 5,
    BROADCAST_CameraMetrics = 6,
    BROADCAST_PhotoStatus = 7,
    BROADCAST_PropertyStatus = 8,
    BROADCAST_Information = 9,
};

enum camera_field_t : int32_t {
    FIELD_Request = 0,
    FIELD_Event = 1,
    FIELD_Success = 2,
    FIELD_Text = 3,
    FIELD_Camera = 4,
    FIELD_CameraId = 5,
    FIELD_Photo = 6,
    FIELD_PhotoId = 7,
    FIELD_PropertyType = 8,
    FIELD_Property = 9,
    FIELD_PropertyRange = 10,
    FIELD_PropertyValue = 11,
    FIELD_LiveView = 12,
    FIELD_LiveViewZoom = 13,
    FIELD_LiveViewRecord = 14,
    FIELD_LiveViewFocus = 15,
    FIELD_LiveViewPosition = 16,
    FIELD_LiveViewFrame = 17,
    FIELD_Dof = 18,
    FIELD_Video = 19,
    FIELD_SequenceNum = 20,
    FIELD_BatchNum = 21,
    FIELD_DownloadPath = 22,
    FIELD_LiveViewPath = 23,
    FIELD_LiveViewLimit = 24,
    FIELD_BulbTime = 25,
    FIELD_FilenameExpression = 26,
    FIELD_FilenameValidation = 27,
    FIELD_ApplicationName = 28,
    FIELD_UniqueTag = 29,
    FIELD_GenerateFilename = 30,
    FIELD_AutoConnect = 31,
    FIELD_ScanSequenceNum = 32,
    FIELD_ScanBatchNum = 33,
    FIELD_DefaultStorage = 34,
    FIELD_AllCameras = 35,
    FIELD_CameraName = 36,
    FIELD_PhotoName = 37,
    FIELD_Origin = 38,
    FIELD_CameraSerial = 39,
};

class Message;

// Readers of camera fields: each checks the field's type (and, for data fields, the
// element size and count) and leaves `out` unchanged when the field is absent or not
// what it should be.
bool camera_read_id(const Message& message, cameraid_t& out);
bool camera_read_photo_id(const Message& message, photoid_t& out);
// A data field of exactly one element of `size` bytes.
bool camera_read_element(const Message& message, int field, uint16_t size, void* out);
// A data field of whole elements of `size` bytes: the elements and their count.
bool camera_read_elements(const Message& message, int field, uint16_t size, const void*& data,
                          uint32_t& count);

} // namespace velk
