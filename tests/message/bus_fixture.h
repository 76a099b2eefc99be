// Test helpers for the message bus: a fixture that brings the bus up on the test's
// thread and takes it down again, and a wait that pumps the main queue.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "log_capture.h"
#include "velk/core/thread.h"
#include "velk/message/distributor.h"
#include "velk/message/message_queue.h"

namespace velk::test_support {

class BusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Distributor::Initialise();
        Distributor::Start();
        main_queue.SetName("main");
        ASSERT_TRUE(main_queue.Initialise());
    }
    void TearDown() override {
        Distributor::Stop();
        main_queue.Release();
        Distributor::Release();
    }

    // Pumps the main queue until the condition holds; false after the time-out.
    bool PumpUntil(const std::function<bool()>& condition, uint64_t timeout_ms = 10000) {
        uint64_t start = timer_now();
        while (!condition()) {
            if (timer_now() - start > timeout_ms * 1000)
                return false;
            main_queue.Pump();
            thread_sleep(1, TIMER_Milliseconds);
        }
        return true;
    }

    LogCapture log;
    MessageQueue main_queue;
};

} // namespace velk::test_support
