// The message processor base class.
#include "velk/message/message_processor.h"

#include "velk/core/log.h"
#include "velk/message/location.h"
#include "velk/message/message_queue.h"

namespace velk {

MessageProcessor::MessageProcessor(const char* name, bool reuse)
    : m_locationId(Location::GetLocationId(name, reuse)) {}

MessageProcessor::~MessageProcessor() {
    if (m_queue != nullptr)
        m_queue->Unregister(this);
}

bool MessageProcessor::ProcessorInitialise() { return true; }

void MessageProcessor::ProcessorRelease() {}

void MessageProcessor::ProcessorUpdate() {}

void MessageProcessor::Receive(const Message& message) {
    switch (message.GetHeader().messageType) {
    case MessageHeader::Event: ReceiveEvent(message); break;
    case MessageHeader::Response:
        m_contexts[message.GetHeader().srcId].pending -= 1;
        ReceiveResponse(message);
        break;
    case MessageHeader::Request: ReceiveRequest(message); break;
    default: break;
    }
}

void MessageProcessor::ReceiveRequest(const Message& message) {
    if (!log_is_enabled(LEVEL_Warning, LOG_Message))
        return;
    stringbuffer_t text;
    stringbuffer_initialise(text);
    message.Print(text, 2);
    log_writef(LEVEL_Warning, LOG_Message, "Request not handled:\n%s", text.view.text);
    stringbuffer_release(text);
}

void MessageProcessor::ReceiveResponse(const Message&) {}

void MessageProcessor::ReceiveEvent(const Message&) {}

MessageEncoder* MessageProcessor::GetEncoder() const {
    return m_queue != nullptr ? m_queue->GetEncoder() : nullptr;
}

bool MessageProcessor::Subscribe(const char* channel) {
    if (m_queue == nullptr) {
        log_writef(LEVEL_Error, LOG_Message, "Cannot subscribe %s to %s: not registered on a queue",
                   Location::GetLocationName(m_locationId), channel != nullptr ? channel : "");
        return false;
    }
    uint16_t id = Location::GetSubscriptionId(channel);
    if (id == Location::Invalid)
        return false;
    return m_queue->Subscribe(this, id);
}

bool MessageProcessor::Send(Message& message, uint16_t destination, int32_t refNum, uint16_t type) {
    if (m_queue == nullptr || !message.IsValid() || destination == Location::Invalid) {
        log_writef(LEVEL_Error, LOG_Message, "%s cannot send: %s",
                   Location::GetLocationName(m_locationId),
                   m_queue == nullptr ? "not registered on a queue"
                                      : (message.IsValid() ? "invalid destination" : "no message"));
        return false;
    }
    MessageHeader& header = message.GetHeader();
    header.srcId = m_locationId;
    header.dstId = destination;
    header.refNum = refNum;
    header.messageType = type;
    return m_queue->Send(message);
}

bool MessageProcessor::SendRequest(Message& message, uint16_t destination) {
    uint32_t sequence = m_contexts[destination].sequence + 1;
    m_contexts[destination].sequence = sequence;
    if (!Send(message, destination, int32_t(sequence), MessageHeader::Request))
        return false;
    // Counted after sending: a request to the own queue may be answered inside Send.
    m_contexts[destination].pending += 1;
    return true;
}

bool MessageProcessor::SendEvent(Message& message, uint16_t destination) {
    uint32_t sequence = m_contexts[destination].sequence + 1;
    m_contexts[destination].sequence = sequence;
    return Send(message, destination, int32_t(sequence), MessageHeader::Event);
}

bool MessageProcessor::SendResponse(Message& message, const MessageHeader& request) {
    return Send(message, request.srcId, request.refNum, MessageHeader::Response);
}

int32_t MessageProcessor::GetPending(uint16_t peer) const {
    auto found = m_contexts.find(peer);
    return found != m_contexts.end() ? found->second.pending : 0;
}

const MessageProcessor::OutgoingContext* MessageProcessor::GetContext(uint16_t peer) const {
    auto found = m_contexts.find(peer);
    return found != m_contexts.end() ? &found->second : nullptr;
}

} // namespace velk
