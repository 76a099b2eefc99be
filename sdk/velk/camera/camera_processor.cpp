// The camera processor: drivers, devices, detection and the request handlers.
#include "velk/camera/camera_processor.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "velk/core/thread.h"
#include "velk/message/location.h"

namespace velk {

bool CameraProcessor::SupportPTP = true;
bool CameraProcessor::SupportCanonEOS = true;
bool CameraProcessor::SupportNikonType1 = true, CameraProcessor::SupportNikonType2 = true,
     CameraProcessor::SupportNikonType3 = true, CameraProcessor::SupportNikonType4 = true,
     CameraProcessor::SupportNikonType5 = true, CameraProcessor::SupportNikonType6 = true,
     CameraProcessor::SupportNikonType7 = true, CameraProcessor::SupportNikonType8 = true,
     CameraProcessor::SupportNikonType9 = true, CameraProcessor::SupportNikonD200 = true,
     CameraProcessor::SupportNikonD80 = true, CameraProcessor::SupportNikonD40 = true;
uint16_t CameraProcessor::BroadcastEventId = 0;
uint16_t CameraProcessor::BroadcastLiveViewId = 0;
CameraProcessor::driver_factory_t CameraProcessor::CreatePTPDriver = nullptr;
CameraProcessor::driver_factory_t CameraProcessor::CreateEOSDriver = nullptr;

namespace {

const void* serial_key(const void* entry) {
    return &static_cast<const camera_serial_entry_t*>(entry)->serial;
}

} // namespace

CameraProcessor::CameraProcessor() : MessageProcessor(CAMERA_ProcessorLocation, true) {
    BroadcastEventId = Location::GetSubscriptionId(CAMERA_EventChannel);
    BroadcastLiveViewId = Location::GetSubscriptionId(CAMERA_LiveViewChannel);
    pathname_initialise(m_downloadPath);
    pathname_initialise(m_liveViewPath);
    stringbuffer_initialise(m_filenameExpression);
    stringbuffer_initialise(m_filenameValidation);
    stringbuffer_initialise(m_applicationName);
    stringbuffer_initialise(m_uniqueTag);
    stringbuffer_initialise(m_defaultStorage);
    stringbuffer_set(m_filenameExpression, string_make("FNK_[S]"));
    stringbuffer_set(m_applicationName, string_make("Group1"));
    stringbuffer_set(m_uniqueTag, string_make("Custom1"));
    memorybuffer_initialise(m_downloadBuffer);
    hashtable_initialise(m_cameraNames, 100, stringid_hash, serial_key, stringid_compare_key);
}

CameraProcessor::~CameraProcessor() {
    if (!m_released)
        ProcessorRelease();
    ReleaseNames();
    hashtable_release(m_cameraNames);
    stringbuffer_release(m_filenameExpression);
    stringbuffer_release(m_applicationName);
    stringbuffer_release(m_uniqueTag);
}

void CameraProcessor::ReleaseNames() {
    hashtable_for_each(m_cameraNames, [](camera_serial_entry_t& entry) {
        stringid_remove_reference(entry.serial);
        stringbuffer_release(entry.name);
    });
    for (uint32_t b = 0; b < m_cameraNames.buckets.count; ++b)
        vector_clear(m_cameraNames.buckets.items[b]);
}

bool CameraProcessor::ProcessorInitialise() {
    log_register_module(log_camera);
    log_enable(LEVEL_Info, log_camera, true);
    struct family_t {
        bool wanted;
        driver_factory_t create;
        const char* name;
    } families[] = {{SupportPTP, CreatePTPDriver, "PTP"},
                    {SupportCanonEOS, CreateEOSDriver, "EOS"}};
    for (const family_t& family : families) {
        if (!family.wanted)
            continue;
        CameraDriver* driver = family.create != nullptr ? family.create(this) : nullptr;
        if (driver != nullptr)
            m_drivers.push_back(driver);
        else
            log_writef(LEVEL_Info, log_camera, "%s camera driver not available in this build",
                       family.name);
    }
    for (CameraDriver* driver : m_drivers) {
        if (!driver->Initialise()) {
            log_writef(LEVEL_Error, log_camera, "Failed to initialise driver: %s",
                       driver->name.text);
            log_writef(LEVEL_Error, log_camera, "Failed to initialise CameraProcessor");
            return false;
        }
        log_writef(LEVEL_Info, log_camera, "Initialised driver: %s", driver->name.text);
    }
    log_writef(LEVEL_Info, log_camera, "CameraProcessor initialised");
    return true;
}

void CameraProcessor::ProcessorRelease() {
    m_released = true;
    // Devices first: a device still holding a request answers it before it goes, and a
    // device may still refer to photos while it disconnects.
    while (!m_devices.empty()) {
        m_devices.back()->Disconnect();
        RemoveDevice(m_devices.size() - 1);
    }
    // Requests nobody will finish any more are answered as failed.
    while (!m_trackers.empty()) {
        cameratracker_t* tracker = *m_trackers.begin();
        tracker->references = 1;
        cameratracker_notify(tracker, false, nullptr);
    }
    m_pendingDownloads.clear();
    for (CameraPhoto* photo : m_photos)
        delete photo;
    m_photos.clear();
    for (CameraDriver* driver : m_drivers) {
        driver->Release();
        log_writef(LEVEL_Info, log_camera, "Released driver: %s", driver->name.text);
        delete driver;
    }
    m_drivers.clear();
    memorybuffer_release(m_downloadBuffer);
    SetPattern(nullptr);
    pathname_release(m_downloadPath);
    pathname_release(m_liveViewPath);
    stringbuffer_release(m_filenameValidation);
    stringbuffer_release(m_defaultStorage);
    log_writef(LEVEL_Info, log_camera, "CameraProcessor released");
}

void CameraProcessor::ProcessorUpdate() {
    if (m_detectPending) {
        m_detectPending = false;
        DetectCameras();
    }
    while (!m_pendingDownloads.empty()) {
        CameraPhoto* photo = m_pendingDownloads.front();
        m_pendingDownloads.pop_front();
        CameraDevice* owner = nullptr;
        if (photo->photo.downloaded || photo->photo.orphaned || photo->photo.deleted ||
            !FindDevice(photo->photo.owner, owner))
            continue;
        BroadcastPhotoDownloading(photo);
        owner->Download(photo);
    }
    for (size_t i = 0; i < m_devices.size(); ++i)
        m_devices[i]->Update();
    for (CameraDriver* driver : m_drivers)
        driver->Update();
}

void CameraProcessor::AddDriver(CameraDriver* driver) {
    if (driver == nullptr)
        return;
    driver->SetProcessor(this);
    m_drivers.push_back(driver);
}

void CameraProcessor::RemoveDevice(size_t index) {
    CameraDevice* device = m_devices[index];
    m_devices.erase(m_devices.begin() + long(index));
    // Requests that still refer to the device forget it; the one it holds is answered.
    for (cameratracker_t* tracker : m_trackers)
        if (tracker->device == device)
            tracker->device = nullptr;
    if (device->pendingTracker != nullptr) {
        cameratracker_t* pending = device->pendingTracker;
        device->pendingTracker = nullptr;
        cameratracker_notify(pending, false, nullptr);
    }
    delete device;
}

void CameraProcessor::AddDevice(CameraDevice* device) {
    if (device == nullptr)
        return;
    if (!device->camera.valid) {
        delete device;
        return;
    }
    for (CameraDevice* existing : m_devices) {
        if (existing->IsEqual(*device)) {
            existing->camera.valid = true;
            delete device;
            return;
        }
    }
    device->camera.id.number = m_nextCameraNumber++;
    device->camera.id.index = uint32_t(m_devices.size());
    m_devices.push_back(device);
    ApplyStoredName(device);
}

void CameraProcessor::DetectCameras() {
    BroadcastInformation(string_make("Detecting cameras..."));
    for (size_t i = m_devices.size(); i-- > 0;)
        if (!m_devices[i]->camera.valid)
            RemoveDevice(i);
    for (CameraDevice* device : m_devices)
        device->camera.valid = false;
    for (CameraDriver* driver : m_drivers)
        driver->DetectCameras();
    for (size_t i = m_devices.size(); i-- > 0;)
        if (!m_devices[i]->camera.valid)
            RemoveDevice(i);
    for (size_t i = 0; i < m_devices.size(); ++i)
        m_devices[i]->camera.id.index = uint32_t(i);
    if (m_autoConnect)
        for (size_t i = 0; i < m_devices.size(); ++i)
            m_devices[i]->Connect();
    BroadcastStatus();
    BroadcastCamerasDetected();
}

bool CameraProcessor::FindDevice(const cameraid_t& id, CameraDevice*& out) const {
    if (id.number < 0 || id.index >= m_devices.size() ||
        m_devices[id.index]->camera.id.number != id.number)
        return false;
    out = m_devices[id.index];
    return true;
}

bool CameraProcessor::FindPhoto(const photoid_t& id, CameraPhoto*& out) const {
    if (id < 0 || size_t(id) >= m_photos.size())
        return false;
    out = m_photos[size_t(id)];
    return true;
}

bool CameraProcessor::HasNativeSupport(const string_t& make, const string_t& model) const {
    std::string upper_make(make.text, make.length), upper_model(model.text, model.length);
    for (char& c : upper_make)
        c = char(toupper(static_cast<unsigned char>(c)));
    for (char& c : upper_model)
        c = char(toupper(static_cast<unsigned char>(c)));
    string_t m = string_make(upper_make.c_str()), n = string_make(upper_model.c_str());
    for (CameraDriver* driver : m_drivers)
        if (driver->HasNativeSupport(m, n))
            return true;
    return false;
}

void CameraProcessor::SetAllBatchNums(int32_t batchNum) {
    for (CameraDevice* device : m_devices)
        device->camera.batchNum = batchNum;
}

void CameraProcessor::ApplyStoredName(CameraDevice* device) {
    if (device->camera.serial.length == 0)
        return;
    camera_serial_entry_t* entry = hashtable_find(m_cameraNames, device->camera.serial);
    if (entry != nullptr)
        stringid_resolve(device->camera.name, entry->name.view);
}

void CameraProcessor::StoreName(const stringid_t& serial, const char* name) {
    camera_serial_entry_t* entry = hashtable_find(m_cameraNames, serial);
    if (entry != nullptr) {
        stringbuffer_set(entry->name, string_make(name));
        return;
    }
    camera_serial_entry_t fresh;
    fresh.serial = serial;
    stringid_add_reference(fresh.serial);
    stringbuffer_initialise(fresh.name);
    stringbuffer_set(fresh.name, string_make(name));
    if (!hashtable_insert(m_cameraNames, fresh)) {
        stringid_remove_reference(fresh.serial);
        stringbuffer_release(fresh.name);
    }
}

void CameraProcessor::SetPattern(const char* pattern) {
    camera_pattern_free(m_pattern);
    m_pattern = nullptr;
    if (pattern == nullptr || pattern[0] == 0)
        return;
    int error = 0;
    m_pattern = camera_pattern_compile(pattern, error);
    if (m_pattern == nullptr) {
        log_writef(LEVEL_Warning, log_camera, "Failed to compile filename validation (%d): %s",
                   error, pattern);
        stringbuffer_clear(m_filenameValidation);
    }
}

void CameraProcessor::ReceiveRequest(const Message& request) {
    int kind = 0;
    cameratracker_t* tracker =
        request.GetInt(FIELD_Request, kind) ? cameratracker_create(*this, request) : nullptr;
    if (tracker == nullptr) {
        NotifyUnknownRequest(request.GetHeader());
    } else {
        log_writef(LEVEL_Info, log_camera, "Processing camera request %d: %s", m_requestCount++,
                   camera_request_name(kind));
        cameratracker_handle(tracker, request);
    }
    thread_yield();
    ProcessorUpdate();
}

template <typename F>
bool CameraProcessor::FanOut(cameratracker_t* tracker, const Message& request, bool all_devices,
                             F call) {
    CameraDevice* first = tracker->device;
    if (first == nullptr)
        return false;
    cameratracker_add_reference(tracker);
    call(first);
    bool all = false;
    request.GetBool(FIELD_AllCameras, all);
    if (!all)
        return true;
    // A device list snapshot: the calls never add or remove devices, but stay safe if
    // one reports synchronously.
    std::vector<CameraDevice*> others(m_devices.begin(), m_devices.end());
    for (CameraDevice* device : others) {
        if (device == first || (!all_devices && !device->camera.connected))
            continue;
        cameratracker_add_reference(tracker);
        call(device);
    }
    return true;
}

bool CameraProcessor::HandleConnect(cameratracker_t* tracker, const Message& request,
                                    bool connect) {
    BroadcastInformation(string_make(connect ? "Connecting camera..." : "Disconnecting camera..."));
    if (connect)
        return FanOut(tracker, request, true, [&](CameraDevice* d) { d->Connect(tracker); });
    return FanOut(tracker, request, true, [&](CameraDevice* d) { d->Disconnect(tracker); });
}

namespace {

float read_bulb_time(const Message& request) {
    float bulb = 0.0f;
    request.GetFloat(FIELD_BulbTime, bulb);
    return bulb;
}

void read_origin(const Message& request, cameratracker_t* tracker) {
    const char* origin = nullptr;
    if (request.GetString(FIELD_Origin, origin))
        stringid_resolve(tracker->origin, string_make(origin));
}

bool read_on_off(const Message& request, int field) {
    bool on = false;
    request.GetBool(field, on);
    return on;
}

} // namespace

bool CameraProcessor::HandleTakePhoto(cameratracker_t* tracker, const Message& request) {
    BroadcastInformation(string_make("Taking photo..."));
    if (tracker->device == nullptr)
        return false;
    float bulb = read_bulb_time(request);
    read_origin(request, tracker);
    return FanOut(tracker, request, false, [&](CameraDevice* d) { d->TakePhoto(tracker, bulb); });
}

bool CameraProcessor::HandleReshoot(cameratracker_t* tracker, const Message& request) {
    BroadcastInformation(string_make("Reshooting photo..."));
    CameraDevice* owner = nullptr;
    if (tracker->photo == nullptr || !FindDevice(tracker->photo->photo.owner, owner))
        return false;
    tracker->device = owner;
    tracker->device_id = owner->camera.id;
    float bulb = read_bulb_time(request);
    read_origin(request, tracker);
    cameratracker_add_reference(tracker);
    owner->TakePhoto(tracker, bulb);
    return true;
}

bool CameraProcessor::HandleDownload(cameratracker_t* tracker) {
    BroadcastPhotoDownloading(nullptr);
    CameraPhoto* photo = tracker->photo;
    if (photo == nullptr || photo->photo.deleted || photo->photo.orphaned)
        return false;
    if (photo->photo.downloaded)
        return true;
    CameraDevice* owner = nullptr;
    if (!FindDevice(photo->photo.owner, owner))
        return false;
    tracker->device = owner;
    tracker->device_id = owner->camera.id;
    cameratracker_add_reference(tracker);
    owner->Download(tracker, photo);
    return true;
}

bool CameraProcessor::HandleDownloadAll() {
    BroadcastInformation(string_make("Downloading all photos..."));
    for (CameraPhoto* photo : m_photos)
        if (!photo->photo.downloaded && !photo->photo.orphaned && !photo->photo.deleted)
            m_pendingDownloads.push_back(photo);
    return true;
}

bool CameraProcessor::HandleRename(cameratracker_t* tracker, const Message& request) {
    const char* name = nullptr;
    if (tracker->photo == nullptr || !request.GetString(FIELD_PhotoName, name))
        return false;
    // A rejected name leaves the photo as it was.
    if (!ValidateFilename(name))
        return false;
    return tracker->photo->Rename(string_make(name));
}

bool CameraProcessor::HandleDelete(cameratracker_t* tracker) {
    if (tracker->photo == nullptr)
        return false;
    return tracker->photo->Delete();
}

bool CameraProcessor::HandleLiveViewRecord(const Message& request) {
    bool record = false;
    if (request.GetBool(FIELD_LiveViewRecord, record))
        m_liveViewRecord = record;
    if (m_liveViewRecord && m_liveViewPath.path.view.length > 0 &&
        !path_exists(m_liveViewPath.path.view))
        path_create(m_liveViewPath.path.view);
    return true;
}

bool CameraProcessor::HandleSetProperty(cameratracker_t* tracker, const Message& request) {
    uint32_t type = 0, value = 0;
    CameraDevice* device = tracker->device;
    if (device == nullptr ||
        !camera_read_element(request, FIELD_PropertyType, sizeof(uint32_t), &type) ||
        !camera_read_element(request, FIELD_PropertyValue, sizeof(uint32_t), &value))
        return false;
    const CameraProperty::Type property = CameraProperty::Type(type);
    // The value is an index into the addressed camera's own list.
    if (!CameraSettings::IsValid(property) || device->settings == nullptr ||
        value >= device->settings->GetRange(property).names.size()) {
        log_writef(LEVEL_Warning, log_camera, "SetProperty refused: property %u value %u", type,
                   value);
        return false;
    }
    const stringid_t text = device->settings->GetRange(property).names[value];
    cameratracker_add_reference(tracker);
    device->SetProperty(tracker, property, value);
    bool all = false;
    request.GetBool(FIELD_AllCameras, all);
    if (!all)
        return true;
    bool ok = true;
    std::vector<CameraDevice*> others(m_devices.begin(), m_devices.end());
    for (CameraDevice* other : others) {
        if (other == device || !other->camera.connected || other->settings == nullptr)
            continue;
        const std::vector<stringid_t>& names = other->settings->GetRange(property).names;
        auto match = std::find(names.begin(), names.end(), text);
        if (names.empty() || match == names.end()) {
            ok = false;
            continue;
        }
        cameratracker_add_reference(tracker);
        other->SetProperty(tracker, property, static_cast<unsigned long>(match - names.begin()));
    }
    return ok;
}

bool CameraProcessor::HandleSetName(cameratracker_t* tracker, const Message& request) {
    const char* name = nullptr;
    const char* serial = nullptr;
    if (!request.GetString(FIELD_CameraName, name) ||
        !request.GetString(FIELD_CameraSerial, serial))
        return false;
    if (tracker->device != nullptr)
        stringid_resolve(tracker->device->camera.name, string_make(name));
    stringid_t id;
    stringid_resolve(id, string_make(serial));
    if (id.length > 0)
        StoreName(id, name);
    stringid_remove_reference(id);
    return true;
}

bool CameraProcessor::HandleSetOptions(const Message& request) {
    int number = 0;
    bool flag = false;
    const char* text = nullptr;
    if (request.GetInt(FIELD_SequenceNum, number))
        m_sequenceNum = number;
    if (request.GetInt(FIELD_LiveViewLimit, number))
        m_liveViewDataLimit = number;
    if (request.GetBool(FIELD_GenerateFilename, flag))
        m_generateFilename = flag;
    if (request.GetBool(FIELD_AutoConnect, flag))
        m_autoConnect = flag;
    if (request.GetBool(FIELD_ScanSequenceNum, flag))
        m_scanSequenceNum = flag;
    if (request.GetBool(FIELD_ScanBatchNum, flag))
        m_scanBatchNum = flag;
    if (request.GetInt(FIELD_BatchNum, number)) {
        m_batchNum = number;
        SetAllBatchNums(number);
    }
    if (request.GetString(FIELD_DownloadPath, text)) {
        pathname_t previous;
        pathname_initialise(previous);
        pathname_set(previous, m_downloadPath);
        if (text[0] == 0)
            pathname_release(m_downloadPath);
        else
            pathname_set(m_downloadPath, string_make(text));
        // Only another folder is scanned afresh; the same options sent again are not.
        if (!string_equal(previous.path.view, m_downloadPath.path.view))
            m_downloadFolderScanned = false;
        pathname_release(previous);
    }
    if (request.GetString(FIELD_LiveViewPath, text)) {
        if (text[0] == 0)
            pathname_release(m_liveViewPath);
        else
            pathname_set(m_liveViewPath, string_make(text));
    }
    if (request.GetString(FIELD_FilenameExpression, text))
        stringbuffer_set(m_filenameExpression, string_make(text));
    if (request.GetString(FIELD_FilenameValidation, text)) {
        stringbuffer_set(m_filenameValidation, string_make(text));
        SetPattern(m_filenameValidation.view.text);
    }
    if (request.GetString(FIELD_ApplicationName, text))
        stringbuffer_set(m_applicationName, string_make(text));
    if (request.GetString(FIELD_UniqueTag, text))
        stringbuffer_set(m_uniqueTag, string_make(text));
    if (request.GetString(FIELD_DefaultStorage, text))
        stringbuffer_set(m_defaultStorage, string_make(text));
    return true;
}

bool CameraProcessor::HandleRollback(cameratracker_t* tracker) {
    BroadcastInformation(string_make("Rolling back photos..."));
    CameraPhoto* photo = tracker->photo;
    if (photo == nullptr)
        return false;
    // A photo that was never named carries -1: numbering never goes below 1.
    int32_t sequence = std::max(1, photo->photo.sequenceNum);
    int32_t batch = std::max(1, photo->photo.batchNum);
    log_writef(LEVEL_Info, log_camera, "Photo sequence number reset from %d to: %d", m_sequenceNum,
               sequence);
    log_writef(LEVEL_Info, log_camera, "Photo batch number reset from %d to: %d", m_batchNum,
               batch);
    m_sequenceNum = sequence;
    m_batchNum = batch;
    SetAllBatchNums(batch);
    for (size_t i = size_t(photo->photo.id); i < m_photos.size(); ++i)
        m_photos[i]->Delete();
    return true;
}

bool CameraProcessor::Handle(cameratracker_t* tracker, const Message& request) {
    switch (tracker->kind) {
    case REQUEST_Synchronise:
        BroadcastInformation(string_make("Synchronising status..."));
        BroadcastStatus();
        BroadcastInformation(string_make("Synchronised"));
        return true;
    case REQUEST_DetectCameras: DetectCameras(); return true;
    case REQUEST_Connect: return HandleConnect(tracker, request, true);
    case REQUEST_Disconnect: return HandleConnect(tracker, request, false);
    case REQUEST_TakePhoto: return HandleTakePhoto(tracker, request);
    case REQUEST_Reshoot: return HandleReshoot(tracker, request);
    case REQUEST_AutoFocus:
        BroadcastInformation(string_make("Focusing..."));
        return FanOut(tracker, request, false, [&](CameraDevice* d) { d->AutoFocus(tracker); });
    case REQUEST_Download: return HandleDownload(tracker);
    case REQUEST_DownloadAll: return HandleDownloadAll();
    case REQUEST_Rename: return HandleRename(tracker, request);
    case REQUEST_Delete: return HandleDelete(tracker);
    case REQUEST_EnableLiveView: {
        bool on = read_on_off(request, FIELD_LiveView);
        return FanOut(tracker, request, false,
                      [&](CameraDevice* d) { d->EnableLiveView(tracker, on); });
    }
    case REQUEST_LiveViewZoom: {
        bool on = read_on_off(request, FIELD_LiveViewZoom);
        return FanOut(tracker, request, false,
                      [&](CameraDevice* d) { d->EnableLiveViewZoom(tracker, on); });
    }
    case REQUEST_LiveViewRecord: return HandleLiveViewRecord(request);
    case REQUEST_LiveViewFocus: {
        int step = 0;
        if (tracker->device == nullptr || !request.GetInt(FIELD_LiveViewFocus, step))
            return false;
        return FanOut(tracker, request, false,
                      [&](CameraDevice* d) { d->SetLiveViewFocus(tracker, step); });
    }
    case REQUEST_LiveViewPosition: {
        const void* data = nullptr;
        uint32_t count = 0;
        if (tracker->device == nullptr ||
            !camera_read_elements(request, FIELD_LiveViewPosition, 4, data, count) || count < 2)
            return false;
        int32_t position[2];
        memcpy(position, data, sizeof(position));
        return FanOut(tracker, request, false, [&](CameraDevice* d) {
            d->SetLiveViewPosition(tracker, position[0], position[1]);
        });
    }
    case REQUEST_EnableDof: {
        bool on = read_on_off(request, FIELD_Dof);
        return FanOut(tracker, request, false, [&](CameraDevice* d) { d->EnableDof(tracker, on); });
    }
    case REQUEST_EnableVideo: {
        bool on = read_on_off(request, FIELD_Video);
        BroadcastInformation(
            string_make(on ? "Starting video recording..." : "Stopping video recording..."));
        return FanOut(tracker, request, false,
                      [&](CameraDevice* d) { d->EnableVideo(tracker, on); });
    }
    case REQUEST_SetProperty: return HandleSetProperty(tracker, request);
    case REQUEST_SetName: return HandleSetName(tracker, request);
    case REQUEST_SetOptions: return HandleSetOptions(request);
    case REQUEST_SetSequenceNum: {
        int number = 0;
        if (request.GetInt(FIELD_SequenceNum, number))
            m_sequenceNum = number;
        return true;
    }
    case REQUEST_SetBatchNum: {
        int number = 0;
        if (request.GetInt(FIELD_BatchNum, number))
            m_batchNum = number;
        SetAllBatchNums(m_batchNum);
        return true;
    }
    case REQUEST_Rollback: return HandleRollback(tracker);
    default: return false;
    }
}

} // namespace velk
