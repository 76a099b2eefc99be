// The simulated camera: three cameras that answer every operation, take photos by
// serving the image files of the capture folder, and make live view from the files of
// its "liveview" subfolder. Added to the processor with AddDriver (the --simulate
// switch). Everything runs on the "CAMERA" thread.
#pragma once

#include "velk/camera/camera_driver.h"
#include "velk/core/filename.h"

namespace velk {

// The capture folder: $FENNICK_TESTCAMERA_DIR when set, else "testcamera" in the
// resource folder.
bool test_camera_folder(pathname_t& folder);

class TestDevice;

class TestSettings final : public CameraSettings {
  public:
    // Fills the eleven properties (meant to follow ClearAll): current value, valid,
    // versions moved, and the display names.
    void SyncAll(TestDevice* device);
};

class TestDriver final : public CameraDriver {
  public:
    explicit TestDriver(CameraProcessor* processor);
    bool Initialise() override { return true; }
    void Release() override {}
    void Update() override {}
    // Three new simulated cameras every pass.
    void DetectCameras() override;
    bool HasNativeSupport(const string_t&, const string_t&) override { return false; }
};

class TestPhoto final : public CameraPhoto {
  public:
    TestPhoto(CameraDevice* device, const cameratracker_t* tracker, const filename_t& source);
    ~TestPhoto() override;
    // Takes the new file as the photo's source (a reshoot).
    void SetSource(const filename_t& source);

    filename_t source;
};

class TestDevice final : public CameraDevice {
  public:
    explicit TestDevice(TestDriver* driver);

    bool IsEqual(const CameraDevice& other) const override;
    void Update() override;
    void Connect() override;
    void Disconnect() override;
    void Download(CameraPhoto* photo) override;
    void SetProperty(CameraProperty::Type type, unsigned long value) override;
    void Connect(cameratracker_t* tracker) override;
    void Disconnect(cameratracker_t* tracker) override;
    void TakePhoto(cameratracker_t* tracker, float bulbTime) override;
    void AutoFocus(cameratracker_t* tracker) override;
    void Download(cameratracker_t* tracker, CameraPhoto* photo) override;
    void EnableLiveView(cameratracker_t* tracker, bool on) override;
    void EnableLiveViewZoom(cameratracker_t* tracker, bool on) override;
    void SetLiveViewFocus(cameratracker_t* tracker, int step) override;
    void SetLiveViewPosition(cameratracker_t* tracker, int x, int y) override;
    void EnableDof(cameratracker_t* tracker, bool on) override;
    void EnableVideo(cameratracker_t* tracker, bool on) override;
    void SetProperty(cameratracker_t* tracker, CameraProperty::Type type,
                     unsigned long value) override;

    int testIndex;

    // How long the simulated auto focus takes (4 s, as a real lens hunting); tests and
    // benchmarks shorten it.
    static uint64_t AutoFocusMicroseconds;

  private:
    bool ApplyProperty(CameraProperty::Type type, unsigned long value);
    bool InternalDownload(CameraPhoto* photo);
};

} // namespace velk
