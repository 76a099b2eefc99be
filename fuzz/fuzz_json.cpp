// libFuzzer target: the JSON reader on arbitrary bytes, then every accessor over the
// values it produced.
#include <cstddef>
#include <cstdint>
#include <string>

#include "velk/core/json.h"

using namespace velk;

namespace {

void walk(const json_value_t* value, int depth) {
    if (value == nullptr || depth > JSON_MaxDepth + 1)
        return;
    json_number_to_ll(value);
    json_number_to_double(value);
    if (value->type == JSON_Object) {
        for (const json_value_t* member = json_get_struct(*value->reader, value->first);
             member != nullptr; member = json_get_struct(*value->reader, member->next)) {
            const char* name = member->name.text;
            json_get_member_string(value, name);
            json_get_member_int(value, name);
            json_get_member_ull(value, name);
            json_get_member_float(value, name);
            json_get_member_bool(value, name);
            walk(member, depth + 1);
        }
    } else if (value->type == JSON_Array) {
        uint32_t count = json_get_num_elements(value);
        for (uint32_t i = 0; i < count && i < 64; ++i) {
            json_get_element_string(value, i);
            walk(json_get_element(value, i), depth + 1);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static json_reader_t reader;
    static bool initialised = json_initialise(reader);
    (void)initialised;
    // The reader takes a NUL-terminated view; a NUL inside the input ends it early.
    std::string text(reinterpret_cast<const char*>(data), size);
    if (json_load(reader, string_t{text.c_str(), uint32_t(text.size())}))
        walk(json_get_root(reader), 0);
    return 0;
}
