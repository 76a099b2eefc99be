// Message bus figures: the round trip of a request from the main thread's pump to a
// processor on a message thread and back, and events per second from one message
// thread to another, beside memcpy of the same bytes.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "velk/core/log.h"
#include "velk/core/thread.h"
#include "velk/core/timer.h"
#include "velk/message/distributor.h"
#include "velk/message/location.h"
#include "velk/message/message_processor.h"
#include "velk/message/message_queue.h"
#include "velk/message/message_thread.h"

using namespace velk;

namespace {

class Echo : public MessageProcessor {
  public:
    Echo() : MessageProcessor("bench::Echo", true) {}
    void ReceiveRequest(const Message& message) override {
        MessageEncoder* encoder = GetEncoder();
        encoder->Begin();
        encoder->AddField(0, 1);
        Message response = encoder->End();
        SendResponse(response, message.GetHeader());
    }
};

class Client : public MessageProcessor {
  public:
    Client() : MessageProcessor("bench::Client", false) {}
    void ReceiveResponse(const Message&) override { ++responses; }
    int responses = 0;
};

class Sink : public MessageProcessor {
  public:
    Sink() : MessageProcessor("bench::Sink", true) {}
    void ReceiveEvent(const Message& message) override {
        ++events;
        bytes += message.GetSize();
    }
    std::atomic<uint64_t> events{0};
    std::atomic<uint64_t> bytes{0};
};

// Sends events to the sink for most of every cycle of its thread.
class Source : public MessageProcessor {
  public:
    Source(uint16_t sink, uint32_t payload)
        : MessageProcessor("bench::Source", false), m_sink(sink), m_payload(payload, 0x3c) {}
    void ProcessorUpdate() override {
        if (!run)
            return;
        uint64_t start = timer_now();
        MessageEncoder* encoder = GetEncoder();
        while (timer_now() - start < 30000 && run) {
            encoder->Begin();
            encoder->AddField(0, m_payload.data(), unsigned(m_payload.size()));
            Message event = encoder->End();
            SendEvent(event, m_sink);
        }
    }
    std::atomic<bool> run{true};

  private:
    uint16_t m_sink;
    std::vector<unsigned char> m_payload;
};

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    size_t index = size_t(p * double(values.size() - 1) + 0.5);
    return values[index];
}

void round_trip(MessageQueue& main_queue) {
    MessageThread worker;
    uint16_t echo = worker.Add(new Echo());
    worker.Start("ECHO", nullptr, nullptr);
    Client client;
    main_queue.Register(&client);
    std::vector<double> samples;
    for (int i = 0; i < 150; ++i) {
        // Start at a random point of the worker's cycle, as a user's click does.
        thread_sleep(uint64_t(i * 7919 % 34), TIMER_Milliseconds);
        int before = client.responses;
        uint64_t start = timer_now();
        MessageEncoder* encoder = client.GetEncoder();
        encoder->Begin();
        encoder->AddField(0, i);
        Message request = encoder->End();
        client.SendRequest(request, echo);
        while (client.responses == before) {
            main_queue.Pump();
            thread_yield();
        }
        samples.push_back(double(timer_now() - start) / 1000.0);
    }
    printf("request round trip, main pump <-> message thread (34 ms cycle), %zu samples:\n"
           "  median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
           samples.size(), percentile(samples, 0.5), percentile(samples, 0.99),
           percentile(samples, 1.0));
    worker.Stop(nullptr, nullptr);
    main_queue.Unregister(&client);
}

void events_between_threads(uint32_t payload) {
    MessageThread sink_thread, source_thread;
    Sink* sink = new Sink();
    uint16_t sink_id = sink_thread.Add(sink);
    Source* source = new Source(sink_id, payload);
    source_thread.Add(source);
    sink_thread.Start("SINK", nullptr, nullptr);
    uint64_t start = timer_now();
    source_thread.Start("SOURCE", nullptr, nullptr);
    thread_sleep(3, TIMER_Seconds);
    uint64_t events = sink->events.load();
    uint64_t bytes = sink->bytes.load();
    double seconds = double(timer_now() - start) / 1e6;
    source->run = false;
    source_thread.Stop(nullptr, nullptr);
    sink_thread.Stop(nullptr, nullptr);

    // The same bytes copied on one thread: the physical limit of a copy into a pipe.
    std::vector<unsigned char> from(payload + 32, 1), to(payload + 32);
    uint64_t copies = 0;
    uint64_t copy_start = timer_now();
    while (timer_now() - copy_start < 1000000) {
        for (int i = 0; i < 64; ++i) {
            memcpy(to.data(), from.data(), from.size());
            __asm__ __volatile__("" : : "r"(to.data()) : "memory");
        }
        copies += 64;
    }
    double copy_seconds = double(timer_now() - copy_start) / 1e6;
    printf("events from one message thread to another, %u-byte payload (%u-byte message):\n"
           "  %.0f events/s, %.1f MB/s   (memcpy of the same bytes: %.0f /s, %.1f MB/s)\n",
           payload, uint32_t(bytes / (events ? events : 1)), double(events) / seconds,
           double(bytes) / seconds / 1e6, double(copies) / copy_seconds,
           double(copies) * double(from.size()) / copy_seconds / 1e6);
}

} // namespace

int main() {
    log_open();
    log_enable(LEVEL_Info, LOG_General, false);
    Distributor::Initialise();
    log_enable(LEVEL_Info, LOG_Message, false);
    Distributor::Start();
    MessageQueue main_queue;
    main_queue.SetName("main");
    main_queue.Initialise();

    round_trip(main_queue);
    events_between_threads(64);
    events_between_threads(200 * 1024);

    Distributor::Stop();
    main_queue.Release();
    Distributor::Release();
    log_close();
    return 0;
}
