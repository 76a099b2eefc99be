// The camera service: owns the drivers, every device and every photo, answers the camera
// requests (each exactly once), names and saves photos, and broadcasts the state of
// cameras, photos and properties. Runs on the "CAMERA" message thread only.
#pragma once

#include <cstdint>
#include <list>
#include <set>
#include <vector>

#include "velk/camera/camera_driver.h"
#include "velk/camera/camera_tracker.h"
#include "velk/container/hashtable.h"
#include "velk/core/memorybuffer.h"
#include "velk/core/path.h"
#include "velk/message/message_processor.h"

namespace velk {

struct camera_pattern_t;

// The name given to a camera serial.
struct camera_serial_entry_t {
    stringid_t serial;
    stringbuffer_t name;
};

class CameraProcessor final : public MessageProcessor {
  public:
    // Set by the application before the camera thread starts.
    static bool SupportPTP;
    static bool SupportCanonEOS;
    static bool SupportNikonType1, SupportNikonType2, SupportNikonType3, SupportNikonType4,
        SupportNikonType5, SupportNikonType6, SupportNikonType7, SupportNikonType8,
        SupportNikonType9, SupportNikonD200, SupportNikonD80, SupportNikonD40;
    static uint16_t BroadcastEventId;
    static uint16_t BroadcastLiveViewId;

    // Creates a driver of a family that is built into the program, or null when that
    // family is not available in this build.
    typedef CameraDriver* (*driver_factory_t)(CameraProcessor* processor);
    static driver_factory_t CreatePTPDriver;
    static driver_factory_t CreateEOSDriver;

    CameraProcessor();
    ~CameraProcessor() override;

    // MessageProcessor.
    bool ProcessorInitialise() override;
    void ProcessorRelease() override;
    void ProcessorUpdate() override;
    void ReceiveRequest(const Message& request) override;
    void ReceiveResponse(const Message&) override {}
    void ReceiveEvent(const Message&) override {}

    // Drivers and devices.
    void AddDriver(CameraDriver* driver);
    void AddDevice(CameraDevice* device);
    void DetectCameras();
    bool FindDevice(const cameraid_t& id, CameraDevice*& out) const;
    bool FindPhoto(const photoid_t& id, CameraPhoto*& out) const;
    const std::vector<CameraDevice*>& GetDevices() const { return m_devices; }
    const std::vector<CameraPhoto*>& GetPhotos() const { return m_photos; }
    const pathname_t& GetDownloadPath() const { return m_downloadPath; }
    bool HasNativeSupport(const string_t& make, const string_t& model) const;
    memorybuffer_t& GetDownloadBuffer() { return m_downloadBuffer; }

    // Photo naming and storage.
    void AddPhoto(CameraDevice* device, CameraPhoto* photo);
    // True when no validation pattern is set or the name matches it; otherwise logs the
    // warning and returns false.
    bool ValidateFilename(const char* name);
    // The folder of a saved photo's path (download folder + name), normalised, or false
    // when it would lie outside the download folder or no download folder is set.
    bool ResolvePhotoPath(const string_t& name, stringbuffer_t& out) const;

    // Results reported by devices.
    void SetConnected(bool connected, CameraDevice* device);
    void SetDisconnected(bool disconnected, CameraDevice* device);
    void CameraDisconnected(CameraDevice* device);
    void ReshootPhoto(CameraDevice* device, CameraPhoto* photo);
    void DownloadAttempt(CameraPhoto* photo, bool saved);

    // Broadcasts.
    void BroadcastStatus();
    void BroadcastPhotoTaken(CameraPhoto* photo);
    void BroadcastPhotoDownloaded(CameraPhoto* photo);
    void BroadcastLiveView(CameraDevice* device, const void* data, unsigned long size);
    void BroadcastCameraStatus(CameraDevice* device);
    void BroadcastCameraMetrics(CameraDevice* device);
    void BroadcastPhotoStatus(CameraPhoto* photo);
    void BroadcastPropertyStatus(CameraDevice* device, bool force);
    void BroadcastInformation(const string_t& text);
    void BroadcastInformationf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void BroadcastCamerasDetected();
    void BroadcastPhotoDownloading(CameraPhoto* photo);
    void BroadcastCameraAttached();
    void BroadcastCameraDetached();
    void Broadcast(Message& event);

    // Responses.
    void Notify(Message& response, const MessageHeader& request);
    void NotifyUnknownRequest(const MessageHeader& request);

    // Used by the tracker.
    bool Handle(cameratracker_t* tracker, const Message& request);
    void Complete(cameratracker_t* tracker);
    void TrackerCreated(cameratracker_t* tracker) { m_trackers.insert(tracker); }
    void TrackerFreed(cameratracker_t* tracker) { m_trackers.erase(tracker); }

    // State, for the tests and the drivers.
    int32_t GetSequenceNum() const { return m_sequenceNum; }
    int32_t GetBatchNum() const { return m_batchNum; }
    bool IsDetectPending() const { return m_detectPending; }
    void SetDetectPending() { m_detectPending = true; }
    const stringbuffer_t& GetFilenameExpression() const { return m_filenameExpression; }
    bool IsGenerateFilename() const { return m_generateFilename; }

  private:
    // Request handlers.
    bool HandleConnect(cameratracker_t* tracker, const Message& request, bool connect);
    bool HandleTakePhoto(cameratracker_t* tracker, const Message& request);
    bool HandleReshoot(cameratracker_t* tracker, const Message& request);
    bool HandleDownload(cameratracker_t* tracker);
    bool HandleDownloadAll();
    bool HandleRename(cameratracker_t* tracker, const Message& request);
    bool HandleDelete(cameratracker_t* tracker);
    bool HandleLiveViewRecord(const Message& request);
    bool HandleSetProperty(cameratracker_t* tracker, const Message& request);
    bool HandleSetName(cameratracker_t* tracker, const Message& request);
    bool HandleSetOptions(const Message& request);
    bool HandleRollback(cameratracker_t* tracker);
    template <typename F>
    bool FanOut(cameratracker_t* tracker, const Message& request, bool all_devices, F call);

    // Devices.
    void RemoveDevice(size_t index);
    void SetAllBatchNums(int32_t batchNum);
    void ApplyStoredName(CameraDevice* device);
    void StoreName(const stringid_t& serial, const char* name);
    // The scan reset of the numbering when the download folder is found empty.
    void ScanDownloadFolder();
    void RecordLiveViewFrame(CameraDevice* device, const void* data, unsigned long size);
    void SetPattern(const char* pattern);
    void ReleaseNames();

    int32_t m_sequenceNum = 1;
    int32_t m_batchNum = 1;
    int32_t m_liveViewDataLimit = 10;
    uint64_t m_liveViewBytes = 0;
    int64_t m_downloadFolderTime = 0;
    bool m_downloadFolderScanned = false;
    int32_t m_nextCameraNumber = 0;
    bool m_generateFilename = false;
    bool m_autoConnect = false;
    bool m_scanSequenceNum = false;
    bool m_scanBatchNum = false;
    bool m_detectPending = false;
    bool m_liveViewRecord = false;
    pathname_t m_downloadPath;
    pathname_t m_liveViewPath;
    stringbuffer_t m_filenameExpression;
    stringbuffer_t m_filenameValidation;
    camera_pattern_t* m_pattern = nullptr;
    stringbuffer_t m_applicationName;
    stringbuffer_t m_uniqueTag;
    stringbuffer_t m_defaultStorage;
    std::vector<CameraPhoto*> m_photos;
    std::vector<CameraDevice*> m_devices;
    std::vector<CameraDriver*> m_drivers;
    std::list<CameraPhoto*> m_pendingDownloads;
    hashtable_t<stringid_t, camera_serial_entry_t> m_cameraNames;
    memorybuffer_t m_downloadBuffer;
    std::set<cameratracker_t*> m_trackers; // alive, so a removed device can be forgotten
    bool m_released = false;
    int m_requestCount = 0;
    int m_responseCount = 0;
};

// Builds a photo name from the file-name expression: [A] application name, [B] batch,
// [C] camera name, [D] date, [N] camera number, [S] sequence, [T] time, [U] unique tag,
// each with an optional minimum width ([S4]); then "." and the filetype; spaces become
// "_". A "/" or "\" inside a token's value becomes "_", so only the expression's own
// "/" makes subfolders.
void camera_compute_filename(stringbuffer_t& out, const string_t& expression,
                             const string_t& applicationName, const string_t& uniqueTag,
                             const string_t& cameraName, const string_t& filetype, int cameraNumber,
                             int sequenceNum, int batchNum);

// The validation pattern (a Perl-compatible regular expression through PCRE2's POSIX
// interface). camera_pattern_compile returns null and the error code on failure.
camera_pattern_t* camera_pattern_compile(const char* pattern, int& error);
bool camera_pattern_match(const camera_pattern_t* pattern, const char* text);
void camera_pattern_free(camera_pattern_t* pattern);

} // namespace velk
