// Camera service figures: naming and saving 1,000 photos of 5 MB into a folder that
// already holds 1,000 files, beside writing the same bytes with one write per file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "velk/camera/camera_processor.h"
#include "velk/message/distributor.h"
#include "velk/message/message_queue.h"

using namespace velk;

namespace {

class BenchDriver final : public CameraDriver {
  public:
    explicit BenchDriver(CameraProcessor* processor) : CameraDriver(processor, "BENCH") {}
    bool Initialise() override { return true; }
    void Release() override {}
    void Update() override {}
    void DetectCameras() override {}
    bool HasNativeSupport(const string_t&, const string_t&) override { return false; }
};

// A device that does nothing by itself: the benchmark adds and saves its photos.
class BenchDevice final : public CameraDevice {
  public:
    explicit BenchDevice(CameraDriver* driver) : CameraDevice(driver, new CameraSettings()) {
        stringid_resolve(camera.name, string_make("Bench Camera"));
    }
    bool IsEqual(const CameraDevice& other) const override { return &other == this; }
    void Update() override {}
    void Connect() override {}
    void Disconnect() override {}
    void Download(CameraPhoto*) override {}
    void SetProperty(CameraProperty::Type, unsigned long) override {}
    void Connect(cameratracker_t* t) override { cameratracker_notify(t, true, this); }
    void Disconnect(cameratracker_t* t) override { cameratracker_notify(t, true, this); }
    void TakePhoto(cameratracker_t* t, float) override { cameratracker_notify(t, true, this); }
    void AutoFocus(cameratracker_t* t) override { cameratracker_notify(t, true, this); }
    void Download(cameratracker_t* t, CameraPhoto*) override {
        cameratracker_notify(t, true, this);
    }
    void EnableLiveView(cameratracker_t* t, bool) override { cameratracker_notify(t, true, this); }
    void EnableLiveViewZoom(cameratracker_t* t, bool) override {
        cameratracker_notify(t, true, this);
    }
    void SetLiveViewFocus(cameratracker_t* t, int) override { cameratracker_notify(t, true, this); }
    void SetLiveViewPosition(cameratracker_t* t, int, int) override {
        cameratracker_notify(t, true, this);
    }
    void EnableDof(cameratracker_t* t, bool) override { cameratracker_notify(t, true, this); }
    void EnableVideo(cameratracker_t* t, bool) override { cameratracker_notify(t, true, this); }
    void SetProperty(cameratracker_t* t, CameraProperty::Type, unsigned long) override {
        cameratracker_notify(t, true, this);
    }
};

class Client final : public MessageProcessor {
  public:
    Client() : MessageProcessor("bench::CameraClient", false) {}
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void fill_folder(const std::string& folder) {
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 1000; ++i) {
        std::string path = folder + "/existing_" + std::to_string(i) + ".JPG";
        FILE* file = fopen(path.c_str(), "w");
        fputs("x", file);
        fclose(file);
    }
}

} // namespace

int main() {
    constexpr int Photos = 1000;
    constexpr size_t PhotoBytes = 5 * 1024 * 1024;
    std::vector<unsigned char> data(PhotoBytes);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 131);
    char base[] = "/tmp/fennick-bench-XXXXXX";
    if (mkdtemp(base) == nullptr)
        return 1;
    const std::string root = base;

    Distributor::Initialise();
    Distributor::Start();
    MessageQueue queue;
    queue.Initialise();
    CameraProcessor::SupportPTP = false;
    CameraProcessor::SupportCanonEOS = false;
    CameraProcessor* processor = new CameraProcessor();
    BenchDriver* driver = new BenchDriver(processor);
    processor->AddDriver(driver);
    processor->ProcessorInitialise();
    queue.Register(processor);
    Client client;
    queue.Register(&client);
    const std::string photos = root + "/photos";
    fill_folder(photos);
    MessageEncoder* encoder = client.GetEncoder();
    encoder->Begin();
    encoder->AddField(FIELD_Request, int(REQUEST_SetOptions));
    encoder->AddField(FIELD_DownloadPath, photos.c_str());
    encoder->AddField(FIELD_FilenameExpression, "[C]_[B3]_[S5]");
    encoder->AddField(FIELD_GenerateFilename, true);
    Message options = encoder->End();
    client.SendRequest(options, processor->GetLocationId());

    log_enable(LEVEL_Info, log_camera, false);
    BenchDevice device(driver);
    auto start = std::chrono::steady_clock::now();
    int saved = 0;
    for (int i = 0; i < Photos; ++i) {
        CameraPhoto* photo = new CameraPhoto(&device, nullptr);
        stringid_resolve(photo->photo.filetype, string_make("JPG"));
        processor->AddPhoto(&device, photo);
        saved += photo->Save(data.data(), data.size()) ? 1 : 0;
    }
    double service = seconds_since(start);

    // The physical limit: the same bytes, one write per file, with and without a flush
    // to disk (every saved photo is flushed before it gets its name).
    const std::string plain = root + "/plain";
    fill_folder(plain);
    double limits[2];
    for (int flush = 0; flush < 2; ++flush) {
        start = std::chrono::steady_clock::now();
        for (int i = 0; i < Photos; ++i) {
            std::string path = plain + "/" + std::to_string(flush) + "_" + std::to_string(i);
            int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (write(fd, data.data(), data.size()) != ssize_t(data.size()))
                return 1;
            if (flush)
                fsync(fd);
            close(fd);
        }
        limits[flush] = seconds_since(start);
    }
    double mb = double(Photos) * double(PhotoBytes) / 1e6;
    std::printf("naming and saving %d photos of 5 MB into a folder of 1000 files (%d saved):\n"
                "  %.1f photos/s, %.0f MB/s\n"
                "  one write per file:             %.1f files/s, %.0f MB/s\n"
                "  one write and a flush per file: %.1f files/s, %.0f MB/s\n",
                Photos, saved, Photos / service, mb / service, Photos / limits[0], mb / limits[0],
                Photos / limits[1], mb / limits[1]);

    queue.Unregister(&client);
    processor->ProcessorRelease();
    delete processor;
    Distributor::Stop();
    queue.Release();
    Distributor::Release();
    std::filesystem::remove_all(root);
    return saved == Photos ? 0 : 1;
}
