// File names (filename_t): a folder, a base name and an extension, with the name and
// the full name recomposed after every change so the views always agree.
#pragma once

#include "velk/core/path.h"
#include "velk/core/stringbuffer.h"

namespace velk {

struct filename_t {
    stringbuffer_t full_name; // path + "/" + name
    pathname_t path;          // the folder
    stringbuffer_t base_name; // the name without its extension
    stringbuffer_t extension; // the text after the last '.', without the dot
    stringbuffer_t name;      // base name + "." + extension
};

// All parts empty / all parts freed.
void filename_initialise(filename_t& file);
void filename_release(filename_t& file);
// Splits a file path into its parts; a relative path is taken from the current
// folder. An empty text leaves the record empty.
bool filename_set(filename_t& file, string_t text);
bool filename_set(filename_t& file, const filename_t& other);
// Sets base name and extension from the last component of `text`; without an
// extension only the base name changes. An empty text changes nothing.
bool filename_set_name(filename_t& file, string_t text);
bool filename_set_basename(filename_t& file, string_t text);
bool filename_set_extension(filename_t& file, string_t text);
bool filename_set_path(filename_t& file, string_t text);
bool filename_set_path(filename_t& file, const pathname_t& folder);
// The directory entry `name` of `folder`: the name is taken literally as one component
// (a '\' in it is part of the name) and split at its last dot.
bool filename_set_entry(filename_t& file, const pathname_t& folder, string_t name);
// name = base name + "." + extension; full name = path + "/" + name.
bool filename_combine(filename_t& file);

} // namespace velk
