// Photo naming and storage: the file-name expression, numbering, and saving, renaming
// and deleting photo files without ever overwriting or leaving the download folder.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "velk/camera/camera_processor.h"
#include "velk/core/file.h"
#include "velk/core/filename.h"

namespace velk {
namespace {

// A field width larger than this is cut to it: nobody needs a longer number, and a
// width from a typo must not make a name of a billion characters.
constexpr long MaxFieldWidth = 255;
// Candidates tried for a unique name before giving up.
constexpr int MaxUniqueAttempts = 100000;

// Appends a token's text with "/" and "\" made "_", so that a value (a camera's name,
// the application name) can never make a folder or climb out of one.
void append_value(stringbuffer_t& out, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        stringbuffer_append(out, (c == '/' || c == '\\') ? '_' : c);
    }
}

void append_text(stringbuffer_t& out, const string_t& text, long width) {
    append_value(out, text.text, text.length);
    for (long n = long(text.length); n < width; ++n)
        stringbuffer_append(out, ' ');
}

void append_number(stringbuffer_t& out, int value, long width) {
    if (width > 0)
        stringbuffer_appendf(out, "%0*d", int(width), value);
    else
        stringbuffer_appendf(out, "%d", value);
}

void set_text(stringid_t& field, const string_t& text) { stringid_resolve(field, text); }

// The last component of a name ("a/b.jpg" gives "b.jpg").
string_t last_component(const string_t& name) {
    uint32_t start = name.length;
    while (start > 0 && !path_is_separator(name.text[start - 1]))
        --start;
    return string_t{name.text + start, name.length - start};
}

// A name that can never be a photo file: empty, "." or "..", or one with a ".."
// component.
bool is_unusable_name(const string_t& name) {
    if (name.length == 0)
        return true;
    uint32_t start = 0;
    for (uint32_t i = 0; i <= name.length; ++i) {
        if (i == name.length || path_is_separator(name.text[i])) {
            uint32_t n = i - start;
            if ((n == 1 && name.text[start] == '.') ||
                (n == 2 && name.text[start] == '.' && name.text[start + 1] == '.'))
                return true;
            start = i + 1;
        }
    }
    return name.text[name.length - 1] == '/';
}

// The identity of the file at a path (device and inode), or false when there is none.
bool file_identity(const char* path, uint64_t& device, uint64_t& inode) {
    struct stat info;
    if (lstat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    device = uint64_t(info.st_dev);
    inode = uint64_t(info.st_ino);
    return true;
}

// The full path of candidate k of a file: the name itself for 0, "<base>_<k>" after.
void candidate_path(const filename_t& file, int k, stringbuffer_t& out) {
    stringbuffer_set(out, file.path.path.view);
    if (out.view.length != 1)
        stringbuffer_append(out, '/');
    stringbuffer_append(out, file.base_name.view);
    if (k > 0)
        stringbuffer_appendf(out, "_%d", k);
    stringbuffer_append(out, '.');
    stringbuffer_append(out, file.extension.view);
}

// Writes every byte to a new temporary file in `folder`, flushed to disk. The file's
// path goes to `temporary`; false (nothing left behind) on any failure.
bool write_temporary(const char* folder, const void* data, unsigned long size,
                     stringbuffer_t& temporary) {
    stringbuffer_format(temporary, "%s/.fennick-XXXXXX", folder);
    int fd = mkstemp(temporary.buffer);
    if (fd < 0)
        return false;
    fchmod(fd, 0644);
    bool ok = file_write_all(fd, data, size) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok)
        unlink(temporary.view.text);
    return ok;
}

} // namespace

void camera_compute_filename(stringbuffer_t& out, const string_t& expression,
                             const string_t& applicationName, const string_t& uniqueTag,
                             const string_t& cameraName, const string_t& filetype, int cameraNumber,
                             int sequenceNum, int batchNum) {
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr)
        memset(&local, 0, sizeof(local));
    stringbuffer_clear(out);
    const char* text = expression.text;
    const uint32_t length = expression.length;
    uint32_t i = 0;
    while (i < length) {
        char c = text[i];
        if (c != '[' || i + 1 >= length || !isalpha(static_cast<unsigned char>(text[i + 1]))) {
            stringbuffer_append(out, c);
            ++i;
            continue;
        }
        char letter = char(toupper(static_cast<unsigned char>(text[i + 1])));
        long width = 0;
        uint32_t end = 0; // index of the closing ']'
        const char* number = text + i + 2;
        char* stop = nullptr;
        errno = 0;
        long value = (i + 2 < length) ? strtol(number, &stop, 0) : 0;
        if (stop != nullptr && stop != number && uint32_t(stop - text) < length && *stop == ']') {
            width = value <= 0 ? 0 : (value > MaxFieldWidth ? MaxFieldWidth : value);
            end = uint32_t(stop - text);
        } else if (i + 2 < length && text[i + 2] == ']') {
            end = i + 2;
        }
        if (end == 0 || strchr("ABCDNSTU", letter) == nullptr) {
            stringbuffer_append(out, '[');
            ++i;
            continue;
        }
        switch (letter) {
        case 'A': append_text(out, applicationName, width); break;
        case 'B': append_number(out, batchNum, width); break;
        case 'C': append_text(out, cameraName, width); break;
        case 'D':
            stringbuffer_appendf(out, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                                 local.tm_mday);
            break;
        case 'N': append_number(out, cameraNumber, width); break;
        case 'S': append_number(out, sequenceNum, width); break;
        case 'T':
            stringbuffer_appendf(out, "%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
            break;
        case 'U': append_text(out, uniqueTag, width); break;
        }
        i = end + 1;
    }
    if (filetype.length > 0) {
        stringbuffer_append(out, '.');
        append_value(out, filetype.text, filetype.length);
    }
    for (uint32_t k = 0; k < out.view.length; ++k)
        if (out.buffer[k] == ' ')
            out.buffer[k] = '_';
}

bool CameraProcessor::ResolvePhotoPath(const string_t& name, stringbuffer_t& out) const {
    const string_t folder = m_downloadPath.path.view;
    if (folder.length == 0 || is_unusable_name(name))
        return false;
    stringbuffer_set(out, folder);
    stringbuffer_append(out, '/');
    stringbuffer_append(out, name);
    path_normalise(out);
    // Inside the download folder, and not the folder itself.
    bool root = folder.length == 1;
    return out.view.length > folder.length + (root ? 0 : 1) &&
           memcmp(out.view.text, folder.text, folder.length) == 0 &&
           (root || out.view.text[folder.length] == '/');
}

bool CameraProcessor::ValidateFilename(const char* name) {
    if (m_pattern == nullptr || camera_pattern_match(m_pattern, name))
        return true;
    log_writef(LEVEL_Warning, log_camera, "Photo filename failed validation against: %s",
               m_filenameValidation.view.text);
    return false;
}

void CameraProcessor::ScanDownloadFolder() {
    if (!m_scanSequenceNum && !m_scanBatchNum)
        return;
    int64_t time = file_timestamp(m_downloadPath.path.view);
    // A folder that cannot be read keeps time 0: it resets the numbers once, not for
    // every photo while it is missing.
    if (m_downloadFolderScanned && time == m_downloadFolderTime)
        return;
    m_downloadFolderScanned = true;
    m_downloadFolderTime = time;
    if (!path_is_empty(m_downloadPath.path.view))
        return;
    if (m_scanSequenceNum) {
        log_writef(LEVEL_Info, log_camera, "Photo sequence number reset from %d to: 1",
                   m_sequenceNum);
        m_sequenceNum = 1;
    }
    if (m_scanBatchNum) {
        log_writef(LEVEL_Info, log_camera, "Photo batch number reset from %d to: 1", m_batchNum);
        m_batchNum = 1;
        SetAllBatchNums(1);
    }
}

void CameraProcessor::AddPhoto(CameraDevice* device, CameraPhoto* photo) {
    if (photo == nullptr)
        return;
    photo->photo.id = photoid_t(m_photos.size());
    m_photos.push_back(photo);
    camera_t* camera = device != nullptr ? &device->camera : nullptr;
    if (m_generateFilename || photo->photo.name.length == 0) {
        ScanDownloadFolder();
        int32_t batch = camera != nullptr ? camera->batchNum : m_batchNum;
        stringbuffer_t name;
        stringbuffer_initialise(name);
        camera_compute_filename(name, m_filenameExpression.view, m_applicationName.view,
                                m_uniqueTag.view,
                                camera != nullptr ? stringid_string(camera->name) : string_t{},
                                stringid_string(photo->photo.filetype),
                                camera != nullptr ? camera->id.number : -1, m_sequenceNum, batch);
        set_text(photo->photo.name, name.view);
        stringbuffer_release(name);
        photo->photo.sequenceNum = m_sequenceNum;
        photo->photo.batchNum = batch;
    } else {
        // A name the camera supplied never makes folders.
        stringbuffer_t name;
        stringbuffer_initialise(name);
        append_value(name, photo->photo.name.text, photo->photo.name.length);
        set_text(photo->photo.name, name.view);
        stringbuffer_release(name);
    }
    ++m_sequenceNum;
    if (camera != nullptr && !photo->photo.video) {
        ++camera->numPhotosTaken;
        if (++camera->batchCount >= camera->batchSize) {
            camera->batchCount = 0;
            ++camera->batchNum;
        }
    }
    if (camera != nullptr && m_batchNum < camera->batchNum)
        m_batchNum = camera->batchNum;
    const char* kind = photo->photo.video ? "Video" : "Photo";
    bool valid = ValidateFilename(photo->photo.name.text);
    if (!valid)
        photo->photo.filenameValid = false;
    if (device != nullptr)
        BroadcastCameraStatus(device);
    BroadcastPhotoStatus(photo);
    if (valid)
        BroadcastInformationf("%s taken: %s", kind, photo->photo.name.text);
    else
        BroadcastInformationf("ERROR: Photo filename failed validation: %s",
                              photo->photo.name.text);
    BroadcastPhotoTaken(photo);
}

CameraPhoto::CameraPhoto(CameraDevice* owner, const cameratracker_t* tracker)
    : device(owner), driver(owner != nullptr ? owner->driver : nullptr) {
    photo_record_clear(photo);
    photo.valid = true;
    if (owner != nullptr)
        photo.owner = owner->camera.id;
    if (tracker == nullptr)
        stringid_resolve(photo.origin, string_make("manual"));
    else if (tracker->origin.length > 0) {
        photo.origin = tracker->origin;
        stringid_add_reference(photo.origin);
    }
    stringbuffer_initialise(replacedFile);
}

CameraPhoto::~CameraPhoto() {
    photo_record_release(photo);
    stringbuffer_release(replacedFile);
}

void CameraPhoto::Reshoot(CameraDevice* owner, const cameratracker_t* tracker) {
    // The saved file stays until the new capture is safely saved over it. Only this
    // photo's own file counts: a deleted photo's name may belong to a newer photo now, so
    // the file is remembered by its identity too.
    if (photo.downloaded && !photo.deleted && photo.filename.length > 0 &&
        replacedFile.view.length == 0 &&
        file_identity(photo.filename.text, replacedDevice, replacedInode))
        stringbuffer_set(replacedFile, stringid_string(photo.filename));
    if (owner != nullptr) {
        device = owner;
        driver = owner->driver;
        photo.owner = owner->camera.id;
    }
    photo.valid = true;
    photo.downloaded = false;
    photo.orphaned = false;
    photo.video = false;
    if (tracker == nullptr)
        stringid_resolve(photo.origin, string_make("manual"));
    else {
        stringid_remove_reference(photo.origin);
        photo.origin = tracker->origin;
        stringid_add_reference(photo.origin);
    }
}

bool CameraPhoto::Save(const void* data, unsigned long size) {
    CameraProcessor* processor = driver != nullptr ? driver->GetProcessor() : nullptr;
    stringbuffer_t path, candidate, temporary;
    stringbuffer_initialise(path);
    stringbuffer_initialise(candidate);
    stringbuffer_initialise(temporary);
    filename_t file;
    filename_initialise(file);
    bool saved = false;
    bool already = false;
    if (processor != nullptr && processor->ResolvePhotoPath(stringid_string(photo.name), path) &&
        filename_set(file, path.view)) {
        if (!path_exists(file.path.path.view))
            path_create(file.path.path.view);
        if (photo.filetype.length > 0) {
            stringbuffer_t filetype;
            stringbuffer_initialise(filetype);
            append_value(filetype, photo.filetype.text, photo.filetype.length);
            filename_set_extension(file, filetype.view);
            stringbuffer_release(filetype);
        }
        already = photo.downloaded && file_exists(file.full_name.view);
        if (!already && (data != nullptr || size == 0) &&
            write_temporary(file.path.path.view.text, data, size, temporary)) {
            // Claim the first free name. Only the file this photo is replacing (a
            // reshoot) may be replaced; every other existing entry is taken.
            for (int k = 0; k < MaxUniqueAttempts && !saved; ++k) {
                candidate_path(file, k, candidate);
                if (IsReplacedFile(candidate.view)) {
                    saved = file_rename(temporary.view, candidate.view);
                    if (!saved)
                        break;
                } else if (file_rename_noreplace(temporary.view, candidate.view)) {
                    saved = true;
                } else if (errno != EEXIST && errno != ENOTEMPTY && errno != EISDIR) {
                    break;
                }
                if (saved && k > 0)
                    stringbuffer_appendf(file.base_name, "_%d", k);
            }
            if (!saved)
                unlink(temporary.view.text);
        }
    }
    if (already) {
        saved = true;
    } else if (saved) {
        filename_combine(file);
        photo.downloaded = true;
        photo.filenameValid = true;
        set_text(photo.name, file.name.view);
        set_text(photo.filename, file.full_name.view);
        log_writef(LEVEL_Info, log_camera, "Photo saved to: %s", file.full_name.view.text);
        if (!string_equal(replacedFile.view, file.full_name.view) &&
            IsReplacedFile(replacedFile.view))
            file_delete(replacedFile.view);
        stringbuffer_release(replacedFile);
    } else {
        log_writef(LEVEL_Error, log_camera, "Failed to save photo: %s", photo.name.text);
    }
    filename_release(file);
    stringbuffer_release(path);
    stringbuffer_release(candidate);
    stringbuffer_release(temporary);
    return saved;
}

bool CameraPhoto::Rename(const string_t& name) {
    if (photo.deleted || is_unusable_name(name))
        return false;
    if (!photo.downloaded) {
        CameraProcessor* processor = driver != nullptr ? driver->GetProcessor() : nullptr;
        stringbuffer_t path;
        stringbuffer_initialise(path);
        // A name that would be saved outside the download folder is refused now.
        bool inside = processor == nullptr || processor->GetDownloadPath().path.view.length == 0 ||
                      processor->ResolvePhotoPath(name, path);
        stringbuffer_release(path);
        if (!inside)
            return false;
        set_text(photo.name, name);
        photo.filenameValid = true;
        return true;
    }
    filename_t file;
    filename_initialise(file);
    stringbuffer_t component, candidate;
    stringbuffer_initialise(component);
    stringbuffer_initialise(candidate);
    string_t last = last_component(name);
    bool moved = false;
    bool same = false;
    if (last.length > 0 && stringbuffer_set(component, last) &&
        filename_set(file, stringid_string(photo.filename)) &&
        filename_set_name(file, component.view)) {
        if (photo.filetype.length > 0)
            filename_set_extension(file, stringid_string(photo.filetype));
        same = string_equal(file.full_name.view, stringid_string(photo.filename));
        if (!same) {
            if (!path_exists(file.path.path.view))
                path_create(file.path.path.view);
            for (int k = 0; k < MaxUniqueAttempts && !moved; ++k) {
                candidate_path(file, k, candidate);
                if (file_rename_noreplace(stringid_string(photo.filename), candidate.view)) {
                    moved = true;
                    if (k > 0)
                        stringbuffer_appendf(file.base_name, "_%d", k);
                } else if (errno != EEXIST && errno != ENOTEMPTY && errno != EISDIR) {
                    break;
                }
            }
        }
    }
    if (moved) {
        filename_combine(file);
        photo.downloaded = true;
        photo.filenameValid = true;
        set_text(photo.name, file.name.view);
        set_text(photo.filename, file.full_name.view);
    } else if (!same) {
        log_writef(LEVEL_Error, log_camera, "Failed to move photo %s to %s", photo.filename.text,
                   candidate.view.text);
    }
    filename_release(file);
    stringbuffer_release(component);
    stringbuffer_release(candidate);
    return moved || same;
}

bool CameraPhoto::Delete() {
    if (photo.deleted)
        return true;
    photo.deleted = true;
    if (photo.downloaded && photo.filename.length > 0)
        file_delete(stringid_string(photo.filename));
    // A reshoot not saved yet still holds the earlier capture's file.
    if (IsReplacedFile(replacedFile.view))
        file_delete(replacedFile.view);
    stringbuffer_release(replacedFile);
    return true;
}

bool CameraPhoto::IsReplacedFile(const string_t& path) const {
    uint64_t device = 0, inode = 0;
    return replacedFile.view.length > 0 && string_equal(path, replacedFile.view) &&
           file_identity(path.text, device, inode) && device == replacedDevice &&
           inode == replacedInode;
}

} // namespace velk
