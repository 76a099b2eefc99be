// Four message threads exchanging 100,000 requests and many events: every request is
// answered exactly once and every sender's events arrive complete and in order.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <vector>

#include "message/bus_fixture.h"
#include "velk/message/location.h"
#include "velk/message/message_processor.h"
#include "velk/message/message_thread.h"

using namespace velk;
using test_support::BusTest;

namespace {

constexpr const char* StressChannel = "BROADCAST::Stress";
constexpr int Threads = 4;
constexpr int RequestsPerThread = 25000;
constexpr int EventsPerThread = 5000;
constexpr int RequestsPerCycle = 500;
constexpr int EventsPerCycle = 100;

struct shared_t {
    std::vector<uint16_t> ids; // every processor's location id
    std::atomic<int> failures{0};
    std::atomic<int> done{0};
    std::atomic<int> subscribed{0}; // processors subscribed to the channel
};

class StressProcessor : public MessageProcessor {
  public:
    StressProcessor(shared_t& shared, int index)
        : MessageProcessor("test::Stress", false), m_shared(shared), m_index(index) {}

    bool ProcessorInitialise() override { return true; }

    void ProcessorUpdate() override {
        if (!m_subscribed) {
            m_subscribed = Subscribe(StressChannel);
            if (m_subscribed)
                ++m_shared.subscribed;
        }
        // Events sent before every peer subscribed would miss it: start together.
        if (m_shared.subscribed.load() < Threads)
            return;
        MessageEncoder* encoder = GetEncoder();
        for (int i = 0; i < RequestsPerCycle && m_requests_sent < RequestsPerThread; ++i) {
            uint16_t peer = m_shared.ids[(m_index + 1 + m_requests_sent % (Threads - 1)) % Threads];
            encoder->Begin();
            encoder->AddField(0, m_requests_sent);
            Message request = encoder->End();
            uint32_t ref = (GetContext(peer) ? GetContext(peer)->sequence : 0) + 1;
            m_outstanding[peer].insert(int32_t(ref));
            if (!SendRequest(request, peer))
                Fail();
            ++m_requests_sent;
        }
        uint16_t channel = Location::GetSubscriptionId(StressChannel);
        for (int i = 0; i < EventsPerCycle && m_events_sent < EventsPerThread; ++i) {
            encoder->Begin();
            encoder->AddField(1, m_events_sent);
            Message event = encoder->End();
            if (!SendEvent(event, channel))
                Fail();
            ++m_events_sent;
        }
        if (!m_reported && Complete()) {
            m_reported = true;
            ++m_shared.done;
        }
    }

    void ReceiveRequest(const Message& message) override {
        int value = -1;
        message.GetInt(0, value);
        MessageEncoder* encoder = GetEncoder();
        encoder->Begin();
        encoder->AddField(0, value);
        Message response = encoder->End();
        if (!SendResponse(response, message.GetHeader()))
            Fail();
    }

    void ReceiveResponse(const Message& message) override {
        const MessageHeader& header = message.GetHeader();
        // Answered exactly once: the reference must still be outstanding.
        if (m_outstanding[header.srcId].erase(header.refNum) != 1)
            Fail();
        ++m_responses;
    }

    void ReceiveEvent(const Message& message) override {
        int sequence = -1;
        message.GetInt(1, sequence);
        auto found = m_last_event.emplace(message.GetHeader().srcId, -1).first;
        int& last = found->second;
        if (sequence != last + 1)
            Fail();
        last = sequence;
        ++m_events_received;
    }

  private:
    bool Complete() const {
        if (m_responses != RequestsPerThread || m_events_sent != EventsPerThread)
            return false;
        if (m_last_event.size() != size_t(Threads))
            return false;
        for (const auto& entry : m_last_event)
            if (entry.second != EventsPerThread - 1)
                return false;
        return true;
    }
    void Fail() { ++m_shared.failures; }

    shared_t& m_shared;
    int m_index;
    bool m_subscribed = false;
    bool m_reported = false;
    int m_requests_sent = 0;
    int m_events_sent = 0;
    int m_responses = 0;
    int m_events_received = 0;
    std::map<uint16_t, std::set<int32_t>> m_outstanding;
    std::map<uint16_t, int> m_last_event;
};

} // namespace

TEST_F(BusTest, StressFourThreadsRequestsAnsweredOnceEventsInOrder) {
    shared_t shared;
    std::vector<MessageThread*> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.push_back(new MessageThread());
        shared.ids.push_back(threads.back()->Add(new StressProcessor(shared, t)));
    }
    static const char* names[Threads] = {"STRESS0", "STRESS1", "STRESS2", "STRESS3"};
    for (int t = 0; t < Threads; ++t)
        ASSERT_TRUE(threads[t]->Start(names[t], nullptr, nullptr));
    ASSERT_TRUE(
        PumpUntil([&] { return shared.done.load() == Threads || shared.failures > 0; }, 120000));
    EXPECT_EQ(shared.failures.load(), 0);
    EXPECT_EQ(shared.done.load(), Threads);
    for (MessageThread* thread : threads) {
        EXPECT_TRUE(thread->Stop(nullptr, nullptr));
        MessageThread::Destroy(thread);
    }
}
