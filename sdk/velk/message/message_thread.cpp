// Message threads: processors on a thread of their own, pumped every 34 ms.
#include "velk/message/message_thread.h"

#include "velk/core/log.h"
#include "velk/message/distributor.h"
#include "velk/message/message_processor.h"

namespace velk {

MessageThread::MessageThread() { thread_initialise(m_thread); }

MessageThread::~MessageThread() {
    if (thread_is_running(m_thread)) {
        // Too late for a subclass, whose part is gone already: owners stop the thread
        // before destroying it (Destroy does).
        log_writef(LEVEL_Error, LOG_Message, "Message thread %s destroyed while running",
                   m_queue.GetName());
        Stop(nullptr, nullptr);
    }
    if (m_abandoned || m_forced) {
        // The processors may still be in use, or were stopped halfway through their work:
        // they are left allocated.
        log_writef(LEVEL_Error, LOG_Message,
                   "Message thread %s was stopped by force; its processors are left allocated",
                   m_queue.GetName());
        return;
    }
    for (MessageProcessor* processor : m_processors)
        delete processor;
    m_processors.clear();
    thread_release(m_thread);
}

void MessageThread::Destroy(MessageThread* thread) {
    if (thread == nullptr)
        return;
    if (thread->IsRunning())
        thread->Stop(nullptr, nullptr);
    if (thread->m_abandoned) {
        log_writef(LEVEL_Error, LOG_Message,
                   "Message thread %s may still be running; it is left allocated",
                   thread->m_queue.GetName());
        return;
    }
    delete thread;
}

uint16_t MessageThread::Add(MessageProcessor* processor) {
    m_processors.push_back(processor);
    return processor->GetLocationId();
}

bool MessageThread::Start(const char* name, void (*function)(void*), void* argument) {
    m_started = false;
    m_run = true;
    m_abandoned = false;
    m_forced = false;
    m_queue.SetName(name != nullptr && name[0] != 0 ? name : "unknown");
    thread_set(m_thread, &MessageThread::Entry, this, string_make(name));
    if (!thread_run(m_thread)) {
        log_writef(LEVEL_Error, LOG_Message, "Failed to start message thread %s",
                   m_queue.GetName());
        return false;
    }
    while (thread_is_running(m_thread) && !m_started.load()) {
        if (function != nullptr)
            function(argument);
        thread_yield();
    }
    return m_started.load();
}

bool MessageThread::Stop(void (*function)(void*), void* argument) {
    m_run = false;
    bool ended =
        thread_wait(m_thread, function, argument, uint64_t(StopMilliseconds), TIMER_Milliseconds);
    if (m_queue.GetId() >= 0) {
        // The thread was stopped by force before it could release its queue: unlink it
        // here so that no sender waits on its pipes. Its processors were cut off in the
        // middle of their work and are never released or deleted.
        Distributor::UnlinkQueue(m_queue.GetId());
        m_forced = true;
    }
    if (!ended)
        m_abandoned = true;
    return ended;
}

bool MessageThread::IsRunning() const { return thread_is_running(m_thread); }

void MessageThread::Entry(void* argument) { static_cast<MessageThread*>(argument)->Process(); }

void MessageThread::Process() {
    if (Initialise()) {
        m_started = true;
        while (m_run.load()) {
            uint64_t start = timer_now();
            Pump();
            Update();
            uint64_t elapsed = timer_now() - start;
            if (elapsed <= CycleMicroseconds - 1)
                thread_sleep((CycleMicroseconds - elapsed) / 1000, TIMER_Milliseconds);
            else
                thread_yield();
        }
    }
    Release();
}

bool MessageThread::Initialise() {
    m_initialised.assign(m_processors.size(), false);
    if (!m_queue.Initialise())
        return false;
    m_queueId = m_queue.GetId();
    bool all = true;
    for (size_t i = 0; i < m_processors.size(); ++i) {
        MessageProcessor* processor = m_processors[i];
        if (processor->ProcessorInitialise() && m_queue.Register(processor)) {
            m_initialised[i] = true;
        } else {
            log_writef(LEVEL_Error, LOG_Message, "Processor %d failed to initialise on %s",
                       processor->GetLocationId(), m_queue.GetName());
            all = false;
        }
    }
    return all;
}

void MessageThread::Release() {
    for (size_t i = 0; i < m_processors.size(); ++i) {
        if (i < m_initialised.size() && m_initialised[i]) {
            m_processors[i]->ProcessorRelease();
            m_queue.Unregister(m_processors[i]);
        }
    }
    m_initialised.clear();
    m_queue.Release();
}

void MessageThread::Pump() { m_queue.Pump(); }

void MessageThread::Update() {
    for (size_t i = 0; i < m_processors.size(); ++i)
        if (i < m_initialised.size() && m_initialised[i])
            m_processors[i]->ProcessorUpdate();
}

} // namespace velk
