// The whole camera service with the simulated cameras: 300 photos on 3 cameras (shots
// on all cameras) from request to saved file and client surface update, beside copying
// the same files with cp; and the time from a TakePhoto request to its response.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

class Client final : public MessageProcessor {
  public:
    Client() : MessageProcessor("bench::Client", false) {}
    void ReceiveResponse(const Message&) override { ++responses; }
    int responses = 0;
};

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1) + 0.5)];
}

} // namespace

int main() {
    char base[] = "/tmp/fennick-bench-XXXXXX";
    if (mkdtemp(base) == nullptr)
        return 1;
    const std::string root = base;
    log_open();
    log_set_handler([](const char*, void*) {}, nullptr); // quiet: the figures only
    Distributor::Initialise();
    Distributor::Start();
    MessageQueue queue;
    queue.Initialise();
    CameraProcessor::SupportPTP = false;
    CameraProcessor::SupportCanonEOS = false;
    CameraProcessor* processor = new CameraProcessor();
    camera_switches_t switches;
    switches.simulate = true;
    camera_switches_apply(switches, *processor);
    MessageThread camera;
    camera.Add(processor);
    camera.Start("CAMERA", nullptr, nullptr);
    Client client;
    CameraDataSurface surface(string_make("bench"));
    queue.Register(&client);
    queue.Register(&surface);
    surface.Initialise();

    // Every request: send, then pump the main queue (as the application's 30 ms timer
    // would, but without waiting) until its response is in.
    std::vector<double> latencies;
    auto ask = [&](Message message) {
        int before = client.responses;
        auto start = std::chrono::steady_clock::now();
        client.SendRequest(message, surface.processorLocation);
        while (client.responses == before) {
            queue.Pump();
            thread_sleep(1, TIMER_Milliseconds);
        }
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    pathname_t photos, none;
    pathname_initialise(photos);
    pathname_initialise(none);
    pathname_set(photos, string_make((root + "/photos").c_str()));
    {
        CameraMessageBuilder b(client.GetEncoder(), surface);
        ask(b.SetOptions(photos, none, 1, string_make("[N]_[S5]"), string_t{}, string_make("A"),
                         string_make("U"), true, true, false, false, string_t{}));
    }
    {
        CameraMessageBuilder b(client.GetEncoder(), surface);
        ask(b.DetectCameras());
    }
    while (surface.GetNumCameras() < 3 || !surface.GetCamera(2).connected)
        queue.Pump();
    surface.activeCamera = surface.GetCamera(0).id;

    constexpr int Shots = 100; // 3 photos each
    auto wait_for_photos = [&](size_t count) {
        while (surface.GetNumPhotos() < count || !surface.GetPhoto(long(count - 1)).downloaded) {
            queue.Pump();
            thread_sleep(1, TIMER_Milliseconds);
        }
    };
    // One shot at a time, each waiting for its response, as a script does.
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < Shots; ++i) {
        CameraMessageBuilder b(client.GetEncoder(), surface);
        ask(b.MultiShot());
    }
    wait_for_photos(Shots * 3);
    double one_by_one =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // The physical limit: cp of the same 300 files.
    std::filesystem::create_directories(root + "/copy");
    start = std::chrono::steady_clock::now();
    int copied = system(("cp " + root + "/photos/* " + root + "/copy/").c_str());
    double copy = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    size_t files = 0;
    uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root + "/copy")) {
        ++files;
        bytes += entry.file_size();
    }

    // All shots requested at once: the service works through them in one cycle.
    start = std::chrono::steady_clock::now();
    int before = client.responses;
    for (int i = 0; i < Shots; ++i) {
        CameraMessageBuilder b(client.GetEncoder(), surface);
        Message shot = b.MultiShot();
        client.SendRequest(shot, surface.processorLocation);
    }
    while (client.responses < before + Shots)
        queue.Pump();
    wait_for_photos(Shots * 6);
    double burst = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    for (int i = 0; i < 100; ++i) {
        CameraMessageBuilder b(client.GetEncoder(), surface);
        latencies.push_back(ask(b.TakePhoto(0.0f)));
    }

    std::printf("300 photos on 3 simulated cameras (100 shots on all cameras), request to saved\n"
                "file and client surface update:\n"
                "  one shot at a time, each waiting for its response: %.1f photos/s\n"
                "  all 100 shots requested at once:                    %.1f photos/s\n"
                "  cp of the same %zu files (%.1f MB):                 %.1f files/s%s\n"
                "TakePhoto request to response on one camera, 100 requests: median %.1f ms, 99th "
                "percentile %.1f ms\n",
                Shots * 3 / one_by_one, Shots * 3 / burst, files, double(bytes) / 1e6,
                double(files) / copy, copied == 0 ? "" : " (cp reported an error)",
                percentile(latencies, 0.5), percentile(latencies, 0.99));

    Distributor::Stop();
    camera.Stop(nullptr, nullptr);
    surface.Release();
    queue.Unregister(&surface);
    queue.Unregister(&client);
    queue.Release();
    Distributor::Release();
    pathname_release(photos);
    pathname_release(none);
    log_set_handler(nullptr, nullptr);
    log_close();
    std::filesystem::remove_all(root);
    return 0;
}
