// The JSON reader: parses a whole text in place into a flat table of values.
#include "velk/core/json.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

#include "velk/core/file.h"
#include "velk/core/filename.h"
#include "velk/core/log.h"

namespace velk {
namespace {

// The C locale, for reading numbers the same way whatever locale the process runs in.
locale_t c_locale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_digit(c) || c == '_';
}

struct parser_t {
    json_reader_t& reader;
    char* s;
    uint32_t n;
    uint32_t& pos;
    int depth;
};

// Every failing check logs its own number, then the parse unwinds.
bool fail(int check) {
    log_writef(LEVEL_Error, LOG_General, "JSON error line %d", check);
    return false;
}

void skip_whitespace(parser_t& p) {
    while (p.pos < p.n && is_whitespace(p.s[p.pos]))
        ++p.pos;
}

bool new_value(parser_t& p, json_type_t type, int32_t& index) {
    if (p.reader.values.count >= 0x7fffffffu)
        return fail(1);
    json_value_t value;
    value.type = type;
    value.reader = &p.reader;
    if (!vector_append(p.reader.values, value))
        return fail(2);
    index = int32_t(p.reader.values.count - 1);
    return true;
}

json_value_t& at(parser_t& p, int32_t index) { return p.reader.values.items[index]; }

// A quoted string at the position: ends it in place and returns its view.
bool parse_string(parser_t& p, string_t& out) {
    uint32_t start = p.pos + 1;
    uint32_t i = start;
    while (i < p.n && p.s[i] != '"') {
        if (p.s[i] == '\\')
            ++i; // the next character cannot end the string
        ++i;
    }
    if (i >= p.n) {
        p.pos = p.n;
        return fail(10);
    }
    p.s[i] = 0;
    out = string_make(p.s + start, i - start);
    p.pos = i + 1;
    return true;
}

bool parse_number(parser_t& p, int32_t& index) {
    uint32_t start = p.pos;
    uint32_t i = start;
    bool negative = false;
    if (p.s[i] == '-') {
        negative = true;
        ++i;
    }
    if (i >= p.n || !is_digit(p.s[i])) {
        p.pos = i;
        return fail(20);
    }
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? (uint64_t(1) << 63) : ~uint64_t(0);
    if (p.s[i] == '0') {
        ++i;
    } else {
        while (i < p.n && is_digit(p.s[i])) {
            uint64_t digit = uint64_t(p.s[i] - '0');
            if (magnitude > (limit - digit) / 10) {
                p.pos = i;
                return fail(21); // the integer part does not fit in 64 bits
            }
            magnitude = magnitude * 10 + digit;
            ++i;
        }
    }
    bool integral = true;
    if (i < p.n && p.s[i] == '.') {
        integral = false;
        ++i;
        if (i >= p.n || !is_digit(p.s[i])) {
            p.pos = i;
            return fail(22);
        }
        while (i < p.n && is_digit(p.s[i]))
            ++i;
    }
    if (i < p.n && (p.s[i] == 'e' || p.s[i] == 'E')) {
        integral = false;
        ++i;
        if (i < p.n && (p.s[i] == '+' || p.s[i] == '-'))
            ++i;
        if (i >= p.n || !is_digit(p.s[i])) {
            p.pos = i;
            return fail(23);
        }
        while (i < p.n && is_digit(p.s[i]))
            ++i;
    }
    double real = integral ? (negative ? -double(magnitude) : double(magnitude))
                           : strtod_l(p.s + start, nullptr, c_locale());
    if (std::isinf(real)) {
        p.pos = start;
        return fail(24); // too large for a double
    }
    if (!new_value(p, JSON_Number, index))
        return false;
    json_value_t& value = at(p, index);
    value.number = p.s + start;
    value.number_length = i - start;
    value.magnitude = magnitude;
    value.negative = negative;
    value.integral = integral;
    value.real = real;
    p.pos = i;
    return true;
}

bool parse_literal(parser_t& p, const char* word, json_type_t type, int32_t& index) {
    uint32_t length = uint32_t(strlen(word));
    if (p.n - p.pos < length || memcmp(p.s + p.pos, word, length) != 0)
        return fail(30);
    p.pos += length;
    skip_whitespace(p);
    if (p.pos >= p.n || (p.s[p.pos] != ',' && p.s[p.pos] != ']' && p.s[p.pos] != '}'))
        return fail(31);
    return new_value(p, type, index);
}

bool parse_value(parser_t& p, int32_t& index);

bool parse_name(parser_t& p, string_t& name) {
    if (p.s[p.pos] == '"')
        return parse_string(p, name);
    uint32_t start = p.pos;
    while (p.pos < p.n && is_name_char(p.s[p.pos]))
        ++p.pos;
    if (p.pos == start)
        return fail(40);
    // A bare name cannot be ended in place (the ':' may follow at once): copy it.
    stringbuffer_t copy;
    stringbuffer_initialise(copy);
    char* out = nullptr;
    if (!stringbuffer_lock(copy, p.pos - start, out))
        return fail(41);
    memcpy(out, p.s + start, p.pos - start);
    stringbuffer_unlock(copy, p.pos - start);
    if (!vector_append(p.reader.names, copy)) {
        stringbuffer_release(copy);
        return fail(42);
    }
    name = copy.view;
    return true;
}

// Parses the members or elements of a container whose opening is at the position.
bool parse_container(parser_t& p, bool object, int32_t& index) {
    if (++p.depth > JSON_MaxDepth)
        return fail(50);
    const char closing = object ? '}' : ']';
    if (!new_value(p, object ? JSON_Object : JSON_Array, index))
        return false;
    ++p.pos;
    skip_whitespace(p);
    if (p.pos >= p.n)
        return fail(51);
    if (p.s[p.pos] == closing) {
        ++p.pos;
        --p.depth;
        return true;
    }
    int32_t previous = -1;
    uint32_t count = 0;
    for (;;) {
        skip_whitespace(p);
        if (p.pos >= p.n)
            return fail(52);
        string_t name;
        if (object) {
            if (!parse_name(p, name))
                return false;
            skip_whitespace(p);
            if (p.pos >= p.n || p.s[p.pos] != ':')
                return fail(53);
            ++p.pos;
        }
        int32_t child = -1;
        if (!parse_value(p, child))
            return false;
        at(p, child).name = name;
        if (previous < 0)
            at(p, index).first = child;
        else
            at(p, previous).next = child;
        previous = child;
        ++count;
        skip_whitespace(p);
        if (p.pos >= p.n)
            return fail(54);
        if (p.s[p.pos] == ',') {
            ++p.pos;
            skip_whitespace(p);
            if (p.pos < p.n && p.s[p.pos] == closing)
                return fail(55); // a trailing comma
            continue;
        }
        if (p.s[p.pos] == closing) {
            ++p.pos;
            break;
        }
        return fail(56);
    }
    at(p, index).count = count;
    --p.depth;
    return true;
}

bool parse_value(parser_t& p, int32_t& index) {
    skip_whitespace(p);
    if (p.pos >= p.n)
        return fail(60);
    char c = p.s[p.pos];
    if (c == '"') {
        string_t text;
        if (!parse_string(p, text) || !new_value(p, JSON_String, index))
            return false;
        at(p, index).text = text;
        return true;
    }
    if (c == '-' || is_digit(c))
        return parse_number(p, index);
    if (c == 't')
        return parse_literal(p, "true", JSON_True, index);
    if (c == 'f')
        return parse_literal(p, "false", JSON_False, index);
    if (c == 'n')
        return parse_literal(p, "null", JSON_Null, index);
    if (c == '{')
        return parse_container(p, true, index);
    if (c == '[')
        return parse_container(p, false, index);
    return fail(61);
}

void release_names(json_reader_t& reader) {
    for (uint32_t i = 0; i < reader.names.count; ++i)
        stringbuffer_release(reader.names.items[i]);
    vector_clear(reader.names);
}

const json_value_t* value_at(const json_reader_t* reader, int32_t index) {
    if (reader == nullptr || index < 0 || uint32_t(index) >= reader->values.count)
        return nullptr;
    return &reader->values.items[index];
}

const json_value_t* of_type(const json_value_t* value, json_type_t type) {
    return (value != nullptr && value->type == type) ? value : nullptr;
}

void print_value(const json_value_t* value, int indent);

} // namespace

bool json_initialise(json_reader_t& reader) {
    reader.root = -1;
    reader.position = 0;
    stringbuffer_initialise(reader.input);
    bool ok = vector_initialise(reader.values, 8);
    return vector_initialise(reader.names, 8) && ok;
}

void json_release(json_reader_t& reader) {
    release_names(reader);
    vector_release(reader.names);
    vector_release(reader.values);
    stringbuffer_release(reader.input);
    reader.root = -1;
    reader.position = 0;
}

bool json_load(json_reader_t& reader, string_t text) {
    reader.root = -1;
    reader.position = 0;
    vector_clear(reader.values);
    release_names(reader);
    if (text.length == 0)
        return false;
    stringbuffer_t copy;
    stringbuffer_initialise(copy);
    char* out = nullptr;
    if (!stringbuffer_lock(copy, text.length, out)) {
        log_writef(LEVEL_Error, LOG_General, "JSON: out of memory copying %u bytes", text.length);
        return false;
    }
    memcpy(out, text.text, text.length);
    stringbuffer_unlock(copy, text.length);
    stringbuffer_release(reader.input);
    reader.input = copy;

    parser_t p{reader, reader.input.buffer, text.length, reader.position, 0};
    skip_whitespace(p);
    int32_t root = -1;
    bool ok = false;
    if (p.pos < p.n && (p.s[p.pos] == '{' || p.s[p.pos] == '['))
        ok = parse_container(p, p.s[p.pos] == '{', root);
    else
        fail(70);
    if (!ok) {
        uint32_t at = reader.position < text.length ? reader.position : text.length;
        uint32_t shown = text.length - at < 80 ? text.length - at : 80;
        log_writef(LEVEL_Error, LOG_General, "JSON parse failed at character %d:\n%.*s", int(at),
                   int(shown), text.text + at);
        vector_clear(reader.values);
        release_names(reader);
        return false;
    }
    reader.root = root;
    return true;
}

bool json_load(json_reader_t& reader, const filename_t& file) {
    filecontents_t contents;
    filecontents_initialise(contents);
    if (!filecontents_load(contents, file.full_name.view)) {
        reader.root = -1;
        return false;
    }
    bool ok =
        json_load(reader, string_t{reinterpret_cast<const char*>(contents.data), contents.length});
    filecontents_release(contents);
    return ok;
}

const json_value_t* json_get_root(const json_reader_t& reader) {
    return value_at(&reader, reader.root);
}

const json_object_t* json_get_root_object(const json_reader_t& reader) {
    return of_type(json_get_root(reader), JSON_Object);
}

const json_value_t* json_get_struct(const json_reader_t& reader, int32_t index) {
    return value_at(&reader, index);
}

const json_value_t* json_get_member(const json_object_t* object, const char* name) {
    if (object == nullptr || object->type != JSON_Object || name == nullptr)
        return nullptr;
    for (const json_value_t* member = value_at(object->reader, object->first); member != nullptr;
         member = value_at(object->reader, member->next))
        if (strcmp(member->name.text, name) == 0)
            return member;
    return nullptr;
}

bool json_has_member(const json_object_t* object, const char* name) {
    return json_get_member(object, name) != nullptr;
}

string_t json_get_member_string(const json_object_t* object, const char* name) {
    const json_value_t* member = of_type(json_get_member(object, name), JSON_String);
    return member != nullptr ? member->text : string_t{};
}

bool json_get_member_bool(const json_object_t* object, const char* name) {
    const json_value_t* member = json_get_member(object, name);
    return member != nullptr && member->type == JSON_True;
}

int32_t json_get_member_int(const json_object_t* object, const char* name) {
    const json_value_t* member = of_type(json_get_member(object, name), JSON_Number);
    if (member == nullptr)
        return 0;
    int64_t value = json_number_to_ll(member);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return int32_t(value);
}

uint64_t json_get_member_ull(const json_object_t* object, const char* name) {
    const json_value_t* member = of_type(json_get_member(object, name), JSON_Number);
    if (member == nullptr)
        return 0;
    if (member->integral)
        return member->negative ? 0 : member->magnitude;
    double real = member->real;
    if (!(real > 0))
        return 0;
    if (real >= 18446744073709551616.0)
        return UINT64_MAX;
    return uint64_t(real);
}

float json_get_member_float(const json_object_t* object, const char* name) {
    const json_value_t* member = of_type(json_get_member(object, name), JSON_Number);
    return member != nullptr ? float(json_number_to_double(member)) : 0.0f;
}

const json_object_t* json_get_member_object(const json_object_t* object, const char* name) {
    return of_type(json_get_member(object, name), JSON_Object);
}

const json_array_t* json_get_member_array(const json_object_t* object, const char* name) {
    return of_type(json_get_member(object, name), JSON_Array);
}

uint32_t json_get_num_elements(const json_array_t* array) {
    return (array != nullptr && array->type == JSON_Array) ? array->count : 0;
}

const json_value_t* json_get_element(const json_array_t* array, uint32_t n) {
    if (array == nullptr || array->type != JSON_Array || n >= array->count)
        return nullptr;
    const json_value_t* element = value_at(array->reader, array->first);
    for (uint32_t i = 0; i < n && element != nullptr; ++i)
        element = value_at(array->reader, element->next);
    return element;
}

string_t json_get_element_string(const json_array_t* array, uint32_t n) {
    const json_value_t* element = of_type(json_get_element(array, n), JSON_String);
    return element != nullptr ? element->text : string_t{};
}

const json_object_t* json_get_element_object(const json_array_t* array, uint32_t n) {
    return of_type(json_get_element(array, n), JSON_Object);
}

int64_t json_number_to_ll(const json_number_t* number) {
    if (number == nullptr || number->type != JSON_Number)
        return 0;
    if (number->integral) {
        if (number->negative)
            return number->magnitude == (uint64_t(1) << 63) ? INT64_MIN
                                                            : -int64_t(number->magnitude);
        return number->magnitude > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(number->magnitude);
    }
    double real = std::trunc(number->real);
    if (std::isnan(real))
        return 0;
    if (real >= 9223372036854775808.0)
        return INT64_MAX;
    if (real <= -9223372036854775808.0)
        return INT64_MIN;
    return int64_t(real);
}

double json_number_to_double(const json_number_t* number) {
    if (number == nullptr || number->type != JSON_Number)
        return 0.0;
    return number->real;
}

namespace {

void print_indent(int indent) {
    for (int i = 0; i < indent; ++i)
        log_print(" ");
}

void print_value(const json_value_t* value, int indent) {
    switch (value->type) {
    case JSON_String: log_printf("\"%s\"", value->text.text); break;
    case JSON_Number: log_printf("%.*s", int(value->number_length), value->number); break;
    case JSON_True: log_print("true"); break;
    case JSON_False: log_print("false"); break;
    case JSON_Null: log_print("null"); break;
    case JSON_Object:
    case JSON_Array: {
        bool object = value->type == JSON_Object;
        log_print(object ? "{" : "[");
        bool first = true;
        for (const json_value_t* child = value_at(value->reader, value->first); child != nullptr;
             child = value_at(value->reader, child->next)) {
            log_print(first ? "\n" : ",\n");
            first = false;
            print_indent(indent + 2);
            if (object)
                log_printf("\"%s\": ", child->name.text);
            print_value(child, indent + 2);
        }
        if (!first) {
            log_print("\n");
            print_indent(indent);
        }
        log_print(object ? "}" : "]");
        break;
    }
    }
}

} // namespace

void json_print(const json_value_t* value, int indent) {
    if (value == nullptr || !log_begin(LEVEL_Info, LOG_General))
        return;
    print_indent(indent);
    print_value(value, indent);
    log_end();
}

} // namespace velk
