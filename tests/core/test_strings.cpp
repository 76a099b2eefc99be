// String buffers, interned identifiers, string arrays and byte buffers.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "velk/core/memorybuffer.h"
#include "velk/core/stringarray.h"
#include "velk/core/stringbuffer.h"
#include "velk/core/stringid.h"

using namespace velk;

namespace {

class StringBuffer : public ::testing::Test {
  protected:
    void SetUp() override { stringbuffer_initialise(sb); }
    void TearDown() override { stringbuffer_release(sb); }
    std::string Text() const { return std::string(sb.view.text, sb.view.length); }
    stringbuffer_t sb;
};

bool is_space(int c) { return c == ' '; }
bool is_x(int c) { return c == 'x'; }

} // namespace

TEST_F(StringBuffer, SetClearAndEmptySources) {
    ASSERT_TRUE(stringbuffer_set(sb, string_make("hello")));
    EXPECT_EQ(Text(), "hello");
    EXPECT_EQ(sb.view.text, sb.buffer);
    char* block = sb.buffer;

    stringbuffer_clear(sb); // keeps the block
    EXPECT_EQ(sb.view.text, empty_cstr);
    EXPECT_EQ(sb.buffer, block);

    ASSERT_TRUE(stringbuffer_append(sb, string_t{})); // the view stays where it was
    EXPECT_EQ(sb.view.text, empty_cstr);
    EXPECT_EQ(sb.buffer, block);

    ASSERT_TRUE(stringbuffer_set(sb, string_t{})); // an empty source frees the block
    EXPECT_EQ(sb.buffer, nullptr);
    EXPECT_EQ(sb.capacity, 0u);
    EXPECT_EQ(sb.view.text, empty_cstr);
}

TEST_F(StringBuffer, AppendGrowsExactlyAndKeepsZeroTail) {
    stringbuffer_set(sb, string_make("ab"));
    stringbuffer_append(sb, string_make("cde"));
    stringbuffer_append(sb, 'f');
    EXPECT_EQ(Text(), "abcdef");
    EXPECT_EQ(sb.capacity, 7u);
    EXPECT_EQ(sb.buffer[6], 0);
}

TEST_F(StringBuffer, AppendAndSetFromItself) {
    stringbuffer_set(sb, string_make("abc"));
    ASSERT_TRUE(stringbuffer_append(sb, sb.view)); // grows while reading itself
    EXPECT_EQ(Text(), "abcabc");
    ASSERT_TRUE(stringbuffer_set(sb, string_t{sb.view.text + 3, 3}));
    EXPECT_EQ(Text(), "abc");
}

TEST_F(StringBuffer, FormatGrowthAndSelfReference) {
    ASSERT_TRUE(stringbuffer_format(sb, "%d-%s", 42, "x"));
    EXPECT_EQ(Text(), "42-x");
    EXPECT_EQ(sb.capacity, 1025u);

    // Output of exactly 1024 characters needs a second pass with 2 * 1024 + 3 bytes.
    std::string long_text(1024, 'q');
    ASSERT_TRUE(stringbuffer_format(sb, "%s", long_text.c_str()));
    EXPECT_EQ(Text(), long_text);
    EXPECT_EQ(sb.capacity, 2051u);

    // Formatting the same size again does not grow the buffer any further.
    ASSERT_TRUE(stringbuffer_format(sb, "%s", long_text.c_str()));
    ASSERT_TRUE(stringbuffer_format(sb, "%s", long_text.c_str()));
    EXPECT_EQ(sb.capacity, 2051u);

    // Formatting the buffer into itself.
    stringbuffer_set(sb, string_make("abc"));
    ASSERT_TRUE(stringbuffer_format(sb, "[%s|%s]", sb.view.text, sb.view.text));
    EXPECT_EQ(Text(), "[abc|abc]");

    ASSERT_TRUE(stringbuffer_format(sb, "%s", ""));
    EXPECT_EQ(Text(), "");
}

TEST_F(StringBuffer, AppendfAppendsAndGrows) {
    stringbuffer_set(sb, string_make("ab"));
    ASSERT_TRUE(stringbuffer_appendf(sb, "%s", "cd"));
    EXPECT_EQ(Text(), "abcd");
    EXPECT_EQ(sb.view.length, 4u);

    std::string expected = "abcd";
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(stringbuffer_appendf(sb, "<%d>", i));
        expected += "<" + std::to_string(i) + ">";
    }
    EXPECT_EQ(Text(), expected);

    ASSERT_TRUE(stringbuffer_appendf(sb, "%s", sb.view.text)); // doubles itself
    EXPECT_EQ(Text(), expected + expected);
}

TEST_F(StringBuffer, TrimAndRemoveTable) {
    struct Case {
        const char* name;
        const char* input;
        void (*op)(stringbuffer_t&, bool (*)(int));
        bool (*predicate)(int);
        const char* expected;
    } cases[] = {
        {"trim both ends", "  a b  ", stringbuffer_trim, is_space, "a b"},
        {"trim only spaces", "     ", stringbuffer_trim, is_space, ""},
        {"trim left", "  a ", stringbuffer_trimleft, is_space, "a "},
        {"trim right", "  a ", stringbuffer_trimright, is_space, "  a"},
        {"trim nothing matches", "abc", stringbuffer_trim, is_space, "abc"},
        {"remove inside", "xaxbxxcx", stringbuffer_remove, is_x, "abc"},
        {"remove all", "xxx", stringbuffer_remove, is_x, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stringbuffer_set(sb, string_make(c.input));
        c.op(sb, c.predicate);
        EXPECT_EQ(Text(), c.expected);
        EXPECT_EQ(sb.view.text[sb.view.length], 0);
    }
    stringbuffer_release(sb);
    stringbuffer_trim(sb, is_space); // an empty text is left alone
    EXPECT_EQ(sb.view.text, empty_cstr);
}

TEST_F(StringBuffer, LockAndUnlockForDirectWriting) {
    char* out = nullptr;
    ASSERT_TRUE(stringbuffer_lock(sb, 10, out));
    ASSERT_NE(out, nullptr);
    EXPECT_GE(sb.capacity, 11u);
    memcpy(out, "direct", 6);
    stringbuffer_unlock(sb, 6);
    EXPECT_EQ(Text(), "direct");
    ASSERT_TRUE(stringbuffer_lock(sb, 10, out));
    strcpy(out, "xy");
    stringbuffer_unlock(sb);
    EXPECT_EQ(Text(), "xy");
    out[1] = 0;
    stringbuffer_compute_length(sb);
    EXPECT_EQ(Text(), "x");
}

TEST(StringId, InternsSharesAndCounts) {
    stringid_t a, b;
    stringid_resolve(a, string_make("stringid-test-shared"));
    stringid_resolve(b, string_make("stringid-test-shared"));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.text, b.text);
    EXPECT_EQ(a.length, 20u);
    EXPECT_EQ(stringid_reference_count(a), 3); // the dictionary's own and two holders

    stringid_t empty;
    stringid_resolve(empty, string_t{});
    EXPECT_EQ(empty.text, empty_cstr);
    stringid_add_reference(empty); // nothing for the empty identifier
    stringid_remove_reference(empty);
    EXPECT_EQ(stringid_reference_count(empty), 0);

    // Resolving a cut-out view interns only its characters.
    stringid_t cut;
    stringid_resolve(cut, string_t{"stringid-test-shared-but-longer", 20});
    EXPECT_EQ(cut, a);

    stringid_remove_reference(a);
    stringid_remove_reference(b);
    stringid_remove_reference(cut);
    EXPECT_EQ(stringid_reference_count(a), 1); // left in the dictionary
}

TEST(StringId, OneReleaseTooManyIsLoggedOnce) {
    test_support::LogCapture log;
    stringid_t a;
    stringid_resolve(a, string_make("stringid-test-overreleased"));
    stringid_remove_reference(a); // 1: the dictionary's own
    EXPECT_FALSE(log.Contains("released too many times"));
    stringid_remove_reference(a); // 0
    EXPECT_TRUE(log.Contains("ERROR] string id released too many times: "
                             "stringid-test-overreleased\n"));
    stringid_add_reference(a); // back to the dictionary's own
}

TEST(StringId, CheckReportsUnfreedEntries) {
    test_support::LogCapture log;
    stringid_t held;
    stringid_resolve(held, string_make("!stringid-check-held")); // '!' sorts first
    stringid_check();
    std::string text = log.Text();
    EXPECT_NE(text.find("WARNING] string id dictionary: "), std::string::npos);
    EXPECT_NE(text.find(" unfreed entries"), std::string::npos);
    EXPECT_NE(text.find("\nrefCount 2: !stringid-check-held"), std::string::npos);
    stringid_remove_reference(held);
    log.Clear();
    stringid_check(); // count 1: counted but not listed
    EXPECT_EQ(log.Text().find("!stringid-check-held"), std::string::npos);
}

TEST(StringId, ResolvesConsistentlyAcrossThreads) {
    constexpr int Threads = 4, Texts = 200;
    std::vector<std::vector<stringid_t>> ids(Threads, std::vector<stringid_t>(Texts));
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < Texts; ++i) {
                std::string text = "threaded-id-" + std::to_string(i);
                stringid_resolve(ids[t][i], string_make(text.c_str()));
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < Texts; ++i) {
        for (int t = 1; t < Threads; ++t)
            EXPECT_EQ(ids[t][i], ids[0][i]);
        EXPECT_EQ(stringid_reference_count(ids[0][i]), Threads + 1);
        for (int t = 0; t < Threads; ++t)
            stringid_remove_reference(ids[t][i]);
    }
}

TEST(StringArray, TokeniseSkipsEmptyTokens) {
    stringarray_t sa;
    ASSERT_TRUE(stringarray_initialise(sa));
    ASSERT_TRUE(stringarray_tokenise(sa, string_make(",a,,b,"), ","));
    ASSERT_EQ(stringarray_count(sa), 2u);
    EXPECT_STREQ(stringarray_get(sa, 0).text, "a");
    EXPECT_STREQ(stringarray_get(sa, 1).text, "b");
    EXPECT_EQ(stringarray_get(sa, 2).length, 0u);

    ASSERT_TRUE(stringarray_tokenise(sa, string_make(" Program  P Av Tv "), " "));
    ASSERT_EQ(stringarray_count(sa), 4u);
    EXPECT_STREQ(stringarray_get(sa, 3).text, "Tv");
    // Appending after tokens keeps every entry readable.
    ASSERT_TRUE(stringarray_append(sa, string_make("M")));
    EXPECT_STREQ(stringarray_get(sa, 0).text, "Program");
    EXPECT_STREQ(stringarray_get(sa, 4).text, "M");
    stringarray_release(sa);
    stringarray_release(sa);
}

TEST(StringArray, EntriesSurviveStoreMoves) {
    stringarray_t sa;
    ASSERT_TRUE(stringarray_initialise(sa));
    std::vector<std::string> expected;
    for (int i = 0; i < 500; ++i) {
        expected.push_back("entry number " + std::to_string(i));
        ASSERT_TRUE(stringarray_append(sa, string_make(expected.back().c_str())));
    }
    ASSERT_TRUE(stringarray_append(sa, stringarray_get(sa, 3))); // an entry of its own
    expected.push_back(expected[3]);
    ASSERT_EQ(stringarray_count(sa), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(std::string(stringarray_get(sa, uint32_t(i)).text), expected[i]);
    stringarray_clear(sa);
    EXPECT_EQ(stringarray_count(sa), 0u);
    stringarray_release(sa);
}

TEST(MemoryBuffer, SetAppendLockKeepTrailingZero) {
    memorybuffer_t mb;
    memorybuffer_initialise(mb);
    const unsigned char bytes[] = {1, 2, 3, 4};
    ASSERT_TRUE(memorybuffer_set(mb, bytes, 4));
    ASSERT_TRUE(memorybuffer_append(mb, bytes, 2));
    EXPECT_EQ(mb.length, 6u);
    EXPECT_EQ(mb.data[5], 2);
    EXPECT_EQ(mb.data[6], 0);
    ASSERT_TRUE(memorybuffer_append(mb, mb.data, mb.length)); // from itself
    EXPECT_EQ(mb.length, 12u);
    EXPECT_EQ(mb.data[11], 2);
    EXPECT_EQ(mb.data[12], 0);

    unsigned char* out = nullptr;
    ASSERT_TRUE(memorybuffer_lock(mb, 100, out));
    EXPECT_EQ(out[0], 1); // the bytes are kept
    memorybuffer_unlock(mb, 3);
    EXPECT_EQ(mb.data[3], 0);

    ASSERT_TRUE(memorybuffer_set(mb, bytes, 0)); // zero length releases
    EXPECT_EQ(mb.data, nullptr);
    EXPECT_EQ(mb.capacity, 0u);
    memorybuffer_release(mb);
}
