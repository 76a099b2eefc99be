// Test helpers for the camera service: a fake driver whose devices do what a test
// scripts, and a fixture that runs the processor and a client on the test's own queue,
// so every request is handled and answered synchronously.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "log_capture.h"
#include "velk/camera/camera_processor.h"
#include "velk/message/distributor.h"
#include "velk/message/location.h"
#include "velk/message/message_queue.h"

namespace velk::test_support {

// How a fake device answers a tracked operation.
enum class Answer { Succeed, Fail, Later };

class FakeDriver;

class FakePhoto : public CameraPhoto {
  public:
    FakePhoto(CameraDevice* device, const cameratracker_t* tracker, const char* filetype,
              const char* name)
        : CameraPhoto(device, tracker) {
        stringid_resolve(photo.filetype, string_make(filetype));
        if (name != nullptr)
            stringid_resolve(photo.name, string_make(name));
        photo.size = 5;
    }
    std::string bytes = "image";
};

class FakeDevice : public CameraDevice {
  public:
    FakeDevice(FakeDriver* driver, int index);
    bool IsEqual(const CameraDevice& other) const override {
        const FakeDevice* fake = dynamic_cast<const FakeDevice*>(&other);
        return fake != nullptr && fake->index == index;
    }
    void Update() override {}
    void Connect() override {
        ++untracked_connects;
        Fill();
        GetProcessor()->SetConnected(true, this);
    }
    void Disconnect() override { GetProcessor()->SetDisconnected(true, this); }
    void Download(CameraPhoto* photo) override {
        GetProcessor()->DownloadAttempt(photo, Save(photo));
    }
    void SetProperty(CameraProperty::Type type, unsigned long value) override {
        settings->GetProperty(type).value = uint32_t(value);
        ++settings->GetProperty(type).version;
        untracked_properties.push_back(int(value));
    }
    void Connect(cameratracker_t* tracker) override {
        calls.push_back("Connect");
        if (answer == Answer::Succeed)
            Fill();
        if (answer != Answer::Later)
            GetProcessor()->SetConnected(answer == Answer::Succeed, this);
        Finish(tracker);
    }
    void Disconnect(cameratracker_t* tracker) override {
        calls.push_back("Disconnect");
        GetProcessor()->SetDisconnected(true, this);
        Finish(tracker);
    }
    void TakePhoto(cameratracker_t* tracker, float bulbTime) override {
        calls.push_back("TakePhoto " + std::to_string(bulbTime));
        if (!camera.connected || answer == Answer::Fail) {
            ++camera.numPhotosFailed;
            cameratracker_notify(tracker, false, this);
            return;
        }
        for (int i = 0; i < files_per_capture; ++i) {
            if (tracker->kind == REQUEST_Reshoot) {
                tracker->photo->Reshoot(this, tracker);
                GetProcessor()->ReshootPhoto(this, tracker->photo);
                if (download_at_once)
                    Download(tracker->photo);
                continue;
            }
            FakePhoto* photo =
                new FakePhoto(this, tracker, i == 0 ? "JPG" : "CR2", camera_name_for_photo);
            GetProcessor()->AddPhoto(this, photo);
            if (download_at_once)
                Download(photo);
        }
        Finish(tracker);
    }
    void AutoFocus(cameratracker_t* tracker) override { Simple("AutoFocus", tracker); }
    void Download(cameratracker_t* tracker, CameraPhoto* photo) override {
        calls.push_back("Download");
        cameratracker_notify(tracker, Save(photo), this);
    }
    void EnableLiveView(cameratracker_t* tracker, bool on) override {
        camera.liveViewEnabled = on;
        Simple("EnableLiveView", tracker);
    }
    void EnableLiveViewZoom(cameratracker_t* tracker, bool) override { Simple("Zoom", tracker); }
    void SetLiveViewFocus(cameratracker_t* tracker, int) override { Simple("Focus", tracker); }
    void SetLiveViewPosition(cameratracker_t* tracker, int, int) override {
        Simple("Position", tracker);
    }
    void EnableDof(cameratracker_t* tracker, bool) override { Simple("Dof", tracker); }
    void EnableVideo(cameratracker_t* tracker, bool) override { Simple("Video", tracker); }
    void SetProperty(cameratracker_t* tracker, CameraProperty::Type type,
                     unsigned long value) override {
        calls.push_back("SetProperty " + std::to_string(type) + " " + std::to_string(value));
        settings->GetProperty(type).value = uint32_t(value);
        ++settings->GetProperty(type).version;
        Finish(tracker);
    }

    // Reports the operation held back with Answer::Later.
    void FinishLater(bool success) {
        cameratracker_t* tracker = pendingTracker;
        pendingTracker = nullptr;
        cameratracker_notify(tracker, success, this);
    }

    int index;
    Answer answer = Answer::Succeed;
    int files_per_capture = 1;
    bool download_at_once = true;
    const char* camera_name_for_photo = nullptr; // a name the camera supplies, if any
    std::vector<std::string> calls;
    std::vector<int> untracked_properties;
    int untracked_connects = 0;

  private:
    void Fill() {
        settings->ClearAll();
        const char* storage[] = {"Disk", "Both", "Card"};
        for (unsigned long i = 0; i < 3; ++i)
            settings->AddValue(CameraProperty::Storage, storage[i], i);
        for (const char* iso : iso_values)
            settings->AddValue(CameraProperty::Iso, iso, 0);
        for (uint32_t t = 0; t < CameraProperty::Count; ++t) {
            settings->properties[t].valid = true;
            ++settings->properties[t].version;
            ++settings->properties[t].rangeVersion;
        }
    }
    bool Save(CameraPhoto* photo) {
        if (!photo->photo.filenameValid)
            return false;
        FakePhoto* fake = dynamic_cast<FakePhoto*>(photo);
        std::string bytes = fake != nullptr ? fake->bytes : "image";
        return photo->Save(bytes.data(), bytes.size());
    }
    void Simple(const char* name, cameratracker_t* tracker) {
        calls.push_back(name);
        Finish(tracker);
    }
    void Finish(cameratracker_t* tracker) {
        if (answer == Answer::Later)
            pendingTracker = tracker;
        else
            cameratracker_notify(tracker, answer == Answer::Succeed, this);
    }

  public:
    std::vector<const char*> iso_values = {"100", "200", "400"};
};

class FakeDriver : public CameraDriver {
  public:
    explicit FakeDriver(CameraProcessor* processor) : CameraDriver(processor, "FAKE") {}
    bool Initialise() override { return initialise_result; }
    void Release() override {}
    void Update() override {}
    void DetectCameras() override {
        for (int index : attached)
            GetProcessor()->AddDevice(new FakeDevice(this, index));
    }
    bool HasNativeSupport(const string_t&, const string_t&) override { return false; }
    std::vector<int> attached = {0, 1, 2};
    bool initialise_result = true;
};

inline FakeDevice::FakeDevice(FakeDriver* driver, int device_index)
    : CameraDevice(driver, new CameraSettings()), index(device_index) {
    std::string name = "Fake Camera " + std::to_string(device_index);
    std::string serial = "FAKE_" + std::to_string(device_index);
    stringid_resolve(camera.name, string_make(name.c_str()));
    stringid_resolve(camera.serial, string_make(serial.c_str()));
    stringid_resolve(camera.model, string_make("Fake"));
    camera.valid = true;
}

// A client: sends requests and records every response and every Information text.
class Client : public MessageProcessor {
  public:
    Client() : MessageProcessor("test::CameraClient", false) {}
    void ReceiveResponse(const Message& message) override {
        int kind = -1;
        bool success = false;
        message.GetInt(FIELD_Request, kind);
        message.GetBool(FIELD_Success, success);
        responses.push_back({message.GetHeader().refNum, kind, success});
    }
    void ReceiveEvent(const Message& message) override {
        int kind = -1;
        message.GetInt(FIELD_Event, kind);
        events.push_back(kind);
        const char* text = nullptr;
        if (kind == BROADCAST_Information && message.GetString(FIELD_Text, text))
            texts.push_back(text);
    }
    struct response_t {
        int ref;
        int kind;
        bool success;
    };
    std::vector<response_t> responses;
    std::vector<int> events;
    std::vector<std::string> texts;
};

class CameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char folder[] = "/tmp/fennick-camera-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root = folder;
        downloads = root + "/photos";
        Distributor::Initialise();
        Distributor::Start();
        queue.SetName("main");
        ASSERT_TRUE(queue.Initialise());
        CameraProcessor::SupportPTP = false;
        CameraProcessor::SupportCanonEOS = false;
        processor = new CameraProcessor();
        driver = new FakeDriver(processor);
        processor->AddDriver(driver);
        ASSERT_TRUE(processor->ProcessorInitialise());
        ASSERT_TRUE(queue.Register(processor));
        ASSERT_TRUE(queue.Register(&client));
        ASSERT_TRUE(client.Subscribe(CAMERA_EventChannel));
        destination = processor->GetLocationId();
    }
    void TearDown() override {
        queue.Unregister(&client);
        processor->ProcessorRelease();
        delete processor;
        Distributor::Stop();
        queue.Release();
        Distributor::Release();
        std::filesystem::remove_all(root);
    }

    MessageEncoder* Begin(int kind) {
        MessageEncoder* encoder = client.GetEncoder();
        encoder->Begin();
        encoder->AddField(FIELD_Request, kind);
        return encoder;
    }
    // Sends the message; returns the response to it (kind -1 when none came).
    Client::response_t Send(MessageEncoder* encoder) {
        Message message = encoder->End();
        size_t before = client.responses.size();
        EXPECT_TRUE(client.SendRequest(message, destination));
        if (client.responses.size() != before + 1)
            return {-1, -1, false};
        return client.responses.back();
    }
    Client::response_t Request(int kind) { return Send(Begin(kind)); }
    Client::response_t CameraRequest(int kind, cameraid_t id, bool all = false) {
        MessageEncoder* e = Begin(kind);
        e->AddData(FIELD_CameraId, &id, sizeof(id), 1);
        if (all)
            e->AddField(FIELD_AllCameras, true);
        return Send(e);
    }
    Client::response_t PhotoRequest(int kind, photoid_t id) {
        MessageEncoder* e = Begin(kind);
        e->AddData(FIELD_PhotoId, &id, sizeof(id), 1);
        return Send(e);
    }
    Client::response_t SetOptions(const std::string& expression, bool generate = true,
                                  const char* validation = "") {
        MessageEncoder* e = Begin(REQUEST_SetOptions);
        e->AddField(FIELD_DownloadPath, downloads.c_str());
        e->AddField(FIELD_FilenameExpression, expression.c_str());
        e->AddField(FIELD_FilenameValidation, validation);
        e->AddField(FIELD_GenerateFilename, generate);
        return Send(e);
    }
    FakeDevice* Device(size_t i) { return static_cast<FakeDevice*>(processor->GetDevices()[i]); }
    cameraid_t Id(size_t i) { return processor->GetDevices()[i]->camera.id; }
    void DetectAndConnectAll() {
        ASSERT_TRUE(Request(REQUEST_DetectCameras).success);
        for (size_t i = 0; i < processor->GetDevices().size(); ++i)
            ASSERT_TRUE(CameraRequest(REQUEST_Connect, Id(i)).success);
    }
    std::vector<std::string> Files(const std::string& folder) {
        std::vector<std::string> names;
        if (!std::filesystem::exists(folder))
            return names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            if (!entry.is_directory())
                names.push_back(std::filesystem::relative(entry.path(), folder).string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The texts since the last call.
    std::vector<std::string> TakeTexts() {
        std::vector<std::string> texts;
        texts.swap(client.texts);
        return texts;
    }

    LogCapture log;
    MessageQueue queue;
    CameraProcessor* processor = nullptr;
    FakeDriver* driver = nullptr;
    Client client;
    uint16_t destination = 0;
    std::string root, downloads;
};

} // namespace velk::test_support
