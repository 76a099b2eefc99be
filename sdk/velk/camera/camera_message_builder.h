// Building camera requests on the client side: one request message at a time, from the
// client's state (active camera and photo, origin text, all-cameras mode).
#pragma once

#include "velk/camera/camera_protocol.h"
#include "velk/core/path.h"
#include "velk/message/message.h"

namespace velk {

class CameraDataSurface;
class MessageProcessor;

class CameraMessageBuilder {
  public:
    CameraMessageBuilder(MessageEncoder* encoder, const photoid_t& photo, const cameraid_t& camera,
                         const stringid_t& origin, bool allCameras);
    // From a surface: its active photo and camera, its name and its all-cameras mode.
    CameraMessageBuilder(MessageEncoder* encoder, const CameraDataSurface& surface);

    // Each returns the finished request, or an empty message when the encoder cannot grow.
    Message Synchronise();
    Message DetectCameras();
    Message Connect();
    Message Disconnect();
    Message TakePhoto(float bulbTime);
    Message MultiShot();
    Message Reshoot(float bulbTime);
    Message AutoFocus();
    Message Download();
    Message DownloadAll();
    Message Rename(const string_t& name);
    Message Delete();
    Message EnableLiveView(bool on);
    Message EnableLiveViewZoom(bool on);
    Message EnableLiveViewRecord(bool on);
    Message FocusLiveView(int step);
    Message PositionLiveView(int x, int y);
    Message EnableDof(bool on);
    Message EnableVideo(bool on);
    Message SetProperty(CameraProperty::Type type, unsigned long value);
    Message SetName(const stringid_t& serial, const string_t& name);
    Message SetOptions(const pathname_t& downloadPath, const pathname_t& liveViewPath,
                       int liveViewLimit, const string_t& expression, const string_t& validation,
                       const string_t& applicationName, const string_t& uniqueTag,
                       bool generateFilename, bool autoConnect, bool scanSequenceNum,
                       bool scanBatchNum, const string_t& defaultStorage);
    Message SetSequenceNum(int sequenceNum);
    Message SetBatchNum(int batchNum);
    Message Rollback();

  protected:
    bool Begin(int kind);
    bool AddCamera();
    bool AddPhoto();
    bool AddAll();
    Message Finish(bool ok);

    MessageEncoder* m_encoder;
    photoid_t m_photo;
    cameraid_t m_camera;
    stringid_t m_origin; // not referenced: the caller keeps it alive while building
    bool m_allCameras;
};

// A builder that also sends: to the camera processor location the surface recorded.
class CameraMessageSender : public CameraMessageBuilder {
  public:
    CameraMessageSender(MessageProcessor* sender, const CameraDataSurface& surface);
    // Sends field 0 = DetectCameras; false when it could not be sent.
    bool DetectCameras();
    // Sends a request built above; false when it is empty or could not be sent.
    bool Send(Message message);

  private:
    MessageProcessor* m_sender;
    uint16_t m_destination;
};

} // namespace velk
