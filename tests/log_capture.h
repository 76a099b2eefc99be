// Test helper: opens the log and collects everything written to it.
#pragma once

#include <mutex>
#include <string>

#include "velk/core/log.h"

namespace velk::test_support {

class LogCapture {
  public:
    LogCapture() {
        velk::log_open();
        velk::log_set_handler(&LogCapture::Handle, this);
    }
    ~LogCapture() {
        velk::log_set_handler(nullptr, nullptr);
        velk::log_close();
    }
    std::string Text() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_text.clear();
    }
    bool Contains(const std::string& needle) { return Text().find(needle) != std::string::npos; }

  private:
    static void Handle(const char* text, void* self) {
        LogCapture* capture = static_cast<LogCapture*>(self);
        std::lock_guard<std::mutex> lock(capture->m_mutex);
        capture->m_text += text;
    }
    std::mutex m_mutex;
    std::string m_text;
};

} // namespace velk::test_support
