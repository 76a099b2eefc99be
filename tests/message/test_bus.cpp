// Queues, processors, the distributor and message threads working together.
#include <gtest/gtest.h>

#include <atomic>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include "message/bus_fixture.h"
#include "velk/message/location.h"
#include "velk/message/message_processor.h"
#include "velk/message/message_thread.h"

using namespace velk;
using test_support::BusTest;

namespace {

constexpr const char* TestChannel = "BROADCAST::TestEvent";

// Answers every request with its field 0 plus one, noting the thread it ran on.
class EchoProcessor : public MessageProcessor {
  public:
    EchoProcessor() : MessageProcessor("test::Echo", true) {}
    void ReceiveRequest(const Message& message) override {
        thread = pthread_self();
        ++requests;
        int value = 0;
        message.GetInt(0, value);
        MessageEncoder* encoder = GetEncoder();
        encoder->Begin();
        encoder->AddField(0, value + 1);
        Message response = encoder->End();
        SendResponse(response, message.GetHeader());
    }
    std::atomic<pthread_t> thread{};
    std::atomic<int> requests{0};
};

// Records what reaches it.
class Recorder : public MessageProcessor {
  public:
    explicit Recorder(const char* name = "test::Recorder") : MessageProcessor(name, false) {}
    void ReceiveResponse(const Message& message) override {
        thread = pthread_self();
        int value = 0;
        message.GetInt(0, value);
        values.push_back(value);
        refs.push_back(message.GetHeader().refNum);
    }
    void ReceiveEvent(const Message& message) override {
        const char* text = "";
        message.GetString(1, text);
        events.push_back(text);
        if (on_event)
            on_event(message);
    }
    pthread_t thread{};
    std::vector<int> values;
    std::vector<int> refs;
    std::vector<std::string> events;
    std::function<void(const Message&)> on_event;
};

// Subscribes to the test channel when its thread initialises it.
class ThreadSubscriber : public MessageProcessor {
  public:
    ThreadSubscriber() : MessageProcessor("test::ThreadSubscriber", false) {}
    bool ProcessorInitialise() override { return true; }
    void ProcessorUpdate() override {
        if (!subscribed) // registered by now
            subscribed = Subscribe(TestChannel);
    }
    void ReceiveEvent(const Message& message) override {
        const char* text = "";
        message.GetString(1, text);
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(text);
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
    std::atomic<bool> subscribed{false};
    std::mutex mutex;
    std::vector<std::string> events;
};

class FailingProcessor : public MessageProcessor {
  public:
    FailingProcessor() : MessageProcessor("test::Failing", false) {}
    bool ProcessorInitialise() override { return false; }
};

// A queue on a thread of its own that never pumps, with one processor registered;
// Release unlinks it and ends the thread.
class DeafQueue {
  public:
    explicit DeafQueue(MessageProcessor& receiver)
        : m_thread([this, &receiver] {
              MessageQueue queue;
              queue.SetName("deaf");
              queue.Initialise();
              queue.Register(&receiver);
              m_linked = true;
              while (!m_release)
                  thread_sleep(1, TIMER_Milliseconds);
              queue.Release();
          }) {
        while (!m_linked)
            thread_yield();
    }
    ~DeafQueue() { Release(); }
    void Release() {
        m_release = true;
        if (m_thread.joinable())
            m_thread.join();
    }

  private:
    std::atomic<bool> m_linked{false};
    std::atomic<bool> m_release{false};
    std::thread m_thread;
};

Message make_message(MessageEncoder* encoder, int value, const char* text = nullptr) {
    encoder->Begin();
    encoder->AddField(0, value);
    if (text != nullptr)
        encoder->AddField(1, text);
    return encoder->End();
}

} // namespace

TEST_F(BusTest, RequestToAThreadIsAnsweredOnceOnTheMainPump) {
    MessageThread worker;
    EchoProcessor* echo = new EchoProcessor();
    uint16_t echo_id = worker.Add(echo);
    ASSERT_TRUE(worker.Start("WORKER", nullptr, nullptr));

    Recorder client;
    ASSERT_TRUE(main_queue.Register(&client));
    for (int i = 0; i < 2; ++i) {
        Message request = make_message(client.GetEncoder(), 10 * i);
        ASSERT_TRUE(client.SendRequest(request, echo_id));
    }
    EXPECT_EQ(client.GetPending(echo_id), 2);
    ASSERT_TRUE(PumpUntil([&] { return client.values.size() == 2; }));
    // Nothing more arrives: each request was answered exactly once.
    thread_sleep(100, TIMER_Milliseconds);
    main_queue.Pump();
    EXPECT_EQ(client.values, (std::vector<int>{1, 11}));
    EXPECT_EQ(client.refs, (std::vector<int>{1, 2}));
    EXPECT_EQ(client.GetPending(echo_id), 0);
    EXPECT_EQ(echo->requests.load(), 2);
    EXPECT_FALSE(pthread_equal(echo->thread.load(), pthread_self()));
    EXPECT_TRUE(pthread_equal(client.thread, pthread_self()));
    EXPECT_TRUE(worker.Stop(nullptr, nullptr));
    main_queue.Unregister(&client);
}

TEST_F(BusTest, BroadcastReachesEverySubscriptionOnEveryQueue) {
    MessageThread worker;
    ThreadSubscriber* remote = new ThreadSubscriber();
    worker.Add(remote);
    ASSERT_TRUE(worker.Start("WORKER", nullptr, nullptr));
    while (!remote->subscribed)
        thread_yield();

    Recorder once("test::Once"), twice("test::Twice"), sender("test::Sender");
    for (Recorder* r : {&once, &twice, &sender})
        ASSERT_TRUE(main_queue.Register(r));
    ASSERT_TRUE(once.Subscribe(TestChannel));
    ASSERT_TRUE(twice.Subscribe(TestChannel));
    ASSERT_TRUE(twice.Subscribe(TestChannel));

    Message event = make_message(sender.GetEncoder(), 0, "hello");
    ASSERT_TRUE(sender.SendEvent(event, Location::GetSubscriptionId(TestChannel)));
    // The sender's own queue is delivered at once.
    EXPECT_EQ(once.events, (std::vector<std::string>{"hello"}));
    EXPECT_EQ(twice.events, (std::vector<std::string>{"hello", "hello"}));
    EXPECT_TRUE(sender.events.empty());
    ASSERT_TRUE(PumpUntil([&] { return remote->Events().size() == 1; }));
    EXPECT_EQ(remote->Events()[0], "hello");

    // A message to nobody goes nowhere and is no error.
    Message nowhere = make_message(sender.GetEncoder(), 0, "void");
    log.Clear();
    EXPECT_TRUE(sender.SendEvent(nowhere, Location::GetLocationId("test::Nobody", true)));
    EXPECT_FALSE(log.Contains("ERROR"));

    EXPECT_TRUE(worker.Stop(nullptr, nullptr));
    for (Recorder* r : {&once, &twice, &sender})
        main_queue.Unregister(r);
}

TEST_F(BusTest, SeventeenthLinkFails) {
    std::vector<MessageQueue*> queues;
    for (int i = 1; i < Distributor::MaxQueues; ++i) {
        queues.push_back(new MessageQueue());
        queues.back()->SetName("extra");
        ASSERT_TRUE(queues.back()->Initialise());
        EXPECT_EQ(queues.back()->GetId(), i);
    }
    MessageQueue one_too_many;
    one_too_many.SetName("seventeenth");
    EXPECT_FALSE(one_too_many.Initialise());
    EXPECT_EQ(Distributor::LinkQueue(&one_too_many), -1);
    EXPECT_TRUE(
        log.Contains("  ERROR] Failed to link message queue (limit exceeded): seventeenth\n"));
    for (MessageQueue* q : queues)
        delete q;
}

TEST_F(BusTest, StartFailsWhenAProcessorFailsToInitialise) {
    MessageThread worker;
    worker.Add(new EchoProcessor());
    worker.Add(new FailingProcessor());
    EXPECT_FALSE(worker.Start("FAILING", nullptr, nullptr));
    EXPECT_TRUE(worker.Stop(nullptr, nullptr));
    EXPECT_TRUE(log.Contains("failed to initialise on FAILING"));
}

TEST_F(BusTest, RefNumbersAndPendingCounts) {
    Recorder client;
    EchoProcessor echo;
    ASSERT_TRUE(main_queue.Register(&client));
    ASSERT_TRUE(main_queue.Register(&echo));
    // On one queue a request is answered inside the send.
    Message request = make_message(client.GetEncoder(), 1);
    ASSERT_TRUE(client.SendRequest(request, echo.GetLocationId()));
    EXPECT_EQ(client.GetPending(echo.GetLocationId()), 0);
    EXPECT_EQ(client.refs, (std::vector<int>{1}));

    // A response from a peer never asked leaves its count at -1.
    Recorder stranger("test::Stranger");
    ASSERT_TRUE(main_queue.Register(&stranger));
    MessageHeader fake{};
    fake.srcId = client.GetLocationId();
    fake.refNum = 7;
    Message response = make_message(stranger.GetEncoder(), 0);
    ASSERT_TRUE(stranger.SendResponse(response, fake));
    EXPECT_EQ(client.GetPending(stranger.GetLocationId()), -1);
    EXPECT_EQ(client.refs.back(), 7);
    for (MessageProcessor* p : std::initializer_list<MessageProcessor*>{&client, &echo, &stranger})
        main_queue.Unregister(p);
}

TEST_F(BusTest, UnhandledRequestIsLoggedAndNotAnswered) {
    Recorder client, silent("test::Silent");
    ASSERT_TRUE(main_queue.Register(&client));
    ASSERT_TRUE(main_queue.Register(&silent));
    log.Clear();
    Message request = make_message(client.GetEncoder(), 5);
    ASSERT_TRUE(client.SendRequest(request, silent.GetLocationId()));
    EXPECT_TRUE(log.Contains("WARNING] Request not handled:\n  numBytes:    48\n"));
    EXPECT_TRUE(log.Contains("  messageType: Request\n  flags:       0x0\n  0: 5\n"));
    EXPECT_EQ(client.GetPending(silent.GetLocationId()), 1);
    EXPECT_TRUE(client.values.empty());
    main_queue.Unregister(&client);
    main_queue.Unregister(&silent);
}

// The sender's own queue used to be delivered in the middle of the send loop: a
// processor there that built a new message in the shared encoder changed the message
// that later queues received.
TEST_F(BusTest, NestedSendDoesNotCorruptWhatOtherQueuesReceive) {
    MessageThread worker;
    ThreadSubscriber* remote = new ThreadSubscriber();
    worker.Add(remote);
    ASSERT_TRUE(worker.Start("WORKER", nullptr, nullptr));
    while (!remote->subscribed)
        thread_yield();

    Recorder local("test::Local"), other("test::Other");
    ASSERT_TRUE(main_queue.Register(&local));
    ASSERT_TRUE(main_queue.Register(&other));
    ASSERT_TRUE(local.Subscribe(TestChannel));
    int nested = 0;
    local.on_event = [&](const Message&) {
        if (nested++ > 0)
            return;
        Message reply = make_message(local.GetEncoder(), 1, "nested");
        local.SendEvent(reply, other.GetLocationId());
    };
    Message event = make_message(other.GetEncoder(), 0, "original");
    ASSERT_TRUE(other.SendEvent(event, Location::GetSubscriptionId(TestChannel)));
    EXPECT_EQ(other.events, (std::vector<std::string>{"nested"}));
    ASSERT_TRUE(PumpUntil([&] { return remote->Events().size() == 1; }));
    EXPECT_EQ(remote->Events()[0], "original");
    EXPECT_TRUE(worker.Stop(nullptr, nullptr));
    main_queue.Unregister(&local);
    main_queue.Unregister(&other);
}

TEST_F(BusTest, UnregisteringDuringNestedDeliveryIsSafe) {
    Recorder first("test::First"), second("test::Second"), sender("test::Sender");
    for (Recorder* r : {&first, &second, &sender})
        ASSERT_TRUE(main_queue.Register(r));
    ASSERT_TRUE(first.Subscribe(TestChannel));
    ASSERT_TRUE(second.Subscribe(TestChannel));
    uint16_t channel = Location::GetSubscriptionId(TestChannel);
    bool sent_nested = false;
    first.on_event = [&](const Message&) {
        // A nested delivery on the same queue that unregisters both subscribers.
        if (!sent_nested) {
            sent_nested = true;
            Message again = make_message(first.GetEncoder(), 1, "again");
            first.SendEvent(again, channel);
        }
        main_queue.Unregister(&second);
        main_queue.Unregister(&first);
    };
    Message event = make_message(sender.GetEncoder(), 0, "once");
    ASSERT_TRUE(sender.SendEvent(event, channel));
    EXPECT_EQ(first.events, (std::vector<std::string>{"once", "again"}));
    EXPECT_TRUE(second.events.empty());
    EXPECT_FALSE(main_queue.IsDestinationValid(first.GetLocationId()));
    EXPECT_FALSE(main_queue.IsDestinationValid(channel));

    Message later = make_message(sender.GetEncoder(), 0, "later");
    ASSERT_TRUE(sender.SendEvent(later, channel));
    EXPECT_EQ(first.events.size(), 2u);
    main_queue.Unregister(&sender);
}

TEST_F(BusTest, MisuseFailsCleanlyWithALogEntry) {
    Recorder loose("test::Loose");
    EXPECT_FALSE(loose.Subscribe(TestChannel));
    EXPECT_TRUE(log.Contains("not registered on a queue"));
    Message nothing;
    EXPECT_FALSE(loose.SendEvent(nothing, 1));

    log.Clear();
    bool sent = true;
    std::thread stranger([&] {
        MessageEncoder encoder;
        encoder.Initialise();
        Message message = make_message(&encoder, 1);
        sent = Distributor::Send(message);
        encoder.Release();
    });
    stranger.join();
    EXPECT_FALSE(sent);
    EXPECT_TRUE(log.Contains("the calling thread owns no message queue"));
}

TEST_F(BusTest, PumpRespectsTheActiveFlagButPumpQueueIdDoesNot) {
    MessageQueue second;
    second.SetName("second");
    ASSERT_TRUE(second.Initialise()); // owned by this thread too
    Recorder receiver("test::Receiver"), sender("test::Sender");
    ASSERT_TRUE(second.Register(&receiver));
    ASSERT_TRUE(main_queue.Register(&sender));
    Message event = make_message(sender.GetEncoder(), 0, "queued");
    ASSERT_TRUE(sender.SendEvent(event, receiver.GetLocationId()));
    Distributor::Stop();
    Distributor::Pump();
    EXPECT_TRUE(receiver.events.empty());
    Distributor::PumpQueueId(second.GetId());
    EXPECT_EQ(receiver.events, (std::vector<std::string>{"queued"}));
    main_queue.Unregister(&sender);
    second.Unregister(&receiver);
}

TEST_F(BusTest, UnlinkingAQueueReleasesASenderWaitingOnIt) {
    // A queue whose thread never pumps: its pipe fills up and the sender waits.
    Recorder receiver("test::Stuck");
    DeafQueue owner(receiver);
    std::atomic<int> sent{0};
    Recorder sender("test::Sender");
    ASSERT_TRUE(main_queue.Register(&sender));
    constexpr int Messages = 1000;
    std::vector<unsigned char> block(512 * 1024, 1);
    std::thread producer([&] {
        // More than the pipe's rings can hold, even grown to their limit.
        for (int i = 0; i < Messages; ++i) {
            MessageEncoder* encoder = sender.GetEncoder();
            encoder->Begin();
            encoder->AddField(0, block.data(), unsigned(block.size()));
            Message message = encoder->End();
            sender.SendEvent(message, receiver.GetLocationId());
            ++sent;
        }
    });
    thread_sleep(1500, TIMER_Milliseconds);
    EXPECT_LT(sent.load(), Messages); // waiting on the full pipe
    owner.Release();
    producer.join(); // the unlinked queue is skipped, the waiting send gives up
    EXPECT_EQ(sent.load(), Messages);
    main_queue.Unregister(&sender);
}

TEST_F(BusTest, ARequestThatCannotBeDeliveredIsNotCountedAsPending) {
    // A queue on another thread that never pumps: after the bus stops, a request that
    // does not fit into its full pipe is reported as not sent.
    Recorder receiver("test::Deaf");
    DeafQueue owner(receiver);
    Recorder sender("test::Sender");
    ASSERT_TRUE(main_queue.Register(&sender));
    Distributor::Stop();
    std::vector<unsigned char> block(300 * 1024, 1);
    int sent = 0;
    for (int i = 0; i < 5; ++i) {
        MessageEncoder* encoder = sender.GetEncoder();
        encoder->Begin();
        encoder->AddField(0, block.data(), unsigned(block.size()));
        Message message = encoder->End();
        sent += sender.SendRequest(message, receiver.GetLocationId()) ? 1 : 0;
    }
    EXPECT_LT(sent, 5);
    EXPECT_EQ(sender.GetPending(receiver.GetLocationId()), sent);
    owner.Release();
    main_queue.Unregister(&sender);
}
