// The message processor: anything that takes part in the bus. It has a location id,
// lives on one queue, sends requests, responses and events, subscribes to broadcast
// channels, counts unanswered requests per peer, and receives through three virtual
// functions.
#pragma once

#include <cstdint>
#include <map>

#include "velk/message/message.h"

namespace velk {

class MessageQueue;

class MessageProcessor {
  public:
    struct OutgoingContext {
        uint32_t sequence = 0; // refNum of the last request or event sent to the peer
        int32_t pending = 0;   // requests sent to the peer and not answered yet
    };

    // The location id comes from Location::GetLocationId(name, reuse); `name` must stay
    // valid for the life of the process.
    MessageProcessor(const char* name, bool reuse);
    // Unregisters the processor from its queue if it is still registered.
    virtual ~MessageProcessor();
    MessageProcessor(const MessageProcessor&) = delete;
    MessageProcessor& operator=(const MessageProcessor&) = delete;

    // Called by the owning thread before registration; false keeps the processor off
    // its queue.
    virtual bool ProcessorInitialise();
    // Called when the owning thread stops.
    virtual void ProcessorRelease();
    // Called once per cycle of the owning thread, after its queue was pumped.
    virtual void ProcessorUpdate();
    // Dispatches by message type; a response first lowers the peer's pending count.
    virtual void Receive(const Message& message);
    // By default logs the request as not handled (warning level); nothing is answered.
    virtual void ReceiveRequest(const Message& message);
    virtual void ReceiveResponse(const Message& message);
    virtual void ReceiveEvent(const Message& message);

    void SetQueue(MessageQueue* queue) { m_queue = queue; }
    MessageQueue* GetQueue() const { return m_queue; }
    uint16_t GetLocationId() const { return m_locationId; }
    // The encoder of the processor's queue, or null before registration.
    MessageEncoder* GetEncoder() const;

    // Adds the processor to its queue under the channel's id. False (logged) when the
    // processor is not registered on a queue yet.
    bool Subscribe(const char* channel);

    // Fill in the header and send from the processor's queue. False (logged, counts
    // unchanged) when the processor is not registered or the message cannot be sent.
    bool SendRequest(Message& message, uint16_t destination);
    bool SendEvent(Message& message, uint16_t destination);
    bool SendResponse(Message& message, const MessageHeader& request);

    // Requests sent to `peer` and not answered yet.
    int32_t GetPending(uint16_t peer) const;
    const OutgoingContext* GetContext(uint16_t peer) const;

  private:
    bool Send(Message& message, uint16_t destination, int32_t refNum, uint16_t type);

    uint16_t m_locationId;
    MessageQueue* m_queue = nullptr;
    std::map<uint16_t, OutgoingContext> m_contexts;
};

} // namespace velk
