// The message thread: runs processors on a thread of their own, pumping and updating
// them every 34 ms until stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "velk/core/thread.h"
#include "velk/message/message_queue.h"

namespace velk {

class MessageProcessor;

class MessageThread {
  public:
    static constexpr uint64_t CycleMicroseconds = 34000;
    static constexpr float StopMilliseconds = 8000.0f;

    MessageThread();
    // Deletes the processors. Stop the thread first (its subclass is gone by the time
    // this runs), and never delete one that had to be abandoned: Destroy does both.
    virtual ~MessageThread();
    MessageThread(const MessageThread&) = delete;
    MessageThread& operator=(const MessageThread&) = delete;

    // Stops the thread if it runs, then deletes it, unless it had to be abandoned still
    // running; such a thread and everything it owns is left allocated (logged).
    static void Destroy(MessageThread* thread);

    // Takes ownership of the processor (before Start); returns its location id.
    uint16_t Add(MessageProcessor* processor);
    // Starts the thread and waits until it has initialised, calling `function(argument)`
    // while waiting. True when every processor initialised.
    bool Start(const char* name, void (*function)(void*), void* argument);
    // Stops the loop and waits up to 8 s (calling the function meanwhile), then forces
    // the thread to end. False when it had to be abandoned still running.
    bool Stop(void (*function)(void*), void* argument);
    bool IsRunning() const;
    bool IsAbandoned() const { return m_abandoned; }
    // Had to be ended by force (abandoned or cancelled): its processors are left as they
    // were, never released or deleted.
    bool WasForced() const { return m_forced || m_abandoned; }
    MessageQueue* GetQueue() { return &m_queue; }

    static void Entry(void* argument);
    void Process();

    // Links the queue (on the new thread) and initialises and registers the processors.
    virtual bool Initialise();
    // Releases the processors, then the queue.
    virtual void Release();
    virtual void Pump();
    virtual void Update();

  protected:
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_run{false};
    thread_t m_thread;
    MessageQueue m_queue;
    std::vector<MessageProcessor*> m_processors;
    std::vector<bool> m_initialised; // per processor: initialised and registered
    int m_queueId = -1;
    bool m_abandoned = false;
    bool m_forced = false; // ended by force: its processors are never deleted
};

} // namespace velk
