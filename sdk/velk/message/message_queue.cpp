// The message queue of one thread.
#include "velk/message/message_queue.h"

#include "velk/core/log.h"
#include "velk/message/distributor.h"
#include "velk/message/location.h"
#include "velk/message/message_processor.h"

namespace velk {

MessageQueue::MessageQueue() = default;

MessageQueue::~MessageQueue() {
    if (m_id >= 0)
        Release();
    // Processors may outlive their queue: they must not keep a pointer to it.
    for (auto& entry : m_processors)
        if (entry.second != nullptr && entry.second->GetQueue() == this)
            entry.second->SetQueue(nullptr);
    m_encoder.Release();
}

bool MessageQueue::Initialise() {
    if (!m_encoder.Initialise()) {
        log_writef(LEVEL_Error, LOG_Message, "Failed to allocate the encoder of queue %s", m_name);
        return false;
    }
    m_id = Distributor::LinkQueue(this);
    if (m_id < 0) {
        m_encoder.Release();
        return false;
    }
    // Processors registered before linking become known to senders now.
    for (auto& entry : m_processors)
        if (entry.second != nullptr)
            Distributor::AddDestination(m_id, entry.first);
    return true;
}

void MessageQueue::Release() {
    if (m_id >= 0) {
        Distributor::UnlinkQueue(m_id);
        m_id = -1;
    }
    m_encoder.Release();
}

bool MessageQueue::Register(MessageProcessor* processor) {
    if (processor == nullptr || processor->GetLocationId() == Location::Invalid) {
        log_writef(LEVEL_Error, LOG_Message, "Cannot register a processor without a location on %s",
                   m_name);
        return false;
    }
    processor->SetQueue(this);
    m_processors.emplace(processor->GetLocationId(), processor);
    if (m_id >= 0)
        Distributor::AddDestination(m_id, processor->GetLocationId());
    return true;
}

bool MessageQueue::Subscribe(MessageProcessor* processor, uint16_t channel) {
    if (processor == nullptr || processor->GetQueue() != this || channel == Location::Invalid)
        return false;
    m_processors.emplace(channel, processor);
    if (m_id >= 0)
        Distributor::AddDestination(m_id, channel);
    return true;
}

void MessageQueue::Unregister(MessageProcessor* processor) {
    if (processor == nullptr)
        return;
    if (processor->GetQueue() == this)
        processor->SetQueue(nullptr);
    for (auto& entry : m_processors) {
        if (entry.second == processor) {
            entry.second = nullptr;
            m_hasUnregistered = true;
            if (m_id >= 0)
                Distributor::RemoveDestination(m_id, entry.first);
        }
    }
    if (m_delivering == 0)
        EraseUnregistered();
}

void MessageQueue::EraseUnregistered() {
    if (!m_hasUnregistered)
        return;
    for (auto it = m_processors.begin(); it != m_processors.end();) {
        if (it->second == nullptr)
            it = m_processors.erase(it);
        else
            ++it;
    }
    m_hasUnregistered = false;
}

bool MessageQueue::Send(Message& message) {
    if (m_id < 0) {
        log_writef(LEVEL_Error, LOG_Message, "Cannot send from queue %s: it is not linked", m_name);
        return false;
    }
    return Distributor::SendFromQueueId(m_id, message);
}

void MessageQueue::Receive(const Message& message) {
    const uint16_t destination = message.GetHeader().dstId;
    // Entries are never erased while a delivery (perhaps an outer one) walks the map;
    // processors unregistered meanwhile leave null entries behind until it ends.
    ++m_delivering;
    if (destination == Location::Broadcast) {
        for (auto it = m_processors.begin(); it != m_processors.end(); ++it)
            if (it->second != nullptr)
                it->second->Receive(message);
    } else {
        auto range = m_processors.equal_range(destination);
        for (auto it = range.first; it != range.second; ++it)
            if (it->second != nullptr)
                it->second->Receive(message);
    }
    if (--m_delivering == 0)
        EraseUnregistered();
}

void MessageQueue::Pump() {
    if (m_id >= 0)
        Distributor::PumpQueueId(m_id);
}

bool MessageQueue::IsDestinationValid(int id) const {
    if (id < 0 || id > 0xffff)
        return false;
    if (m_id >= 0)
        return Distributor::HasDestination(m_id, uint16_t(id));
    for (const auto& entry : m_processors)
        if (entry.first == id && entry.second != nullptr)
            return true;
    return false;
}

} // namespace velk
