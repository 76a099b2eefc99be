// The driver model: a CameraDriver finds cameras of one family and creates a
// CameraDevice for each; a device carries out camera operations and produces
// CameraPhoto objects; each device owns a CameraSettings store with the eleven camera
// properties. Everything here lives on the "CAMERA" thread.
#pragma once

#include <cstdint>
#include <vector>

#include "velk/camera/camera_protocol.h"
#include "velk/core/memorybuffer.h"
#include "velk/core/stringbuffer.h"

namespace velk {

class CameraProcessor;
class CameraDevice;
struct cameratracker_t;

class CameraDriver {
  public:
    // `name` becomes the make of every device the driver creates.
    CameraDriver(CameraProcessor* processor, const char* name);
    virtual ~CameraDriver();
    CameraDriver(const CameraDriver&) = delete;
    CameraDriver& operator=(const CameraDriver&) = delete;

    // Prepares the driver; false makes the processor's initialisation fail.
    virtual bool Initialise() = 0;
    // Undoes Initialise; called once before the driver is destroyed.
    virtual void Release() = 0;
    // Periodic work, after every device's update.
    virtual void Update() = 0;
    // Creates a device for every attached camera and hands each to AddDevice.
    virtual void DetectCameras() = 0;
    // Whether this driver drives the camera (make and model in upper case).
    virtual bool HasNativeSupport(const string_t& make, const string_t& model) = 0;

    CameraProcessor* GetProcessor() const { return processor; }
    void SetProcessor(CameraProcessor* owner) { processor = owner; }

    stringid_t name;
    CameraProcessor* processor;
};

// One per property type.
struct property_range_t {
    std::vector<unsigned long> values; // the driver's native value per entry
    std::vector<stringid_t> names;     // the display text per entry (one reference each)
};

// The (version, rangeVersion) pair last broadcast; all ones when nothing was.
struct property_version_t {
    uint32_t version = 0xffffffffu;
    uint32_t rangeVersion = 0xffffffffu;
};

class CameraSettings {
  public:
    CameraSettings();
    virtual ~CameraSettings();
    CameraSettings(const CameraSettings&) = delete;
    CameraSettings& operator=(const CameraSettings&) = delete;

    // Every record zero, every list empty, every broadcast pair all ones (so that the
    // next broadcast sends everything).
    void ClearAll();
    static bool IsValid(CameraProperty::Type type) { return type < CameraProperty::Count; }

    // The callers check the type with IsValid first.
    property_value_t& GetProperty(CameraProperty::Type type) { return properties[type]; }
    const property_value_t& GetProperty(CameraProperty::Type type) const {
        return properties[type];
    }
    property_range_t& GetRange(CameraProperty::Type type) { return ranges[type]; }
    const property_range_t& GetRange(CameraProperty::Type type) const { return ranges[type]; }
    property_version_t& GetVersion(CameraProperty::Type type) { return broadcast[type]; }
    const property_version_t& GetVersion(CameraProperty::Type type) const {
        return broadcast[type];
    }
    CameraDevice* GetDevice() const { return device; }
    void SetDevice(CameraDevice& owner) { device = &owner; }

    // Appends an entry to a property's list (taking a reference to the interned text).
    void AddValue(CameraProperty::Type type, const char* name, unsigned long value);
    // The display text of the current value, or the empty view.
    string_t GetValueName(CameraProperty::Type type) const;

    CameraDevice* device = nullptr;
    property_value_t properties[CameraProperty::Count];
    property_range_t ranges[CameraProperty::Count];
    property_version_t broadcast[CameraProperty::Count];
};

class CameraPhoto;

class CameraDevice {
  public:
    // Takes ownership of the settings. The record starts as a new device's, with the
    // driver's name as make.
    CameraDevice(CameraDriver* driver, CameraSettings* settings);
    virtual ~CameraDevice();
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    // Whether the other device stands for the same physical camera.
    virtual bool IsEqual(const CameraDevice& other) const = 0;
    // Polls the camera; once per processor update.
    virtual void Update() = 0;

    // Untracked operations: the processor expects no answer.
    virtual void Connect() = 0;
    virtual void Disconnect() = 0;
    // Fetches, saves (refusing a photo whose name failed validation) and reports
    // through CameraProcessor::DownloadAttempt.
    virtual void Download(CameraPhoto* photo) = 0;
    virtual void SetProperty(CameraProperty::Type type, unsigned long value) = 0;

    // Tracked operations: the device calls cameratracker_notify exactly once for each,
    // before returning or later from Update.
    virtual void Connect(cameratracker_t* tracker) = 0;
    virtual void Disconnect(cameratracker_t* tracker) = 0;
    virtual void TakePhoto(cameratracker_t* tracker, float bulbTime) = 0;
    virtual void AutoFocus(cameratracker_t* tracker) = 0;
    // Reports only by notifying; the tracker's completion calls DownloadAttempt.
    virtual void Download(cameratracker_t* tracker, CameraPhoto* photo) = 0;
    virtual void EnableLiveView(cameratracker_t* tracker, bool on) = 0;
    virtual void EnableLiveViewZoom(cameratracker_t* tracker, bool on) = 0;
    virtual void SetLiveViewFocus(cameratracker_t* tracker, int step) = 0;
    virtual void SetLiveViewPosition(cameratracker_t* tracker, int x, int y) = 0;
    virtual void EnableDof(cameratracker_t* tracker, bool on) = 0;
    virtual void EnableVideo(cameratracker_t* tracker, bool on) = 0;
    virtual void SetProperty(cameratracker_t* tracker, CameraProperty::Type type,
                             unsigned long value) = 0;

    CameraProcessor* GetProcessor() const;

    camera_t camera;
    CameraDriver* driver;
    CameraSettings* settings;
    // The tracker of an operation started and not yet finished; null when idle. A
    // device removed while it holds one has it answered (false) by the processor.
    cameratracker_t* pendingTracker = nullptr;
};

class CameraPhoto {
  public:
    // id -1; owner = the device's id; origin = the tracker's origin, or "manual"
    // without a tracker; valid and filenameValid set.
    CameraPhoto(CameraDevice* device, const cameratracker_t* tracker);
    virtual ~CameraPhoto();
    CameraPhoto(const CameraPhoto&) = delete;
    CameraPhoto& operator=(const CameraPhoto&) = delete;

    // Prepares the photo for a new capture by `device`. The saved file is kept until the
    // new one is safely saved (Save then replaces it).
    void Reshoot(CameraDevice* device, const cameratracker_t* tracker);
    // Writes the photo under the download folder without ever overwriting another file;
    // true when the whole file is on disk.
    bool Save(const void* data, unsigned long size);
    bool Save(const memorybuffer_t& buffer) { return Save(buffer.data, buffer.length); }
    // Renames the photo (and its saved file, never replacing another). False, with the
    // photo unchanged, for a deleted photo, an unusable name or a failed move.
    bool Rename(const string_t& name);
    // Marks the photo deleted and deletes its saved file (once); true.
    bool Delete();

    photo_t photo;
    CameraDevice* device;
    CameraDriver* driver;
    // The file a reshoot is replacing (its path and identity); removed once the new file
    // is saved.
    stringbuffer_t replacedFile;
    uint64_t replacedDevice = 0;
    uint64_t replacedInode = 0;

  private:
    // True when `path` is still the very file the reshoot is replacing.
    bool IsReplacedFile(const string_t& path) const;
};

} // namespace velk
