// The camera service end to end with the simulated cameras: the bus, the "CAMERA"
// thread with the simulated driver, and a main queue holding a client data surface and
// a recorder of every Information text and response, as a program would run them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "log_capture.h"
#include "velk/camera/camera_data_surface.h"
#include "velk/camera/camera_message_builder.h"
#include "velk/camera/camera_processor.h"
#include "velk/camera/camera_switches.h"
#include "velk/core/thread.h"
#include "velk/message/distributor.h"
#include "velk/message/message_queue.h"
#include "velk/message/message_thread.h"

using namespace velk;

namespace {

// Records every response (per request number) and every Information text.
class Recorder final : public MessageProcessor {
  public:
    Recorder() : MessageProcessor("test::Recorder", false) {}
    void ReceiveResponse(const Message& message) override {
        bool success = false;
        message.GetBool(FIELD_Success, success);
        int kind = -1;
        message.GetInt(FIELD_Request, kind);
        answers[message.GetHeader().refNum].push_back({kind, success});
    }
    void ReceiveEvent(const Message& message) override {
        int kind = -1;
        const char* text = nullptr;
        if (message.GetInt(FIELD_Event, kind) && kind == BROADCAST_Information &&
            message.GetString(FIELD_Text, text))
            texts.push_back(text);
    }
    struct answer_t {
        int kind;
        bool success;
    };
    std::map<int, std::vector<answer_t>> answers;
    std::vector<std::string> texts;
};

class SimulatedService : public ::testing::Test {
  protected:
    void SetUp() override {
        char folder[] = "/tmp/fennick-simulated-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root = folder;
        downloads = root + "/photos";
        Distributor::Initialise();
        Distributor::Start();
        queue.SetName("main");
        ASSERT_TRUE(queue.Initialise());
        CameraProcessor::SupportPTP = false;
        CameraProcessor::SupportCanonEOS = false;
        CameraProcessor* processor = new CameraProcessor();
        camera_switches_t switches;
        switches.simulate = true;
        camera_switches_apply(switches, *processor);
        camera.Add(processor);
        ASSERT_TRUE(camera.Start("CAMERA", nullptr, nullptr));
        ASSERT_TRUE(queue.Register(&recorder));
        ASSERT_TRUE(recorder.Subscribe(CAMERA_EventChannel));
        ASSERT_TRUE(queue.Register(&surface));
        ASSERT_TRUE(surface.Initialise());
        ASSERT_TRUE(PumpUntil([&] { return surface.synchronised; }));
    }
    void TearDown() override {
        Distributor::Stop();
        camera.Stop(nullptr, nullptr);
        surface.Release();
        queue.Unregister(&surface);
        queue.Unregister(&recorder);
        queue.Release();
        Distributor::Release();
        std::filesystem::remove_all(root);
    }

    bool PumpUntil(const std::function<bool()>& done, uint64_t timeout_ms = 10000) {
        uint64_t start = timer_now();
        while (!done()) {
            if (timer_now() - start > timeout_ms * 1000)
                return false;
            thread_sleep(30, TIMER_Milliseconds);
            queue.Pump();
        }
        return true;
    }

    // Sends a request built from the surface's state and pumps every 30 ms until its
    // response arrives; fails on a time-out or a second response. Returns the outcome.
    bool Ask(const std::function<Message(CameraMessageBuilder&)>& build) {
        CameraMessageBuilder builder(recorder.GetEncoder(), surface);
        Message request = build(builder);
        EXPECT_TRUE(request.IsValid());
        if (!recorder.SendRequest(request, surface.processorLocation))
            return false;
        int ref = request.GetHeader().refNum;
        bool answered = PumpUntil([&] { return !recorder.answers[ref].empty(); });
        EXPECT_TRUE(answered) << "no response to request " << ref;
        if (!answered)
            return false;
        // Give a second (wrong) response time to show up.
        thread_sleep(40, TIMER_Milliseconds);
        queue.Pump();
        EXPECT_EQ(recorder.answers[ref].size(), 1u) << "request " << ref << " answered twice";
        return recorder.answers[ref][0].success;
    }

    std::vector<std::string> TakeTexts() {
        std::vector<std::string> texts;
        texts.swap(recorder.texts);
        return texts;
    }

    std::vector<std::string> Files(const std::string& folder) {
        std::vector<std::string> names;
        if (std::filesystem::exists(folder))
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test_support::LogCapture log;
    MessageQueue queue;
    MessageThread camera;
    Recorder recorder;
    CameraDataSurface surface{string_make("ui")};
    std::string root, downloads;
};

} // namespace

TEST_F(SimulatedService, ThreeCamerasFromDetectionToRollback) {
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"Synchronising status...", "Synchronised"}));

    pathname_t photo_path, liveview_path;
    pathname_initialise(photo_path);
    pathname_initialise(liveview_path);
    pathname_set(photo_path, string_make(downloads.c_str()));
    pathname_set(liveview_path, string_make((root + "/liveview").c_str()));
    ASSERT_TRUE(Ask([&](CameraMessageBuilder& b) {
        return b.SetOptions(photo_path, liveview_path, 1, string_make("[B]_[S]_[N]"), string_t{},
                            string_make("Group1"), string_make("Custom1"), true, false, false,
                            false, string_t{});
    }));

    // Detection and connection.
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.DetectCameras(); }));
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Detecting cameras...", "3 cameras detected"}));
    ASSERT_EQ(surface.GetNumCameras(), 3u);
    surface.activeCamera = surface.GetCamera(0).id;
    surface.allCameras = true;
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.Connect(); }));
    std::vector<std::string> expected = {"Connecting camera..."};
    for (int i = 0; i < 3; ++i)
        expected.push_back(std::string("Connected to camera: ") + surface.GetCamera(i).name.text);
    EXPECT_EQ(TakeTexts(), expected);
    EXPECT_STREQ(surface.GetCamera(1).model.text, "TEST Camera");
    ASSERT_NE(surface.GetSettings(0), nullptr);
    EXPECT_EQ(surface.GetSettings(0)->GetRange(CameraProperty::ShutterSpeed).names.size(), 54u);

    // Two shots on all cameras: each camera counts its own batches.
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.MultiShot(); }));
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.MultiShot(); }));
    std::vector<std::string> texts = TakeTexts();
    EXPECT_EQ(texts.front(), "Taking photo...");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Photo taken: 1_1_0.jpg"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Photo downloaded: 2_6_2.jpg"), texts.end());
    EXPECT_EQ(Files(downloads), (std::vector<std::string>{"1_1_0.jpg", "1_2_1.jpg", "1_3_2.jpg",
                                                          "2_4_0.jpg", "2_5_1.jpg", "2_6_2.jpg"}));
    EXPECT_EQ(surface.GetNumPhotos(), 6u);
    EXPECT_TRUE(surface.GetPhoto(5).downloaded);
    EXPECT_EQ(surface.activePhoto, 5);

    // Storage to the card on every camera: the next shot stays on the cameras.
    ASSERT_TRUE(
        Ask([](CameraMessageBuilder& b) { return b.SetProperty(CameraProperty::Storage, 1); }));
    ASSERT_TRUE(PumpUntil([&] {
        const CameraSettings* s = surface.GetSettings(2);
        return s != nullptr && s->GetProperty(CameraProperty::Storage).value == 1;
    }));
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.MultiShot(); }));
    EXPECT_EQ(Files(downloads).size(), 6u);
    EXPECT_FALSE(surface.GetPhoto(8).downloaded);
    TakeTexts();
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.DownloadAll(); }));
    ASSERT_TRUE(PumpUntil([&] { return Files(downloads).size() == 9u; }));
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{
                               "Downloading all photos...", "Downloading 3 photos",
                               "Downloading photo: 3_7_0.jpg", "Photo downloaded: 3_7_0.jpg",
                               "Downloading photo: 3_8_1.jpg", "Photo downloaded: 3_8_1.jpg",
                               "Downloading photo: 3_9_2.jpg", "Photo downloaded: 3_9_2.jpg"}));

    // Rename, delete, roll back.
    surface.activePhoto = 0;
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.Rename(string_make("Best shot")); }));
    surface.activePhoto = 1;
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.Delete(); }));
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Photo renamed to: Best shot.jpg", "Deleted: 1_2_1.jpg"}));
    surface.activePhoto = 6;
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.Rollback(); }));
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Rolling back photos...", "Rollback complete"}));
    EXPECT_TRUE(surface.GetPhoto(8).deleted);
    EXPECT_EQ(Files(downloads), (std::vector<std::string>{"1_3_2.jpg", "2_4_0.jpg", "2_5_1.jpg",
                                                          "2_6_2.jpg", "Best shot.jpg"}));
    EXPECT_TRUE(log.Contains("Photo sequence number reset from 10 to: 7"));

    // A kind the service does not know is answered, failed, without a text.
    EXPECT_FALSE(Ask([&](CameraMessageBuilder&) {
        MessageEncoder* encoder = recorder.GetEncoder();
        encoder->Begin();
        encoder->AddField(FIELD_Request, 99);
        return encoder->End();
    }));
    EXPECT_TRUE(TakeTexts().empty());

    // Live view recorded for a few cycles.
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.EnableLiveViewRecord(true); }));
    surface.allCameras = false;
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.EnableLiveView(true); }));
    ASSERT_TRUE(PumpUntil([&] { return Files(root + "/liveview").size() >= 3; }));
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.EnableLiveView(false); }));
    EXPECT_GE(surface.GetCamera(0).numLiveViewFrames, 3);
    for (const std::string& frame : Files(root + "/liveview"))
        EXPECT_EQ(frame.rfind("Camera0_", 0), 0u) << frame;
    pathname_release(photo_path);
    pathname_release(liveview_path);
}

TEST_F(SimulatedService, RealCameraFilesAndAnEmptyFolder) {
    const std::string samples = FENNICK_SAMPLES_DIR "/jpeg";
    if (!std::filesystem::exists(samples))
        GTEST_SKIP() << "no sample images at " << samples;
    pathname_t photo_path, none;
    pathname_initialise(photo_path);
    pathname_initialise(none);
    pathname_set(photo_path, string_make(downloads.c_str()));
    ASSERT_TRUE(Ask([&](CameraMessageBuilder& b) {
        return b.SetOptions(photo_path, none, 1, string_make("IMG_[S4]"), string_t{},
                            string_make("A"), string_make("U"), true, true, false, false,
                            string_t{});
    }));
    setenv("FENNICK_TESTCAMERA_DIR", samples.c_str(), 1);
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.DetectCameras(); }));
    ASSERT_TRUE(PumpUntil([&] { return surface.GetCamera(0).connected; })); // autoConnect
    surface.activeCamera = surface.GetCamera(0).id;
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.TakePhoto(0.0f); }));
    std::vector<std::string> files = Files(downloads);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(downloads + "/" + files[0]) > 1000000u, true);

    // An empty capture folder fails the capture with a clear error.
    std::filesystem::create_directories(root + "/empty");
    setenv("FENNICK_TESTCAMERA_DIR", (root + "/empty").c_str(), 1);
    TakeTexts();
    EXPECT_FALSE(Ask([](CameraMessageBuilder& b) { return b.TakePhoto(0.0f); }));
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Taking photo...", "ERROR: Failed to take photo"}));
    EXPECT_TRUE(log.Contains("Simulated camera: no image files in " + root + "/empty"));
    unsetenv("FENNICK_TESTCAMERA_DIR");
    pathname_release(photo_path);
    pathname_release(none);
}

TEST_F(SimulatedService, DetectionPassesBulbPropertiesAndReshoot) {
    for (int pass = 0; pass < 3; ++pass) {
        ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.DetectCameras(); }));
        ASSERT_EQ(surface.GetNumCameras(), 3u);
        // New simulated cameras every pass: numbers 0-2, then 3-5, then 6-8.
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(surface.GetCamera(i).id.number, pass * 3 + i);
    }
    surface.activeCamera = surface.GetCamera(0).id;
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.Connect(); }));
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) {
        return b.SetProperty(CameraProperty::ShutterSpeed, 0); // "Bulb"
    }));
    EXPECT_TRUE(surface.GetCamera(0).bulbEnabled);
    TakeTexts();
    EXPECT_FALSE(Ask([](CameraMessageBuilder& b) {
        return b.SetProperty(CameraProperty::Aperture, 4); // only 4 apertures
    }));
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"ERROR: Failed to change camera setting"}));

    pathname_t photo_path, none;
    pathname_initialise(photo_path);
    pathname_initialise(none);
    pathname_set(photo_path, string_make(downloads.c_str()));
    ASSERT_TRUE(Ask([&](CameraMessageBuilder& b) {
        return b.SetOptions(photo_path, none, 1, string_make("FNK_[S]"), string_t{},
                            string_make("A"), string_make("U"), true, false, false, false,
                            string_t{});
    }));
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.TakePhoto(0.05f); })); // a bulb
    uintmax_t first_size = std::filesystem::file_size(downloads + "/FNK_1.jpg");
    surface.activePhoto = 0;
    ASSERT_TRUE(Ask([](CameraMessageBuilder& b) { return b.Reshoot(0.0f); }));
    EXPECT_EQ(Files(downloads), (std::vector<std::string>{"FNK_1.jpg"}));
    EXPECT_NE(std::filesystem::file_size(downloads + "/FNK_1.jpg"), first_size); // the next file
    EXPECT_EQ(surface.GetNumPhotos(), 1u);
    EXPECT_STREQ(surface.GetPhoto(0).name.text, "FNK_1.jpg");
    pathname_release(photo_path);
    pathname_release(none);
}
