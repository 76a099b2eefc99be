// The script host's message processor on the "TCL" thread, and the builder of the
// requests other threads send it.
#pragma once

#include <deque>
#include <string>

#include "velk/message/message_processor.h"
#include "velk/tcl/tcl_interpreter.h"

namespace velk {

// Request fields: 0 the operation word ("Execute", "Register", "Unregister"); 1 the
// script object; 2 the command object; 3 the argument text; 4 the parameter script;
// 7 a copy of the script's path. Response fields: 0 the word, 5 success, 6 an optional
// text ("exit N" when the script asked to end the program with status N).
enum tcl_field_t {
    TCL_FIELD_Word = 0,
    TCL_FIELD_Script = 1,
    TCL_FIELD_Command = 2,
    TCL_FIELD_Argv = 3,
    TCL_FIELD_Params = 4,
    TCL_FIELD_Success = 5,
    TCL_FIELD_Text = 6,
    TCL_FIELD_Path = 7,
};

constexpr const char* TCL_ProcessorLocation = "velk::TclProcessor";

class TclMessageBuilder {
  public:
    explicit TclMessageBuilder(MessageEncoder& encoder) : m_encoder(encoder) {}
    // Both set the script's state to Queued (on the calling thread).
    Message Execute(TclScript& script);
    Message Execute(TclScript& script, const string_t& argv, const string_t& params);
    Message Register(TclCommand& command);
    Message Unregister(TclCommand& command);

  private:
    Message Object(const char* word, int field, void* object);
    MessageEncoder& m_encoder;
};

// One line of a parameter script: sets the variable to the value, quoted so that any
// value (braces, backslashes, brackets) is taken literally; or, for a control without a
// valid value, unsets it. Any thread.
std::string tcl_parameter_line(const char* name, const char* value, bool valid);

class TclProcessor final : public MessageProcessor {
  public:
    struct Context {
        TclScript* script = nullptr;
        MessageHeader header{};
        stringbuffer_t path;
        stringbuffer_t argv;
        stringbuffer_t params;
    };

    TclProcessor();
    ~TclProcessor() override;

    bool ProcessorInitialise() override;
    void ProcessorRelease() override;
    // Runs at most one queued script.
    void ProcessorUpdate() override;
    void ReceiveRequest(const Message& request) override;
    void ReceiveResponse(const Message&) override {}
    void ReceiveEvent(const Message&) override {}

    void Notify(const MessageHeader& request, bool success, const char* word, const char* text);

    // Stops the script: clears its active flag and stops the running evaluation wherever
    // it is. Any thread.
    void Stop(TclScript& script);

  private:
    TclInterpreter m_interpreter;
    std::deque<Context*> m_queue;
};

} // namespace velk
