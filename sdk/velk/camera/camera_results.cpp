// Camera results and broadcasts: what devices report, every event the processor sends,
// the responses, and the recording of live-view frames.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "velk/camera/camera_processor.h"
#include "velk/core/datetime.h"
#include "velk/core/file.h"

namespace velk {
namespace {

// Begins an event of the kind; false (nothing to send) when the encoder cannot.
bool begin_event(MessageEncoder* encoder, int kind) {
    return encoder != nullptr && encoder->Begin() && encoder->AddField(FIELD_Event, kind);
}

bool add_camera(MessageEncoder* encoder, const CameraDevice* device) {
    return encoder->AddData(FIELD_CameraId, &device->camera.id, sizeof(cameraid_t), 1) &&
           encoder->AddData(FIELD_Camera, &device->camera, CAMERA_RecordSize, 1);
}

} // namespace

void CameraProcessor::Broadcast(Message& event) { SendEvent(event, BroadcastEventId); }

void CameraProcessor::BroadcastStatus() {
    MessageEncoder* encoder = GetEncoder();
    if (begin_event(encoder, BROADCAST_Status)) {
        MessageField* cameras = nullptr;
        MessageField* photos = nullptr;
        bool ok = encoder->AllocateField(cameras, FIELD_Camera, MessageField::Data,
                                         CAMERA_RecordSize, unsigned(m_devices.size()));
        // The buffer may move while the next field is added: fill each at once.
        if (ok)
            for (size_t i = 0; i < m_devices.size(); ++i)
                memcpy(reinterpret_cast<unsigned char*>(cameras + 1) + i * CAMERA_RecordSize,
                       &m_devices[i]->camera, CAMERA_RecordSize);
        ok = ok && encoder->AllocateField(photos, FIELD_Photo, MessageField::Data, PHOTO_RecordSize,
                                          unsigned(m_photos.size()));
        if (ok) {
            for (size_t i = 0; i < m_photos.size(); ++i)
                memcpy(reinterpret_cast<unsigned char*>(photos + 1) + i * PHOTO_RecordSize,
                       &m_photos[i]->photo, PHOTO_RecordSize);
            Message event = encoder->End();
            Broadcast(event);
        }
    }
    for (size_t i = 0; i < m_devices.size(); ++i)
        BroadcastPropertyStatus(m_devices[i], true);
}

void CameraProcessor::BroadcastPhotoTaken(CameraPhoto* photo) {
    MessageEncoder* encoder = GetEncoder();
    if (photo == nullptr || !begin_event(encoder, BROADCAST_PhotoTaken) ||
        !encoder->AddData(FIELD_PhotoId, &photo->photo.id, sizeof(photoid_t), 1) ||
        !encoder->AddField(FIELD_SequenceNum, m_sequenceNum) ||
        !encoder->AddField(FIELD_BatchNum, m_batchNum))
        return;
    Message event = encoder->End();
    Broadcast(event);
}

void CameraProcessor::BroadcastPhotoDownloaded(CameraPhoto* photo) {
    MessageEncoder* encoder = GetEncoder();
    if (photo == nullptr || !begin_event(encoder, BROADCAST_PhotoDownloaded) ||
        !encoder->AddData(FIELD_PhotoId, &photo->photo.id, sizeof(photoid_t), 1))
        return;
    Message event = encoder->End();
    Broadcast(event);
}

void CameraProcessor::BroadcastCameraStatus(CameraDevice* device) {
    MessageEncoder* encoder = GetEncoder();
    if (device == nullptr || !begin_event(encoder, BROADCAST_CameraStatus) ||
        !add_camera(encoder, device))
        return;
    Message event = encoder->End();
    Broadcast(event);
}

void CameraProcessor::BroadcastCameraMetrics(CameraDevice* device) {
    MessageEncoder* encoder = GetEncoder();
    if (device == nullptr || !begin_event(encoder, BROADCAST_CameraMetrics) ||
        !add_camera(encoder, device))
        return;
    Message event = encoder->End();
    Broadcast(event);
}

void CameraProcessor::BroadcastPhotoStatus(CameraPhoto* photo) {
    MessageEncoder* encoder = GetEncoder();
    if (photo == nullptr || !begin_event(encoder, BROADCAST_PhotoStatus) ||
        !encoder->AddData(FIELD_PhotoId, &photo->photo.id, sizeof(photoid_t), 1) ||
        !encoder->AddData(FIELD_Photo, &photo->photo, PHOTO_RecordSize, 1))
        return;
    Message event = encoder->End();
    Broadcast(event);
}

void CameraProcessor::BroadcastPropertyStatus(CameraDevice* device, bool force) {
    if (device == nullptr || device->settings == nullptr)
        return;
    CameraSettings& settings = *device->settings;
    for (uint32_t t = 0; t < CameraProperty::Count; ++t) {
        const CameraProperty::Type type = CameraProperty::Type(t);
        const property_value_t& property = settings.GetProperty(type);
        property_version_t& sent = settings.GetVersion(type);
        const bool range_changed = property.rangeVersion != sent.rangeVersion;
        // Skipped only when neither the value nor the list moved since the last one.
        if (!force && property.version == sent.version && !range_changed)
            continue;
        MessageEncoder* encoder = GetEncoder();
        const std::vector<stringid_t>& names = settings.GetRange(type).names;
        if (begin_event(encoder, BROADCAST_PropertyStatus) &&
            encoder->AddData(FIELD_CameraId, &device->camera.id, sizeof(cameraid_t), 1) &&
            encoder->AddData(FIELD_PropertyType, &t, sizeof(uint32_t), 1) &&
            encoder->AddData(FIELD_Property, &property, PROPERTY_RecordSize, 1) &&
            (!(force || range_changed) ||
             encoder->AddData(FIELD_PropertyRange, names.data(), STRINGID_HandleSize,
                              unsigned(names.size())))) {
            Message event = encoder->End();
            Broadcast(event);
        }
        sent.version = property.version;
        sent.rangeVersion = property.rangeVersion;
    }
}

void CameraProcessor::BroadcastInformation(const string_t& text) {
    log_writef(LEVEL_Info, log_camera, "%s", text.text);
    MessageEncoder* encoder = GetEncoder();
    if (!begin_event(encoder, BROADCAST_Information) || !encoder->AddField(FIELD_Text, text.text))
        return;
    Message event = encoder->End();
    Broadcast(event);
}

void CameraProcessor::BroadcastInformationf(const char* format, ...) {
    stringbuffer_t text;
    stringbuffer_initialise(text);
    va_list args;
    va_start(args, format);
    stringbuffer_formatv(text, format, args);
    va_end(args);
    BroadcastInformation(text.view);
    stringbuffer_release(text);
}

void CameraProcessor::BroadcastCamerasDetected() {
    size_t count = m_devices.size();
    if (count == 0)
        BroadcastInformation(string_make("No cameras detected"));
    else if (count == 1)
        BroadcastInformation(string_make("1 camera detected"));
    else
        BroadcastInformationf("%ld cameras detected", long(count));
}

void CameraProcessor::BroadcastPhotoDownloading(CameraPhoto* photo) {
    if (photo == nullptr)
        BroadcastInformation(string_make("Downloading content"));
    else
        BroadcastInformationf("Downloading %s: %s", photo->photo.video ? "video" : "photo",
                              photo->photo.name.text);
}

void CameraProcessor::BroadcastCameraAttached() {
    BroadcastInformation(string_make("New camera detected..."));
    m_detectPending = true;
}

void CameraProcessor::BroadcastCameraDetached() {
    BroadcastInformation(string_make("ERROR: Camera disconnected..."));
    m_detectPending = true;
}

void CameraProcessor::Notify(Message& response, const MessageHeader& request) {
    int kind = REQUEST_Unreadable;
    response.GetInt(FIELD_Request, kind);
    log_writef(LEVEL_Info, log_camera, "Sending camera response %d: %s", m_responseCount++,
               camera_request_name(kind));
    SendResponse(response, request);
}

void CameraProcessor::NotifyUnknownRequest(const MessageHeader& request) {
    MessageEncoder* encoder = GetEncoder();
    if (encoder == nullptr || !encoder->Begin() ||
        !encoder->AddField(FIELD_Request, int(REQUEST_Unreadable)) ||
        !encoder->AddField(FIELD_Success, false))
        return;
    Message response = encoder->End();
    Notify(response, request);
}

void CameraProcessor::SetConnected(bool connected, CameraDevice* device) {
    if (device == nullptr) {
        BroadcastInformation(string_make("ERROR: Failed to connect to camera"));
        return;
    }
    camera_t& camera = device->camera;
    int32_t batch = std::max(camera.batchNum, m_batchNum);
    for (CameraDevice* other : m_devices)
        batch = std::max(batch, other->camera.batchNum);
    camera.batchNum = batch;
    camera.connected = connected;
    ++camera.numConnectionAttempts;
    if (connected && m_defaultStorage.view.length > 0 && device->settings != nullptr) {
        const std::vector<stringid_t>& names =
            device->settings->GetRange(CameraProperty::Storage).names;
        for (size_t i = 0; i < names.size(); ++i) {
            if (string_equal(stringid_string(names[i]), m_defaultStorage.view)) {
                device->SetProperty(CameraProperty::Storage, i);
                break;
            }
        }
    }
    stringbuffer_t text;
    stringbuffer_initialise(text);
    stringbuffer_format(
        text, connected ? "Connected to camera: %s" : "ERROR: Failed to connect to camera: %s",
        camera.name.text);
    ApplyStoredName(device);
    BroadcastPropertyStatus(device, true);
    BroadcastCameraStatus(device);
    BroadcastInformation(text.view);
    stringbuffer_release(text);
}

void CameraProcessor::SetDisconnected(bool disconnected, CameraDevice* device) {
    if (device == nullptr) {
        BroadcastInformation(string_make("ERROR: Failed to disconnect from camera"));
        return;
    }
    device->camera.connected = !disconnected;
    ++device->camera.numConnectionAttempts;
    BroadcastCameraStatus(device);
    BroadcastInformationf(disconnected ? "Camera disconnected: %s"
                                       : "ERROR: Failed to disconnect from camera: %s",
                          device->camera.name.text);
}

void CameraProcessor::CameraDisconnected(CameraDevice* device) {
    if (device == nullptr)
        return;
    device->camera.valid = false;
    device->camera.connected = false;
    ++device->camera.numConnectionAttempts;
    BroadcastCameraStatus(device);
    BroadcastInformationf("Camera disconnected: %s", device->camera.name.text);
    m_detectPending = true;
}

void CameraProcessor::ReshootPhoto(CameraDevice* device, CameraPhoto* photo) {
    if (photo == nullptr)
        return;
    bool valid = ValidateFilename(photo->photo.name.text);
    if (!valid)
        photo->photo.filenameValid = false;
    if (device != nullptr)
        BroadcastCameraStatus(device);
    BroadcastPhotoStatus(photo);
    if (valid)
        BroadcastInformationf("Photo reshot: %s", photo->photo.name.text);
    else
        BroadcastInformationf("ERROR: Photo filename failed validation: %s",
                              photo->photo.name.text);
    BroadcastPhotoTaken(photo);
}

void CameraProcessor::DownloadAttempt(CameraPhoto* photo, bool saved) {
    if (photo == nullptr) {
        BroadcastInformation(string_make("ERROR: Failed to download"));
        return;
    }
    CameraDevice* owner = nullptr;
    if (FindDevice(photo->photo.owner, owner)) {
        if (saved)
            ++owner->camera.numPhotosDownloaded;
        else
            ++owner->camera.numDownloadsFailed;
        BroadcastCameraStatus(owner);
    }
    photo->photo.downloaded = saved;
    BroadcastPhotoStatus(photo);
    if (saved)
        BroadcastInformationf("%s downloaded: %s", photo->photo.video ? "Video" : "Photo",
                              photo->photo.name.text);
    else if (photo->photo.filenameValid)
        BroadcastInformationf("ERROR: Failed to download: %s", photo->photo.name.text);
    else
        BroadcastInformationf("ERROR: Unable to download due to invalid filename: %s",
                              photo->photo.name.text);
    if (saved)
        BroadcastPhotoDownloaded(photo);
}

void CameraProcessor::BroadcastLiveView(CameraDevice* device, const void* data,
                                        unsigned long size) {
    if (device == nullptr)
        return;
    ++device->camera.numLiveViewFrames;
    BroadcastCameraMetrics(device);
    MessageEncoder* encoder = GetEncoder();
    if (size <= 0xffffffffu && begin_event(encoder, BROADCAST_LiveView) &&
        add_camera(encoder, device) &&
        encoder->AddData(FIELD_LiveViewFrame, data, 1, unsigned(size))) {
        Message event = encoder->End();
        SendEvent(event, BroadcastLiveViewId);
    }
    RecordLiveViewFrame(device, data, size);
}

void CameraProcessor::RecordLiveViewFrame(CameraDevice* device, const void* data,
                                          unsigned long size) {
    if (!m_liveViewRecord)
        return;
    m_liveViewBytes += size;
    if (int64_t(m_liveViewBytes) > (int64_t(m_liveViewDataLimit) << 30)) {
        BroadcastInformation(string_make("Live View recording data limit reached"));
        return;
    }
    if (m_liveViewPath.path.view.length == 0) {
        log_writef(LEVEL_Warning, log_camera,
                   "Live View frame not recorded: no live view folder is set");
        return;
    }
    datetime_t now;
    datetime_set_now(now);
    stringbuffer_t path;
    stringbuffer_initialise(path);
    int fd = -1;
    // Two frames in the same millisecond get a suffix: no frame overwrites another.
    for (int k = 0; k < 1000 && fd < 0; ++k) {
        stringbuffer_format(path, "%s/Camera%d_%04d%02d%02d_%02d%02d%02d_%03d",
                            m_liveViewPath.path.view.text, device->camera.id.number, now.year,
                            now.month, now.day, now.hour, now.minute, now.second,
                            now.microsecond / 1000);
        if (k > 0)
            stringbuffer_appendf(path, "_%d", k);
        stringbuffer_append(path, string_make(".jpg"));
        fd = open(path.view.text, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    bool ok = fd >= 0 && file_write_all(fd, data, size);
    if (fd >= 0 && close(fd) != 0)
        ok = false;
    if (ok) {
        log_writef(LEVEL_Info, log_camera, "Live View frame saved to: %s", path.view.text);
    } else {
        if (fd >= 0)
            unlink(path.view.text);
        log_writef(LEVEL_Warning, log_camera, "Failed to record Live View frame to: %s",
                   path.view.text);
    }
    stringbuffer_release(path);
}

void CameraProcessor::Complete(cameratracker_t* tracker) {
    const bool ok = tracker->success;
    CameraPhoto* photo = tracker->photo;
    switch (tracker->kind) {
    case REQUEST_Connect:
    case REQUEST_Disconnect:
        if (!ok)
            m_detectPending = true;
        break;
    case REQUEST_TakePhoto:
        if (!ok)
            BroadcastInformation(string_make("ERROR: Failed to take photo"));
        break;
    case REQUEST_Reshoot:
        if (!ok)
            BroadcastInformation(string_make("ERROR: Failed to reshoot photo"));
        break;
    case REQUEST_AutoFocus:
        BroadcastInformation(string_make(ok ? "Auto focus done" : "ERROR: Failed to auto focus"));
        break;
    case REQUEST_Download: DownloadAttempt(photo, ok); break;
    case REQUEST_DownloadAll:
        if (m_pendingDownloads.empty())
            BroadcastInformation(string_make("No photos to download"));
        else
            BroadcastInformationf("Downloading %d photos", int(m_pendingDownloads.size()));
        break;
    case REQUEST_Rename:
        if (photo == nullptr) {
            BroadcastInformation(string_make("ERROR: Failed to rename photo"));
            break;
        }
        BroadcastPhotoStatus(photo);
        BroadcastInformationf(ok ? "Photo renamed to: %s" : "ERROR: Failed to rename: %s",
                              photo->photo.name.text);
        break;
    case REQUEST_Delete:
        if (photo == nullptr) {
            BroadcastInformation(string_make("ERROR: Failed to delete photo"));
            break;
        }
        BroadcastPhotoStatus(photo);
        BroadcastInformationf(ok ? "Deleted: %s" : "ERROR: Failed to delete: %s",
                              photo->photo.name.text);
        break;
    case REQUEST_EnableLiveView:
        if (!ok)
            BroadcastInformation(string_make("ERROR: Failed to enable Live View"));
        break;
    case REQUEST_LiveViewZoom:
        if (!ok)
            BroadcastInformation(string_make("ERROR: Failed to change Live View zoom"));
        break;
    case REQUEST_LiveViewFocus:
        if (!ok)
            BroadcastInformation(string_make("ERROR: Failed to change Live View focus"));
        break;
    case REQUEST_LiveViewPosition:
        if (!ok)
            BroadcastInformation(string_make("ERROR: Failed to change Live View position"));
        break;
    case REQUEST_EnableDof:
        if (!ok)
            BroadcastInformation(string_make("ERROR: Failed to change Depth of Field Preview"));
        break;
    case REQUEST_EnableVideo:
        BroadcastInformation(string_make(ok ? "Video recording status changed"
                                            : "ERROR: Failed to toggle video recording"));
        break;
    case REQUEST_SetProperty:
        if (!ok)
            BroadcastInformation(string_make("ERROR: Failed to change camera setting"));
        break;
    case REQUEST_SetName:
        if (!ok)
            BroadcastInformation(string_make("ERROR: Failed to set camera name"));
        break;
    case REQUEST_Rollback:
        if (photo != nullptr)
            for (size_t i = size_t(photo->photo.id); i < m_photos.size(); ++i)
                BroadcastPhotoStatus(m_photos[i]);
        BroadcastInformation(string_make(
            ok && photo != nullptr ? "Rollback complete" : "ERROR: Failed to rollback photos"));
        break;
    default: break;
    }
}

} // namespace velk
