// Bus messages: one contiguous block of a 16-byte header and a chain of typed fields
// linked by offsets, and the encoder that builds them field by field.
#pragma once

#include <cstdint>

#include "velk/core/stringbuffer.h"

namespace velk {

// At the start of every message.
struct MessageHeader {
    enum Type : uint16_t {
        Unknown = 0,
        Request = 1,
        Response = 2,
        Event = 3,
    };

    uint32_t numBytes;    // the whole message, header included
    int32_t refNum;       // sequence number per destination; a response repeats the request's
    uint16_t srcId;       // location id of the sender
    uint16_t dstId;       // location id of the destination; 0 means every processor
    uint16_t messageType; // Type
    uint16_t flags;       // always 0
};
static_assert(sizeof(MessageHeader) == 16, "the message header is 16 bytes");

// A field header; its payload follows and is padded with zeros to a multiple of 16.
// Fields start at multiples of 16 from the start of the message, the first at 16.
struct MessageField {
    enum Type : int16_t {
        Int = 0,    // signed 32-bit
        Bool = 1,   // 32-bit, 0 or 1
        Float = 2,  // IEEE single
        String = 3, // characters and their NUL
        Data = 4,   // raw bytes
    };

    int32_t id;
    int16_t type;
    uint16_t elementSize;
    uint32_t count;
    uint32_t next; // offset of the next field from the message start; 0 on the last

    const void* Payload() const { return this + 1; }
    uint64_t PayloadSize() const { return uint64_t(elementSize) * count; }
};
static_assert(sizeof(MessageField) == 16, "the field header is 16 bytes");

// A handle on a message block; it does not own the block. A message built by an
// encoder lives until that encoder begins the next message; a message handed to a
// receive function lives for the duration of the call.
class Message {
  public:
    Message() = default;
    explicit Message(void* block) : m_block(static_cast<unsigned char*>(block)) {}

    bool IsValid() const { return m_block != nullptr; }
    MessageHeader& GetHeader() const { return *reinterpret_cast<MessageHeader*>(m_block); }
    const void* GetData() const { return m_block; }
    uint32_t GetSize() const { return m_block != nullptr ? GetHeader().numBytes : 0; }

    // The first field with that id; false when there is none. The walk stops at a link
    // that points backwards or past the end, so a damaged message cannot be overrun.
    bool FindField(int id, const MessageField*& out) const;
    // The first field, or false for a message without fields.
    bool GetFirst(const MessageField*& out) const;
    // Moves to the next field in the chain; false on the last.
    bool GetNext(const MessageField*& field) const;

    // Typed readers of the first field with that id: false (out unchanged) when it is
    // missing or of another type.
    bool GetInt(int id, int& out) const;
    bool GetBool(int id, bool& out) const;
    bool GetFloat(int id, float& out) const;
    bool GetString(int id, const char*& out) const;
    bool GetData(int id, const void*& out, uint32_t& size) const;

    // Replaces `out` with the text form of the whole message.
    void Print(stringbuffer_t& out, int indent) const;
    // Appends the text form of one field.
    void Print(stringbuffer_t& out, const MessageField* field, int indent) const;

  private:
    // True when a field header and its payload lie inside the message.
    bool Contains(uint32_t offset) const;

    unsigned char* m_block = nullptr;
};

// Builds one message at a time in a buffer of its own, which grows as needed. Belongs
// to the thread of its queue.
class MessageEncoder {
  public:
    static constexpr uint32_t InitialCapacity = 1048576;
    static constexpr int FormatMax = 2047;

    MessageEncoder() = default;
    ~MessageEncoder() = default;
    MessageEncoder(const MessageEncoder&) = delete;
    MessageEncoder& operator=(const MessageEncoder&) = delete;

    // Allocates the 1 MiB buffer; false when that fails.
    bool Initialise();
    // Frees the buffer; safe to call twice.
    void Release();

    // Starts a new message (an empty header); false only when memory runs out.
    bool Begin();
    // Appends a field header and reserves its zeroed payload; hands out the field. False
    // (message unchanged) when memory runs out.
    bool AllocateField(MessageField*& out, int id, short type, unsigned short elementSize,
                       unsigned count);
    bool AddField(int id, int value);
    bool AddField(int id, bool value);
    bool AddField(int id, float value);
    bool AddField(int id, const char* text);
    bool AddField(int id, char* text) { return AddField(id, static_cast<const char*>(text)); }
    bool AddField(int id, const void* data, unsigned size);
    // A Data field of `count` elements of `elementSize` bytes each (records, ids).
    bool AddData(int id, const void* data, unsigned short elementSize, unsigned count);
    // A formatted String field; output past 2047 characters is cut.
    bool AddFieldf(int id, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Writes the size into the header and returns the message.
    Message End();

    uint32_t GetUsed() const { return m_used; }

  private:
    bool Grow(uint64_t need);

    uint32_t m_used = 0;
    uint32_t m_lastField = 0;
    uint32_t m_capacity = 0;
    unsigned char* m_buffer = nullptr;
};

} // namespace velk
