// Files on disk: tests, renames and deletes, whole-file reads (filecontents_t) and
// whole-file writes that never leave a half-written file under the target's name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "velk/core/string.h"

namespace velk {

// True when the path names a regular file (links followed).
bool file_exists(string_t path);
// The size in bytes, 0 when it cannot be read.
uint64_t file_num_bytes(string_t path);
// The modification time in seconds since 1970, 0 when it cannot be read.
int64_t file_timestamp(string_t path);
// Renames atomically (rename(2)); an existing target file is replaced in one step, so
// a failure leaves both files as they were, and renaming a file onto itself keeps it.
bool file_rename(string_t from, string_t to);
// Renames only when nothing exists under `to`; false (both untouched) otherwise.
bool file_rename_noreplace(string_t from, string_t to);
// Removes the file; true on success.
bool file_delete(string_t path);
// Does nothing (kept for callers that mark a file as used).
void file_touch(string_t path);

// Writes every byte to an open file descriptor, retrying short writes and
// interruptions; false on the first error.
bool file_write_all(int fd, const void* data, uint64_t length);

// Writes `length` bytes as the whole content of `path`: into a temporary file in the
// same folder, flushed to disk, then renamed over the target. On any failure the
// temporary file is removed, the old file stays as it was, and the failure is logged.
bool file_write_atomic(string_t path, const void* data, uint64_t length);

// Longest part of a target's name kept in the name of its temporary file
// (".<name>.XXXXXX" beside it), so that it stays within the 255 bytes of a file name.
constexpr size_t FILE_TemporaryNameMax = 200;

struct filecontents_t {
    unsigned char* data = nullptr; // the whole file plus a NUL; null when nothing loaded
    uint32_t length = 0;           // bytes read
    int64_t timestamp = 0;         // modification time when read (seconds since 1970)
};

void filecontents_initialise(filecontents_t& contents);
void filecontents_release(filecontents_t& contents);
// Reads the whole regular file. False, with the record empty, when it is not a regular
// file, is empty, is larger than 4 GiB, memory runs out or it cannot be read whole.
bool filecontents_load(filecontents_t& contents, string_t path);
// The data up to the first NUL (the empty view when nothing is loaded).
string_t filecontents_as_string(const filecontents_t& contents);

} // namespace velk
