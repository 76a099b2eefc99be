// The headless runner's command line.
#include "cli/runner_options.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace velk::fennick {
namespace {

bool parse_bool(const std::string& text, bool& out) {
    if (text == "true" || text == "1" || text == "yes" || text == "on") {
        out = true;
        return true;
    }
    if (text == "false" || text == "0" || text == "no" || text == "off") {
        out = false;
        return true;
    }
    return false;
}

bool parse_int(const std::string& text, int& out) {
    const char* end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, out);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

} // namespace

std::string runner_pictures_folder() {
    const char* pictures = getenv("XDG_PICTURES_DIR");
    if (pictures != nullptr && pictures[0] == '/')
        return pictures;
    const char* home = getenv("HOME");
    return std::string(home != nullptr && home[0] != 0 ? home : "/tmp") + "/Pictures";
}

bool runner_set_option(runner_options_t& o, const std::string& assignment, std::string& error) {
    size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
        error = "--option needs KEY=VALUE, not '" + assignment + "'";
        return false;
    }
    const std::string key = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    struct text_key_t {
        const char* name;
        std::string* field;
    } texts[] = {
        {"photoPath", &o.photoPath},
        {"liveViewPath", &o.liveViewPath},
        {"filenameExpression", &o.filenameExpression},
        {"filenameValidation", &o.filenameValidation},
        {"applicationName", &o.applicationName},
        {"uniqueTag", &o.uniqueTag},
        {"defaultStorage", &o.defaultStorage},
    };
    for (const text_key_t& t : texts) {
        if (key == t.name) {
            *t.field = value;
            if (key == "liveViewPath")
                o.liveViewPathSet = true;
            return true;
        }
    }
    struct flag_key_t {
        const char* name;
        bool* field;
    } flags[] = {
        {"generateFilename", &o.generateFilename},
        {"autoConnect", &o.autoConnect},
        {"scanSequenceNum", &o.scanSequenceNum},
        {"scanBatchNum", &o.scanBatchNum},
    };
    for (const flag_key_t& f : flags) {
        if (key == f.name) {
            if (parse_bool(value, *f.field))
                return true;
            error = "option " + key + " takes true or false, not '" + value + "'";
            return false;
        }
    }
    struct number_key_t {
        const char* name;
        int* field;
        int minimum;
    } numbers[] = {
        {"liveViewDataLimit", &o.liveViewDataLimit, 0},
        {"sequenceNum", &o.sequenceNum, 1},
        {"batchNum", &o.batchNum, 1},
    };
    for (const number_key_t& n : numbers) {
        if (key == n.name) {
            int number = 0;
            if (parse_int(value, number) && number >= n.minimum) {
                *n.field = number;
                return true;
            }
            error = "option " + key + " takes a whole number of at least " +
                    std::to_string(n.minimum) + ", not '" + value + "'";
            return false;
        }
    }
    error = "unknown option key '" + key + "'";
    return false;
}

bool runner_parse(int argc, char** argv, runner_arguments_t& out, std::string& error) {
    out.options.photoPath = runner_pictures_folder() + "/Fennick";
    for (int i = 1; i < argc;) {
        const char* arg = argv[i];
        int camera = camera_switches_parse(out.switches, argc, argv, i, error);
        if (camera < 0)
            return false;
        if (camera > 0)
            continue;
        if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            out.help = true;
            ++i;
        } else if (strcmp(arg, "-d") == 0 || strcmp(arg, "--disable") == 0) {
            out.disable = true;
            ++i;
        } else if (strcmp(arg, "--option") == 0) {
            if (i + 1 >= argc) {
                error = "--option needs KEY=VALUE";
                return false;
            }
            if (!runner_set_option(out.options, argv[i + 1], error))
                return false;
            i += 2;
        } else if (arg[0] == '-' && arg[1] != 0) {
            error = std::string("unknown switch '") + arg + "'";
            return false;
        } else if (out.script.empty()) {
            out.script = arg;
            ++i;
        } else {
            error = "only one script can be run";
            return false;
        }
    }
    if (!out.options.liveViewPathSet)
        out.options.liveViewPath = out.options.photoPath + "/LiveView";
    if (out.script.empty() && !out.help) {
        error = "no script given";
        return false;
    }
    return true;
}

const char* runner_usage() {
    return "usage: fennick-cli [--simulate] [--disable] [--option KEY=VALUE]... SCRIPT.tcl\n"
           "\n"
           "Runs a Tcl script that drives the cameras with the command \"Fennick\", without a\n"
           "display. The log goes to standard output. Ctrl-C stops the script.\n"
           "\n"
           "  -d, --disable        do not start the camera drivers of the platform\n"
           "  --option KEY=VALUE   a camera-service option: photoPath, liveViewPath,\n"
           "                       liveViewDataLimit, filenameExpression, filenameValidation,\n"
           "                       applicationName, uniqueTag, generateFilename, autoConnect,\n"
           "                       scanSequenceNum, scanBatchNum, defaultStorage, sequenceNum,\n"
           "                       batchNum\n"
           "  -h, --help           this text\n"
           "Camera switches:\n";
}

} // namespace velk::fennick
