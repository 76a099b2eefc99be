// The client data surface.
#include "velk/camera/camera_data_surface.h"

#include <algorithm>
#include <cstring>

#include "velk/message/location.h"

namespace velk {

CameraDataSurface::CameraDataSurface(const string_t& surface_name)
    : MessageProcessor("velk::CameraDataSurface", false) {
    stringid_resolve(name, surface_name);
    photo_record_clear(defaultPhoto);
    camera_record_clear(defaultCamera);
    activeCamera = defaultCamera.id;
}

CameraDataSurface::~CameraDataSurface() { Release(); }

bool CameraDataSurface::Initialise() {
    processorLocation = Location::GetLocationId(CAMERA_ProcessorLocation, true);
    Subscribe(CAMERA_EventChannel);
    synchronised = false;
    MessageEncoder* encoder = GetEncoder();
    if (encoder == nullptr || !encoder->Begin() ||
        !encoder->AddField(FIELD_Request, int(REQUEST_Synchronise)))
        return true;
    Message request = encoder->End();
    SendRequest(request, processorLocation);
    return true;
}

void CameraDataSurface::ClearCameras() {
    activeCamera = defaultCamera.id;
    for (camera_t& camera : cameras)
        camera_record_release(camera);
    cameras.clear();
    for (CameraSettings* store : settings)
        delete store;
    settings.clear();
}

void CameraDataSurface::Release() {
    if (released)
        return;
    released = true;
    processorLocation = 0;
    synchronised = false;
    allCameras = false;
    ClearCameras();
    for (photo_t& photo : photos)
        photo_record_release(photo);
    photos.clear();
    listeners.clear();
    stringid_remove_reference(name);
    name = stringid_t{};
}

void CameraDataSurface::ReceiveResponse(const Message& message) {
    int kind = -1;
    bool success = false;
    if (message.GetInt(FIELD_Request, kind) && kind == REQUEST_Synchronise &&
        message.GetBool(FIELD_Success, success))
        synchronised = success;
}

camera_t* CameraDataSurface::AddCamera(unsigned long index) {
    if (index >= MaxCameras)
        return nullptr;
    while (cameras.size() <= index) {
        cameras.push_back(defaultCamera);
        camera_record_reference(cameras.back());
        settings.push_back(new CameraSettings());
    }
    return &cameras[index];
}

photo_t* CameraDataSurface::AddPhoto(unsigned long id) {
    if (id >= photos.size() + MaxPhotoGap)
        return nullptr;
    while (photos.size() <= id) {
        photos.push_back(defaultPhoto);
        photo_record_reference(photos.back());
    }
    return &photos[id];
}

namespace {

void store_camera(camera_t* entry, const camera_t& record) {
    if (entry == nullptr)
        return;
    camera_record_release(*entry);
    memcpy(static_cast<void*>(entry), &record, sizeof(camera_t));
    camera_record_reference(*entry);
}

void store_photo(photo_t* entry, const photo_t& record) {
    if (entry == nullptr)
        return;
    photo_record_release(*entry);
    memcpy(static_cast<void*>(entry), &record, sizeof(photo_t));
    photo_record_reference(*entry);
}

} // namespace

void CameraDataSurface::HandleCameraList(const Message& message) {
    ClearCameras();
    const void* data = nullptr;
    uint32_t count = 0;
    if (!camera_read_elements(message, FIELD_Camera, CAMERA_RecordSize, data, count))
        return;
    for (uint32_t i = 0; i < count; ++i) {
        camera_t record;
        memcpy(static_cast<void*>(&record),
               static_cast<const unsigned char*>(data) + i * sizeof(camera_t), sizeof(camera_t));
        store_camera(AddCamera(record.id.index), record);
    }
}

void CameraDataSurface::HandlePhotoList(const Message& message) {
    const void* data = nullptr;
    uint32_t count = 0;
    if (!camera_read_elements(message, FIELD_Photo, PHOTO_RecordSize, data, count))
        return;
    for (uint32_t i = 0; i < count; ++i) {
        photo_t record;
        memcpy(static_cast<void*>(&record),
               static_cast<const unsigned char*>(data) + i * sizeof(photo_t), sizeof(photo_t));
        if (record.id >= 0)
            store_photo(AddPhoto(static_cast<unsigned long>(record.id)), record);
    }
}

void CameraDataSurface::HandleCameraStatus(const Message& message) {
    const void* data = nullptr;
    uint32_t count = 0;
    if (!camera_read_elements(message, FIELD_Camera, CAMERA_RecordSize, data, count) || count == 0)
        return;
    camera_t record;
    memcpy(static_cast<void*>(&record), data, sizeof(camera_t));
    store_camera(AddCamera(record.id.index), record);
}

void CameraDataSurface::HandlePhotoStatus(const Message& message) {
    const void* data = nullptr;
    uint32_t count = 0;
    if (!camera_read_elements(message, FIELD_Photo, PHOTO_RecordSize, data, count) || count == 0)
        return;
    photo_t record;
    memcpy(static_cast<void*>(&record), data, sizeof(photo_t));
    if (record.id >= 0)
        store_photo(AddPhoto(static_cast<unsigned long>(record.id)), record);
}

void CameraDataSurface::HandlePropertyStatus(const Message& message) {
    cameraid_t id;
    uint32_t type = 0;
    if (!camera_read_id(message, id) ||
        !camera_read_element(message, FIELD_PropertyType, sizeof(uint32_t), &type) ||
        id.index >= settings.size() || type >= CameraProperty::Count)
        return;
    CameraSettings& store = *settings[id.index];
    const CameraProperty::Type property = CameraProperty::Type(type);
    camera_read_element(message, FIELD_Property, PROPERTY_RecordSize, &store.GetProperty(property));
    const void* data = nullptr;
    uint32_t count = 0;
    if (camera_read_elements(message, FIELD_PropertyRange, STRINGID_HandleSize, data, count)) {
        property_range_t& range = store.GetRange(property);
        for (stringid_t& text : range.names)
            stringid_remove_reference(text);
        range.names.clear();
        range.values.clear();
        for (uint32_t i = 0; i < count; ++i) {
            stringid_t text;
            memcpy(&text, static_cast<const unsigned char*>(data) + i * sizeof(stringid_t),
                   sizeof(stringid_t));
            stringid_add_reference(text);
            range.names.push_back(text);
            range.values.push_back(i);
        }
    }
}

void CameraDataSurface::ReceiveEvent(const Message& message) {
    int kind = -1;
    if (!message.GetInt(FIELD_Event, kind))
        return;
    CameraEvent event;
    event.type = kind;
    camera_read_id(message, event.camera);
    camera_read_photo_id(message, event.photo);
    message.GetInt(FIELD_SequenceNum, event.sequenceNum);
    message.GetInt(FIELD_BatchNum, event.batchNum);
    message.GetString(FIELD_Text, event.text);
    switch (kind) {
    case BROADCAST_Status:
        HandleCameraList(message);
        HandlePhotoList(message);
        break;
    case BROADCAST_PhotoTaken:
        if (event.photo >= 0)
            activePhoto = event.photo;
        break;
    case BROADCAST_LiveView:
    case BROADCAST_CameraStatus:
    case BROADCAST_CameraMetrics: HandleCameraStatus(message); break;
    case BROADCAST_CameraList: HandleCameraList(message); break;
    case BROADCAST_PhotoStatus: HandlePhotoStatus(message); break;
    case BROADCAST_PropertyStatus: HandlePropertyStatus(message); break;
    default: break;
    }
    // A listener may remove itself: walk a copy.
    std::vector<std::pair<void*, camera_event_route_t>> current = listeners;
    for (const auto& listener : current)
        if (listener.second(listener.first, event))
            break;
}

const camera_t& CameraDataSurface::GetCamera(long index) const {
    return (index >= 0 && size_t(index) < cameras.size()) ? cameras[size_t(index)] : defaultCamera;
}

const photo_t& CameraDataSurface::GetPhoto(long id) const {
    return (id >= 0 && size_t(id) < photos.size()) ? photos[size_t(id)] : defaultPhoto;
}

const CameraSettings* CameraDataSurface::GetSettings(long index) const {
    return (index >= 0 && size_t(index) < settings.size()) ? settings[size_t(index)] : nullptr;
}

const camera_t& CameraDataSurface::GetActiveCamera() const {
    const camera_t& camera = GetCamera(long(activeCamera.index));
    return camera.id.number == activeCamera.number ? camera : defaultCamera;
}

const photo_t& CameraDataSurface::GetActivePhoto() const { return GetPhoto(activePhoto); }

void CameraDataSurface::AddListener(void* object, camera_event_route_t route) {
    listeners.emplace_back(object, route);
}

void CameraDataSurface::RemoveListener(void* object) {
    listeners.erase(std::remove_if(listeners.begin(), listeners.end(),
                                   [&](const auto& l) { return l.first == object; }),
                    listeners.end());
}

} // namespace velk
