// The photo file-name validation pattern, through PCRE2's POSIX interface. Kept apart
// from everything that includes the system's <regex.h>, whose regex_t clashes.
#include <pcre2posix.h>

#include "velk/camera/camera_processor.h"

namespace velk {

struct camera_pattern_t {
    regex_t regex;
};

camera_pattern_t* camera_pattern_compile(const char* pattern, int& error) {
    camera_pattern_t* compiled = new (std::nothrow) camera_pattern_t();
    if (compiled == nullptr) {
        error = REG_ESPACE;
        return nullptr;
    }
    error = regcomp(&compiled->regex, pattern, REG_NOSUB);
    if (error != 0) {
        delete compiled;
        return nullptr;
    }
    return compiled;
}

bool camera_pattern_match(const camera_pattern_t* pattern, const char* text) {
    return regexec(&pattern->regex, text, 0, nullptr, 0) == 0;
}

void camera_pattern_free(camera_pattern_t* pattern) {
    if (pattern == nullptr)
        return;
    regfree(&pattern->regex);
    delete pattern;
}

} // namespace velk
