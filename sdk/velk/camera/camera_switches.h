// The camera-driver switches every program that starts the camera service takes:
//   --simulate          the simulated cameras that serve image files
//   --simulate-ptp N    N simulated PTP cameras (not in this build yet)
//   --simulate-eos N    N simulated EOS cameras (not in this build yet)
#pragma once

#include <string>

namespace velk {

class CameraProcessor;

struct camera_switches_t {
    bool simulate = false;
    int simulate_ptp = 0;
    int simulate_eos = 0;
};

// Reads the switch at argv[i] (and its value), advancing i past what it used. Returns
// 1 when it was a camera switch, 0 when it was not one, -1 on a bad value (error set).
int camera_switches_parse(camera_switches_t& switches, int argc, char** argv, int& i,
                          std::string& error);
// The usage lines of the switches.
const char* camera_switches_usage();
// Adds the drivers the switches ask for; call before the processor is initialised.
void camera_switches_apply(const camera_switches_t& switches, CameraProcessor& processor);

} // namespace velk
