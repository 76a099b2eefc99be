// The process-wide log: entries, modules, levels, handlers and the hex dump.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "log_capture.h"
#include "velk/core/debug.h"
#include "velk/core/log.h"

using namespace velk;

namespace {

log_module_t test_module = {0, "LogTest"};
log_module_t test_module_twin = {0, "LogTest"};
log_module_t never_registered = {0, "Loose"};

} // namespace

TEST(Log, EntryHeaderLayout) {
    test_support::LogCapture log;
    log_register_module(LOG_Message);
    log.Clear();
    log_writef(LEVEL_Info, LOG_Message, "value %d", 7);
    log_writef(LEVEL_Error, LOG_General, "bad");
    log_writef(LEVEL_Warning, LOG_General, "careful");
    std::string text = log.Text();
    // [hh:mm:ss.mmm  Message    info] value 7
    std::regex info(R"(^\[\d\d:\d\d:\d\d\.\d\d\d  Message    info\] value 7\n)");
    EXPECT_TRUE(std::regex_search(text, info)) << text;
    EXPECT_NE(text.find(" General   ERROR] bad\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" General WARNING] careful\n"), std::string::npos) << text;
    // A module never registered logs with the first module's levels, under its own name.
    log_writef(LEVEL_Info, never_registered, "loose");
    EXPECT_TRUE(log.Contains("   Loose    info] loose\n")) << log.Text();
}

TEST(Log, OpenAndCloseEntries) {
    // Opening installs the default handler, so the first entry goes to standard output.
    log_close();
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(log_open());
    std::string opened = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(opened.find("   info] Log opened: " + std::string(log_platform()) + "\n"),
              std::string::npos)
        << opened;
#if defined(__linux__) && defined(__x86_64__) && !defined(__clang__)
    EXPECT_STREQ(log_platform(), "linux x86_64 gcc");
#endif
    std::string text;
    {
        test_support::LogCapture log;
        log_close();
        log_writef(LEVEL_Info, LOG_General, "after close");
        text = log.Text();
    }
    EXPECT_NE(text.find("info] Log closed\n"), std::string::npos);
    EXPECT_EQ(text.find("after close"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 11), "Log closed\n");
}

TEST(Log, LevelsAndSharedRegistration) {
    test_support::LogCapture log;
    log_register_module(test_module);
    log_register_module(test_module_twin);
    EXPECT_EQ(test_module.index, test_module_twin.index);
    EXPECT_NE(test_module.index, LOG_General.index);

    log.Clear();
    log_writef(LEVEL_Debug, test_module, "hidden");
    EXPECT_EQ(log.Text(), "");
    log_enable(LEVEL_Debug, test_module_twin, true); // the twin shares the level bits
    log_writef(LEVEL_Debug, test_module, "shown");
    EXPECT_TRUE(log.Contains("LogTest   debug] shown\n"));
    log_enable(LEVEL_Debug | LEVEL_Info, test_module, false);
    log.Clear();
    log_writef(LEVEL_Info, test_module, "quiet");
    log_writef(LEVEL_Error, test_module, "loud");
    EXPECT_FALSE(log.Contains("quiet"));
    EXPECT_TRUE(log.Contains("loud"));
}

TEST(Log, LongTextIsWrittenWhole) {
    test_support::LogCapture log;
    std::string text(5000, 'z');
    log.Clear();
    log_writef(LEVEL_Info, LOG_General, "%s|", text.c_str());
    EXPECT_TRUE(log.Contains(text + "|\n"));
}

TEST(Log, HexDumpOfTwentyBytes) {
    test_support::LogCapture log;
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i)
        bytes[i] = static_cast<unsigned char>(i < 16 ? 0x41 + i : i == 16 ? 0x00 : 0x7e + i - 17);
    log.Clear();
    ASSERT_TRUE(log_begin(LEVEL_Info, LOG_General));
    log_print(bytes, 20);
    log_end();
    std::string text = log.Text();
    std::string expected = "20 bytes\n"
                           "00000000  41 42 43 44 45 46 47 48  49 4A 4B 4C 4D 4E 4F 50  "
                           "|ABCDEFGHIJKLMNOP|\n"
                           "00000010  00 7E 7F 80" +
                           std::string(4 * 3, ' ') + " " + std::string(8 * 3, ' ') + "  |.~..|\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST(Log, NullHandlerRestoresStandardOutput) {
    test_support::LogCapture log;
    log_set_handler(nullptr, reinterpret_cast<void*>(1));
    ::testing::internal::CaptureStdout();
    log_writef(LEVEL_Info, LOG_General, "to stdout");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("info] to stdout\n"), std::string::npos);
    EXPECT_FALSE(log.Contains("to stdout"));
}

TEST(Debug, AssertCallsHandlerOnlyOnFailure) {
    std::string seen;
    debug_assert_set_handler(
        [](const char* text, void* context) { *static_cast<std::string*>(context) += text; },
        &seen);
    debug_assert(true, "fine");
    debug_assert(false, "broken");
    debug_assert_set_handler(nullptr, nullptr);
    EXPECT_EQ(seen, "broken");
    EXPECT_FALSE(is_debugger_attached());
}
