// The "Fennick" script command: scripts drive the cameras through it, each sub-command
// synchronous from the script's point of view (it waits on the "TCL" thread for the
// camera service's answer, pumping the bus itself). It is a TclCommand and, on the
// "TCL" thread's queue, a MessageProcessor with a client data surface of its own.
#pragma once

#include <string>

#include "velk/camera/camera_data_surface.h"
#include "velk/message/message_processor.h"
#include "velk/tcl/tcl_script.h"

namespace velk {

class CameraMessageBuilder;

class CameraCommand final : public TclCommand, public MessageProcessor {
  public:
    CameraCommand();
    ~CameraCommand() override;

    bool Process(std::string& result, int argc, const char** argv) override;
    void ReceiveRequest(const Message&) override {}
    void ReceiveResponse(const Message& message) override;
    void ReceiveEvent(const Message&) override {}

    // The waits; each ends with a 33 ms pause. False when the bus stopped or the script
    // was stopped meanwhile.
    bool WaitUntilIdle();
    bool WaitForResponse();
    bool WaitForLiveViewFrame();

    // Takes the surface and the processor off their queue; call once the thread that
    // used them has stopped.
    void Detach();

    typedef bool (CameraCommand::*handler_t)(std::string& result, int argc, const char** argv);

    bool HandleTakePhoto(std::string&, int, const char**);
    bool HandleMultiShot(std::string&, int, const char**);
    bool HandleMoveFocus(std::string&, int, const char**);
    bool HandleAutoFocus(std::string&, int, const char**);
    bool HandleBulbExposure(std::string&, int, const char**);
    bool HandleSet(std::string&, int, const char**);
    bool HandleGet(std::string&, int, const char**);
    bool HandleGetList(std::string&, int, const char**);
    bool HandleDetectCameras(std::string&, int, const char**);
    bool HandleConnect(std::string&, int, const char**);
    bool HandleDisconnect(std::string&, int, const char**);
    bool HandleDownload(std::string&, int, const char**);
    bool HandleDownloadAll(std::string&, int, const char**);
    bool HandleRenamePhoto(std::string&, int, const char**);
    bool HandleDeletePhoto(std::string&, int, const char**);
    bool HandleEnableLiveView(std::string&, int, const char**);
    bool HandleDisableLiveView(std::string&, int, const char**);
    bool HandleEnableVideo(std::string&, int, const char**);
    bool HandleDisableVideo(std::string&, int, const char**);
    bool HandleEnableLiveViewRecording(std::string&, int, const char**);
    bool HandleDisableLiveViewRecording(std::string&, int, const char**);
    bool HandleEnableMultiMode(std::string&, int, const char**);
    bool HandleDisableMultiMode(std::string&, int, const char**);
    bool HandleGetNumPhotos(std::string&, int, const char**);
    bool HandleGetNumCameras(std::string&, int, const char**);
    bool HandleSetActivePhoto(std::string&, int, const char**);
    bool HandleSetActiveCamera(std::string&, int, const char**);
    bool HandleGetActivePhoto(std::string&, int, const char**);
    bool HandleGetActiveCamera(std::string&, int, const char**);
    bool HandleGetPhotoName(std::string&, int, const char**);
    bool HandleGetCameraName(std::string&, int, const char**);
    bool HandleGetCameraMake(std::string&, int, const char**);
    bool HandleGetPhotoDetails(std::string&, int, const char**);
    bool HandleGetCameraDetails(std::string&, int, const char**);
    bool HandleCheckStatus(std::string&, int, const char**);
    bool HandleWait(std::string&, int, const char**);
    bool HandleWaitUntil(std::string&, int, const char**);

    bool success = false;
    CameraDataSurface surface;

  private:
    // The bus runs and the script is active.
    bool Running() const;
    void Pause();
    // Yields and pumps once.
    void Step();
    // The standard flow: "0", send the request, wait for its response, "1" on success.
    // A request that cannot be built or sent leaves "0".
    bool Request(std::string& result, const Message& message);
    CameraMessageBuilder Builder();
    const camera_t& ActiveCamera() const;
    const photo_t& ActivePhoto() const;
    // Sleeps until the clock reaches the target; false when stopped meanwhile.
    bool WaitFor(uint64_t target_microseconds, uint64_t (*clock)());
};

} // namespace velk
