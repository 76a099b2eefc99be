// Folder names (pathname_t): always absolute and normalised, '/' the only separator.
// Also path texts, the standard folders and folders on disk.
#pragma once

#include <cstdint>
#include <vector>

#include "velk/core/stringbuffer.h"

namespace velk {

struct filename_t;

struct pathname_t {
    static constexpr char Separator = '/';
    stringbuffer_t path; // absolute, normalised, no trailing '/' except for the root
    int32_t depth = 0;   // the number of separators in path
};

// Rewrites a path in place: '\' becomes '/', runs of separators fold, "." components
// go, ".." removes the component before it (never above the root), and a trailing
// separator is dropped except for the root.
void path_normalise(stringbuffer_t& path);
// True for an empty text or one that does not start with '/' or '\'.
bool path_is_relative(string_t path);
bool path_is_separator(char c);
// The number of '/' and '\' characters.
int32_t path_depth(string_t path);

// The process's current folder, whatever its length. False (folder unchanged) when it
// cannot be read.
bool path_get_current(pathname_t& folder);
// Changes the process's current folder; false when it cannot.
bool path_set_current(string_t path);

// Empty path, depth 0 / frees the text.
void pathname_initialise(pathname_t& folder);
void pathname_release(pathname_t& folder);
// Sets the folder from a text; a relative text is taken from the current folder.
bool pathname_set(pathname_t& folder, string_t text);
bool pathname_set(pathname_t& folder, const pathname_t& other);
// Appends "/" + text and normalises; a text starting with a separator is refused.
bool pathname_append(pathname_t& folder, string_t text);
// Removes the last `count` components; nothing when count is 0 or not below depth.
void pathname_up_level(pathname_t& folder, int32_t count);

// Standard folders, each set through pathname_set. False when the platform does not
// tell (the record is then unchanged).
bool path_get_home(pathname_t& folder);     // $HOME, else the current folder
bool path_get_data(pathname_t& folder);     // $XDG_DATA_HOME, else ~/.local/share
bool path_get_apps(pathname_t& folder);     // /usr/bin
bool path_get_temp(pathname_t& folder);     // $TMP, $TEMP, $TMPDIR (first non-empty), else /tmp
bool path_get_exe(pathname_t& file);        // the running executable's full path
bool path_get_resource(pathname_t& folder); // shipped files (see path.cpp)

// Folders on disk. path_exists: the path names a directory.
bool path_exists(string_t path);
// True when the directory cannot be opened or holds nothing but "." and "..".
bool path_is_empty(string_t path);
// Makes the directory and every missing parent (mode 0700); true if it exists after.
// Logs what failed.
bool path_create(string_t path);
// Appends one record per entry of `folder` that is not a directory (the caller releases
// them), then sorts the whole vector by full name in byte order. True when the folder
// could be opened and the vector is not empty.
bool path_find_files(std::vector<filename_t>& files, const pathname_t& folder);
// True when a's full name is before b's in byte order.
bool path_sort_files(const filename_t& a, const filename_t& b);

} // namespace velk
