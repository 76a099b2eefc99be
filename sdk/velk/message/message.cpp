// Bus messages and the message encoder.
#include "velk/message/message.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "velk/core/memory.h"
#include "velk/message/location.h"

namespace velk {
namespace {

constexpr uint32_t HeaderSize = sizeof(MessageHeader);

uint64_t padded(uint64_t size) { return (size + 15) & ~uint64_t(15); }

const char* type_name(uint16_t type) {
    switch (type) {
    case MessageHeader::Request: return "Request";
    case MessageHeader::Response: return "Response";
    case MessageHeader::Event: return "Event";
    default: return "Unknown";
    }
}

} // namespace

bool Message::Contains(uint32_t offset) const {
    uint32_t size = GetHeader().numBytes;
    if (offset < HeaderSize || offset % 16 != 0 || uint64_t(offset) + sizeof(MessageField) > size)
        return false;
    const MessageField* field = reinterpret_cast<const MessageField*>(m_block + offset);
    return uint64_t(offset) + sizeof(MessageField) + field->PayloadSize() <= size;
}

bool Message::GetFirst(const MessageField*& out) const {
    if (m_block == nullptr || GetHeader().numBytes <= HeaderSize || !Contains(HeaderSize))
        return false;
    out = reinterpret_cast<const MessageField*>(m_block + HeaderSize);
    return true;
}

bool Message::GetNext(const MessageField*& field) const {
    uint32_t current = uint32_t(reinterpret_cast<const unsigned char*>(field) - m_block);
    uint32_t next = field->next;
    // Links only ever point forwards; anything else ends the chain.
    if (next == 0 || next <= current || !Contains(next))
        return false;
    field = reinterpret_cast<const MessageField*>(m_block + next);
    return true;
}

bool Message::FindField(int id, const MessageField*& out) const {
    const MessageField* field = nullptr;
    if (!GetFirst(field))
        return false;
    do {
        if (field->id == id) {
            out = field;
            return true;
        }
    } while (GetNext(field));
    return false;
}

bool Message::GetInt(int id, int& out) const {
    const MessageField* field = nullptr;
    if (!FindField(id, field) || field->type != MessageField::Int || field->PayloadSize() < 4)
        return false;
    memcpy(&out, field->Payload(), 4);
    return true;
}

bool Message::GetBool(int id, bool& out) const {
    const MessageField* field = nullptr;
    if (!FindField(id, field) || field->type != MessageField::Bool || field->PayloadSize() < 4)
        return false;
    int32_t value;
    memcpy(&value, field->Payload(), 4);
    out = value != 0;
    return true;
}

bool Message::GetFloat(int id, float& out) const {
    const MessageField* field = nullptr;
    if (!FindField(id, field) || field->type != MessageField::Float || field->PayloadSize() < 4)
        return false;
    memcpy(&out, field->Payload(), 4);
    return true;
}

bool Message::GetString(int id, const char*& out) const {
    const MessageField* field = nullptr;
    if (!FindField(id, field) || field->type != MessageField::String || field->elementSize != 1 ||
        field->count == 0)
        return false;
    const char* text = static_cast<const char*>(field->Payload());
    if (text[field->PayloadSize() - 1] != 0)
        return false; // not terminated inside its field
    out = text;
    return true;
}

bool Message::GetData(int id, const void*& out, uint32_t& size) const {
    const MessageField* field = nullptr;
    if (!FindField(id, field) || field->type != MessageField::Data)
        return false;
    out = field->Payload();
    size = uint32_t(field->PayloadSize());
    return true;
}

void Message::Print(stringbuffer_t& out, int indent) const {
    char spaces[17];
    int n = indent < 0 ? 0 : (indent > 16 ? 16 : indent);
    memset(spaces, ' ', size_t(n));
    spaces[n] = 0;
    if (m_block == nullptr) {
        stringbuffer_format(out, "%s(no message)", spaces);
        return;
    }
    const MessageHeader& h = GetHeader();
    stringbuffer_format(out, "%snumBytes:    %d", spaces, int(h.numBytes));
    stringbuffer_appendf(out, "\n%srefNum:      %d", spaces, h.refNum);
    stringbuffer_appendf(out, "\n%ssrcId:       %d - %s", spaces, h.srcId,
                         Location::GetLocationName(h.srcId));
    stringbuffer_appendf(out, "\n%sdstId:       %d - %s", spaces, h.dstId,
                         Location::GetLocationName(h.dstId));
    stringbuffer_appendf(out, "\n%smessageType: %s", spaces, type_name(h.messageType));
    stringbuffer_appendf(out, "\n%sflags:       0x%x", spaces, h.flags);
    const MessageField* field = nullptr;
    if (!GetFirst(field))
        return;
    do {
        Print(out, field, indent);
    } while (GetNext(field));
}

void Message::Print(stringbuffer_t& out, const MessageField* field, int indent) const {
    char spaces[17];
    int n = indent < 0 ? 0 : (indent > 16 ? 16 : indent);
    memset(spaces, ' ', size_t(n));
    spaces[n] = 0;
    const void* payload = field->Payload();
    switch (field->type) {
    case MessageField::Int: {
        int32_t value;
        memcpy(&value, payload, 4);
        stringbuffer_appendf(out, "\n%s%d: %d", spaces, field->id, value);
        break;
    }
    case MessageField::Bool: {
        int32_t value;
        memcpy(&value, payload, 4);
        stringbuffer_appendf(out, "\n%s%d: %s", spaces, field->id, value ? "true" : "false");
        break;
    }
    case MessageField::Float: {
        float value;
        memcpy(&value, payload, 4);
        stringbuffer_appendf(out, "\n%s%d: %f", spaces, field->id, double(value));
        break;
    }
    case MessageField::String: {
        const char* text = static_cast<const char*>(payload);
        int length = int(strnlen(text, size_t(field->PayloadSize())));
        stringbuffer_appendf(out, "\n%s%d: %.*s", spaces, field->id, length, text);
        break;
    }
    case MessageField::Data:
        stringbuffer_appendf(out, "\n%s%d: %lu bytes data", spaces, field->id,
                             static_cast<unsigned long>(field->PayloadSize()));
        break;
    default: break;
    }
}

bool MessageEncoder::Initialise() {
    m_used = 0;
    m_lastField = 0;
    m_buffer = static_cast<unsigned char*>(calloc(1, InitialCapacity));
    m_capacity = m_buffer != nullptr ? InitialCapacity : 0;
    return m_buffer != nullptr;
}

void MessageEncoder::Release() {
    free(m_buffer);
    m_buffer = nullptr;
    m_capacity = 0;
    m_used = 0;
    m_lastField = 0;
}

bool MessageEncoder::Grow(uint64_t need) {
    uint64_t capacity = need + 2 * uint64_t(m_capacity);
    if (capacity > 0xfffffff0u)
        return false;
    unsigned char* buffer = static_cast<unsigned char*>(calloc(1, size_t(capacity)));
    if (buffer == nullptr)
        return false;
    if (m_used > 0)
        memcpy(buffer, m_buffer, m_used);
    free(m_buffer);
    m_buffer = buffer;
    m_capacity = uint32_t(capacity);
    return true;
}

bool MessageEncoder::Begin() {
    m_used = 0;
    m_lastField = 0;
    if (m_capacity < HeaderSize && !Grow(HeaderSize))
        return false;
    memset(m_buffer, 0, HeaderSize);
    m_used = HeaderSize;
    return true;
}

bool MessageEncoder::AllocateField(MessageField*& out, int id, short type,
                                   unsigned short elementSize, unsigned count) {
    if (m_used < HeaderSize)
        return false; // Begin was not called
    uint64_t payload = padded(uint64_t(elementSize) * count);
    uint64_t need = payload + sizeof(MessageField);
    if (uint64_t(m_capacity) - m_used < need && !Grow(need))
        return false;
    uint32_t offset = m_used;
    MessageField* field = reinterpret_cast<MessageField*>(m_buffer + offset);
    field->id = id;
    field->type = type;
    field->elementSize = elementSize;
    field->count = count;
    field->next = 0;
    // A reused buffer may still hold an earlier message's bytes.
    memset(field + 1, 0, size_t(payload));
    if (m_lastField != 0)
        reinterpret_cast<MessageField*>(m_buffer + m_lastField)->next = offset;
    m_lastField = offset;
    m_used = uint32_t(offset + need);
    out = field;
    return true;
}

bool MessageEncoder::AddField(int id, int value) {
    MessageField* field = nullptr;
    if (!AllocateField(field, id, MessageField::Int, 4, 1))
        return false;
    int32_t v = value;
    memcpy(field + 1, &v, 4);
    return true;
}

bool MessageEncoder::AddField(int id, bool value) {
    MessageField* field = nullptr;
    if (!AllocateField(field, id, MessageField::Bool, 4, 1))
        return false;
    int32_t v = value ? 1 : 0;
    memcpy(field + 1, &v, 4);
    return true;
}

bool MessageEncoder::AddField(int id, float value) {
    MessageField* field = nullptr;
    if (!AllocateField(field, id, MessageField::Float, 4, 1))
        return false;
    memcpy(field + 1, &value, 4);
    return true;
}

bool MessageEncoder::AddField(int id, const char* text) {
    if (text == nullptr)
        text = "";
    size_t length = strlen(text);
    if (length >= 0xffffffffu)
        return false;
    MessageField* field = nullptr;
    if (!AllocateField(field, id, MessageField::String, 1, unsigned(length + 1)))
        return false;
    memcpy(field + 1, text, length + 1);
    return true;
}

bool MessageEncoder::AddField(int id, const void* data, unsigned size) {
    MessageField* field = nullptr;
    if (!AllocateField(field, id, MessageField::Data, 1, size))
        return false;
    if (size > 0 && data != nullptr)
        memcpy(field + 1, data, size);
    return true;
}

bool MessageEncoder::AddData(int id, const void* data, unsigned short elementSize, unsigned count) {
    MessageField* field = nullptr;
    if (!AllocateField(field, id, MessageField::Data, elementSize, count))
        return false;
    size_t size = size_t(elementSize) * count;
    if (size > 0 && data != nullptr)
        memcpy(field + 1, data, size);
    return true;
}

bool MessageEncoder::AddFieldf(int id, const char* format, ...) {
    char text[FormatMax + 1];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (n < 0)
        text[0] = 0;
    return AddField(id, static_cast<const char*>(text));
}

Message MessageEncoder::End() {
    if (m_buffer == nullptr || m_used < HeaderSize)
        return Message();
    reinterpret_cast<MessageHeader*>(m_buffer)->numBytes = m_used;
    return Message(m_buffer);
}

} // namespace velk
