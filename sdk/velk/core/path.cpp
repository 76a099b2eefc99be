// Folder names, path texts, standard folders and folders on disk.
#include "velk/core/path.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "velk/core/filename.h"
#include "velk/core/log.h"

namespace velk {
namespace {

void skip_separators(const char* s, uint32_t n, uint32_t& r) {
    while (r < n && path_is_separator(s[r]))
        ++r;
}

// The value of an environment variable, or null when it is unset or empty.
const char* environment(const char* name) {
    const char* value = getenv(name);
    return (value != nullptr && value[0] != 0) ? value : nullptr;
}

bool is_directory(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

void recount(pathname_t& folder) { folder.depth = path_depth(folder.path.view); }

} // namespace

bool path_is_separator(char c) { return c == '/' || c == '\\'; }

bool path_is_relative(string_t path) {
    return path.length == 0 || !path_is_separator(path.text[0]);
}

int32_t path_depth(string_t path) {
    int32_t depth = 0;
    for (uint32_t i = 0; i < path.length; ++i)
        if (path_is_separator(path.text[i]))
            ++depth;
    return depth;
}

void path_normalise(stringbuffer_t& path) {
    uint32_t n = path.view.length;
    if (n == 0)
        return;
    char* s = path.buffer;
    bool absolute = path_is_separator(s[0]);
    uint32_t r = 0, w = 0;
    while (r < n) {
        if (path_is_separator(s[r])) {
            s[w++] = '/';
            skip_separators(s, n, r);
            continue;
        }
        // r stands at the start of a component.
        if (s[r] == '.' && (r + 1 == n || path_is_separator(s[r + 1]))) {
            r += 1;
            skip_separators(s, n, r);
            continue;
        }
        if (s[r] == '.' && r + 1 < n && s[r + 1] == '.' &&
            (r + 2 == n || path_is_separator(s[r + 2]))) {
            r += 2;
            skip_separators(s, n, r);
            if (w > 0) {
                // Drop the last written component: back to just after the '/' before it.
                int64_t p = int64_t(w) - 1;
                if (s[p] == '/')
                    --p;
                while (p >= 0 && s[p] != '/')
                    --p;
                w = uint32_t(p + 1);
                if (absolute && w < 1)
                    w = 1;
            }
            continue;
        }
        while (r < n && !path_is_separator(s[r]))
            s[w++] = s[r++];
    }
    if (w > 1 && s[w - 1] == '/')
        --w;
    s[w] = 0;
    path.view.length = w;
    if (w == 0)
        path.view.text = empty_cstr;
}

bool path_get_current(pathname_t& folder) {
    char* current = getcwd(nullptr, 0);
    if (current == nullptr)
        return false;
    bool ok = stringbuffer_set(folder.path, string_make(current));
    free(current);
    if (ok) {
        path_normalise(folder.path);
        recount(folder);
    }
    return ok;
}

bool path_set_current(string_t path) { return path.length > 0 && chdir(path.text) == 0; }

void pathname_initialise(pathname_t& folder) {
    stringbuffer_initialise(folder.path);
    folder.depth = 0;
}

void pathname_release(pathname_t& folder) {
    stringbuffer_release(folder.path);
    folder.depth = 0;
}

bool pathname_set(pathname_t& folder, string_t text) {
    stringbuffer_t composed;
    stringbuffer_initialise(composed);
    bool ok = true;
    if (path_is_relative(text)) {
        pathname_t current;
        pathname_initialise(current);
        ok = path_get_current(current) && stringbuffer_set(composed, current.path.view) &&
             stringbuffer_append(composed, '/') && stringbuffer_append(composed, text);
        pathname_release(current);
    } else {
        ok = stringbuffer_set(composed, text);
    }
    if (ok) {
        path_normalise(composed);
        ok = stringbuffer_set(folder.path, composed.view);
        if (ok)
            recount(folder);
    }
    stringbuffer_release(composed);
    return ok;
}

bool pathname_set(pathname_t& folder, const pathname_t& other) {
    if (&folder == &other)
        return true;
    if (!stringbuffer_set(folder.path, other.path.view))
        return false;
    folder.depth = other.depth;
    return true;
}

bool pathname_append(pathname_t& folder, string_t text) {
    if (text.length > 0 && path_is_separator(text.text[0]))
        return false;
    stringbuffer_t composed;
    stringbuffer_initialise(composed);
    bool ok = stringbuffer_set(composed, folder.path.view) && stringbuffer_append(composed, '/') &&
              stringbuffer_append(composed, text);
    if (ok) {
        path_normalise(composed);
        ok = stringbuffer_set(folder.path, composed.view);
        if (ok)
            recount(folder);
    }
    stringbuffer_release(composed);
    return ok;
}

void pathname_up_level(pathname_t& folder, int32_t count) {
    if (count <= 0 || count >= folder.depth)
        return;
    uint32_t end = folder.path.view.length;
    for (int32_t removed = 0; removed < count && end > 0;) {
        --end;
        if (folder.path.buffer[end] == '/')
            ++removed;
    }
    if (end == 0)
        return;
    stringbuffer_unlock(folder.path, end);
    recount(folder);
}

bool path_get_home(pathname_t& folder) {
    const char* home = environment("HOME");
    return home != nullptr ? pathname_set(folder, string_make(home)) : path_get_current(folder);
}

bool path_get_data(pathname_t& folder) {
    const char* data = environment("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/')
        return pathname_set(folder, string_make(data));
    if (!path_get_home(folder))
        return false;
    return pathname_append(folder, string_make(".local/share"));
}

bool path_get_apps(pathname_t& folder) { return pathname_set(folder, string_make("/usr/bin")); }

bool path_get_temp(pathname_t& folder) {
    static const char* const names[] = {"TMP", "TEMP", "TMPDIR"};
    for (const char* name : names) {
        const char* value = environment(name);
        if (value != nullptr)
            return pathname_set(folder, string_make(value));
    }
    return pathname_set(folder, string_make("/tmp"));
}

bool path_get_exe(pathname_t& file) {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0)
        return false;
    buffer[length] = 0;
    return pathname_set(file, string_make(buffer));
}

// Shipped files: $FENNICK_RESOURCES when set; otherwise <exe folder>/../share/fennick
// when it exists (installed layout); otherwise the source tree's resources folder, so a
// build runs straight from its build folder.
bool path_get_resource(pathname_t& folder) {
    const char* configured = environment("FENNICK_RESOURCES");
    if (configured != nullptr)
        return pathname_set(folder, string_make(configured));
    pathname_t installed;
    pathname_initialise(installed);
    bool found = path_get_exe(installed) && installed.depth > 1;
    if (found) {
        pathname_up_level(installed, 1);
        found = pathname_append(installed, string_make("../share/fennick")) &&
                path_exists(installed.path.view) && pathname_set(folder, installed);
    }
    pathname_release(installed);
    if (found)
        return true;
#ifdef FENNICK_SOURCE_RESOURCES
    return pathname_set(folder, string_make(FENNICK_SOURCE_RESOURCES));
#else
    return false;
#endif
}

bool path_exists(string_t path) { return path.length > 0 && is_directory(path.text); }

bool path_is_empty(string_t path) {
    DIR* dir = path.length > 0 ? opendir(path.text) : nullptr;
    if (dir == nullptr)
        return true;
    bool empty = true;
    while (struct dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(dir);
    return empty;
}

bool path_create(string_t path) {
    if (path.length > 0 && is_directory(path.text))
        return true;
    pathname_t folder;
    pathname_initialise(folder);
    if (path.length == 0 || !pathname_set(folder, path) || folder.path.view.length == 0) {
        log_writef(LEVEL_Error, LOG_General, "Failed to create directory, path is invalid: %s",
                   path.text);
        pathname_release(folder);
        return false;
    }
    char* s = folder.path.buffer;
    uint32_t n = folder.path.view.length;
    bool ok = true;
    // Each prefix ending before a '/' (and the whole path), shallowest first.
    for (uint32_t i = 1; i <= n && ok; ++i) {
        if (i < n && s[i] != '/')
            continue;
        char saved = s[i];
        s[i] = 0;
        if (!is_directory(s) && mkdir(s, 0700) != 0 && errno != EEXIST) {
            log_writef(LEVEL_Error, LOG_General, "Failed to create directory '%s': %s", s,
                       strerror(errno));
            ok = false;
        }
        s[i] = saved;
    }
    ok = ok && is_directory(folder.path.view.text);
    pathname_release(folder);
    return ok;
}

bool path_sort_files(const filename_t& a, const filename_t& b) {
    return strcmp(a.full_name.view.text, b.full_name.view.text) < 0;
}

bool path_find_files(std::vector<filename_t>& files, const pathname_t& folder) {
    DIR* dir = folder.path.view.length > 0 ? opendir(folder.path.view.text) : nullptr;
    if (dir == nullptr)
        return false;
    int fd = dirfd(dir);
    while (struct dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        bool directory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            directory = fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISDIR(info.st_mode);
        }
        if (directory)
            continue;
        filename_t file;
        filename_initialise(file);
        if (filename_set_entry(file, folder, string_make(entry->d_name)))
            files.push_back(file);
        else
            filename_release(file);
    }
    closedir(dir);
    std::sort(files.begin(), files.end(), path_sort_files);
    return !files.empty();
}

} // namespace velk
