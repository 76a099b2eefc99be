// The "Fennick" script command.
#include "velk/tcl/camera_command.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "velk/camera/camera_message_builder.h"
#include "velk/core/datetime.h"
#include "velk/core/thread.h"
#include "velk/message/distributor.h"
#include "velk/message/message_queue.h"

namespace velk {
namespace {

constexpr uint64_t FinalPauseMicroseconds = 33000;

struct subcommand_t {
    const char* name;
    CameraCommand::handler_t handler;
    bool always; // the handler's own result is ignored
};

const subcommand_t subcommands[] = {
    {"TakePhoto", &CameraCommand::HandleTakePhoto, true},
    {"MultiShot", &CameraCommand::HandleMultiShot, true},
    {"MoveFocus", &CameraCommand::HandleMoveFocus, false},
    {"AutoFocus", &CameraCommand::HandleAutoFocus, true},
    {"BulbExposure", &CameraCommand::HandleBulbExposure, true},
    {"Set", &CameraCommand::HandleSet, false},
    {"Get", &CameraCommand::HandleGet, false},
    {"GetList", &CameraCommand::HandleGetList, false},
    {"DetectCameras", &CameraCommand::HandleDetectCameras, true},
    {"Connect", &CameraCommand::HandleConnect, true},
    {"Disconnect", &CameraCommand::HandleDisconnect, true},
    {"Download", &CameraCommand::HandleDownload, true},
    {"DownloadAll", &CameraCommand::HandleDownloadAll, true},
    {"RenamePhoto", &CameraCommand::HandleRenamePhoto, true},
    {"DeletePhoto", &CameraCommand::HandleDeletePhoto, true},
    {"EnableLiveView", &CameraCommand::HandleEnableLiveView, true},
    {"DisableLiveView", &CameraCommand::HandleDisableLiveView, true},
    {"EnableVideo", &CameraCommand::HandleEnableVideo, true},
    {"DisableVideo", &CameraCommand::HandleDisableVideo, true},
    {"EnableLiveViewRecording", &CameraCommand::HandleEnableLiveViewRecording, true},
    {"DisableLiveViewRecording", &CameraCommand::HandleDisableLiveViewRecording, true},
    {"EnableMultiMode", &CameraCommand::HandleEnableMultiMode, true},
    {"DisableMultiMode", &CameraCommand::HandleDisableMultiMode, true},
    {"GetNumPhotos", &CameraCommand::HandleGetNumPhotos, true},
    {"GetNumCameras", &CameraCommand::HandleGetNumCameras, true},
    {"SetActivePhoto", &CameraCommand::HandleSetActivePhoto, false},
    {"SetActiveCamera", &CameraCommand::HandleSetActiveCamera, false},
    {"GetActivePhoto", &CameraCommand::HandleGetActivePhoto, true},
    {"GetActiveCamera", &CameraCommand::HandleGetActiveCamera, true},
    {"GetPhotoName", &CameraCommand::HandleGetPhotoName, true},
    {"GetCameraName", &CameraCommand::HandleGetCameraName, true},
    {"GetCameraMake", &CameraCommand::HandleGetCameraMake, true},
    {"GetPhotoDetails", &CameraCommand::HandleGetPhotoDetails, true},
    {"GetCameraDetails", &CameraCommand::HandleGetCameraDetails, true},
    {"CheckStatus", &CameraCommand::HandleCheckStatus, true},
    {"Wait", &CameraCommand::HandleWait, false},
    {"WaitUntil", &CameraCommand::HandleWaitUntil, false},
};

// A whole decimal integer (optional sign); false for anything else.
bool parse_long(const char* text, long& out) {
    if (text == nullptr || text[0] == 0)
        return false;
    const char* end = text + strlen(text);
    auto result = std::from_chars(text[0] == '+' ? text + 1 : text, end, out);
    return result.ec == std::errc() && result.ptr == end;
}

// A whole unsigned decimal integer; false for a sign, anything else or overflow.
bool parse_unsigned(const char* text, uint64_t& out) {
    if (text == nullptr || text[0] < '0' || text[0] > '9')
        return false;
    const char* end = text + strlen(text);
    auto result = std::from_chars(text, end, out);
    return result.ec == std::errc() && result.ptr == end;
}

// A decimal number, read the same whatever the locale; false for anything else.
bool parse_float(const char* text, float& out) {
    if (text == nullptr || text[0] == 0)
        return false;
    const char* end = text + strlen(text);
    auto result = std::from_chars(text[0] == '+' ? text + 1 : text, end, out);
    return result.ec == std::errc() && result.ptr == end;
}

// One quoted element of a key list: backslashes and quotes escaped, so that the list
// reads back as the value it was made from.
void append_element(std::string& list, const char* value) {
    if (!list.empty())
        list += ' ';
    list += '"';
    for (const char* c = value; *c != 0; ++c) {
        if (*c == '"' || *c == '\\' || *c == '[' || *c == '$')
            list += '\\';
        list += *c;
    }
    list += '"';
}

void append_pair(std::string& list, const char* key, const char* value) {
    append_element(list, key);
    append_element(list, value[0] != 0 ? value : "unknown");
}

void append_pair(std::string& list, const char* key, long value) {
    append_element(list, key);
    append_element(list, std::to_string(value).c_str());
}

void append_flag(std::string& list, const char* key, bool value) {
    append_element(list, key);
    append_element(list, value ? "1" : "0");
}

// The position argument of SetActivePhoto and SetActiveCamera: exactly one word, read as
// a decimal integer, anything else counting as 0. False for a wrong number of words.
bool read_position(int argc, const char** argv, long& position) {
    if (argc != 3)
        return false;
    if (!parse_long(argv[2], position))
        position = 0;
    return true;
}

bool photo_valid(const photo_t& photo) { return photo.id >= 0 && photo.valid; }
bool camera_valid(const camera_t& camera) { return camera.id.number >= 0 && camera.valid; }

} // namespace

CameraCommand::CameraCommand()
    : TclCommand("Fennick"), MessageProcessor("velk::CameraCommand", true),
      surface(string_make("script")) {}

CameraCommand::~CameraCommand() { Detach(); }

void CameraCommand::Detach() {
    if (surface.GetQueue() != nullptr)
        surface.GetQueue()->Unregister(&surface);
    if (GetQueue() != nullptr)
        GetQueue()->Unregister(this);
}

void CameraCommand::ReceiveResponse(const Message& message) {
    success = false;
    bool flag = false;
    if (message.GetBool(FIELD_Success, flag))
        success = flag;
}

bool CameraCommand::Running() const {
    return Distributor::IsActive() && (currentScript == nullptr || currentScript->IsActive());
}

void CameraCommand::Pause() { thread_sleep(FinalPauseMicroseconds, TIMER_Microseconds); }

void CameraCommand::Step() {
    // A short sleep rather than a bare yield: a wait of several seconds must not keep a
    // processor busy.
    thread_sleep(1, TIMER_Milliseconds);
    Distributor::Pump();
}

bool CameraCommand::WaitUntilIdle() {
    if (!Running()) {
        Pause();
        return false;
    }
    if (surface.GetQueue() == nullptr) {
        MessageQueue* queue = Distributor::GetMessageQueue();
        if (queue == nullptr || !queue->Register(&surface)) {
            log_writef(LEVEL_Error, log_camera, "Fennick command: no message queue on this thread");
            Pause();
            return false;
        }
        surface.Initialise();
        while (!surface.synchronised) {
            if (!Running()) {
                Pause();
                return false;
            }
            Step();
        }
    }
    if (GetQueue() == nullptr && !surface.GetQueue()->Register(this)) {
        Pause();
        return false;
    }
    while (GetPending(surface.processorLocation) > 0) {
        if (!Running()) {
            Pause();
            return false;
        }
        Step();
    }
    Pause();
    return true;
}

bool CameraCommand::WaitForResponse() {
    while (Running()) {
        if (GetPending(surface.processorLocation) <= 0) {
            Pause();
            return success;
        }
        Step();
    }
    Pause();
    return false;
}

const camera_t& CameraCommand::ActiveCamera() const {
    return surface.GetCamera(long(surface.activeCamera.index));
}

const photo_t& CameraCommand::ActivePhoto() const { return surface.GetPhoto(surface.activePhoto); }

bool CameraCommand::WaitForLiveViewFrame() {
    if (!Running()) {
        Pause();
        return false;
    }
    const camera_t* camera = &ActiveCamera();
    if (!camera_valid(*camera)) {
        Pause();
        return true;
    }
    const int32_t frames = camera->numLiveViewFrames;
    while (camera->numLiveViewFrames == frames && camera_valid(*camera) &&
           camera->liveViewEnabled && camera->connected) {
        if (!Running()) {
            Pause();
            return false;
        }
        Step();
        camera = &ActiveCamera(); // the list may have changed
    }
    Pause();
    return true;
}

CameraMessageBuilder CameraCommand::Builder() {
    // Until a script chooses a camera, the first one is the active one, for requests as
    // for reading: "Fennick DetectCameras; Fennick Connect" connects the first camera.
    cameraid_t camera = surface.activeCamera;
    if (camera.number < 0 && surface.GetNumCameras() > 0)
        camera = surface.GetCamera(0).id;
    return CameraMessageBuilder(MessageProcessor::GetEncoder(), surface.activePhoto, camera,
                                surface.name, surface.allCameras);
}

bool CameraCommand::Request(std::string& result, const Message& message) {
    result = "0";
    success = false;
    Message request = message;
    if (!request.IsValid() || !SendRequest(request, surface.processorLocation))
        return false; // never the outcome of an earlier request
    if (!WaitForResponse())
        return false;
    result = "1";
    return true;
}

bool CameraCommand::Process(std::string& result, int argc, const char** argv) {
    if (!WaitUntilIdle() || argc < 2)
        return false;
    const subcommand_t* found = nullptr;
    for (const subcommand_t& subcommand : subcommands)
        if (strcmp(argv[1], subcommand.name) == 0) {
            found = &subcommand;
            break;
        }
    if (found == nullptr) {
        log_writef(LEVEL_Error, log_camera, "Unknown Fennick TCL function: %s", argv[1]);
        return false;
    }
    bool handled = (this->*found->handler)(result, argc, argv);
    if (!found->always && !handled)
        return false;
    return WaitUntilIdle();
}

bool CameraCommand::HandleTakePhoto(std::string& result, int, const char**) {
    bool live_view = ActiveCamera().liveViewEnabled;
    bool ok = Request(result, Builder().TakePhoto(0.0f));
    if (ok && live_view) {
        std::string ignored;
        HandleEnableLiveView(ignored, 0, nullptr);
    }
    return ok;
}

bool CameraCommand::HandleMultiShot(std::string& result, int, const char**) {
    bool live_view = ActiveCamera().liveViewEnabled;
    bool ok = Request(result, Builder().MultiShot());
    if (ok && live_view) {
        std::string ignored;
        HandleEnableLiveView(ignored, 0, nullptr);
    }
    return ok;
}

bool CameraCommand::HandleMoveFocus(std::string& result, int argc, const char** argv) {
    long steps = 0;
    if (argc < 3 || !parse_long(argv[2], steps) || !WaitForLiveViewFrame())
        return false;
    return Request(result, Builder().FocusLiveView(int(steps)));
}

bool CameraCommand::HandleAutoFocus(std::string& result, int, const char**) {
    return Request(result, Builder().AutoFocus());
}

bool CameraCommand::HandleBulbExposure(std::string& result, int argc, const char** argv) {
    result = "0";
    float seconds = 0;
    // Nothing is sent without a duration that is a positive number.
    if (argc < 3 || !parse_float(argv[2], seconds) || !(seconds > 0) || !std::isfinite(seconds))
        return false;
    return Request(result, Builder().TakePhoto(seconds));
}

bool CameraCommand::HandleSet(std::string& result, int argc, const char** argv) {
    if (argc < 4)
        return false;
    CameraProperty::Type type = CameraProperty::GetType(argv[2]);
    if (type == CameraProperty::Unknown)
        return false;
    result = "0";
    const CameraSettings* settings = surface.GetSettings(long(surface.activeCamera.index));
    if (settings == nullptr)
        return true;
    const std::vector<stringid_t>& names = settings->GetRange(type).names;
    for (size_t i = 0; i < names.size(); ++i)
        if (strcmp(names[i].text, argv[3]) == 0)
            return Request(result, Builder().SetProperty(type, i));
    return true; // a value the camera does not list: "0", no error
}

bool CameraCommand::HandleGet(std::string& result, int argc, const char** argv) {
    if (argc < 3)
        return false;
    CameraProperty::Type type = CameraProperty::GetType(argv[2]);
    if (type == CameraProperty::Unknown)
        return false;
    result.clear();
    const CameraSettings* settings = surface.GetSettings(long(surface.activeCamera.index));
    if (settings == nullptr)
        return false;
    const uint32_t value = settings->GetProperty(type).value;
    const std::vector<stringid_t>& names = settings->GetRange(type).names;
    if (value >= names.size())
        return false;
    result = names[value].text;
    return true;
}

bool CameraCommand::HandleGetList(std::string& result, int argc, const char** argv) {
    if (argc < 3)
        return false;
    CameraProperty::Type type = CameraProperty::GetType(argv[2]);
    if (type == CameraProperty::Unknown)
        return false;
    result.clear();
    const CameraSettings* settings = surface.GetSettings(long(surface.activeCamera.index));
    if (settings != nullptr)
        for (const stringid_t& name : settings->GetRange(type).names) {
            if (strcmp(name.text, "unknown") == 0)
                continue;
            if (!result.empty())
                result += ' ';
            result += name.text;
        }
    log_writef(LEVEL_Verbose, log_camera, "TCL Fennick GetList = %s", result.c_str());
    return true;
}

bool CameraCommand::HandleDetectCameras(std::string& result, int, const char**) {
    return Request(result, Builder().DetectCameras());
}

bool CameraCommand::HandleConnect(std::string& result, int, const char**) {
    return Request(result, Builder().Connect());
}

bool CameraCommand::HandleDisconnect(std::string& result, int, const char**) {
    return Request(result, Builder().Disconnect());
}

bool CameraCommand::HandleDownload(std::string& result, int, const char**) {
    return Request(result, Builder().Download());
}

bool CameraCommand::HandleDownloadAll(std::string& result, int, const char**) {
    if (!Request(result, Builder().DownloadAll()))
        return false;
    result = "1";
    for (size_t j = 0; j < surface.GetNumPhotos(); ++j) {
        const photo_t* photo = &surface.GetPhoto(long(j));
        if (!photo_valid(*photo) || photo->downloaded)
            continue;
        const camera_t* owner = &surface.GetCamera(long(photo->owner.index));
        const int32_t failures = owner->numDownloadsFailed;
        while (Running()) {
            photo = &surface.GetPhoto(long(j));
            owner = &surface.GetCamera(long(photo->owner.index));
            // Stop waiting for a photo that will not come: deleted or orphaned, refused
            // for its name, a failed download, or its camera gone.
            if (photo->downloaded || !photo_valid(*photo) || photo->deleted || photo->orphaned ||
                !photo->filenameValid || owner->id.number != photo->owner.number ||
                !owner->connected || owner->numDownloadsFailed != failures)
                break;
            Step();
        }
        if (!surface.GetPhoto(long(j)).downloaded)
            result = "0";
        if (!Running())
            break;
    }
    return true;
}

bool CameraCommand::HandleRenamePhoto(std::string& result, int argc, const char** argv) {
    result = "0";
    if (argc < 3)
        return false;
    return Request(result, Builder().Rename(string_make(argv[2])));
}

bool CameraCommand::HandleDeletePhoto(std::string& result, int, const char**) {
    return Request(result, Builder().Delete());
}

bool CameraCommand::HandleEnableLiveView(std::string& result, int, const char**) {
    if (!Request(result, Builder().EnableLiveView(true)))
        return false;
    if (!WaitForLiveViewFrame()) {
        result = "0";
        return false;
    }
    return true;
}

bool CameraCommand::HandleDisableLiveView(std::string& result, int, const char**) {
    return Request(result, Builder().EnableLiveView(false));
}

bool CameraCommand::HandleEnableVideo(std::string& result, int, const char**) {
    return Request(result, Builder().EnableVideo(true));
}

bool CameraCommand::HandleDisableVideo(std::string& result, int, const char**) {
    return Request(result, Builder().EnableVideo(false));
}

bool CameraCommand::HandleEnableLiveViewRecording(std::string& result, int, const char**) {
    return Request(result, Builder().EnableLiveViewRecord(true));
}

bool CameraCommand::HandleDisableLiveViewRecording(std::string& result, int, const char**) {
    return Request(result, Builder().EnableLiveViewRecord(false));
}

bool CameraCommand::HandleEnableMultiMode(std::string& result, int, const char**) {
    surface.allCameras = true;
    result = "1";
    return true;
}

bool CameraCommand::HandleDisableMultiMode(std::string& result, int, const char**) {
    surface.allCameras = false;
    result = "1";
    return true;
}

bool CameraCommand::HandleGetNumPhotos(std::string& result, int, const char**) {
    result = std::to_string(long(surface.GetNumPhotos()));
    return true;
}

bool CameraCommand::HandleGetNumCameras(std::string& result, int, const char**) {
    result = std::to_string(long(surface.GetNumCameras()));
    return true;
}

bool CameraCommand::HandleSetActivePhoto(std::string& result, int argc, const char** argv) {
    long position = 0;
    if (!read_position(argc, argv, position))
        return false;
    surface.activePhoto = (position >= 0 && size_t(position) < surface.GetNumPhotos())
                              ? surface.GetPhoto(position).id
                              : -1;
    result = photo_valid(ActivePhoto()) ? "1" : "0";
    return true;
}

bool CameraCommand::HandleSetActiveCamera(std::string& result, int argc, const char** argv) {
    long position = 0;
    if (!read_position(argc, argv, position))
        return false;
    const bool inside = position >= 0 && size_t(position) < surface.GetNumCameras();
    surface.activeCamera = inside ? surface.GetCamera(position).id : surface.defaultCamera.id;
    // A position outside the list makes the first camera the one read from, but is no
    // valid choice of camera.
    result = inside && camera_valid(surface.GetCamera(position)) ? "1" : "0";
    return true;
}

bool CameraCommand::HandleGetActivePhoto(std::string& result, int, const char**) {
    result = photo_valid(ActivePhoto()) ? std::to_string(ActivePhoto().id) : "";
    return true;
}

bool CameraCommand::HandleGetActiveCamera(std::string& result, int, const char**) {
    const camera_t& camera = ActiveCamera();
    result = camera_valid(camera) ? std::to_string(camera.id.index) : "";
    return true;
}

bool CameraCommand::HandleGetPhotoName(std::string& result, int, const char**) {
    result = photo_valid(ActivePhoto()) ? ActivePhoto().filename.text : "";
    return true;
}

bool CameraCommand::HandleGetCameraName(std::string& result, int, const char**) {
    result = camera_valid(ActiveCamera()) ? ActiveCamera().name.text : "";
    return true;
}

bool CameraCommand::HandleGetCameraMake(std::string& result, int, const char**) {
    result = camera_valid(ActiveCamera()) ? ActiveCamera().make.text : "";
    return true;
}

bool CameraCommand::HandleGetPhotoDetails(std::string& result, int, const char**) {
    result.clear();
    const photo_t& p = ActivePhoto();
    if (!photo_valid(p))
        return true;
    append_pair(result, "Index", p.id);
    append_pair(result, "Owner", long(p.owner.index));
    append_pair(result, "Name", p.name.text);
    append_pair(result, "Filename", p.filename.text);
    append_pair(result, "Filetype", p.filetype.text);
    append_pair(result, "Filesize", long(p.size));
    append_flag(result, "IsValid", p.valid);
    append_flag(result, "IsDownloaded", p.downloaded);
    append_flag(result, "IsOrphaned", p.orphaned);
    append_flag(result, "IsDeleted", p.deleted);
    append_flag(result, "IsVideo", p.video);
    append_flag(result, "IsFilenameValid", p.filenameValid);
    append_pair(result, "SequenceNum", p.sequenceNum);
    append_pair(result, "BatchNum", p.batchNum);
    append_pair(result, "Origin", p.origin.text);
    return true;
}

bool CameraCommand::HandleGetCameraDetails(std::string& result, int, const char**) {
    result.clear();
    const camera_t& c = ActiveCamera();
    if (!camera_valid(c))
        return true;
    append_pair(result, "Index", long(c.id.index));
    append_pair(result, "Name", c.name.text);
    append_pair(result, "Make", c.make.text);
    append_pair(result, "Model", c.model.text);
    append_pair(result, "Serial", c.serial.text);
    append_flag(result, "IsValid", c.valid);
    append_flag(result, "IsConnected", c.connected);
    append_flag(result, "IsBulbEnabled", c.bulbEnabled);
    append_flag(result, "IsBulbSupported", c.bulbSupported);
    append_flag(result, "IsLiveViewSupported", c.liveViewSupported);
    append_flag(result, "IsLiveViewEnabled", c.liveViewEnabled);
    append_flag(result, "IsLiveViewZoomEnabled", c.liveViewZoomEnabled);
    append_flag(result, "IsDofSupported", c.dofSupported);
    append_flag(result, "IsDofEnabled", c.dofEnabled);
    append_flag(result, "IsVideoSupported", c.videoSupported);
    append_flag(result, "IsVideoEnabled", c.videoEnabled);
    append_flag(result, "IsAutoFocusSupported", c.autoFocusSupported);
    char battery[32];
    auto written = std::to_chars(battery, battery + sizeof(battery) - 1, double(c.batteryLevel),
                                 std::chars_format::fixed, 6);
    *written.ptr = 0;
    append_pair(result, "BatteryLevel", battery);
    append_pair(result, "NumPhotosTaken", c.numPhotosTaken);
    append_pair(result, "NumPhotosFailed", c.numPhotosFailed);
    append_pair(result, "NumPhotosDownloaded", c.numPhotosDownloaded);
    append_pair(result, "NumDownloadsFailed", c.numDownloadsFailed);
    append_pair(result, "NumConnectionAttempts", c.numConnectionAttempts);
    append_pair(result, "NumLiveViewFrames", c.numLiveViewFrames);
    return true;
}

bool CameraCommand::HandleCheckStatus(std::string& result, int, const char**) {
    result = "1";
    return true;
}

namespace {

// The amount in microseconds from "amount [unit]"; false for a malformed amount or an
// unknown unit.
bool read_duration(int argc, const char** argv, uint64_t& microseconds) {
    if (argc != 3 && argc != 4)
        return false;
    uint64_t amount = 0;
    if (!parse_unsigned(argv[2], amount))
        return false;
    uint64_t scale = 1000000;
    if (argc == 4) {
        if (strcasecmp(argv[3], "milliseconds") == 0)
            scale = 1000;
        else if (strcasecmp(argv[3], "seconds") != 0)
            return false;
    }
    if (amount > UINT64_MAX / scale)
        return false;
    microseconds = amount * scale;
    return true;
}

uint64_t wall_clock() {
    datetime_t now;
    datetime_set_now(now);
    return now.time;
}

} // namespace

bool CameraCommand::WaitFor(uint64_t target, uint64_t (*clock)()) {
    // Long waits sleep a second at a time, the last three seconds in 10 ms steps, so
    // that a stopped script notices within a second.
    while (target > clock() && target - clock() >= 3000000) {
        thread_sleep(1000000, TIMER_Microseconds);
        if (!Running())
            return false;
    }
    while (clock() < target) {
        thread_sleep(10000, TIMER_Microseconds);
        if (!Running())
            return false;
    }
    return true;
}

bool CameraCommand::HandleWait(std::string& result, int argc, const char** argv) {
    uint64_t duration = 0;
    if (!read_duration(argc, argv, duration))
        return false;
    // A relative wait runs on the monotonic clock: a change of the system time does not
    // stretch it. WaitUntil names a time of day, so it follows the wall clock.
    uint64_t now = timer_now();
    if (!WaitFor(duration > UINT64_MAX - now ? UINT64_MAX : now + duration, timer_now))
        return false;
    result = "1";
    return true;
}

bool CameraCommand::HandleWaitUntil(std::string& result, int argc, const char** argv) {
    uint64_t target = 0;
    if (!read_duration(argc, argv, target) || !WaitFor(target, wall_clock))
        return false;
    result = "1";
    return true;
}

} // namespace velk
