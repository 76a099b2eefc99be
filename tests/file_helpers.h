// Test helpers: strings and files as standard-library values.
#pragma once

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/resource.h>

#include "velk/core/string.h"

namespace velk::test_support {

inline std::string to_std(string_t s) { return std::string(s.text, s.length); }

inline string_t view(const std::string& s) {
    return string_make(s.c_str(), static_cast<uint32_t>(s.size()));
}

inline std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// The names in a folder.
inline std::set<std::string> list_folder(const std::string& path) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.insert(entry.path().filename().string());
    return names;
}

// Lowers the file size limit so that writes past `bytes` fail with EFBIG instead of
// raising SIGXFSZ; restores both on destruction. Assertions belong after restore()
// so that the test output is never written under the limit.
struct FileSizeLimit {
    rlimit old_limit{};
    void (*old_handler)(int) = SIG_DFL;
    bool active = false;
    explicit FileSizeLimit(rlim_t bytes) {
        old_handler = signal(SIGXFSZ, SIG_IGN);
        if (getrlimit(RLIMIT_FSIZE, &old_limit) != 0)
            return;
        rlimit limit = old_limit;
        limit.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    void restore() {
        if (active)
            setrlimit(RLIMIT_FSIZE, &old_limit);
        active = false;
        signal(SIGXFSZ, old_handler);
    }
    ~FileSizeLimit() { restore(); }
};

} // namespace velk::test_support
