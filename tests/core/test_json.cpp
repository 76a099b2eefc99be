// Tests of the JSON reader (dialect, numbers, getters, failures) and the JSON writer
// (exact layout, value formatting, strings that read back, replacing the file safely).

#include <gtest/gtest.h>

#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>

#include "file_helpers.h"
#include "velk/core/filename.h"
#include "velk/core/json.h"
#include "velk/core/string.h"
#include "velk/core/stringbuffer.h"

#include "log_capture.h"

using namespace velk;
using namespace velk::test_support;

namespace {

// Switches the process to a locale whose decimal separator is ',' when one is
// installed, and back to "C" when it goes out of scope.
struct DecimalCommaLocale {
    bool active = false;
    DecimalCommaLocale() {
        static const char* const candidates[] = {
            "de_DE.UTF-8", "de_DE.utf8", "de_DE",       "de_AT.UTF-8", "de_CH.UTF-8",
            "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8", "ru_RU.UTF-8",
        };
        for (const char* name : candidates) {
            if (setlocale(LC_ALL, name) != nullptr && localeconv()->decimal_point[0] == ',') {
                active = true;
                return;
            }
        }
        setlocale(LC_ALL, "C");
    }
    ~DecimalCommaLocale() { setlocale(LC_ALL, "C"); }
};

// Owns a reader, a capturing log and a temporary folder.
class JsonFixture : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(json_initialise(reader));
        char pattern[] = "/tmp/velk_json_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = std::filesystem::canonical(pattern).string();
    }

    void TearDown() override {
        json_release(reader);
        if (!folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    }

    bool load(const std::string& text) { return json_load(reader, view(text)); }

    // Writes a document through `body` into `path` and returns what json_close said.
    template <typename Body> bool write_document(const std::string& path, Body body) {
        filename_t file;
        filename_initialise(file);
        filename_set(file, view(path));
        json_writer_t writer;
        json_clear(writer);
        bool written = false;
        if (json_open(writer, file)) {
            body(writer);
            written = json_close(writer);
        }
        filename_release(file);
        return written;
    }

    test_support::LogCapture captured_log; // opens the log for the test and closes it after
    json_reader_t reader;
    std::string folder;
};

using JsonReader = JsonFixture;
using JsonWriter = JsonFixture;

// ---------------------------------------------------------------------------------
// Reader

TEST_F(JsonReader, ReadsEveryValueKindThroughTheGetters) {
    const std::string text = " \t\r\n{\n"
                             "  \"name\": \"Fennick\",\n"
                             "  \"count\": 42,\n"
                             "  \"ratio\": 0.25,\n"
                             "  \"on\": true,\n"
                             "  \"off\": false,\n"
                             "  \"nothing\": null,\n"
                             "  \"inner\": { \"depth\": 2, \"list\": [1, 2, 3] },\n"
                             "  \"items\": [\"a\", { \"x\": 7 }, [], {}]\n"
                             "}\n";
    ASSERT_TRUE(load(text));
    const json_object_t* root = json_get_root_object(reader);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(json_get_root(reader), root);
    EXPECT_EQ(root->type, JSON_Object);
    EXPECT_EQ(root->count, 8u);

    EXPECT_EQ(to_std(json_get_member_string(root, "name")), "Fennick");
    EXPECT_EQ(json_get_member_int(root, "count"), 42);
    EXPECT_EQ(json_get_member_ull(root, "count"), 42u);
    EXPECT_EQ(json_get_member_float(root, "ratio"), 0.25f);
    EXPECT_TRUE(json_get_member_bool(root, "on"));
    EXPECT_FALSE(json_get_member_bool(root, "off"));
    ASSERT_TRUE(json_has_member(root, "nothing"));
    EXPECT_EQ(json_get_member(root, "nothing")->type, JSON_Null);
    EXPECT_FALSE(json_has_member(root, "missing"));
    EXPECT_FALSE(json_has_member(root, "Name")) << "names compare exactly";

    const json_object_t* inner = json_get_member_object(root, "inner");
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(json_get_member_int(inner, "depth"), 2);
    const json_array_t* list = json_get_member_array(inner, "list");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(json_get_num_elements(list), 3u);
    for (uint32_t n = 0; n < 3; ++n)
        EXPECT_EQ(json_number_to_ll(json_get_element(list, n)), int64_t(n + 1));
    EXPECT_EQ(json_get_element(list, 3), nullptr);

    const json_array_t* items = json_get_member_array(root, "items");
    ASSERT_NE(items, nullptr);
    ASSERT_EQ(json_get_num_elements(items), 4u);
    EXPECT_EQ(to_std(json_get_element_string(items, 0)), "a");
    EXPECT_EQ(json_get_element_object(items, 0), nullptr);
    const json_object_t* x = json_get_element_object(items, 1);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(json_get_member_int(x, "x"), 7);
    EXPECT_EQ(json_get_element(items, 2)->type, JSON_Array);
    EXPECT_EQ(json_get_num_elements(json_get_element(items, 2)), 0u);
    EXPECT_EQ(json_get_element_object(items, 2), nullptr);
    const json_object_t* empty = json_get_element_object(items, 3);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count, 0u);
    EXPECT_EQ(json_get_member(empty, "x"), nullptr);
    EXPECT_FALSE(captured_log.Contains("JSON parse failed"));
}

TEST_F(JsonReader, LoadsEmptyRootsAndIgnoresTextAfterTheRoot) {
    ASSERT_TRUE(load("{}"));
    ASSERT_NE(json_get_root_object(reader), nullptr);
    EXPECT_EQ(json_get_root_object(reader)->count, 0u);

    ASSERT_TRUE(load(" [ ] "));
    ASSERT_NE(json_get_root(reader), nullptr);
    EXPECT_EQ(json_get_root(reader)->type, JSON_Array);
    EXPECT_EQ(json_get_num_elements(json_get_root(reader)), 0u);
    EXPECT_EQ(json_get_root_object(reader), nullptr);

    ASSERT_TRUE(load("{\"a\": 1} trailing } ] garbage {"));
    EXPECT_EQ(json_get_member_int(json_get_root_object(reader), "a"), 1);
    ASSERT_TRUE(load("[1]]"));
    EXPECT_EQ(json_get_num_elements(json_get_root(reader)), 1u);
}

TEST_F(JsonReader, KeepsStringTextExactlyAsWritten) {
    struct Case {
        const char* name;
        const char* json; // the quoted string as it appears in the document
        const char* text; // what the getter returns
    } cases[] = {
        {"plain", R"("hello")", "hello"},
        {"empty", R"("")", ""},
        {"escaped quote keeps both characters", R"("a\"b")", R"(a\"b)"},
        {"escaped quote at the end", R"("end\"")", R"(end\")"},
        {"paired backslashes end before the quote", R"("dir\\")", R"(dir\\)"},
        {"escapes are not decoded", R"("line\nnext\t\u00e9\/")", R"(line\nnext\t\u00e9\/)"},
        {"structural characters inside", R"("{a, b]: c}")", "{a, b]: c}"},
        {"utf-8 passes through", "\"caf\xC3\xA9 \xE2\x82\xAC\"", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"raw tab and newline", "\"a\tb\nc\"", "a\tb\nc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = std::string("{\"s\": ") + c.json + ", \"after\": 5}";
        ASSERT_TRUE(load(text));
        const json_object_t* root = json_get_root_object(reader);
        ASSERT_TRUE(json_has_member(root, "s"));
        EXPECT_EQ(json_get_member(root, "s")->type, JSON_String);
        EXPECT_EQ(to_std(json_get_member_string(root, "s")), c.text);
        EXPECT_EQ(json_get_member_int(root, "after"), 5);

        const std::string array = std::string("[") + c.json + "]";
        ASSERT_TRUE(load(array));
        EXPECT_EQ(to_std(json_get_element_string(json_get_root(reader), 0)), c.text);
    }
}

TEST_F(JsonReader, AcceptsBareAndQuotedMemberNames) {
    ASSERT_TRUE(load("{camera_1: 5, \"quoted name\": 6, _: 7, 9lives : 8, ALL_CAPS:9}"));
    const json_object_t* root = json_get_root_object(reader);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->count, 5u);
    EXPECT_EQ(json_get_member_int(root, "camera_1"), 5);
    EXPECT_EQ(json_get_member_int(root, "quoted name"), 6);
    EXPECT_EQ(json_get_member_int(root, "_"), 7);
    EXPECT_EQ(json_get_member_int(root, "9lives"), 8);
    EXPECT_EQ(json_get_member_int(root, "ALL_CAPS"), 9);
}

TEST_F(JsonReader, DuplicateNameGivesTheFirstMember) {
    ASSERT_TRUE(load("{\"a\": 1, \"b\": 2, \"a\": 3, a: 4}"));
    const json_object_t* root = json_get_root_object(reader);
    EXPECT_EQ(json_get_member_int(root, "a"), 1);
    EXPECT_EQ(json_get_member_int(root, "b"), 2);
    EXPECT_EQ(root->count, 4u);
}

TEST_F(JsonReader, GettersReturnDefaultsForMissingOrOtherTypes) {
    ASSERT_TRUE(load("{\"s\": \"5\", \"t\": \"true\", \"n\": 5, \"b\": true, \"z\": null, "
                     "\"o\": {\"a\": 1}, \"a\": [1]}"));
    const json_object_t* root = json_get_root_object(reader);
    ASSERT_NE(root, nullptr);

    // Every getter against every member of another type, and against a missing one.
    struct Case {
        const char* name;
        const char* member;
        bool string, boolean, number, object, array; // the getters that may answer
    } cases[] = {
        {"string", "s", true, false, false, false, false},
        {"string that looks like a bool", "t", true, false, false, false, false},
        {"number", "n", false, false, true, false, false},
        {"true", "b", false, true, false, false, false},
        {"null", "z", false, false, false, false, false},
        {"object", "o", false, false, false, true, false},
        {"array", "a", false, false, false, false, true},
        {"missing", "missing", false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.string) {
            EXPECT_EQ(json_get_member_string(root, c.member).length, 0u);
        }
        if (!c.boolean) {
            EXPECT_FALSE(json_get_member_bool(root, c.member));
        }
        if (!c.number) {
            EXPECT_EQ(json_get_member_int(root, c.member), 0);
            EXPECT_EQ(json_get_member_ull(root, c.member), 0u);
            EXPECT_EQ(json_get_member_float(root, c.member), 0.0f);
        }
        if (!c.object) {
            EXPECT_EQ(json_get_member_object(root, c.member), nullptr);
        }
        if (!c.array) {
            EXPECT_EQ(json_get_member_array(root, c.member), nullptr);
        }
    }
    // The empty view is never a null pointer.
    EXPECT_NE(json_get_member_string(root, "n").text, nullptr);

    // A null object or array answers every accessor with its default.
    EXPECT_FALSE(json_has_member(nullptr, "s"));
    EXPECT_EQ(json_get_member(nullptr, "s"), nullptr);
    EXPECT_EQ(json_get_member_string(nullptr, "s").length, 0u);
    EXPECT_FALSE(json_get_member_bool(nullptr, "b"));
    EXPECT_EQ(json_get_member_int(nullptr, "n"), 0);
    EXPECT_EQ(json_get_member_ull(nullptr, "n"), 0u);
    EXPECT_EQ(json_get_member_float(nullptr, "n"), 0.0f);
    EXPECT_EQ(json_get_member_object(nullptr, "o"), nullptr);
    EXPECT_EQ(json_get_member_array(nullptr, "a"), nullptr);
    EXPECT_EQ(json_get_num_elements(nullptr), 0u);
    EXPECT_EQ(json_get_element(nullptr, 0), nullptr);
    EXPECT_EQ(json_get_element_string(nullptr, 0).length, 0u);
    EXPECT_EQ(json_get_element_object(nullptr, 0), nullptr);
    EXPECT_EQ(json_number_to_ll(nullptr), 0);
    EXPECT_EQ(json_number_to_double(nullptr), 0.0);
}

TEST_F(JsonReader, ReadsNumbersIntoEveryGetter) {
    const int32_t imax = std::numeric_limits<int32_t>::max();
    const int32_t imin = std::numeric_limits<int32_t>::min();
    const uint64_t umax = std::numeric_limits<uint64_t>::max();
    struct Case {
        const char* name;
        const char* json;
        double as_double;
        int32_t as_int;
        uint64_t as_ull;
        int64_t as_ll;
    } cases[] = {
        {"zero", "0", 0.0, 0, 0, 0},
        {"negative zero", "-0", 0.0, 0, 0, 0},
        {"fraction truncates", "1.05", 1.05, 1, 1, 1},
        {"negative fraction truncates toward zero", "-0.5", -0.5, 0, 0, 0},
        {"negative fraction beyond one", "-2.75", -2.75, -2, 0, -2},
        {"exponent", "2e3", 2000.0, 2000, 2000, 2000},
        {"capital exponent with sign", "2E+3", 2000.0, 2000, 2000, 2000},
        {"negative exponent", "25e-1", 2.5, 2, 2, 2},
        {"fraction and exponent", "1.5e2", 150.0, 150, 150, 150},
        {"negative integer", "-7", -7.0, -7, 0, -7},
        {"int32 maximum", "2147483647", 2147483647.0, imax, 2147483647u, 2147483647},
        {"above int32 clamps", "3000000000", 3e9, imax, 3000000000u, 3000000000},
        {"below int32 clamps", "-3000000000", -3e9, imin, 0, -3000000000},
        {"int64 maximum", "9223372036854775807", 9223372036854775807.0, imax, 9223372036854775807u,
         std::numeric_limits<int64_t>::max()},
        {"int64 minimum", "-9223372036854775808", -9223372036854775808.0, imin, 0,
         std::numeric_limits<int64_t>::min()},
        {"uint64 maximum", "18446744073709551615", 18446744073709551615.0, imax, umax,
         std::numeric_limits<int64_t>::max()},
        {"huge exponent clamps", "1e30", 1e30, imax, umax, std::numeric_limits<int64_t>::max()},
        {"huge negative exponent clamps", "-1e30", -1e30, imin, 0,
         std::numeric_limits<int64_t>::min()},
        {"long fraction is not an overflow", "1.000000000000000000000000000001", 1.0, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = std::string("{\"v\": ") + c.json + "}";
        ASSERT_TRUE(load(text));
        const json_object_t* root = json_get_root_object(reader);
        const json_value_t* value = json_get_member(root, "v");
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->type, JSON_Number);
        EXPECT_DOUBLE_EQ(json_number_to_double(value), c.as_double);
        EXPECT_EQ(json_get_member_float(root, "v"), static_cast<float>(c.as_double));
        EXPECT_EQ(json_get_member_int(root, "v"), c.as_int);
        EXPECT_EQ(json_get_member_ull(root, "v"), c.as_ull);
        EXPECT_EQ(json_number_to_ll(value), c.as_ll);
    }
}

TEST_F(JsonReader, RejectsMalformedTextAndLogsThePlace) {
    struct Case {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty text", ""},
        {"whitespace only", " \t\r\n "},
        {"string root", "\"text\""},
        {"number root", "12"},
        {"literal root", "true"},
        {"form feed is not whitespace", "\f{}"},
        {"leading zero", "[012]"},
        {"leading zero in a member", "{\"a\": 00}"},
        {"minus without digits", "[-]"},
        {"plus sign", "[+1]"},
        {"dot without fraction digits", "[1.]"},
        {"leading dot", "[.5]"},
        {"exponent without digits", "[1e]"},
        {"exponent sign without digits", "[1e+]"},
        {"integer part beyond 64 bits", "[18446744073709551616]"},
        {"negative integer part beyond 64 bits", "[-99999999999999999999999]"},
        {"misspelt literal", "[tru]"},
        {"capitalised literal", "[True]"},
        {"literal run on", "[nullx]"},
        {"literal followed by a value", "[false 1]"},
        {"literal followed by a colon", "{\"a\": true: 1}"},
        {"literal cut short at the end", "[fals"},
        {"trailing comma in an object", "{\"a\": 1,}"},
        {"trailing comma in an array", "[1, 2,]"},
        {"trailing comma before whitespace", "[1, 2, \n]"},
        {"leading comma", "[,1]"},
        {"double comma", "[1,,2]"},
        {"missing comma", "[1 2]"},
        {"missing comma between members", "{\"a\": 1 \"b\": 2}"},
        {"missing colon", "{\"a\" 1}"},
        {"missing value", "{\"a\": }"},
        {"name without value at the end", "{\"a\""},
        {"bare name with a dash", "{a-b: 1}"},
        {"number as value without name", "{1}"},
        {"mismatched closing of an array", "[1}"},
        {"mismatched closing of an object", "{\"a\": 1]"},
        {"end inside an object", "{\"a\": 1"},
        {"end inside a nested array", "[1, [2]"},
        {"end inside a string", "{\"a\": \"abc"},
        {"end after an escaped quote", "[\"abc\\\"]"},
        {"end after a backslash", "[\"abc\\"},
        {"nesting one past the limit",
         std::string(JSON_MaxDepth + 1, '[') + std::string(JSON_MaxDepth + 1, ']')},
        {"objects nested past the limit",
         [] {
             std::string s;
             for (int i = 0; i <= JSON_MaxDepth; ++i)
                 s += "{\"a\": ";
             s += "1";
             s += std::string(JSON_MaxDepth + 1, '}');
             return s;
         }()},
        {"a hundred thousand open brackets", std::string(100000, '[')},
        {"a hundred thousand balanced brackets",
         std::string(100000, '[') + std::string(100000, ']')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        captured_log.Clear();
        EXPECT_FALSE(load(c.text));
        EXPECT_EQ(reader.root, -1);
        EXPECT_EQ(json_get_root(reader), nullptr);
        EXPECT_EQ(json_get_root_object(reader), nullptr);
        if (!c.text.empty()) {
            EXPECT_TRUE(captured_log.Contains("JSON parse failed at character "))
                << captured_log.Text();
        }
    }
}

TEST_F(JsonReader, AcceptsNestingUpToTheLimit) {
    const std::string text =
        std::string(JSON_MaxDepth, '[') + "1" + std::string(JSON_MaxDepth, ']');
    ASSERT_TRUE(load(text));
    const json_value_t* value = json_get_root(reader);
    for (int level = 1; level < JSON_MaxDepth; ++level) {
        ASSERT_NE(value, nullptr);
        ASSERT_EQ(json_get_num_elements(value), 1u);
        value = json_get_element(value, 0);
    }
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(json_number_to_ll(json_get_element(value, 0)), 1);
}

TEST_F(JsonReader, FailedLoadForgetsThePreviousDocument) {
    ASSERT_TRUE(load("{\"a\": 1}"));
    EXPECT_FALSE(load("{\"a\": 2,}"));
    EXPECT_EQ(reader.root, -1);
    EXPECT_EQ(json_get_member_int(json_get_root_object(reader), "a"), 0);

    // The reader stays usable after a failure.
    ASSERT_TRUE(load("{\"a\": 3}"));
    EXPECT_EQ(json_get_member_int(json_get_root_object(reader), "a"), 3);
}

TEST_F(JsonReader, KeepsItsOwnCopyOfTheText) {
    std::string text = "{\"name\": \"first\", \"n\": 12.5, list: [\"x\"]}";
    ASSERT_TRUE(load(text));
    std::fill(text.begin(), text.end(), '#');
    const json_object_t* root = json_get_root_object(reader);
    EXPECT_EQ(to_std(json_get_member_string(root, "name")), "first");
    EXPECT_EQ(json_get_member_float(root, "n"), 12.5f);
    EXPECT_EQ(to_std(json_get_element_string(json_get_member_array(root, "list"), 0)), "x");
}

TEST_F(JsonReader, ReleaseIsSafeTwiceAndAllowsReuse) {
    ASSERT_TRUE(load("[1, 2]"));
    json_release(reader);
    json_release(reader);
    EXPECT_EQ(json_get_root(reader), nullptr);
    ASSERT_TRUE(json_initialise(reader));
    ASSERT_TRUE(load("[3]"));
    EXPECT_EQ(json_number_to_ll(json_get_element(json_get_root(reader), 0)), 3);
}

TEST_F(JsonReader, LoadsAFile) {
    const std::string path = folder + "/settings.json";
    write_text(path, "{ \"exposure\": 0.5, \"camera\": \"body\" }\n");
    filename_t file;
    filename_initialise(file);
    ASSERT_TRUE(filename_set(file, view(path)));
    EXPECT_TRUE(json_load(reader, file));
    const json_object_t* root = json_get_root_object(reader);
    EXPECT_EQ(json_get_member_float(root, "exposure"), 0.5f);
    EXPECT_EQ(to_std(json_get_member_string(root, "camera")), "body");

    ASSERT_TRUE(filename_set(file, view(folder + "/missing.json")));
    EXPECT_FALSE(json_load(reader, file));

    write_text(path, "{ \"broken\": ");
    ASSERT_TRUE(filename_set(file, view(path)));
    EXPECT_FALSE(json_load(reader, file));
    filename_release(file);
}

TEST_F(JsonReader, ReadsNumbersTheSameUnderADecimalCommaLocale) {
    DecimalCommaLocale locale;
    if (!locale.active)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    ASSERT_TRUE(load("[1.5, -0.25, 2e3, 1.05]"));
    const json_array_t* root = json_get_root(reader);
    EXPECT_EQ(json_number_to_double(json_get_element(root, 0)), 1.5);
    EXPECT_EQ(json_number_to_double(json_get_element(root, 1)), -0.25);
    EXPECT_EQ(json_number_to_ll(json_get_element(root, 2)), 2000);
    EXPECT_DOUBLE_EQ(json_number_to_double(json_get_element(root, 3)), 1.05);
}

// ---------------------------------------------------------------------------------
// Writer

TEST_F(JsonWriter, LaysOutNestedBlocksExactly) {
    const std::string path = folder + "/layout.json";
    ASSERT_TRUE(write_document(path, [](json_writer_t& writer) {
        json_block_t root, list, item;
        json_begin_object(writer, nullptr, root, "", true);
        json_add_int(root, "a", 1);
        json_begin_array(writer, &root, list, "list", true);
        json_begin_object(writer, &list, item, "", false);
        json_add_bool(item, "x", true);
        json_add_string(item, "y", string_make("z"));
        json_end_object(item);
        json_end_array(list);
        json_end_object(root);
    }));
    EXPECT_EQ(read_text(path),
              "{\n  \"a\": 1,\n  \"list\": [\n    { \"x\": true, \"y\": \"z\" }\n  ]\n}");
}

TEST_F(JsonWriter, IndentsEachLevelByTwoMore) {
    const std::string path = folder + "/deep.json";
    ASSERT_TRUE(write_document(path, [](json_writer_t& writer) {
        json_block_t root, outer, inner, list, empty;
        json_begin_array(writer, nullptr, root, "", true);
        json_begin_object(writer, &root, outer, "ignored inside an array", true);
        json_begin_object(writer, &outer, inner, "inner", true);
        json_add_null(inner, "n");
        json_add_int(inner, "m", -3);
        json_end_object(inner);
        json_begin_array(writer, &outer, list, "list", false);
        json_add_int(list, "", 1);
        json_add_int(list, "", 2);
        json_end_array(list);
        json_begin_object(writer, &outer, empty, "empty", false);
        json_end_object(empty);
        json_end_object(outer);
        json_add_bool(root, "", false);
        json_end_array(root);
    }));
    EXPECT_EQ(read_text(path), "[\n"
                               "  {\n"
                               "    \"inner\": {\n"
                               "      \"n\": null,\n"
                               "      \"m\": -3\n"
                               "    },\n"
                               "    \"list\": [ 1, 2 ],\n"
                               "    \"empty\": { }\n"
                               "  },\n"
                               "  false\n"
                               "]");
}

TEST_F(JsonWriter, WritesEmptyTopLevelBlocks) {
    struct Case {
        const char* name;
        bool array;
        bool multi_line;
        const char* expected;
    } cases[] = {
        {"multi-line object", false, true, "{\n}"},
        {"single-line object", false, false, "{ }"},
        {"multi-line array", true, true, "[\n]"},
        {"single-line array", true, false, "[ ]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder + "/empty.json";
        ASSERT_TRUE(write_document(path, [&c](json_writer_t& writer) {
            json_block_t root;
            if (c.array) {
                json_begin_array(writer, nullptr, root, "", c.multi_line);
                json_end_array(root);
            } else {
                json_begin_object(writer, nullptr, root, "", c.multi_line);
                json_end_object(root);
            }
        }));
        EXPECT_EQ(read_text(path), c.expected);
    }
}

TEST_F(JsonWriter, FormatsNumbersBooleansAndNull) {
    const std::string path = folder + "/values.json";
    ASSERT_TRUE(write_document(path, [](json_writer_t& writer) {
        json_block_t root;
        json_begin_object(writer, nullptr, root, "", false);
        json_add_int(root, "i", std::numeric_limits<int32_t>::min());
        json_add_uint(root, "u", std::numeric_limits<uint32_t>::max());
        json_add_ull(root, "q", std::numeric_limits<uint64_t>::max());
        json_add_float(root, "f", 0.1f);
        json_add_float(root, "g", -1234.5f);
        json_add_float(root, "nan", std::nanf(""));
        json_add_float(root, "inf", std::numeric_limits<float>::infinity());
        json_add_float(root, "ninf", -std::numeric_limits<float>::infinity());
        json_add_bool(root, "t", true);
        json_add_bool(root, "b", false);
        json_add_null(root, "z");
        json_end_object(root);
    }));
    const std::string text = read_text(path);
    EXPECT_EQ(text, "{ \"i\": -2147483648, \"u\": 4294967295, \"q\": 18446744073709551615, "
                    "\"f\": 0.100000, \"g\": -1234.500000, \"nan\": null, \"inf\": null, "
                    "\"ninf\": null, \"t\": true, \"b\": false, \"z\": null }");

    // What was written reads back.
    ASSERT_TRUE(load(text));
    const json_object_t* root = json_get_root_object(reader);
    EXPECT_EQ(json_get_member_int(root, "i"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(json_get_member_ull(root, "u"), 4294967295u);
    EXPECT_EQ(json_get_member_ull(root, "q"), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(json_get_member_float(root, "f"), 0.1f);
    EXPECT_EQ(json_get_member_float(root, "g"), -1234.5f);
    EXPECT_EQ(json_get_member(root, "nan")->type, JSON_Null);
    EXPECT_TRUE(json_get_member_bool(root, "t"));
}

TEST_F(JsonWriter, WritesFloatsWithADotUnderADecimalCommaLocale) {
    DecimalCommaLocale locale;
    if (!locale.active)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    const std::string path = folder + "/locale.json";
    ASSERT_TRUE(write_document(path, [](json_writer_t& writer) {
        json_block_t root;
        json_begin_array(writer, nullptr, root, "", false);
        json_add_float(root, "", 1.5f);
        json_add_float(root, "", 0.1f);
        json_write(writer, ", %.2f", 2.25);
        json_end_array(root);
    }));
    const std::string text = read_text(path);
    EXPECT_EQ(text, "[ 1.500000, 0.100000, 2.25 ]");
    ASSERT_TRUE(load(text));
    const json_array_t* root = json_get_root(reader);
    ASSERT_EQ(json_get_num_elements(root), 3u);
    EXPECT_EQ(static_cast<float>(json_number_to_double(json_get_element(root, 1))), 0.1f);
}

TEST_F(JsonWriter, WritesStringsThatAlwaysReadBack) {
    struct Case {
        const char* name;
        const char* value;
        const char* written; // between the quotes in the file, and what reads back
    } cases[] = {
        {"plain", "plain text", "plain text"},
        {"empty", "", ""},
        {"inner backslashes", R"(C:\dir\name)", R"(C:\dir\name)"},
        {"paired trailing backslashes", R"(dir\\)", R"(dir\\)"},
        {"escape sequences", R"(a\nb\t)", R"(a\nb\t)"},
        {"utf-8", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"quotes get a backslash", R"(say "hi")", R"(say \"hi\")"},
        {"quote at the start", R"("x)", R"(\"x)"},
        {"quote at the end", R"(x")", R"(x\")"},
        {"escaped quote stays", R"(a\"b)", R"(a\"b)"},
        {"quote after paired backslashes", R"(a\\"b)", R"(a\\\"b)"},
        {"unpaired trailing backslash doubled", R"(dir\)", R"(dir\\)"},
        {"three trailing backslashes", R"(x\\\)", R"(x\\\\)"},
        {"lone backslash", R"(\)", R"(\\)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder + "/strings.json";
        ASSERT_TRUE(write_document(path, [&c](json_writer_t& writer) {
            json_block_t root;
            json_begin_object(writer, nullptr, root, "", false);
            json_add_string(root, "s", string_make(c.value));
            json_add_int(root, "after", 1);
            json_end_object(root);
        }));
        const std::string text = read_text(path);
        EXPECT_EQ(text, std::string("{ \"s\": \"") + c.written + "\", \"after\": 1 }");
        ASSERT_TRUE(load(text));
        const json_object_t* root = json_get_root_object(reader);
        EXPECT_EQ(to_std(json_get_member_string(root, "s")), c.written);
        EXPECT_EQ(json_get_member_int(root, "after"), 1);
    }
}

TEST_F(JsonWriter, ReplacesTheTargetOnlyWhenClosed) {
    const std::string path = folder + "/settings.json";
    write_text(path, "old");

    filename_t file;
    filename_initialise(file);
    ASSERT_TRUE(filename_set(file, view(path)));
    json_writer_t writer;
    json_clear(writer);
    EXPECT_FALSE(json_is_open(writer));
    ASSERT_TRUE(json_open(writer, file));
    EXPECT_TRUE(json_is_open(writer));
    EXPECT_FALSE(json_open(writer, file)) << "a writer opens one file at a time";

    json_block_t root;
    json_begin_object(writer, nullptr, root, "", false);
    json_add_int(root, "v", 2);
    json_end_object(root);
    EXPECT_EQ(read_text(path), "old") << "the target changes only on close";
    EXPECT_EQ(list_folder(folder).size(), 2u) << "the temporary file sits beside the target";

    EXPECT_TRUE(json_close(writer));
    EXPECT_FALSE(json_is_open(writer));
    EXPECT_EQ(read_text(path), "{ \"v\": 2 }");
    EXPECT_EQ(list_folder(folder), std::set<std::string>{"settings.json"});
    json_write(writer, "after close"); // ignored when closed
    EXPECT_EQ(read_text(path), "{ \"v\": 2 }");
    filename_release(file);
}

TEST_F(JsonWriter, AbandonLeavesTheOldFile) {
    const std::string path = folder + "/settings.json";
    write_text(path, "{ \"old\": true }");
    filename_t file;
    filename_initialise(file);
    ASSERT_TRUE(filename_set(file, view(path)));
    json_writer_t writer;
    json_clear(writer);
    ASSERT_TRUE(json_open(writer, file));
    json_block_t root;
    json_begin_object(writer, nullptr, root, "", true);
    json_add_int(root, "new", 1);
    json_end_object(root);
    json_abandon(writer);
    EXPECT_FALSE(json_is_open(writer));
    EXPECT_EQ(read_text(path), "{ \"old\": true }");
    EXPECT_EQ(list_folder(folder), std::set<std::string>{"settings.json"});

    // The writer can be opened again afterwards.
    ASSERT_TRUE(json_open(writer, file));
    json_write(writer, "[]");
    EXPECT_TRUE(json_close(writer));
    EXPECT_EQ(read_text(path), "[]");
    filename_release(file);
}

TEST_F(JsonWriter, CreatesANewFile) {
    const std::string path = folder + "/new.json";
    ASSERT_TRUE(write_document(path, [](json_writer_t& writer) { json_write(writer, "[%d]", 7); }));
    EXPECT_EQ(read_text(path), "[7]");
    EXPECT_EQ(list_folder(folder), std::set<std::string>{"new.json"});
}

TEST_F(JsonWriter, WritesATargetWithTheLongestName) {
    const std::string name = std::string(NAME_MAX - 5, 'n') + ".json";
    const std::string path = folder + "/" + name;
    EXPECT_TRUE(write_document(path, [](json_writer_t& writer) { json_write(writer, "[]"); }));
    EXPECT_EQ(read_text(path), "[]");
    EXPECT_EQ(list_folder(folder), std::set<std::string>{name});
}

TEST_F(JsonWriter, OpenFailsInAMissingFolder) {
    filename_t file;
    filename_initialise(file);
    ASSERT_TRUE(filename_set(file, view(folder + "/missing/settings.json")));
    json_writer_t writer;
    json_clear(writer);
    EXPECT_FALSE(json_open(writer, file));
    EXPECT_FALSE(json_is_open(writer));
    json_write(writer, "ignored");
    EXPECT_FALSE(json_close(writer));
    EXPECT_TRUE(list_folder(folder).empty());
    filename_release(file);
}

TEST_F(JsonWriter, FailedRenameLeavesTheTargetAndNoTemporaryFile) {
    // A directory under the target's name cannot be replaced by a file.
    const std::string path = folder + "/settings.json";
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    write_text(path + "/keep", "inside");
    EXPECT_FALSE(write_document(path, [](json_writer_t& writer) { json_write(writer, "{}"); }));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(read_text(path + "/keep"), "inside");
    EXPECT_EQ(list_folder(folder), std::set<std::string>{"settings.json"});
}

TEST_F(JsonWriter, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    const std::string path = folder + "/settings.json";
    write_text(path, "old");
    const std::string long_text(200, 'x');

    FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.active);
    const bool written = write_document(path, [&long_text](json_writer_t& writer) {
        json_block_t root;
        json_begin_array(writer, nullptr, root, "", true);
        for (int i = 0; i < 500; ++i) // 100 KB, far past the limit
            json_add_string(root, "", view(long_text));
        json_end_array(root);
    });
    limit.restore();

    EXPECT_FALSE(written);
    EXPECT_EQ(read_text(path), "old");
    EXPECT_EQ(list_folder(folder), std::set<std::string>{"settings.json"});
}

} // namespace
