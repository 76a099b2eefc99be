// The message queue: the processors of one thread, the encoder they share, delivery of
// what arrives, and the link to the distributor that carries messages between queues.
#pragma once

#include <cstdint>
#include <map>

#include "velk/message/message.h"

namespace velk {

class MessageProcessor;

class MessageQueue {
  public:
    MessageQueue();
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Initialises the encoder and links the queue to the distributor. The calling thread
    // becomes the queue's owner: only it registers, sends from and pumps the queue.
    bool Initialise();
    // Unlinks the queue (logged; pipes into it are closed) and frees the encoder.
    void Release();

    // Adds the processor under its location id and sets its queue. False (logged) for a
    // processor without a valid location id.
    bool Register(MessageProcessor* processor);
    // Removes the processor from delivery at once; safe during delivery.
    void Unregister(MessageProcessor* processor);
    // Adds a registered processor under a broadcast channel's id.
    bool Subscribe(MessageProcessor* processor, uint16_t channel);

    MessageEncoder* GetEncoder() { return &m_encoder; }
    // Hands the message to the distributor as coming from this queue. False (logged)
    // when the queue is not linked.
    bool Send(Message& message);
    // Delivers one message to this queue's processors: to all (dstId 0) or to those
    // registered under dstId, in registration order.
    void Receive(const Message& message);
    // Delivers everything other queues have sent to this queue so far.
    void Pump();
    // True when a processor is registered under that id. Safe from any thread while the
    // queue is linked (the distributor keeps the ids); otherwise the owning thread only.
    bool IsDestinationValid(int id) const;

    void SetName(const char* name) { m_name = name != nullptr ? name : "unknown"; }
    const char* GetName() const { return m_name; }
    int GetId() const { return m_id; }

  private:
    void EraseUnregistered();

    int m_id = -1;
    const char* m_name = "unknown";
    MessageEncoder m_encoder;
    std::multimap<uint16_t, MessageProcessor*> m_processors;
    int m_delivering = 0;           // nesting depth of Receive
    bool m_hasUnregistered = false; // null entries wait for the outermost delivery to end
};

} // namespace velk
