// The JSON reader (a whole text parsed in place into a flat table of values linked by
// index) and the streaming JSON writer (nested blocks with fixed indentation).
//
// The reader's dialect: the root is an object or an array; strings are kept exactly
// as written between their quotes (a backslash only keeps the next character from
// ending the string, and both stay in the text); member names may also be bare runs
// of letters, digits and '_'. Numbers are read locale-independently.
#pragma once

#include <cstdint>
#include <cstdio>

#include "velk/container/vector.h"
#include "velk/core/string.h"
#include "velk/core/stringbuffer.h"

namespace velk {

struct filename_t;
struct json_reader_t;

enum json_type_t : int32_t {
    JSON_String = 0,
    JSON_Number = 1,
    JSON_Object = 2,
    JSON_Array = 3,
    JSON_True = 4,
    JSON_False = 5,
    JSON_Null = 6,
};

// Deepest nesting of objects and arrays the reader accepts.
constexpr int JSON_MaxDepth = 256;

// One entry of the reader's value table.
struct json_value_t {
    json_type_t type = JSON_Null;
    string_t text;                // string: its text (NUL-terminated in the copy)
    const char* number = nullptr; // number: its characters in the copy (not NUL-terminated)
    uint32_t number_length = 0;   //   and how many
    uint64_t magnitude = 0;       // number: the integer part without its sign
    bool negative = false;        // number: written with a '-'
    bool integral = true;         // number: written without fraction and exponent
    double real = 0.0;            // number: its value
    int32_t first = -1;           // object / array: index of the first member / element
    uint32_t count = 0;           // object / array: number of members / elements
    string_t name;                // member name inside an object (empty otherwise)
    int32_t next = -1;            // next member or element of the same parent
    const json_reader_t* reader = nullptr;
};

// Views of a value of the matching type.
typedef json_value_t json_object_t;
typedef json_value_t json_array_t;
typedef json_value_t json_number_t;

struct json_reader_t {
    int32_t root = -1;              // index of the root, -1 when nothing is loaded
    uint32_t position = 0;          // next character; where parsing stopped after a failure
    stringbuffer_t input;           // owned copy of the text, strings ended in place
    vector_t<json_value_t> values;  // the value table
    vector_t<stringbuffer_t> names; // bare member names
};

// Empty reader. False when memory runs out (safe to release).
bool json_initialise(json_reader_t& reader);
// Frees the copy, the table and the names; safe to call twice.
void json_release(json_reader_t& reader);
// Parses a text. False for an empty text or a parse failure (logged with the place).
bool json_load(json_reader_t& reader, string_t text);
// Loads and parses a file; false when it cannot be read or parsed.
bool json_load(json_reader_t& reader, const filename_t& file);

// Accessors: values are valid until the next json_load or json_release. Every accessor
// accepts a null value and then returns its default.
const json_value_t* json_get_root(const json_reader_t& reader);
const json_object_t* json_get_root_object(const json_reader_t& reader);
const json_value_t* json_get_struct(const json_reader_t& reader, int32_t index);

bool json_has_member(const json_object_t* object, const char* name);
// The first member with that name, compared exactly, or null.
const json_value_t* json_get_member(const json_object_t* object, const char* name);
string_t json_get_member_string(const json_object_t* object, const char* name);
bool json_get_member_bool(const json_object_t* object, const char* name);
// Numbers are truncated toward zero and clamped to the result's range.
int32_t json_get_member_int(const json_object_t* object, const char* name);
uint64_t json_get_member_ull(const json_object_t* object, const char* name);
float json_get_member_float(const json_object_t* object, const char* name);
const json_object_t* json_get_member_object(const json_object_t* object, const char* name);
const json_array_t* json_get_member_array(const json_object_t* object, const char* name);

uint32_t json_get_num_elements(const json_array_t* array);
const json_value_t* json_get_element(const json_array_t* array, uint32_t n);
string_t json_get_element_string(const json_array_t* array, uint32_t n);
const json_object_t* json_get_element_object(const json_array_t* array, uint32_t n);

// The value of a number: integers exactly; others truncated toward zero and clamped.
int64_t json_number_to_ll(const json_number_t* number);
double json_number_to_double(const json_number_t* number);

// Writes a value tree to the log (General, info) for diagnosis.
void json_print(const json_value_t* value, int indent);

// The writer writes into a temporary file beside the target, which json_close flushes
// to disk and renames over the target only when everything was written; a failed or
// abandoned write leaves the old file as it was.
struct json_writer_t {
    FILE* file = nullptr;
    stringbuffer_t target;    // the file being replaced
    stringbuffer_t temporary; // the file being written
    bool failed = false;      // a write failed: the target will not be replaced
};

struct json_block_t {
    json_writer_t* writer = nullptr;
    json_block_t* parent = nullptr;
    int indent = 2;
    bool multi_line = true;
    bool first = true;
    char opening = '{';
    char closing = '}';
};

// No file.
void json_clear(json_writer_t& writer);
// Starts writing the file. False when the writer is already open or the temporary file
// cannot be created (logged).
bool json_open(json_writer_t& writer, const filename_t& file);
bool json_is_open(const json_writer_t& writer);
// Finishes: flushes, syncs and renames the temporary file over the target. True when
// the file was written whole; otherwise the old file is untouched (logged).
bool json_close(json_writer_t& writer);
// Stops writing without touching the target.
void json_abandon(json_writer_t& writer);

// Formatted output in the C locale (nothing when closed).
void json_write(json_writer_t& writer, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Set up `block` and write its opening; `name` is used only inside an object parent.
void json_begin_object(json_writer_t& writer, json_block_t* parent, json_block_t& block,
                       const char* name, bool multi_line);
void json_begin_array(json_writer_t& writer, json_block_t* parent, json_block_t& block,
                      const char* name, bool multi_line);
void json_end_object(json_block_t& block);
void json_end_array(json_block_t& block);
// The separator before a member or element and, when `name` is not empty, the name.
void json_write_member(json_block_t& block, const char* name);

void json_add_int(json_block_t& block, const char* name, int32_t value);
void json_add_uint(json_block_t& block, const char* name, uint32_t value);
void json_add_ull(json_block_t& block, const char* name, uint64_t value);
// Six decimals, C locale; a value that is not finite is written as null.
void json_add_float(json_block_t& block, const char* name, float value);
void json_add_bool(json_block_t& block, const char* name, bool value);
// The text between quotes. A quote that would end the string early gets a backslash,
// and an unpaired backslash at the end is doubled, so the file always reads back.
void json_add_string(json_block_t& block, const char* name, string_t value);
void json_add_null(json_block_t& block, const char* name);

} // namespace velk
