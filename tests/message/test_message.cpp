// Message layout, the encoder, printing and the location registry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log_capture.h"
#include "velk/message/location.h"
#include "velk/message/message.h"

using namespace velk;

namespace {

class Encoder : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(encoder.Initialise());
        ASSERT_TRUE(encoder.Begin());
    }
    void TearDown() override { encoder.Release(); }
    MessageEncoder encoder;
};

} // namespace

TEST_F(Encoder, EmptyMessageIsItsHeader) {
    Message message = encoder.End();
    EXPECT_EQ(message.GetHeader().numBytes, 16u);
    const MessageField* field = nullptr;
    EXPECT_FALSE(message.FindField(0, field));
    EXPECT_FALSE(message.GetFirst(field));
}

TEST_F(Encoder, FieldSizesArePaddedTo16) {
    struct Case {
        const char* name;
        bool (*add)(MessageEncoder&);
        uint32_t bytes;
    } cases[] = {
        {"int", [](MessageEncoder& e) { return e.AddField(1, 7); }, 32},
        {"bool", [](MessageEncoder& e) { return e.AddField(1, true); }, 32},
        {"float", [](MessageEncoder& e) { return e.AddField(1, 2.5f); }, 32},
        {"15 characters", [](MessageEncoder& e) { return e.AddField(1, "123456789012345"); }, 32},
        {"16 characters", [](MessageEncoder& e) { return e.AddField(1, "1234567890123456"); }, 48},
        {"empty data", [](MessageEncoder& e) { return e.AddField(1, nullptr, 0u); }, 16},
        {"17 bytes of data",
         [](MessageEncoder& e) { return e.AddField(1, "abcdefghijklmnopq", 17u); }, 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(encoder.Begin());
        ASSERT_TRUE(c.add(encoder));
        EXPECT_EQ(encoder.End().GetHeader().numBytes, 16u + c.bytes);
    }
}

TEST_F(Encoder, FieldsReadBackInOrderFirstOfDuplicates) {
    const unsigned char bytes[5] = {1, 2, 3, 4, 5};
    encoder.AddField(10, 42);
    encoder.AddField(11, false);
    encoder.AddField(12, -1.25f);
    encoder.AddField(13, "text");
    encoder.AddField(14, bytes, 5u);
    encoder.AddField(10, 99); // a second field with id 10
    Message message = encoder.End();

    int i = 0;
    bool b = true;
    float f = 0;
    const char* s = nullptr;
    const void* d = nullptr;
    uint32_t size = 0;
    EXPECT_TRUE(message.GetInt(10, i));
    EXPECT_EQ(i, 42);
    EXPECT_TRUE(message.GetBool(11, b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(message.GetFloat(12, f));
    EXPECT_EQ(f, -1.25f);
    EXPECT_TRUE(message.GetString(13, s));
    EXPECT_STREQ(s, "text");
    EXPECT_TRUE(message.GetData(14, d, size));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(memcmp(d, bytes, 5), 0);
    EXPECT_FALSE(message.GetInt(13, i)); // wrong type
    EXPECT_FALSE(message.GetInt(15, i)); // missing

    std::vector<int> ids;
    const MessageField* field = nullptr;
    ASSERT_TRUE(message.GetFirst(field));
    do
        ids.push_back(field->id);
    while (message.GetNext(field));
    EXPECT_EQ(ids, (std::vector<int>{10, 11, 12, 13, 14, 10}));
}

TEST_F(Encoder, FormattedTextIsCutAt2047) {
    std::string long_text(3000, 'w');
    ASSERT_TRUE(encoder.AddFieldf(3, "%s", long_text.c_str()));
    Message message = encoder.End();
    const char* text = nullptr;
    ASSERT_TRUE(message.GetString(3, text));
    EXPECT_EQ(strlen(text), 2047u);
}

TEST_F(Encoder, GrowsForLargeFieldsKeepingEarlierOnes) {
    encoder.AddField(1, 5);
    std::vector<unsigned char> frame(3 * 1024 * 1024, 0x77);
    ASSERT_TRUE(encoder.AddField(2, frame.data(), unsigned(frame.size())));
    ASSERT_TRUE(encoder.AddField(3, "after"));
    Message message = encoder.End();
    int value = 0;
    const void* data = nullptr;
    uint32_t size = 0;
    const char* text = nullptr;
    EXPECT_TRUE(message.GetInt(1, value));
    EXPECT_EQ(value, 5);
    ASSERT_TRUE(message.GetData(2, data, size));
    EXPECT_EQ(size, frame.size());
    EXPECT_EQ(static_cast<const unsigned char*>(data)[size - 1], 0x77);
    EXPECT_TRUE(message.GetString(3, text));
}

TEST_F(Encoder, DamagedChainDoesNotOverrun) {
    encoder.AddField(1, 5);
    encoder.AddField(2, 6);
    Message message = encoder.End();
    // Link the second field back to the first, and then point it past the end.
    MessageField* second = reinterpret_cast<MessageField*>(
        static_cast<unsigned char*>(const_cast<void*>(message.GetData())) + 48);
    const MessageField* field = nullptr;
    second->next = 16;
    EXPECT_FALSE(message.FindField(3, field));
    second->next = 4096;
    EXPECT_FALSE(message.FindField(3, field));
    second->count = 1000000; // a payload larger than the message
    EXPECT_FALSE(message.FindField(2, field));
}

TEST(MessagePrint, RequestWithOneIntField) {
    MessageEncoder encoder;
    ASSERT_TRUE(encoder.Initialise());
    encoder.Begin();
    encoder.AddField(0, 5);
    Message message = encoder.End();
    MessageHeader& header = message.GetHeader();
    header.refNum = 3;
    header.srcId = 0;
    header.dstId = 0;
    header.messageType = MessageHeader::Request;
    stringbuffer_t text;
    stringbuffer_initialise(text);
    message.Print(text, 2);
    EXPECT_EQ(std::string(text.view.text), "  numBytes:    48\n"
                                           "  refNum:      3\n"
                                           "  srcId:       0 - BROADCAST\n"
                                           "  dstId:       0 - BROADCAST\n"
                                           "  messageType: Request\n"
                                           "  flags:       0x0\n"
                                           "  0: 5");
    encoder.Begin();
    encoder.AddField(1, true);
    encoder.AddField(2, 0.5f);
    encoder.AddField(3, "hi");
    encoder.AddField(4, "abc", 3u);
    message = encoder.End();
    message.GetHeader().messageType = 9;
    message.Print(text, 40); // the indent stops at 16
    std::string printed(text.view.text);
    EXPECT_NE(printed.find("\n                messageType: Unknown"), std::string::npos);
    EXPECT_NE(printed.find("\n                1: true\n                2: 0.500000\n"
                           "                3: hi\n                4: 3 bytes data"),
              std::string::npos)
        << printed;
    stringbuffer_release(text);
    encoder.Release();
}

TEST(Location, ReuseAgreesByNameAndFreshIdsDiffer) {
    test_support::LogCapture log;
    uint16_t a = Location::GetLocationId("test::Shared", true);
    uint16_t b = Location::GetLocationId("test::Shared", true);
    uint16_t c = Location::GetLocationId("test::PerInstance", false);
    uint16_t d = Location::GetLocationId("test::PerInstance", false);
    EXPECT_EQ(a, b);
    EXPECT_NE(c, d);
    EXPECT_GE(a, 1);
    EXPECT_STREQ(Location::GetLocationName(a), "test::Shared");
    EXPECT_STREQ(Location::GetLocationName(0), "BROADCAST");
    EXPECT_STREQ(Location::GetLocationName(60000), "");
    EXPECT_TRUE(log.Contains("info] Location ID for test::PerInstance: " + std::to_string(d)));
    // "BROADCAST" cannot be looked up as a name; a failure is never the broadcast id.
    EXPECT_NE(Location::GetLocationId("BROADCAST", true), Location::Broadcast);
    EXPECT_EQ(Location::GetLocationId("", true), Location::Invalid);
    EXPECT_EQ(Location::GetLocationId(nullptr, true), Location::Invalid);
    EXPECT_EQ(Location::GetSubscriptionId("test::Shared"), a);
}
