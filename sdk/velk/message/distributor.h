// The distributor joins the per-thread queues into one bus: up to 16 linked queues with
// a data pipe from every queue to every other. Sending copies a message into the pipe
// of every queue that has a processor for its destination; each thread pumps its own
// pipes. A message to the sender's own queue is delivered at once.
#pragma once

#include <cstdint>

#include "velk/message/message.h"

namespace velk {

class MessageQueue;

class Distributor {
  public:
    static constexpr int MaxQueues = 16;

    // No queues, not active; registers the Message log module.
    static bool Initialise();
    // Releases every pipe (waiting a bounded time for a reader to finish) and forgets
    // every queue. Called after Stop.
    static void Release();
    static void Start();
    // Not active; every pipe is closed, so no writer keeps waiting on a full pipe.
    static void Stop();
    static bool IsActive();

    // Links a queue owned by the calling thread; returns its id, or -1 (logged).
    static int LinkQueue(MessageQueue* queue);
    // Forgets the queue: senders skip it and pipes into it are closed.
    static void UnlinkQueue(int id);

    // Sends from the first queue owned by the calling thread (logged when it owns none).
    // False when some queue that should have received the message did not get it.
    static bool Send(const Message& message);
    static bool SendFromQueueId(int id, const Message& message);
    // Pumps every queue owned by the calling thread, when active.
    static void Pump();
    // Pumps that queue, whichever thread calls and whether or not active.
    static void PumpQueueId(int id);
    // The first queue owned by the calling thread, or null.
    static MessageQueue* GetMessageQueue();

    // Keeps the key set senders consult for a queue (called by the queue's owner).
    static void AddDestination(int id, uint16_t location);
    static void RemoveDestination(int id, uint16_t location);
    static bool HasDestination(int id, uint16_t location);
    static int GetNumQueues();
};

} // namespace velk
