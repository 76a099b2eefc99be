// The client data surface, fed with events as the camera service sends them.
#include <gtest/gtest.h>

#include "velk/camera/camera_data_surface.h"

using namespace velk;

namespace {

class Surface : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(encoder.Initialise()); }
    void TearDown() override {
        surface.Release();
        encoder.Release();
    }
    MessageEncoder* Event(int kind) {
        encoder.Begin();
        encoder.AddField(FIELD_Event, kind);
        return &encoder;
    }
    void Deliver() { surface.ReceiveEvent(encoder.End()); }
    camera_t Camera(int number, uint32_t index, const char* name) {
        camera_t camera;
        camera_record_clear(camera);
        camera.id = cameraid_t{number, index};
        stringid_resolve(camera.name, string_make(name));
        return camera;
    }

    MessageEncoder encoder;
    CameraDataSurface surface{string_make("ui")};
};

struct Listener {
    explicit Listener(bool stop) : stop(stop) {}
    void EventNotify(const CameraEvent& event) { seen.push_back(event.type); }
    static bool Stop(void* object, const CameraEvent& event) {
        Listener* listener = static_cast<Listener*>(object);
        listener->EventNotify(event);
        return listener->stop;
    }
    bool stop;
    std::vector<int> seen;
};

} // namespace

TEST_F(Surface, CameraStatusGrowsTheListWithDefaults) {
    camera_t camera = Camera(7, 3, "Side");
    Event(BROADCAST_CameraStatus)->AddData(FIELD_Camera, &camera, CAMERA_RecordSize, 1);
    Deliver();
    ASSERT_EQ(surface.GetNumCameras(), 4u);
    EXPECT_EQ(surface.GetCamera(1).id.number, -1);
    EXPECT_STREQ(surface.GetCamera(3).name.text, "Side");
    EXPECT_EQ(stringid_reference_count(camera.name),
              3);                                  // the record's, the surface's, the dictionary's
    EXPECT_EQ(surface.GetCamera(9).id.number, -1); // lookups never grow the list
    EXPECT_EQ(surface.GetNumCameras(), 4u);

    // A status with no cameras empties the list and the settings and resets the active one.
    surface.activeCamera = camera.id;
    Event(BROADCAST_Status)->AddData(FIELD_Camera, nullptr, CAMERA_RecordSize, 0);
    Deliver();
    EXPECT_EQ(surface.GetNumCameras(), 0u);
    EXPECT_EQ(surface.activeCamera.number, -1);
    EXPECT_EQ(stringid_reference_count(camera.name), 2);
    camera_record_release(camera);
}

TEST_F(Surface, AbsurdIndexesAreIgnored) {
    camera_t camera = Camera(1, 5000000, "Far");
    Event(BROADCAST_CameraStatus)->AddData(FIELD_Camera, &camera, CAMERA_RecordSize, 1);
    Deliver();
    EXPECT_EQ(surface.GetNumCameras(), 0u);
    photo_t photo;
    photo_record_clear(photo);
    for (photoid_t id : {-5, 2000000000}) {
        photo.id = id;
        Event(BROADCAST_PhotoStatus)->AddData(FIELD_Photo, &photo, PHOTO_RecordSize, 1);
        Deliver();
    }
    EXPECT_EQ(surface.GetNumPhotos(), 0u);
    // Wrong element sizes are ignored as well.
    Event(BROADCAST_CameraStatus)->AddData(FIELD_Camera, &camera, 112, 1);
    Deliver();
    EXPECT_EQ(surface.GetNumCameras(), 0u);
    camera_record_release(camera);
}

TEST_F(Surface, PhotoTakenSetsTheActivePhotoBeforeItsRecord) {
    photoid_t id = 4;
    MessageEncoder* e = Event(BROADCAST_PhotoTaken);
    e->AddData(FIELD_PhotoId, &id, sizeof(id), 1);
    e->AddField(FIELD_SequenceNum, 12);
    Deliver();
    EXPECT_EQ(surface.activePhoto, 4);
    EXPECT_EQ(surface.GetActivePhoto().id, -1); // the default until the record arrives
    EXPECT_TRUE(surface.GetActivePhoto().filenameValid);
}

TEST_F(Surface, PropertyStatusReplacesRecordAndList) {
    camera_t camera = Camera(0, 0, "Main");
    Event(BROADCAST_CameraStatus)->AddData(FIELD_Camera, &camera, CAMERA_RecordSize, 1);
    Deliver();
    stringid_t names[2];
    stringid_resolve(names[0], string_make("Disk"));
    stringid_resolve(names[1], string_make("Card"));
    uint32_t type = CameraProperty::Storage;
    property_value_t property{1, true, 5, 2};
    MessageEncoder* e = Event(BROADCAST_PropertyStatus);
    e->AddData(FIELD_CameraId, &camera.id, sizeof(cameraid_t), 1);
    e->AddData(FIELD_PropertyType, &type, 4, 1);
    e->AddData(FIELD_Property, &property, PROPERTY_RecordSize, 1);
    e->AddData(FIELD_PropertyRange, names, STRINGID_HandleSize, 2);
    Deliver();
    const CameraSettings* settings = surface.GetSettings(0);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->GetProperty(CameraProperty::Storage).version, 5u);
    EXPECT_EQ(std::string(settings->GetValueName(CameraProperty::Storage).text), "Card");

    e = Event(BROADCAST_PropertyStatus); // an empty list empties it
    e->AddData(FIELD_CameraId, &camera.id, sizeof(cameraid_t), 1);
    e->AddData(FIELD_PropertyType, &type, 4, 1);
    e->AddData(FIELD_PropertyRange, nullptr, STRINGID_HandleSize, 0);
    Deliver();
    EXPECT_TRUE(settings->GetRange(CameraProperty::Storage).names.empty());

    cameraid_t unknown{3, 3}; // a camera the surface does not know: dropped
    e = Event(BROADCAST_PropertyStatus);
    e->AddData(FIELD_CameraId, &unknown, sizeof(cameraid_t), 1);
    e->AddData(FIELD_PropertyType, &type, 4, 1);
    Deliver();
    EXPECT_EQ(surface.GetNumCameras(), 1u);
    for (stringid_t& n : names)
        stringid_remove_reference(n);
    camera_record_release(camera);
}

TEST_F(Surface, ListenersInOrderUntilOneStops) {
    Listener first(false), stopper(true), hidden(false);
    surface.AddListener(&first, &Listener::Stop);
    surface.AddListener(&stopper, &Listener::Stop);
    surface.AddListener(&hidden, &Listener::Stop);
    Event(BROADCAST_Information)->AddField(FIELD_Text, "hello");
    Deliver();
    EXPECT_EQ(first.seen, (std::vector<int>{BROADCAST_Information}));
    EXPECT_EQ(stopper.seen.size(), 1u);
    EXPECT_TRUE(hidden.seen.empty());
    // The router calls EventNotify and lets later listeners see the event.
    Listener routed(false);
    surface.RemoveListener(&stopper);
    surface.AddListener(&routed);
    Event(BROADCAST_Information)->AddField(FIELD_Text, "again");
    Deliver();
    EXPECT_EQ(routed.seen.size(), 1u);
    EXPECT_EQ(hidden.seen.size(), 1u);
}
