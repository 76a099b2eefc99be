// The client data surface: a processor on a client's queue that mirrors the camera
// service from its broadcasts (every camera record, photo record and property), keeps
// the client's active camera and photo, and hands each event to listeners. It only
// reads messages; it sends one Synchronise request when initialised. Used on one thread.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "velk/camera/camera_driver.h"
#include "velk/camera/camera_event.h"
#include "velk/message/message_processor.h"

namespace velk {

class CameraDataSurface : public MessageProcessor {
  public:
    // Indexes beyond these are taken as damage and ignored, not grown to.
    static constexpr uint32_t MaxCameras = 1024;
    static constexpr uint32_t MaxPhotoGap = 100000;

    explicit CameraDataSurface(const string_t& name);
    ~CameraDataSurface() override;

    // Subscribes to the camera events and sends a Synchronise request. Call once the
    // surface is registered on its queue.
    bool Initialise();
    // Forgets every record; safe to call twice.
    void Release();

    void ReceiveRequest(const Message&) override {}
    void ReceiveResponse(const Message& message) override;
    void ReceiveEvent(const Message& message) override;

    void HandleCameraList(const Message& message);
    void HandlePhotoList(const Message& message);
    void HandleCameraStatus(const Message& message);
    void HandlePhotoStatus(const Message& message);
    void HandlePropertyStatus(const Message& message);

    // The entry at the index, growing the list with default records first; null for an
    // index beyond the limits above.
    camera_t* AddCamera(unsigned long index);
    photo_t* AddPhoto(unsigned long id);

    // Lookups that never grow the lists: the default record when out of range.
    const camera_t& GetCamera(long index) const;
    const photo_t& GetPhoto(long id) const;
    const CameraSettings* GetSettings(long index) const;
    const camera_t& GetActiveCamera() const;
    const photo_t& GetActivePhoto() const;
    size_t GetNumCameras() const { return cameras.size(); }
    size_t GetNumPhotos() const { return photos.size(); }

    void AddListener(void* object, camera_event_route_t route);
    void RemoveListener(void* object);
    template <typename T> void AddListener(T* object) {
        AddListener(object, &EventRouter<CameraEvent>::Route<T>);
    }

    stringid_t name;
    uint16_t processorLocation = 0;
    bool synchronised = false;
    bool allCameras = false;
    photoid_t activePhoto = -1;
    cameraid_t activeCamera;
    photo_t defaultPhoto;
    camera_t defaultCamera;
    std::vector<photo_t> photos;
    std::vector<camera_t> cameras;
    std::vector<CameraSettings*> settings;
    std::vector<std::pair<void*, camera_event_route_t>> listeners;

  private:
    void ClearCameras();
    bool released = false;
};

} // namespace velk
