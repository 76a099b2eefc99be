// File names split into folder, base name and extension.
#include "velk/core/filename.h"

namespace velk {
namespace {

// Splits the last component of `text` at its last dot. `has_extension` is false when
// the component has no dot.
void split_name(string_t text, string_t& base, string_t& extension, bool& has_extension) {
    uint32_t end = text.length;
    uint32_t start = end;
    while (start > 0 && !path_is_separator(text.text[start - 1]))
        --start;
    has_extension = false;
    uint32_t dot = end;
    while (dot > start) {
        --dot;
        if (text.text[dot] == '.') {
            has_extension = true;
            break;
        }
    }
    if (has_extension) {
        base = string_t{text.text + start, dot - start};
        extension = string_t{text.text + dot + 1, end - dot - 1};
    } else {
        base = string_t{text.text + start, end - start};
        extension = string_t{};
    }
}

// Sets a buffer from a view that need not be NUL-terminated at its length.
bool set_part(stringbuffer_t& part, string_t text) {
    stringbuffer_clear(part);
    if (text.length == 0) {
        stringbuffer_release(part);
        return true;
    }
    char* out = nullptr;
    if (!stringbuffer_lock(part, text.length, out))
        return false;
    memmove(out, text.text, text.length);
    stringbuffer_unlock(part, text.length);
    return true;
}

} // namespace

void filename_initialise(filename_t& file) {
    stringbuffer_initialise(file.full_name);
    pathname_initialise(file.path);
    stringbuffer_initialise(file.base_name);
    stringbuffer_initialise(file.extension);
    stringbuffer_initialise(file.name);
}

void filename_release(filename_t& file) {
    stringbuffer_release(file.full_name);
    pathname_release(file.path);
    stringbuffer_release(file.base_name);
    stringbuffer_release(file.extension);
    stringbuffer_release(file.name);
}

bool filename_set(filename_t& file, string_t text) {
    // The text may belong to the record itself: work on a copy. A relative text is
    // joined to the current folder before normalising, so that a leading ".." climbs
    // out of the current folder instead of being dropped.
    stringbuffer_t full;
    stringbuffer_initialise(full);
    bool copied = true;
    if (text.length > 0 && path_is_relative(text)) {
        pathname_t current;
        pathname_initialise(current);
        copied = path_get_current(current) && stringbuffer_set(full, current.path.view) &&
                 stringbuffer_append(full, '/') && stringbuffer_append(full, text);
        pathname_release(current);
    } else {
        copied = stringbuffer_set(full, text);
    }
    if (!copied) {
        stringbuffer_release(full);
        return false;
    }
    filename_release(file);
    if (text.length == 0)
        return true;
    path_normalise(full);
    string_t normalised = full.view;
    string_t base, extension;
    bool has_extension = false;
    split_name(normalised, base, extension, has_extension);
    uint32_t folder_length = uint32_t(base.text - normalised.text);
    bool ok = set_part(file.base_name, base) && set_part(file.extension, extension);
    if (ok) {
        // The folder part without the separator before the name ("/" stays for the root).
        if (folder_length > 1)
            --folder_length;
        stringbuffer_t folder;
        stringbuffer_initialise(folder);
        ok = set_part(folder, string_t{normalised.text, folder_length}) &&
             pathname_set(file.path, folder.view);
        stringbuffer_release(folder);
    }
    stringbuffer_release(full);
    return ok && filename_combine(file);
}

bool filename_set(filename_t& file, const filename_t& other) {
    if (&file == &other)
        return true;
    return stringbuffer_set(file.full_name, other.full_name.view) &&
           pathname_set(file.path, other.path) &&
           stringbuffer_set(file.base_name, other.base_name.view) &&
           stringbuffer_set(file.extension, other.extension.view) &&
           stringbuffer_set(file.name, other.name.view);
}

bool filename_set_name(filename_t& file, string_t text) {
    if (text.length == 0)
        return true;
    string_t base, extension;
    bool has_extension = false;
    split_name(text, base, extension, has_extension);
    stringbuffer_t base_copy, extension_copy;
    stringbuffer_initialise(base_copy);
    stringbuffer_initialise(extension_copy);
    bool ok = set_part(base_copy, base) && set_part(extension_copy, extension) &&
              stringbuffer_set(file.base_name, base_copy.view) &&
              (!has_extension || stringbuffer_set(file.extension, extension_copy.view));
    stringbuffer_release(base_copy);
    stringbuffer_release(extension_copy);
    return ok && filename_combine(file);
}

bool filename_set_basename(filename_t& file, string_t text) {
    return stringbuffer_set(file.base_name, text) && filename_combine(file);
}

bool filename_set_extension(filename_t& file, string_t text) {
    return stringbuffer_set(file.extension, text) && filename_combine(file);
}

bool filename_set_path(filename_t& file, string_t text) {
    return pathname_set(file.path, text) && filename_combine(file);
}

bool filename_set_path(filename_t& file, const pathname_t& folder) {
    return pathname_set(file.path, folder) && filename_combine(file);
}

bool filename_set_entry(filename_t& file, const pathname_t& folder, string_t name) {
    uint32_t dot = name.length;
    while (dot > 0 && name.text[dot - 1] != '.')
        --dot;
    string_t base = name, extension;
    if (dot > 0) {
        base = string_t{name.text, dot - 1};
        extension = string_t{name.text + dot, name.length - dot};
    }
    return pathname_set(file.path, folder) && set_part(file.base_name, base) &&
           set_part(file.extension, extension) && filename_combine(file);
}

bool filename_combine(filename_t& file) {
    stringbuffer_t name;
    stringbuffer_initialise(name);
    bool ok = stringbuffer_set(name, file.base_name.view) && stringbuffer_append(name, '.') &&
              stringbuffer_append(name, file.extension.view) &&
              stringbuffer_set(file.name, name.view) &&
              stringbuffer_set(file.full_name, file.path.path.view);
    string_t folder = file.path.path.view;
    if (ok && folder.length > 0 && folder.text[folder.length - 1] != '/')
        ok = stringbuffer_append(file.full_name, '/');
    ok = ok && stringbuffer_append(file.full_name, file.name.view);
    stringbuffer_release(name);
    return ok;
}

} // namespace velk
