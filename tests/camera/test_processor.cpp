// The camera processor: detection, requests answered exactly once with the right
// outcome, fan-out to several cameras, and the texts the user sees.
#include <gtest/gtest.h>

#include "camera/camera_fixture.h"

using namespace velk;
using namespace velk::test_support;

TEST_F(CameraTest, DetectionAndConnectionTexts) {
    TakeTexts();
    ASSERT_TRUE(Request(REQUEST_DetectCameras).success);
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Detecting cameras...", "3 cameras detected"}));
    ASSERT_EQ(processor->GetDevices().size(), 3u);
    EXPECT_EQ(Id(2).number, 2);

    auto response = CameraRequest(REQUEST_Connect, Id(1));
    EXPECT_TRUE(response.success);
    EXPECT_EQ(response.kind, REQUEST_Connect);
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"Connecting camera...",
                                                     "Connected to camera: Fake Camera 1"}));
    // A failed connect makes the next update (the one after the request) detect again:
    // the same cameras stay, with their numbers and connections.
    Device(0)->answer = Answer::Fail;
    EXPECT_FALSE(CameraRequest(REQUEST_Connect, Id(0)).success);
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Connecting camera...",
                                        "ERROR: Failed to connect to camera: Fake Camera 0",
                                        "Detecting cameras...", "3 cameras detected"}));
    EXPECT_FALSE(processor->IsDetectPending());
    EXPECT_TRUE(Device(1)->camera.connected);
    EXPECT_EQ(Id(1).number, 1);

    driver->attached = {1};
    ASSERT_TRUE(Request(REQUEST_DetectCameras).success);
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"Detecting cameras...", "1 camera detected"}));
    EXPECT_EQ(Id(0).number, 1);
    EXPECT_EQ(Id(0).index, 0u);
    driver->attached = {};
    ASSERT_TRUE(Request(REQUEST_DetectCameras).success);
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Detecting cameras...", "No cameras detected"}));
}

TEST_F(CameraTest, UnreadableAndUnknownRequestsAreAnsweredOnce) {
    MessageEncoder* e = client.GetEncoder();
    e->Begin();
    e->AddField(FIELD_Text, "no kind");
    Message message = e->End();
    ASSERT_TRUE(client.SendRequest(message, destination));
    ASSERT_EQ(client.responses.size(), 1u);
    EXPECT_EQ(client.responses[0].kind, REQUEST_Unreadable);
    EXPECT_FALSE(client.responses[0].success);

    TakeTexts();
    auto response = Request(77);
    EXPECT_EQ(response.kind, 77);
    EXPECT_FALSE(response.success);
    EXPECT_TRUE(TakeTexts().empty());
    EXPECT_TRUE(log.Contains("Processing camera request 0: invalid"));
    EXPECT_TRUE(log.Contains("Sending camera response 1: invalid"));
    EXPECT_EQ(client.responses.size(), 2u);
}

TEST_F(CameraTest, IdsThatDoNotResolveFailWithoutAskingADevice) {
    DetectAndConnectAll();
    struct Case {
        const char* name;
        cameraid_t id;
    } cases[] = {
        {"negative number", {-1, 0}},
        {"index past the list", {0, 9}},
        {"number of another camera", {2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t calls = Device(0)->calls.size();
        auto response = CameraRequest(REQUEST_TakePhoto, c.id);
        EXPECT_FALSE(response.success);
        EXPECT_EQ(Device(0)->calls.size(), calls);
    }
    EXPECT_FALSE(PhotoRequest(REQUEST_Download, -1).success);
    EXPECT_FALSE(PhotoRequest(REQUEST_Download, 5).success);
}

TEST_F(CameraTest, AllCamerasShotAnswersOnceAfterTheLastReport) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("[N]_[S]").success);
    Device(1)->answer = Answer::Fail;
    Device(2)->answer = Answer::Later;
    size_t before = client.responses.size();
    MessageEncoder* e = Begin(REQUEST_TakePhoto);
    cameraid_t id = Id(0);
    e->AddData(FIELD_CameraId, &id, sizeof(id), 1);
    e->AddField(FIELD_AllCameras, true);
    Message message = e->End();
    ASSERT_TRUE(client.SendRequest(message, destination));
    // The third camera has not reported: no response yet.
    EXPECT_EQ(client.responses.size(), before);
    Device(2)->FinishLater(true);
    ASSERT_EQ(client.responses.size(), before + 1);
    EXPECT_FALSE(client.responses.back().success);
    EXPECT_EQ(client.GetPending(destination), 0);
    // Each camera was asked once, the addressed one first.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Device(i)->calls.back().rfind("TakePhoto", 0), 0u) << i;
    EXPECT_EQ(Files(downloads), (std::vector<std::string>{"0_1.JPG", "2_2.JPG"}));
}

TEST_F(CameraTest, SynchronousReportDoesNotCompleteEarly) {
    DetectAndConnectAll();
    // Every device answers inside the handler: still one response, after all three.
    size_t before = client.responses.size();
    ASSERT_TRUE(CameraRequest(REQUEST_AutoFocus, Id(2), true).success);
    EXPECT_EQ(client.responses.size(), before + 1);
    EXPECT_EQ(Device(0)->calls.back(), "AutoFocus");
    EXPECT_EQ(Device(2)->calls.back(), "AutoFocus");
}

TEST_F(CameraTest, DeviceThatDisappearsAnswersItsPendingRequest) {
    DetectAndConnectAll();
    Device(1)->answer = Answer::Later;
    size_t before = client.responses.size();
    MessageEncoder* e = Begin(REQUEST_EnableLiveView);
    cameraid_t id = Id(1);
    e->AddData(FIELD_CameraId, &id, sizeof(id), 1);
    e->AddField(FIELD_LiveView, true);
    Message message = e->End();
    ASSERT_TRUE(client.SendRequest(message, destination));
    EXPECT_EQ(client.responses.size(), before);
    // Unplugged: the next detection removes it, and its request is answered, failed.
    processor->CameraDisconnected(Device(1));
    driver->attached = {0, 2};
    Request(REQUEST_DetectCameras);
    ASSERT_EQ(client.responses.size(), before + 2);
    EXPECT_TRUE(client.responses[before + 1].success); // the detection itself
    EXPECT_EQ(client.responses[before].kind, REQUEST_EnableLiveView);
    EXPECT_FALSE(client.responses[before].success);
    EXPECT_EQ(processor->GetDevices().size(), 2u);
}

TEST_F(CameraTest, SetPropertyAcrossCamerasByText) {
    DetectAndConnectAll();
    Device(2)->iso_values = {"200", "100"}; // the same texts in another order
    ASSERT_TRUE(CameraRequest(REQUEST_Connect, Id(2)).success);
    Device(1)->iso_values = {"800"}; // lacks the text
    ASSERT_TRUE(CameraRequest(REQUEST_Connect, Id(1)).success);
    auto set = [&](uint32_t type, uint32_t value) {
        MessageEncoder* e = Begin(REQUEST_SetProperty);
        cameraid_t id = Id(0);
        e->AddData(FIELD_CameraId, &id, sizeof(id), 1);
        e->AddData(FIELD_PropertyType, &type, 4, 1);
        e->AddData(FIELD_PropertyValue, &value, 4, 1);
        e->AddField(FIELD_AllCameras, true);
        return Send(e);
    };
    TakeTexts();
    EXPECT_FALSE(set(CameraProperty::Iso, 1).success); // "200"
    EXPECT_EQ(Device(0)->calls.back(), "SetProperty 2 1");
    EXPECT_EQ(Device(2)->calls.back(), "SetProperty 2 0");
    EXPECT_NE(Device(1)->calls.back().rfind("SetProperty", 0), 0u);
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"ERROR: Failed to change camera setting"}));

    // A type or value outside the camera's lists is refused before any device is asked.
    size_t calls = Device(0)->calls.size();
    EXPECT_FALSE(set(CameraProperty::Count, 0).success);
    EXPECT_FALSE(set(CameraProperty::Iso, 3).success);
    EXPECT_FALSE(set(0xffffffffu, 0).success);
    EXPECT_EQ(Device(0)->calls.size(), calls);
}

TEST_F(CameraTest, BatchContinuesAndDefaultStorageIsSelectedOnConnect) {
    ASSERT_TRUE(Request(REQUEST_DetectCameras).success);
    ASSERT_TRUE(CameraRequest(REQUEST_Connect, Id(0)).success);
    MessageEncoder* e = Begin(REQUEST_SetBatchNum);
    e->AddField(FIELD_BatchNum, 7);
    ASSERT_TRUE(Send(e).success);
    e = Begin(REQUEST_SetOptions);
    e->AddField(FIELD_DefaultStorage, "Card");
    ASSERT_TRUE(Send(e).success);
    Device(1)->camera.batchNum = 1;
    TakeTexts();
    ASSERT_TRUE(CameraRequest(REQUEST_Connect, Id(1)).success);
    EXPECT_EQ(Device(1)->camera.batchNum, 7);
    EXPECT_EQ(Device(1)->untracked_properties, (std::vector<int>{2}));
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"Connecting camera...",
                                                     "Connected to camera: Fake Camera 1"}));
}

TEST_F(CameraTest, StoredNamesFollowTheSerial) {
    ASSERT_TRUE(Request(REQUEST_DetectCameras).success);
    MessageEncoder* e = Begin(REQUEST_SetName);
    e->AddField(FIELD_CameraName, "Left");
    e->AddField(FIELD_CameraSerial, "FAKE_1");
    ASSERT_TRUE(Send(e).success); // no camera id: only the table
    EXPECT_STREQ(Device(1)->camera.name.text, "Fake Camera 1");
    TakeTexts();
    ASSERT_TRUE(CameraRequest(REQUEST_Connect, Id(1)).success);
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"Connecting camera...",
                                                     "Connected to camera: Fake Camera 1"}));
    EXPECT_STREQ(Device(1)->camera.name.text, "Left");
    // A camera attached later with that serial takes the name at once.
    driver->attached = {0, 2};
    Request(REQUEST_DetectCameras);
    driver->attached = {0, 1, 2};
    Request(REQUEST_DetectCameras);
    EXPECT_STREQ(processor->GetDevices().back()->camera.name.text, "Left");
    EXPECT_FALSE(Begin(REQUEST_SetName) == nullptr);
    EXPECT_FALSE(Send(client.GetEncoder()).success); // fields missing
}

TEST_F(CameraTest, DownloadAllQueuesAndReportsCounts) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("FNK_[S]").success);
    TakeTexts();
    ASSERT_TRUE(Request(REQUEST_DownloadAll).success);
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Downloading all photos...", "No photos to download"}));
    for (int i = 0; i < 3; ++i)
        Device(i)->download_at_once = false;
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0), true).success);
    TakeTexts();
    ASSERT_TRUE(Request(REQUEST_DownloadAll).success);
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{
                               "Downloading all photos...", "Downloading 3 photos",
                               "Downloading photo: FNK_1.JPG", "Photo downloaded: FNK_1.JPG",
                               "Downloading photo: FNK_2.JPG", "Photo downloaded: FNK_2.JPG",
                               "Downloading photo: FNK_3.JPG", "Photo downloaded: FNK_3.JPG"}));
    EXPECT_EQ(Files(downloads).size(), 3u);
}

TEST_F(CameraTest, RollbackMarksLaterPhotosDeleted) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("FNK_[S]").success);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    TakeTexts();
    ASSERT_TRUE(PhotoRequest(REQUEST_Rollback, 1).success);
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Rolling back photos...", "Rollback complete"}));
    EXPECT_TRUE(log.Contains("Photo sequence number reset from 4 to: 2"));
    EXPECT_EQ(Files(downloads), (std::vector<std::string>{"FNK_1.JPG"}));
    EXPECT_FALSE(processor->GetPhotos()[0]->photo.deleted);
    EXPECT_TRUE(processor->GetPhotos()[2]->photo.deleted);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    EXPECT_STREQ(processor->GetPhotos()[3]->photo.name.text, "FNK_2.JPG");
    EXPECT_FALSE(PhotoRequest(REQUEST_Rollback, 9).success);
}

TEST_F(CameraTest, RequestsWithoutTheirFieldsFail) {
    DetectAndConnectAll();
    struct Case {
        const char* name;
        int kind;
        bool with_camera;
    } cases[] = {
        {"connect without camera", REQUEST_Connect, false},
        {"photo without camera", REQUEST_TakePhoto, false},
        {"focus step missing", REQUEST_LiveViewFocus, true},
        {"position missing", REQUEST_LiveViewPosition, true},
        {"property missing", REQUEST_SetProperty, true},
        {"rename without photo", REQUEST_Rename, false},
        {"delete without photo", REQUEST_Delete, false},
        {"rollback without photo", REQUEST_Rollback, false},
        {"reshoot without photo", REQUEST_Reshoot, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t before = client.responses.size();
        auto response = c.with_camera ? CameraRequest(c.kind, Id(0)) : Request(c.kind);
        EXPECT_FALSE(response.success);
        EXPECT_EQ(client.responses.size(), before + 1);
    }
}
