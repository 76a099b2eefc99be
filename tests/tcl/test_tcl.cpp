// Tcl scripts run through the host against the simulated cameras, checked by their
// results and the log; and the headless runner's exit statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>

#include "log_capture.h"
#include "velk/camera/camera_processor.h"
#include "velk/camera/camera_switches.h"
#include "velk/camera/src/test/test_driver.h"
#include "velk/core/thread.h"
#include "velk/message/distributor.h"
#include "velk/message/location.h"
#include "velk/message/message_queue.h"
#include "velk/message/message_thread.h"
#include "velk/tcl/camera_command.h"
#include "velk/tcl/tcl_processor.h"

using namespace velk;

namespace {

class Client final : public MessageProcessor {
  public:
    Client() : MessageProcessor("test::TclClient", false) {}
    void ReceiveResponse(const Message& message) override {
        const char* word = nullptr;
        if (!message.GetString(TCL_FIELD_Word, word)) {
            ++camera_responses; // the camera service's answer to the options
            return;
        }
        bool ok = false;
        message.GetBool(TCL_FIELD_Success, ok);
        const char* text = nullptr;
        last_text = message.GetString(TCL_FIELD_Text, text) ? text : "";
        last_success = ok;
        ++responses;
    }
    int responses = 0;
    int camera_responses = 0;
    bool last_success = false;
    std::string last_text;
};

class ScriptHost : public ::testing::Test {
  protected:
    void SetUp() override {
        char folder[] = "/tmp/fennick-tcl-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root = folder;
        tcl_library_initialise(nullptr);
        TestDevice::AutoFocusMicroseconds = 50000;
        Distributor::Initialise();
        Distributor::Start();
        queue.SetName("main");
        ASSERT_TRUE(queue.Initialise());
        ASSERT_TRUE(queue.Register(&client));
        host = new TclProcessor();
        tcl_thread.Add(host);
        ASSERT_TRUE(tcl_thread.Start("TCL", nullptr, nullptr));
        CameraProcessor::SupportPTP = false;
        CameraProcessor::SupportCanonEOS = false;
        CameraProcessor* cameras = new CameraProcessor();
        camera_switches_t switches;
        switches.simulate = true;
        camera_switches_apply(switches, *cameras);
        camera_thread.Add(cameras);
        ASSERT_TRUE(camera_thread.Start("CAMERA", nullptr, nullptr));
        tcl_location = Location::GetLocationId(TCL_ProcessorLocation, true);
        TclMessageBuilder builder(*client.GetEncoder());
        ASSERT_TRUE(Ask(builder.Register(command)));
        ASSERT_TRUE(command.IsRegistered());
        // Photos go to the test's folder.
        MessageEncoder* e = client.GetEncoder();
        e->Begin();
        e->AddField(FIELD_Request, int(REQUEST_SetOptions));
        e->AddField(FIELD_DownloadPath, (root + "/photos").c_str());
        Message options = e->End();
        client.SendRequest(options, Location::GetLocationId(CAMERA_ProcessorLocation, true));
        while (client.camera_responses == 0) {
            thread_sleep(5, TIMER_Milliseconds);
            queue.Pump();
        }
    }
    void TearDown() override {
        script.SetActive(false);
        TclMessageBuilder builder(*client.GetEncoder());
        if (command.IsRegistered())
            Ask(builder.Unregister(command));
        Distributor::Stop();
        camera_thread.Stop(nullptr, nullptr);
        tcl_thread.Stop(nullptr, nullptr);
        command.Detach();
        queue.Unregister(&client);
        queue.Release();
        Distributor::Release();
        std::filesystem::remove_all(root);
    }

    // Sends to the host and pumps until the response (30 s at most).
    bool Ask(Message message) {
        int before = client.responses;
        EXPECT_TRUE(client.SendRequest(message, tcl_location));
        uint64_t start = timer_now();
        while (client.responses == before && timer_now() - start < 30000000) {
            thread_sleep(5, TIMER_Milliseconds);
            queue.Pump();
        }
        EXPECT_GT(client.responses, before) << "no response from the script host";
        return client.last_success;
    }

    // Starts a script and pumps until it is running; returns the response count before.
    int StartRunning(const std::string& path) {
        script.Load(string_make(path.c_str()));
        script.SetActive(true);
        int before = client.responses;
        TclMessageBuilder builder(*client.GetEncoder());
        Message execute = builder.Execute(script);
        EXPECT_TRUE(client.SendRequest(execute, tcl_location));
        while (script.GetState() != TclScript::Running) {
            thread_sleep(5, TIMER_Milliseconds);
            queue.Pump();
        }
        return before;
    }

    // Pumps until a response after `before` arrives (10 s at most).
    void WaitForResponse(int before) {
        uint64_t start = timer_now();
        while (client.responses == before && timer_now() - start < 10000000) {
            thread_sleep(5, TIMER_Milliseconds);
            queue.Pump();
        }
    }

    std::string Write(const std::string& text, const char* name = "script.tcl") {
        std::string path = root + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    // Runs a script to its end; returns the host's success flag.
    bool Run(const std::string& text, const char* params = nullptr) {
        std::string path = Write(text);
        script.Load(string_make(path.c_str()));
        script.SetActive(true);
        TclMessageBuilder builder(*client.GetEncoder());
        return Ask(params == nullptr ? builder.Execute(script)
                                     : builder.Execute(script, string_t{}, string_make(params)));
    }

    test_support::LogCapture log;
    MessageQueue queue;
    Client client;
    MessageThread tcl_thread, camera_thread;
    TclProcessor* host = nullptr;
    CameraCommand command;
    TclScript script;
    uint16_t tcl_location = 0;
    std::string root;
};

} // namespace

TEST_F(ScriptHost, SubCommandsSucceedFailAndError) {
    struct Case {
        const char* line;
        int code; // 0 a result, 1 a Tcl error
        const char* result;
    } cases[] = {
        {"Fennick", 1, ""},
        {"Fennick Nope", 1, ""},
        {"Fennick GetPhotoDetails", 0, ""},
        {"Fennick GetCameraName", 0, ""},
        {"Fennick DetectCameras", 0, "1"},
        {"Fennick GetNumCameras", 0, "3"},
        {"Fennick SetActiveCamera 7", 0, "0"},
        {"Fennick SetActiveCamera", 1, ""},
        {"Fennick SetActiveCamera 1", 0, "1"},
        {"Fennick GetActiveCamera", 0, "1"},
        {"Fennick Connect", 0, "1"},
        {"Fennick GetCameraName", 0, "Z TEST Camera"},
        {"Fennick Set Aperture 99", 0, "0"},
        {"Fennick Set Speed 1/100", 1, ""},
        {"Fennick Set Aperture", 1, ""},
        {"Fennick Set Aperture 5.5", 0, "1"},
        {"Fennick Get Aperture", 0, "5.5"},
        {"Fennick Get", 1, ""},
        {"Fennick GetList DriveMode", 0, "Single Continuous"},
        {"Fennick BulbExposure", 0, "0"},
        {"Fennick BulbExposure soon", 0, "0"},
        {"Fennick BulbExposure -2", 0, "0"},
        {"Fennick BulbExposure 0", 0, "0"},
        {"Fennick BulbExposure inf", 0, "0"},
        {"Fennick SetActivePhoto 7", 0, "0"},
        {"Fennick TakePhoto", 0, "1"},
        {"Fennick GetNumPhotos", 0, "1"},
        {"Fennick SetActivePhoto 0", 0, "1"},
        {"Fennick GetActivePhoto", 0, "0"},
        {"Fennick AutoFocus", 0, "1"},
        {"Fennick MoveFocus 2", 1, ""}, // the simulated camera cannot focus in steps
        {"Fennick MoveFocus", 1, ""},
        {"Fennick EnableVideo", 0, "0"},
        {"Fennick RenamePhoto", 0, "0"},
        {"Fennick RenamePhoto {Best \"one\"}", 0, "1"},
        {"Fennick EnableMultiMode", 0, "1"},
        {"Fennick MultiShot", 0, "1"},
        {"Fennick DisableMultiMode", 0, "1"},
        {"Fennick DownloadAll", 0, "1"},
        {"Fennick CheckStatus", 0, "1"},
        {"Fennick Wait 100 milliseconds", 0, "1"},
        {"Fennick Wait 5 minutes", 1, ""},
        {"Fennick Wait -1", 1, ""},
        {"Fennick Wait 1x", 1, ""},
        {"Fennick Wait", 1, ""},
        {"Fennick WaitUntil 0", 0, "1"},
    };
    std::string text = "proc try {line} {\n"
                       "    set code [catch {uplevel #0 $line} result]\n"
                       "    puts \"CASE|$code|$result\"\n"
                       "}\n";
    for (const Case& c : cases)
        text += std::string("try {") + c.line + "}\n";
    ASSERT_TRUE(Run(text));
    // The CASE lines in order, one per case.
    std::vector<std::pair<int, std::string>> seen;
    std::string output = log.Text();
    for (size_t at = output.find("\nCASE|"); at != std::string::npos;
         at = output.find("\nCASE|", at + 1)) {
        size_t end = output.find('\n', at + 1);
        std::string line = output.substr(at + 6, end - at - 6);
        size_t bar = line.find('|');
        seen.emplace_back(std::stoi(line.substr(0, bar)), line.substr(bar + 1));
    }
    ASSERT_EQ(seen.size(), std::size(cases));
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(cases[i].line);
        EXPECT_EQ(seen[i].first, cases[i].code) << seen[i].second;
        if (cases[i].code == 0) {
            EXPECT_EQ(seen[i].second, cases[i].result);
        }
    }
    EXPECT_TRUE(log.Contains("Unknown Fennick TCL function: Nope"));
    // A quoted name went through the key list and back.
    EXPECT_TRUE(std::filesystem::exists(root + "/photos/Best \"one\".jpg"));
}

TEST_F(ScriptHost, KeyListsReadBackAsArrays) {
    ASSERT_TRUE(Run("Fennick DetectCameras\n"
                    "Fennick Connect\n"
                    "Fennick TakePhoto\n"
                    "Fennick SetActivePhoto 0\n"
                    "Fennick RenamePhoto {a\\b \"q\" [x] $y}\n"
                    "array set photo [Fennick GetPhotoDetails]\n"
                    "array set camera [Fennick GetCameraDetails]\n"
                    "puts \"NAME=$photo(Name)|ORIGIN=$photo(Origin)|MODEL=$camera(Model)\"\n"));
    // Only the last component of a new name counts ("\\" separates components too); quotes,
    // brackets and dollars come back through the key list as they were.
    EXPECT_TRUE(log.Contains("NAME=b \"q\" [x] $y.jpg|ORIGIN=script|MODEL=TEST Camera"))
        << log.Text();
}

TEST_F(ScriptHost, ScriptErrorLogsErrorInfoAndFails) {
    std::string path = root + "/script.tcl";
    EXPECT_FALSE(Run("proc inner {} { error \"broken lens\" }\ninner\n"));
    EXPECT_TRUE(log.Contains("ERROR] TCL output:\nbroken lens\n    while executing"));
    EXPECT_TRUE(log.Contains("ERROR] TCL script failed: " + path));
    EXPECT_EQ(script.GetState(), TclScript::Finished);
}

TEST_F(ScriptHost, OutputLinesBecomeLogEntries) {
    ASSERT_TRUE(Run("puts first\nputs second\n"));
    EXPECT_TRUE(log.Contains("      TCL    info] \nfirst\n")) << log.Text();
    EXPECT_TRUE(log.Contains("\nsecond\n"));
}

TEST_F(ScriptHost, StopEndsALoopInsideAProcInsideCatch) {
    std::string path = Write("proc spin {} { while 1 {} }\ncatch { spin }\nputs unreachable\n");
    int before = StartRunning(path);
    thread_sleep(200, TIMER_Milliseconds);
    host->Stop(script);
    WaitForResponse(before);
    ASSERT_GT(client.responses, before);
    EXPECT_TRUE(client.last_success); // a stopped script counts as completed
    EXPECT_FALSE(log.Contains("unreachable"));
    EXPECT_TRUE(log.Contains("TCL script completed: " + path));
    // The host made a new interpreter, with the command still registered.
    EXPECT_TRUE(Run("puts [Fennick CheckStatus]\n"));
    EXPECT_TRUE(log.Contains("\n1\n"));
    // A stop that comes late (a second click) does not cut off the next run: it runs to
    // its end, and fails as it should.
    host->Stop(script);
    log.Clear();
    EXPECT_FALSE(Run("puts line-1\nafter 100\nputs line-2\nerror broken\n"));
    EXPECT_TRUE(log.Contains("\nline-2\n"));
    EXPECT_TRUE(log.Contains("TCL script failed"));
}

TEST_F(ScriptHost, StopInsideAWaitAndAQueuedScriptThatWasStopped) {
    std::string path = Write("Fennick Wait 60 seconds\nputs unreachable\n");
    int before = StartRunning(path);
    thread_sleep(300, TIMER_Milliseconds);
    uint64_t start = timer_now();
    host->Stop(script);
    WaitForResponse(before);
    EXPECT_LT(timer_now() - start, 3000000u); // noticed within a second or so
    EXPECT_FALSE(log.Contains("unreachable"));

    // Stopped before its turn: not evaluated, reported completed.
    log.Clear();
    script.SetActive(false);
    TclMessageBuilder builder(*client.GetEncoder());
    Message queued = builder.Execute(script);
    EXPECT_TRUE(Ask(queued));
    EXPECT_TRUE(log.Contains("TCL script completed: " + path));
    EXPECT_FALSE(log.Contains("TCL script: "));
    EXPECT_EQ(script.GetState(), TclScript::Finished);
}

TEST_F(ScriptHost, ParametersAreTakenLiterally) {
    std::string params = tcl_parameter_line("title", "a} [exit 3] {b \\ $x", true) +
                         tcl_parameter_line("gone", "", false);
    ASSERT_TRUE(Run("set gone 1\n", nullptr));
    ASSERT_TRUE(Run("puts \"TITLE=$title\"\nputs \"GONE=[info exists gone]\"\n", params.c_str()));
    EXPECT_TRUE(log.Contains("TITLE=a} [exit 3] {b \\ $x")) << log.Text();
    EXPECT_TRUE(log.Contains("GONE=0"));
    EXPECT_FALSE(log.Contains("asked to exit"));
}

TEST_F(ScriptHost, ExitEndsTheScriptWithItsStatus) {
    EXPECT_TRUE(Run("catch { exit 3 }\nputs unreachable\n"));
    EXPECT_EQ(client.last_text, "exit 3");
    EXPECT_FALSE(log.Contains("unreachable"));
    EXPECT_TRUE(Run("puts [Fennick CheckStatus]\n")); // the host goes on
    EXPECT_EQ(client.last_text, "");
    // "exit" in an interpreter the script made ends the script the same way, not the
    // process.
    EXPECT_TRUE(Run("interp create child\nchild eval {exit 5}\nputs unreachable\n"));
    EXPECT_EQ(client.last_text, "exit 5");
    EXPECT_FALSE(log.Contains("unreachable"));
}

namespace {

// Runs fennick-cli and returns its exit status.
int run_cli(const std::string& arguments, std::string* output = nullptr) {
    std::string command =
        std::string(FENNICK_CLI) + " " + arguments + " > /tmp/fennick-cli-test.log 2>&1";
    int status = system(command.c_str());
    if (output != nullptr) {
        std::ifstream in("/tmp/fennick-cli-test.log");
        *output = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(Runner, ExitStatuses) {
    char folder[] = "/tmp/fennick-cli-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string root = folder;
    auto write = [&](const char* name, const char* text) {
        std::string path = root + "/" + name;
        std::ofstream(path) << text;
        return path;
    };
    std::string photos = " --option photoPath=" + root + "/photos ";
    std::string output;
    struct Case {
        const char* name;
        std::string arguments;
        int status;
        const char* says;
    } cases[] = {
        {"completed",
         "--simulate" + photos +
             write("ok.tcl", "Fennick DetectCameras\nFennick Connect\nFennick TakePhoto\n"),
         0, "TCL script completed"},
        {"failed", photos + write("bad.tcl", "no_such_command\n"), 1, "TCL script failed"},
        {"exit 3", photos + write("exit.tcl", "exit 3\n"), 3, "exits with status 3"},
        {"no script", "--simulate", 2, "usage: fennick-cli"},
        {"unknown switch", "--frobnicate x.tcl", 2, "unknown switch"},
        {"bad option", "--option sequenceNum=zero x.tcl", 2, "takes a whole number"},
        {"unknown option", "--option colour=red x.tcl", 2, "unknown option key"},
        {"missing script", "/nonexistent/script.tcl", 2, "cannot read the script"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run_cli(c.arguments, &output), c.status) << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root + "/photos"),
                            std::filesystem::directory_iterator()),
              1);
    std::filesystem::remove_all(root);
}

TEST(Runner, InterruptStopsTheScriptAndShutsDown) {
    char folder[] = "/tmp/fennick-cli-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string root = folder;
    std::string path = root + "/forever.tcl";
    std::ofstream(path) << "puts started\nwhile 1 {}\n";
    std::string log_path = root + "/log.txt";
    std::string command = std::string("(") + FENNICK_CLI + " " + path + " > " + log_path +
                          " 2>&1 & pid=$!; for i in $(seq 100); do grep -q started " + log_path +
                          " && break; sleep 0.1; done; kill -INT $pid; wait $pid)";
    int status = system(command.c_str());
    std::ifstream in(log_path);
    std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT) << output;
    EXPECT_NE(output.find("TCL script completed"), std::string::npos) << output;
    EXPECT_NE(output.find("Log closed"), std::string::npos) << output;
    std::filesystem::remove_all(root);
}
