// The distributor: the link table of queues and the pipes between them.
#include "velk/message/distributor.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

#include "velk/core/datapipe.h"
#include "velk/core/log.h"
#include "velk/core/mutex.h"
#include "velk/core/thread.h"
#include "velk/core/timer.h"
#include "velk/message/message_queue.h"

namespace velk {
namespace internal {

struct DistributorPipe {
    int id = -1;
    pthread_t thread{};
    datapipe_t pipes[Distributor::MaxQueues]; // pipe j carries messages from queue j
    MessageQueue* queue = nullptr;            // used by the owning thread only
    std::atomic<bool> linked{false};
    std::atomic<bool> pumping{false}; // a pump of this record is under way
    std::atomic<int> sending{0};      // sends from this record under way
    // How many processors are registered under each location id. Written by the
    // owning thread, read by every sender, so it is kept here rather than in the queue:
    // it stays valid after the queue is unlinked or gone.
    std::atomic<uint16_t> destinations[65536];
};

DistributorPipe* Distributor_pipes() {
    static DistributorPipe* pipes = new DistributorPipe[Distributor::MaxQueues];
    return pipes;
}

std::atomic<int> Distributor_numPipes{0};
std::atomic<bool> Distributor_isActive{false};

Mutex& Distributor_mutex() {
    static Mutex* mutex = new Mutex();
    return *mutex;
}

// A pipe that stays full this long is given a larger ring (up to the limit) instead of
// making its sender wait for the receiver's next cycle, up to 34 ms away. So a burst of
// large messages (live-view frames of several cameras) costs memory, not throughput, and
// two threads sending large messages to each other at once only wait on each other when
// both pipes have reached the limit.
constexpr uint64_t StallMicroseconds = 2000;
constexpr uint32_t MaxRingSize = 64u << 20;
// How long Release waits for threads still pumping or sending (a thread that had to be
// abandoned) before it leaves the pipes allocated instead of freeing them under them.
constexpr uint64_t ReleaseWaitMicroseconds = 2000000;

void DistributorPumpPipe(DistributorPipe& record);

bool DistributorSendFromPipe(DistributorPipe& source, const Message& message) {
    const uint32_t size = message.GetSize();
    if (size < sizeof(MessageHeader))
        return false;
    if (log_is_enabled(LEVEL_Trace, LOG_Message) && log_is_enabled(LEVEL_Verbose, LOG_Message)) {
        stringbuffer_t text;
        stringbuffer_initialise(text);
        message.Print(text, 2);
        log_writef(LEVEL_Verbose, LOG_Message, "Sending message:\n%s", text.view.text);
        stringbuffer_release(text);
    }
    source.sending.fetch_add(1);
    const uint16_t destination = message.GetHeader().dstId;
    const int count = Distributor_numPipes.load(std::memory_order_acquire);
    DistributorPipe* records = Distributor_pipes();
    bool to_self = false;
    bool delivered = true;
    for (int j = 0; j < count; ++j) {
        DistributorPipe& target = records[j];
        if (!target.linked.load(std::memory_order_acquire))
            continue;
        if (destination != 0 && target.destinations[destination].load() == 0)
            continue;
        if (j == source.id) {
            to_self = true;
            continue;
        }
        if (!datapipe_commit_growing(target.pipes[source.id], message.GetData(), size,
                                     StallMicroseconds, MaxRingSize)) {
            // The queue was unlinked or the bus stopped while the pipe was full.
            delivered = false;
        }
    }
    source.sending.fetch_sub(1);
    // The own queue last, and from a copy: its processors may build new messages in the
    // shared encoder, which holds the message being sent.
    if (to_self && source.queue != nullptr) {
        void* copy = malloc(size);
        if (copy == nullptr) {
            log_writef(LEVEL_Error, LOG_Message, "Failed to create message copy");
            return false;
        }
        memcpy(copy, message.GetData(), size);
        source.queue->Receive(Message(copy));
        free(copy);
    }
    if (!delivered)
        log_writef(LEVEL_Warning, LOG_Message, "Message to %d not delivered to every queue",
                   destination);
    return delivered;
}

void DistributorPumpPipe(DistributorPipe& record) {
    if (!record.linked.load(std::memory_order_acquire) || record.queue == nullptr)
        return;
    // A processor that pumps from inside a delivery must not be handed the block that
    // is being delivered a second time.
    if (record.pumping.load())
        return;
    record.pumping.store(true);
    const int count = Distributor_numPipes.load(std::memory_order_acquire);
    for (int j = 0; j < count; ++j) {
        datapipe_t& pipe = record.pipes[j];
        void* data = nullptr;
        unsigned long size = 0;
        while (datapipe_read_begin(pipe, data, size)) {
            const MessageHeader* header = static_cast<const MessageHeader*>(data);
            if (size >= sizeof(MessageHeader) && header->numBytes == size)
                record.queue->Receive(Message(data));
            else
                log_writef(LEVEL_Error, LOG_Message, "Dropped a damaged message of %lu bytes",
                           size);
            datapipe_read_end(pipe);
            if (record.queue == nullptr)
                break; // unlinked during the delivery
        }
        datapipe_read_detach(pipe);
        if (record.queue == nullptr)
            break;
    }
    record.pumping.store(false);
}

// Every pipe into a queue closed: a writer waiting for room gives up as soon as the
// reader is not inside a pump (readers detach after every pump).
void close_pipes_into(DistributorPipe& record) {
    for (int j = 0; j < Distributor::MaxQueues; ++j)
        datapipe_close(record.pipes[j]);
}

// Waits, at most the time given, until no thread pumps or sends through the bus.
bool wait_until_idle(int count, uint64_t microseconds) {
    uint64_t start = timer_now();
    DistributorPipe* records = Distributor_pipes();
    for (;;) {
        bool busy = false;
        for (int k = 0; k < count; ++k)
            busy = busy || records[k].pumping.load() || records[k].sending.load() > 0;
        if (!busy)
            return true;
        if (timer_now() - start > microseconds)
            return false;
        thread_yield();
    }
}

DistributorPipe* record_at(int id) {
    if (id < 0 || id >= Distributor_numPipes.load(std::memory_order_acquire))
        return nullptr;
    return &Distributor_pipes()[id];
}

} // namespace internal

using namespace internal;

bool Distributor::Initialise() {
    log_register_module(LOG_Message);
    Distributor_isActive = false;
    Distributor_numPipes = 0;
    return true;
}

void Distributor::Release() {
    CancelGuard no_cancel;
    Mutex& mutex = Distributor_mutex();
    mutex.Acquire();
    const int count = Distributor_numPipes.load();
    DistributorPipe* records = Distributor_pipes();
    for (int k = 0; k < count; ++k) {
        records[k].linked = false;
        close_pipes_into(records[k]);
    }
    // A thread that had to be abandoned may still be inside a pump or a send: its pipes
    // are left allocated rather than freed under it.
    bool idle = wait_until_idle(count, ReleaseWaitMicroseconds);
    if (!idle)
        log_writef(LEVEL_Error, LOG_Message,
                   "Message pipes are still in use by a thread that did not stop; left allocated");
    for (int k = 0; k < count; ++k) {
        records[k].queue = nullptr;
        for (int j = 0; j < MaxQueues; ++j) {
            datapipe_t& pipe = records[k].pipes[j];
            if (pipe.write_ring == nullptr && pipe.read_ring.load() == nullptr)
                continue;
            if (!idle || !datapipe_release_bounded(pipe, ReleaseWaitMicroseconds)) {
                pipe.write_ring = nullptr;
                pipe.read_ring.store(nullptr);
            }
        }
    }
    Distributor_numPipes = 0;
    Distributor_isActive = false;
    mutex.Release();
}

void Distributor::Start() { Distributor_isActive = true; }

void Distributor::Stop() {
    CancelGuard no_cancel;
    Mutex& mutex = Distributor_mutex();
    mutex.Acquire();
    Distributor_isActive = false;
    const int count = Distributor_numPipes.load();
    for (int k = 0; k < count; ++k)
        close_pipes_into(Distributor_pipes()[k]);
    mutex.Release();
}

bool Distributor::IsActive() { return Distributor_isActive.load(); }

int Distributor::LinkQueue(MessageQueue* queue) {
    const char* name = queue != nullptr ? queue->GetName() : "";
    if (Distributor_numPipes.load() >= MaxQueues) {
        log_writef(LEVEL_Error, LOG_Message, "Failed to link message queue (limit exceeded): %s",
                   name);
        return -1;
    }
    CancelGuard no_cancel;
    Mutex& mutex = Distributor_mutex();
    if (!mutex.Acquire()) {
        log_writef(LEVEL_Error, LOG_Message, "Failed to link message queue (mutex failed): %s",
                   name);
        return -1;
    }
    const int n = Distributor_numPipes.load();
    if (n >= MaxQueues) {
        mutex.Release();
        log_writef(LEVEL_Error, LOG_Message, "Failed to link message queue (limit exceeded): %s",
                   name);
        return -1;
    }
    log_writef(LEVEL_Info, LOG_Message, "Linking message queue %d: %s", n, name);
    DistributorPipe* records = Distributor_pipes();
    DistributorPipe& record = records[n];
    record.id = n;
    record.thread = pthread_self();
    record.queue = queue;
    record.pumping.store(false);
    record.sending.store(0);
    for (auto& count : record.destinations)
        count.store(0, std::memory_order_relaxed);
    bool ok = true;
    for (int j = 0; j <= n; ++j)
        ok = datapipe_initialise(record.pipes[j]) && ok;
    for (int k = 0; k < n; ++k)
        ok = datapipe_initialise(records[k].pipes[n]) && ok;
    if (!ok) {
        for (int j = 0; j <= n; ++j)
            datapipe_release(record.pipes[j]);
        for (int k = 0; k < n; ++k)
            datapipe_release(records[k].pipes[n]);
        mutex.Release();
        log_writef(LEVEL_Error, LOG_Message, "Failed to link message queue (out of memory): %s",
                   name);
        return -1;
    }
    record.linked.store(true, std::memory_order_release);
    Distributor_numPipes.store(n + 1, std::memory_order_release);
    mutex.Release();
    return n;
}

void Distributor::UnlinkQueue(int id) {
    CancelGuard no_cancel;
    Mutex& mutex = Distributor_mutex();
    mutex.Acquire();
    DistributorPipe* record = record_at(id);
    if (record != nullptr && record->linked.load()) {
        log_writef(LEVEL_Info, LOG_Message, "Unlinking message queue %d: %s", id,
                   record->queue != nullptr ? record->queue->GetName() : "");
        record->linked.store(false, std::memory_order_release);
        record->queue = nullptr;
        for (auto& count : record->destinations)
            count.store(0, std::memory_order_relaxed);
        close_pipes_into(*record);
    }
    mutex.Release();
}

bool Distributor::Send(const Message& message) {
    const int count = Distributor_numPipes.load(std::memory_order_acquire);
    DistributorPipe* records = Distributor_pipes();
    pthread_t self = pthread_self();
    for (int j = 0; j < count; ++j)
        if (records[j].linked.load() && pthread_equal(records[j].thread, self))
            return DistributorSendFromPipe(records[j], message);
    log_writef(LEVEL_Error, LOG_Message, "Cannot send: the calling thread owns no message queue");
    return false;
}

bool Distributor::SendFromQueueId(int id, const Message& message) {
    DistributorPipe* record = record_at(id);
    if (record == nullptr || !record->linked.load()) {
        log_writef(LEVEL_Error, LOG_Message, "Cannot send from message queue %d: not linked", id);
        return false;
    }
    return DistributorSendFromPipe(*record, message);
}

void Distributor::Pump() {
    if (!Distributor_isActive.load())
        return;
    const int count = Distributor_numPipes.load(std::memory_order_acquire);
    DistributorPipe* records = Distributor_pipes();
    pthread_t self = pthread_self();
    for (int j = 0; j < count; ++j)
        if (records[j].linked.load() && pthread_equal(records[j].thread, self))
            DistributorPumpPipe(records[j]);
}

void Distributor::PumpQueueId(int id) {
    DistributorPipe* record = record_at(id);
    if (record != nullptr)
        DistributorPumpPipe(*record);
}

MessageQueue* Distributor::GetMessageQueue() {
    const int count = Distributor_numPipes.load(std::memory_order_acquire);
    DistributorPipe* records = Distributor_pipes();
    pthread_t self = pthread_self();
    for (int j = 0; j < count; ++j)
        if (records[j].linked.load() && pthread_equal(records[j].thread, self))
            return records[j].queue;
    return nullptr;
}

void Distributor::AddDestination(int id, uint16_t location) {
    DistributorPipe* record = record_at(id);
    if (record != nullptr && record->linked.load())
        record->destinations[location].fetch_add(1);
}

void Distributor::RemoveDestination(int id, uint16_t location) {
    DistributorPipe* record = record_at(id);
    if (record == nullptr || !record->linked.load())
        return;
    std::atomic<uint16_t>& count = record->destinations[location];
    uint16_t current = count.load();
    while (current > 0 && !count.compare_exchange_weak(current, uint16_t(current - 1))) {
    }
}

bool Distributor::HasDestination(int id, uint16_t location) {
    DistributorPipe* record = record_at(id);
    return record != nullptr && record->linked.load() && record->destinations[location].load() > 0;
}

int Distributor::GetNumQueues() { return Distributor_numPipes.load(); }

} // namespace velk
