// The simulated camera's devices and photos.
#include <atomic>
#include <cstring>
#include <vector>

#include "velk/camera/camera_processor.h"
#include "velk/camera/src/test/test_driver.h"
#include "velk/core/file.h"
#include "velk/core/thread.h"
#include "velk/core/timer.h"

namespace velk {

uint64_t TestDevice::AutoFocusMicroseconds = 4000000;

namespace {

// Every simulated camera ever made has its own index; captures and live view each take
// files in turn from one counter shared by all cameras.
std::atomic<int> next_test_index{0};
int capture_counter = 0;
int liveview_counter = 0;

const char* const camera_names[4] = {"M TEST Camera", "Z TEST Camera", "A TEST Camera",
                                     "B TEST Camera"};

// The image files of a folder, in name order; false when there are none.
bool list_files(const pathname_t& folder, std::vector<filename_t>& files) {
    return path_find_files(files, folder);
}

void release_files(std::vector<filename_t>& files) {
    for (filename_t& file : files)
        filename_release(file);
    files.clear();
}

// Picks the file at `counter` modulo the number of files of the folder.
bool pick_file(const pathname_t& folder, int counter, filename_t& out) {
    std::vector<filename_t> files;
    bool found = list_files(folder, files) && !files.empty();
    if (found)
        filename_set(out, files[size_t(counter) % files.size()]);
    release_files(files);
    return found;
}

// Waits, sleeping in short steps: the simulated camera's way of taking time.
void take_time(uint64_t microseconds) {
    uint64_t start = timer_now();
    while (timer_now() - start < microseconds)
        thread_sleep(1, TIMER_Milliseconds);
}

} // namespace

TestPhoto::TestPhoto(CameraDevice* owner, const cameratracker_t* tracker, const filename_t& file)
    : CameraPhoto(owner, tracker) {
    filename_initialise(source);
    SetSource(file);
    stringid_resolve(photo.name, file.name.view);
    stringid_resolve(photo.filename, file.full_name.view);
}

TestPhoto::~TestPhoto() { filename_release(source); }

void TestPhoto::SetSource(const filename_t& file) {
    filename_set(source, file);
    stringid_resolve(photo.filetype, file.extension.view);
    photo.size = uint32_t(file_num_bytes(file.full_name.view));
}

TestDevice::TestDevice(TestDriver* driver)
    : CameraDevice(driver, new TestSettings()), testIndex(next_test_index++) {
    char serial[32];
    ::snprintf(serial, sizeof(serial), "TEST_Camera_%d", testIndex);
    stringid_resolve(camera.name, string_make(camera_names[testIndex % 4]));
    stringid_resolve(camera.model, string_make("TEST Camera"));
    stringid_resolve(camera.serial, string_make(serial));
    camera.valid = true;
    camera.bulbSupported = true;
    camera.liveViewSupported = true;
    camera.autoFocusSupported = true;
    camera.reserved = true;
}

bool TestDevice::IsEqual(const CameraDevice& other) const {
    const TestDevice* test = dynamic_cast<const TestDevice*>(&other);
    return test != nullptr && test->driver == driver && test->testIndex == testIndex;
}

void TestDevice::Update() {
    if (!camera.liveViewEnabled)
        return;
    pathname_t folder;
    pathname_initialise(folder);
    filename_t frame;
    filename_initialise(frame);
    filecontents_t contents;
    filecontents_initialise(contents);
    if (test_camera_folder(folder) && pathname_append(folder, string_make("liveview")) &&
        pick_file(folder, ++liveview_counter, frame) &&
        filecontents_load(contents, frame.full_name.view)) {
        GetProcessor()->BroadcastCameraStatus(this);
        GetProcessor()->BroadcastLiveView(this, contents.data, contents.length);
    }
    filecontents_release(contents);
    filename_release(frame);
    pathname_release(folder);
}

void TestDevice::Connect() {
    if (!camera.connected)
        static_cast<TestSettings*>(settings)->SyncAll(this);
    GetProcessor()->SetConnected(true, this);
}

void TestDevice::Disconnect() {
    camera.liveViewEnabled = false;
    camera.liveViewZoomEnabled = false;
    settings->ClearAll();
    GetProcessor()->SetDisconnected(true, this);
}

void TestDevice::Download(CameraPhoto* photo) {
    GetProcessor()->DownloadAttempt(photo, InternalDownload(photo));
}

bool TestDevice::ApplyProperty(CameraProperty::Type type, unsigned long value) {
    // A value is an index into this camera's own list: anything else is refused.
    if (!CameraSettings::IsValid(type) || value >= settings->GetRange(type).names.size()) {
        log_writef(LEVEL_Warning, log_camera, "Simulated camera: no value %lu for %s", value,
                   CameraProperty::GetName(type));
        return false;
    }
    property_value_t& property = settings->GetProperty(type);
    property.value = uint32_t(value);
    ++property.version;
    if (type == CameraProperty::ShutterSpeed)
        camera.bulbEnabled = string_equal(settings->GetValueName(type), string_make("Bulb"));
    GetProcessor()->BroadcastPropertyStatus(this, true);
    return true;
}

void TestDevice::SetProperty(CameraProperty::Type type, unsigned long value) {
    ApplyProperty(type, value);
}

void TestDevice::Connect(cameratracker_t* tracker) {
    Connect();
    cameratracker_notify(tracker, true, this);
}

void TestDevice::Disconnect(cameratracker_t* tracker) {
    Disconnect();
    cameratracker_notify(tracker, true, this);
}

void TestDevice::TakePhoto(cameratracker_t* tracker, float bulbTime) {
    if (!camera.connected) {
        ++camera.numPhotosFailed;
        cameratracker_notify(tracker, false, this);
        return;
    }
    if (bulbTime > 0 &&
        string_equal(settings->GetValueName(CameraProperty::ShutterSpeed), string_make("Bulb")))
        take_time(uint64_t(double(bulbTime) * 1000.0) * 1000u);
    pathname_t folder;
    pathname_initialise(folder);
    filename_t file;
    filename_initialise(file);
    bool picked = test_camera_folder(folder) && pick_file(folder, capture_counter, file);
    if (!picked) {
        // An empty or missing capture folder fails the capture instead of dividing by a
        // count of zero.
        log_writef(LEVEL_Error, log_camera, "Simulated camera: no image files in %s",
                   folder.path.view.text);
        ++camera.numPhotosFailed;
        cameratracker_notify(tracker, false, this);
        filename_release(file);
        pathname_release(folder);
        return;
    }
    ++capture_counter;
    CameraPhoto* photo = nullptr;
    if (tracker != nullptr && tracker->kind == REQUEST_Reshoot && tracker->photo != nullptr) {
        photo = tracker->photo;
        photo->Reshoot(this, tracker);
        TestPhoto* test = dynamic_cast<TestPhoto*>(photo);
        if (test != nullptr)
            test->SetSource(file);
        GetProcessor()->ReshootPhoto(this, photo);
    } else {
        photo = new TestPhoto(this, tracker, file);
        GetProcessor()->AddPhoto(this, photo);
    }
    cameratracker_notify(tracker, true, this);
    if (!string_equal(settings->GetValueName(CameraProperty::Storage), string_make("Card")))
        Download(photo);
    filename_release(file);
    pathname_release(folder);
}

void TestDevice::AutoFocus(cameratracker_t* tracker) {
    take_time(AutoFocusMicroseconds);
    cameratracker_notify(tracker, true, this);
}

void TestDevice::Download(cameratracker_t* tracker, CameraPhoto* photo) {
    cameratracker_notify(tracker, InternalDownload(photo), this);
}

void TestDevice::EnableLiveView(cameratracker_t* tracker, bool on) {
    camera.liveViewEnabled = on;
    camera.liveViewZoomEnabled = false;
    camera.liveViewZoomWidth = 1.0f;
    camera.liveViewZoomHeight = 1.0f;
    camera.liveViewZoomX = 0;
    camera.liveViewZoomY = 0;
    cameratracker_notify(tracker, true, this);
}

void TestDevice::EnableLiveViewZoom(cameratracker_t* tracker, bool on) {
    camera.liveViewZoomEnabled = on;
    camera.liveViewZoomX = 0;
    camera.liveViewZoomY = 0;
    camera.liveViewZoomWidth = on ? 0.2f : 1.0f;
    camera.liveViewZoomHeight = on ? 0.2f : 1.0f;
    cameratracker_notify(tracker, true, this);
}

void TestDevice::SetLiveViewFocus(cameratracker_t* tracker, int) {
    cameratracker_notify(tracker, false, this);
}

void TestDevice::SetLiveViewPosition(cameratracker_t* tracker, int x, int y) {
    camera.liveViewZoomX += x;
    camera.liveViewZoomY -= y; // the camera's vertical axis points the other way
    cameratracker_notify(tracker, true, this);
}

void TestDevice::EnableDof(cameratracker_t* tracker, bool) {
    cameratracker_notify(tracker, false, this);
}

void TestDevice::EnableVideo(cameratracker_t* tracker, bool) {
    cameratracker_notify(tracker, false, this);
}

void TestDevice::SetProperty(cameratracker_t* tracker, CameraProperty::Type type,
                             unsigned long value) {
    cameratracker_notify(tracker, ApplyProperty(type, value), this);
}

bool TestDevice::InternalDownload(CameraPhoto* photo) {
    if (photo == nullptr || !photo->photo.filenameValid)
        return false;
    TestPhoto* test = dynamic_cast<TestPhoto*>(photo);
    if (test == nullptr)
        return false;
    uint64_t start = timer_now();
    filecontents_t contents;
    filecontents_initialise(contents);
    if (!filecontents_load(contents, test->source.full_name.view)) {
        log_writef(LEVEL_Error, log_camera, "Simulated camera: cannot read %s",
                   test->source.full_name.view.text);
        return false;
    }
    // The bytes go through the processor's download buffer, as a camera's would; the
    // loaded size counts, in case the file changed since the capture.
    memorybuffer_t& buffer = GetProcessor()->GetDownloadBuffer();
    unsigned char* out = nullptr;
    bool saved = false;
    if (memorybuffer_lock(buffer, contents.length, out)) {
        memcpy(out, contents.data, contents.length);
        memorybuffer_unlock(buffer, contents.length);
        photo->photo.size = contents.length;
        saved = photo->Save(buffer.data, contents.length);
    }
    double ms = double(timer_now() - start) / 1000.0;
    double mbytes = double(contents.length) / 1048576.0;
    log_writef(LEVEL_Info, log_camera,
               "Camera download complete: %.2fmbytes in %.2fms (%.2fmb/sec)", mbytes, ms,
               ms > 0 ? mbytes / (ms / 1000.0) : 0.0);
    filecontents_release(contents);
    return saved;
}

} // namespace velk
