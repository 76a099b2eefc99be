// fennick-cli: the headless runner. Starts the bus, the "CAMERA" and "TCL" threads, applies
// the camera-service options, runs one script to its end and shuts everything down in
// order. Exit status: 0 the script completed (or the status it gave to "exit"), 1 it
// failed, 2 a usage error, 128 + the signal when stopped by SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>

#include "cli/runner_options.h"
#include "velk/camera/camera_message_builder.h"
#include "velk/camera/camera_processor.h"
#include "velk/core/file.h"
#include "velk/core/filename.h"
#include "velk/core/thread.h"
#include "velk/message/distributor.h"
#include "velk/message/location.h"
#include "velk/message/message_queue.h"
#include "velk/message/message_thread.h"
#include "velk/tcl/camera_command.h"
#include "velk/tcl/tcl_processor.h"

using namespace velk;
using namespace velk::fennick;

namespace {

volatile sig_atomic_t stop_signal = 0;
volatile sig_atomic_t signal_count = 0;

void handle_signal(int signal) {
    stop_signal = signal;
    signal_count = signal_count + 1;
}

// How long a stopped script may take to end before the runner shuts down around it (a
// script blocked reading a pipe or running a program cannot be interrupted).
constexpr uint64_t StopGraceMilliseconds = 5000;

log_module_t log_application = {0, "APP"};

// Collects the responses the runner waits for.
class Runner final : public MessageProcessor {
  public:
    Runner() : MessageProcessor("fennick::Runner", false) {}
    void ReceiveResponse(const Message& message) override {
        const char* word = nullptr;
        bool ok = false;
        if (message.GetString(TCL_FIELD_Word, word)) {
            message.GetBool(TCL_FIELD_Success, ok);
            const char* text = nullptr;
            script_text = message.GetString(TCL_FIELD_Text, text) ? text : "";
        } else {
            message.GetBool(FIELD_Success, ok);
        }
        last_ref = message.GetHeader().refNum;
        last_success = ok;
        ++responses;
    }
    int responses = 0;
    int last_ref = 0;
    bool last_success = false;
    std::string script_text;
};

// Pumps the main queue every 30 ms until `done`, or until the time-out (0: none). On a
// signal calls `on_signal` once; a second signal, or the script not ending within the
// grace period, ends the wait (false).
bool pump_until(MessageQueue& queue, const std::function<bool()>& done, uint64_t timeout_ms,
                const std::function<void()>& on_signal = nullptr) {
    uint64_t start = timer_now();
    uint64_t signalled = 0;
    while (!done()) {
        if (stop_signal != 0 && on_signal) {
            if (signalled == 0) {
                signalled = timer_now();
                on_signal();
            } else if (signal_count > 1 || timer_now() - signalled > StopGraceMilliseconds * 1000) {
                log_writef(LEVEL_Warning, LOG_General,
                           "The script does not stop; shutting down around it");
                return false;
            }
        }
        if (timeout_ms > 0 && timer_now() - start > timeout_ms * 1000)
            return false;
        thread_sleep(30, TIMER_Milliseconds);
        queue.Pump();
    }
    return true;
}

// Sends a request and waits for its response; false on failure or time-out.
bool ask(MessageQueue& queue, Runner& runner, Message message, uint16_t destination) {
    if (!message.IsValid() || !runner.SendRequest(message, destination))
        return false;
    int ref = message.GetHeader().refNum;
    int before = runner.responses;
    bool answered = pump_until(
        queue, [&] { return runner.responses > before && runner.last_ref == ref; }, 30000);
    return answered && runner.last_success;
}

int exit_status_from(const std::string& text, bool success) {
    int code = 0;
    if (sscanf(text.c_str(), "exit %d", &code) == 1)
        return code & 0xff;
    return success ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    runner_arguments_t args;
    std::string error;
    if (!runner_parse(argc, argv, args, error)) {
        fprintf(stderr, "fennick-cli: %s\n\n%s%s", error.c_str(), runner_usage(),
                camera_switches_usage());
        return 2;
    }
    if (args.help) {
        ::printf("%s%s", runner_usage(), camera_switches_usage());
        return 0;
    }
    filename_t script_file;
    filename_initialise(script_file);
    filename_set(script_file, string_make(args.script.c_str()));
    if (!file_exists(string_make(args.script.c_str()))) {
        fprintf(stderr, "fennick-cli: cannot read the script %s\n", args.script.c_str());
        filename_release(script_file);
        return 2;
    }

    log_open();
    log_register_module(log_application);
    log_register_module(log_camera);
    log_register_module(log_tcl);
    tcl_library_initialise(argv[0]);
    struct sigaction action = {};
    action.sa_handler = handle_signal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    Distributor::Initialise();
    Distributor::Start();
    MessageQueue queue;
    queue.SetName("main");
    queue.Initialise();
    Runner runner;
    queue.Register(&runner);

    if (args.disable) {
        CameraProcessor::SupportPTP = false;
        CameraProcessor::SupportCanonEOS = false;
    }
    MessageThread* tcl_thread = new MessageThread();
    TclProcessor* host = new TclProcessor();
    tcl_thread->Add(host);
    MessageThread* camera_thread = new MessageThread();
    CameraProcessor* cameras = new CameraProcessor();
    camera_switches_apply(args.switches, *cameras);
    camera_thread->Add(cameras);
    CameraCommand* command = new CameraCommand();
    TclScript script;

    int status = 1;
    bool started = tcl_thread->Start("TCL", nullptr, nullptr) &&
                   camera_thread->Start("CAMERA", nullptr, nullptr);
    if (!started) {
        log_writef(LEVEL_Error, log_application, "Failed to start the camera and script threads");
    } else {
        const uint16_t camera_location = Location::GetLocationId(CAMERA_ProcessorLocation, true);
        const uint16_t tcl_location = Location::GetLocationId(TCL_ProcessorLocation, true);
        const runner_options_t& o = args.options;
        pathname_t photo_path, liveview_path;
        pathname_initialise(photo_path);
        pathname_initialise(liveview_path);
        pathname_set(photo_path, string_make(o.photoPath.c_str()));
        pathname_set(liveview_path, string_make(o.liveViewPath.c_str()));
        log_writef(LEVEL_Info, log_application, "Photos are saved to: %s",
                   photo_path.path.view.text);
        CameraMessageBuilder builder(runner.GetEncoder(), -1, cameraid_t{}, stringid_t{}, false);
        bool ready = ask(queue, runner,
                         builder.SetOptions(photo_path, liveview_path, o.liveViewDataLimit,
                                            string_make(o.filenameExpression.c_str()),
                                            string_make(o.filenameValidation.c_str()),
                                            string_make(o.applicationName.c_str()),
                                            string_make(o.uniqueTag.c_str()), o.generateFilename,
                                            o.autoConnect, o.scanSequenceNum, o.scanBatchNum,
                                            string_make(o.defaultStorage.c_str())),
                         camera_location) &&
                     ask(queue, runner, builder.SetSequenceNum(o.sequenceNum), camera_location) &&
                     ask(queue, runner, builder.SetBatchNum(o.batchNum), camera_location);
        TclMessageBuilder tcl(*runner.GetEncoder());
        ready = ready && ask(queue, runner, tcl.Register(*command), tcl_location);
        pathname_release(photo_path);
        pathname_release(liveview_path);
        if (!ready) {
            log_writef(LEVEL_Error, log_application, "Failed to prepare the camera service");
        } else {
            script.Load(script_file.full_name.view);
            script.SetActive(true);
            Message execute = tcl.Execute(script);
            int before = runner.responses;
            if (runner.SendRequest(execute, tcl_location)) {
                pump_until(
                    queue, [&] { return runner.responses > before; }, 0,
                    [&] {
                        log_writef(LEVEL_Info, log_application, "Stopping the script (signal %d)",
                                   int(stop_signal));
                        host->Stop(script);
                    });
                status = exit_status_from(runner.script_text, runner.last_success);
                if (stop_signal != 0 && runner.script_text.empty())
                    status = 128 + int(stop_signal);
            }
        }
        // Orderly shut-down: the script, the command, the bus, then the threads.
        script.SetActive(false);
        if (command->IsRegistered()) {
            Message unregister = tcl.Unregister(*command);
            runner.SendRequest(unregister, tcl_location);
            pump_until(
                queue, [&] { return !command->IsRegistered(); }, 5000);
        }
    }
    Distributor::Stop();
    camera_thread->Stop(nullptr, nullptr);
    tcl_thread->Stop(nullptr, nullptr);
    if (!tcl_thread->WasForced()) {
        command->Detach();
        delete command;
    }
    const bool abandoned = tcl_thread->WasForced() || camera_thread->WasForced();
    MessageThread::Destroy(camera_thread);
    MessageThread::Destroy(tcl_thread);
    queue.Unregister(&runner);
    queue.Release();
    Distributor::Release();
    log_writef(LEVEL_Info, log_application, "fennick-cli exits with status %d", status);
    if (abandoned) {
        // A thread that could not be stopped may still use what the program would free
        // on the way out: leave at once.
        log_close();
        fflush(stdout);
        _exit(status);
    }
    script.Release();
    filename_release(script_file);
    log_close();
    return status;
}
