// The camera-driver switches.
#include "velk/camera/camera_switches.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "velk/camera/camera_processor.h"
#include "velk/camera/src/test/test_driver.h"

namespace velk {
namespace {

bool read_count(const char* text, int& out) {
    if (text == nullptr || text[0] == 0)
        return false;
    char* end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (errno != 0 || *end != 0 || value < 0 || value > 16)
        return false;
    out = int(value);
    return true;
}

} // namespace

int camera_switches_parse(camera_switches_t& switches, int argc, char** argv, int& i,
                          std::string& error) {
    const char* arg = argv[i];
    if (strcmp(arg, "--simulate") == 0) {
        switches.simulate = true;
        ++i;
        return 1;
    }
    const bool ptp = strcmp(arg, "--simulate-ptp") == 0;
    const bool eos = strcmp(arg, "--simulate-eos") == 0;
    if (!ptp && !eos)
        return 0;
    if (i + 1 >= argc ||
        !read_count(argv[i + 1], ptp ? switches.simulate_ptp : switches.simulate_eos)) {
        error = std::string(arg) + " needs a number of cameras from 0 to 16";
        return -1;
    }
    i += 2;
    return 1;
}

const char* camera_switches_usage() {
    return "  --simulate           add three simulated cameras that serve image files\n"
           "  --simulate-ptp N     offer N simulated PTP cameras\n"
           "  --simulate-eos N     offer N simulated EOS cameras\n";
}

void camera_switches_apply(const camera_switches_t& switches, CameraProcessor& processor) {
    if (switches.simulate)
        processor.AddDriver(new TestDriver(&processor));
    if (switches.simulate_ptp > 0)
        log_writef(LEVEL_Warning, log_camera,
                   "Simulated PTP cameras are not available in this build");
    if (switches.simulate_eos > 0)
        log_writef(LEVEL_Warning, log_camera,
                   "Simulated EOS cameras are not available in this build");
}

} // namespace velk
