// The headless runner's command line and the camera-service options it applies.
#pragma once

#include <string>
#include <vector>

#include "velk/camera/camera_switches.h"

namespace velk::fennick {

// The camera-service options, with the defaults of a fresh options file.
struct runner_options_t {
    std::string photoPath;    // default: the user's Pictures folder with "Fennick"
    std::string liveViewPath; // default: photoPath with "LiveView"
    int liveViewDataLimit = 10;
    std::string filenameExpression = "FNK_[S]";
    std::string filenameValidation;
    std::string applicationName = "Group1";
    std::string uniqueTag = "Custom1";
    bool generateFilename = false;
    bool autoConnect = false;
    bool scanSequenceNum = false;
    bool scanBatchNum = false;
    std::string defaultStorage = "Not set";
    int sequenceNum = 1;
    int batchNum = 1;
    bool liveViewPathSet = false;
};

struct runner_arguments_t {
    camera_switches_t switches;
    bool disable = false; // no camera drivers of the platform
    bool help = false;
    runner_options_t options;
    std::string script;
};

// The user's pictures folder: $XDG_PICTURES_DIR, else $HOME/Pictures.
std::string runner_pictures_folder();

// Applies one "KEY=VALUE"; false with a message for an unknown key or a bad value.
bool runner_set_option(runner_options_t& options, const std::string& assignment,
                       std::string& error);

// Parses the command line; false with a message on a usage error.
bool runner_parse(int argc, char** argv, runner_arguments_t& out, std::string& error);

const char* runner_usage();

} // namespace velk::fennick
