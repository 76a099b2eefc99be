// Files on disk: tests, renames, deletes, whole-file reads and atomic whole-file writes.
#include "velk/core/file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "velk/core/log.h"
#include "velk/core/memory.h"

namespace velk {
namespace {

bool stat_path(string_t path, struct stat& info) {
    return path.length > 0 && stat(path.text, &info) == 0;
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool file_write_all(int fd, const void* data, uint64_t length) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        size_t chunk = length > (1u << 30) ? (1u << 30) : size_t(length);
        ssize_t written = write(fd, bytes, chunk);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        length -= uint64_t(written);
    }
    return true;
}

bool file_exists(string_t path) {
    struct stat info;
    return stat_path(path, info) && S_ISREG(info.st_mode);
}

uint64_t file_num_bytes(string_t path) {
    struct stat info;
    return stat_path(path, info) ? uint64_t(info.st_size) : 0;
}

int64_t file_timestamp(string_t path) {
    struct stat info;
    return stat_path(path, info) ? int64_t(info.st_mtime) : 0;
}

bool file_rename(string_t from, string_t to) {
    return from.length > 0 && to.length > 0 && rename(from.text, to.text) == 0;
}

bool file_rename_noreplace(string_t from, string_t to) {
    if (from.length == 0 || to.length == 0)
        return false;
    if (renameat2(AT_FDCWD, from.text, AT_FDCWD, to.text, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    // The file system cannot rename without replacing: a hard link fails when the
    // target exists, so link, then drop the old name.
    if (link(from.text, to.text) != 0)
        return false;
    if (unlink(from.text) != 0) {
        unlink(to.text);
        return false;
    }
    return true;
}

bool file_delete(string_t path) { return path.length > 0 && unlink(path.text) == 0; }

void file_touch(string_t path) { (void)path; }

bool file_write_atomic(string_t path, const void* data, uint64_t length) {
    if (path.length == 0)
        return false;
    std::string target(path.text, path.length);
    std::string folder = folder_of(target);
    std::string name =
        target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    std::string temporary = folder + "/." + name.substr(0, FILE_TemporaryNameMax) + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) {
        log_writef(LEVEL_Error, LOG_General, "Failed to write '%s': %s", target.c_str(),
                   strerror(errno));
        return false;
    }
    struct stat info;
    mode_t mode = (stat(target.c_str(), &info) == 0) ? (info.st_mode & 07777) : 0644;
    fchmod(fd, mode);
    bool ok = file_write_all(fd, data, length) && fsync(fd) == 0;
    int error = errno;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        unlink(temporary.c_str());
        log_writef(LEVEL_Error, LOG_General, "Failed to write '%s': %s", target.c_str(),
                   strerror(error));
        return false;
    }
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

void filecontents_initialise(filecontents_t& contents) {
    contents.data = nullptr;
    contents.length = 0;
    contents.timestamp = 0;
}

void filecontents_release(filecontents_t& contents) {
    memory_free(contents.data, VELK_TAG);
    filecontents_initialise(contents);
}

bool filecontents_load(filecontents_t& contents, string_t path) {
    filecontents_release(contents);
    if (path.length == 0)
        return false;
    // Non-blocking, so that opening a FIFO does not wait for a writer; it is refused
    // below as not a regular file.
    int fd = open(path.text, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        uint64_t(info.st_size) >= 0xffffffffu) {
        close(fd);
        return false;
    }
    uint32_t size = uint32_t(info.st_size);
    unsigned char* data = static_cast<unsigned char*>(memory_alloc(size_t(size) + 1, 1, VELK_TAG));
    if (data == nullptr) {
        close(fd);
        return false;
    }
    uint32_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += uint32_t(n);
    }
    close(fd);
    if (got < size) {
        memory_free(data, VELK_TAG);
        return false;
    }
    data[size] = 0;
    contents.data = data;
    contents.length = size;
    contents.timestamp = int64_t(info.st_mtime);
    return true;
}

string_t filecontents_as_string(const filecontents_t& contents) {
    if (contents.data == nullptr)
        return string_t{};
    const char* text = reinterpret_cast<const char*>(contents.data);
    return string_make(text, uint32_t(strnlen(text, contents.length)));
}

} // namespace velk
