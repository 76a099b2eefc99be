// The script host's processor and its request builder.
#include "velk/tcl/tcl_processor.h"

#include <cstring>
#include <tcl.h>

#include "velk/message/location.h"

namespace velk {

namespace {

// An object field: the address of an object of this process.
bool read_object(const Message& message, int field, void*& out) {
    const MessageField* found = nullptr;
    if (!message.FindField(field, found) || found->type != MessageField::Data ||
        found->elementSize != sizeof(void*) || found->count != 1)
        return false;
    memcpy(&out, found->Payload(), sizeof(void*));
    return out != nullptr;
}

} // namespace

Message TclMessageBuilder::Object(const char* word, int field, void* object) {
    if (!m_encoder.Begin() || !m_encoder.AddField(TCL_FIELD_Word, word) ||
        !m_encoder.AddData(field, &object, sizeof(void*), 1))
        return Message();
    return m_encoder.End();
}

Message TclMessageBuilder::Execute(TclScript& script) {
    script.SetState(TclScript::Queued);
    void* object = &script;
    if (!m_encoder.Begin() || !m_encoder.AddField(TCL_FIELD_Word, "Execute") ||
        !m_encoder.AddData(TCL_FIELD_Script, &object, sizeof(void*), 1) ||
        !m_encoder.AddField(TCL_FIELD_Path, script.GetPath()))
        return Message();
    return m_encoder.End();
}

Message TclMessageBuilder::Execute(TclScript& script, const string_t& argv,
                                   const string_t& params) {
    script.SetState(TclScript::Queued);
    void* object = &script;
    if (!m_encoder.Begin() || !m_encoder.AddField(TCL_FIELD_Word, "Execute") ||
        !m_encoder.AddData(TCL_FIELD_Script, &object, sizeof(void*), 1) ||
        !m_encoder.AddField(TCL_FIELD_Argv, argv.text) ||
        !m_encoder.AddField(TCL_FIELD_Params, params.text) ||
        !m_encoder.AddField(TCL_FIELD_Path, script.GetPath()))
        return Message();
    return m_encoder.End();
}

Message TclMessageBuilder::Register(TclCommand& command) {
    return Object("Register", TCL_FIELD_Command, &command);
}

Message TclMessageBuilder::Unregister(TclCommand& command) {
    return Object("Unregister", TCL_FIELD_Command, &command);
}

std::string tcl_parameter_line(const char* name, const char* value, bool valid) {
    std::string line;
    if (!valid) {
        const char* words[] = {"info", "exists", name};
        char* exists = Tcl_Merge(3, words);
        const char* unset_words[] = {"unset", name};
        char* unset = Tcl_Merge(2, unset_words);
        line = std::string("if { [") + exists + "] } { " + unset + " }\n";
        Tcl_Free(exists);
        Tcl_Free(unset);
        return line;
    }
    // Tcl_Merge quotes every word so that it stays one literal word whatever it holds.
    const char* words[] = {"set", name, value};
    char* merged = Tcl_Merge(3, words);
    line = std::string(merged) + "\n";
    Tcl_Free(merged);
    return line;
}

TclProcessor::TclProcessor() : MessageProcessor(TCL_ProcessorLocation, true) {}

TclProcessor::~TclProcessor() {
    for (Context* context : m_queue) {
        stringbuffer_release(context->path);
        stringbuffer_release(context->argv);
        stringbuffer_release(context->params);
        delete context;
    }
    m_queue.clear();
}

bool TclProcessor::ProcessorInitialise() {
    log_register_module(log_tcl);
    return m_interpreter.Initialise();
}

void TclProcessor::ProcessorRelease() {
    m_interpreter.Release();
    // The thread's own Tcl data (channels, notifier) goes with the thread.
    Tcl_FinalizeThread();
}

void TclProcessor::Stop(TclScript& script) {
    script.SetActive(false);
    m_interpreter.Cancel(&script);
}

void TclProcessor::ProcessorUpdate() {
    if (m_queue.empty())
        return;
    Context* context = m_queue.front();
    m_queue.pop_front();
    bool ok = m_interpreter.Execute(
        *context->script, context->path.view.text,
        context->argv.view.length > 0 ? context->argv.view.text : nullptr,
        context->params.view.length > 0 ? context->params.view.text : nullptr);
    char text[32] = {0};
    int code = m_interpreter.GetExitCode();
    if (code >= 0)
        ::snprintf(text, sizeof(text), "exit %d", code);
    Notify(context->header, ok, "Execute", code >= 0 ? text : nullptr);
    stringbuffer_release(context->path);
    stringbuffer_release(context->argv);
    stringbuffer_release(context->params);
    delete context;
}

void TclProcessor::ReceiveRequest(const Message& request) {
    const char* word = nullptr;
    if (!request.GetString(TCL_FIELD_Word, word))
        return;
    if (strcmp(word, "Execute") == 0) {
        void* object = nullptr;
        const char* path = nullptr;
        if (!read_object(request, TCL_FIELD_Script, object) ||
            !request.GetString(TCL_FIELD_Path, path))
            return;
        Context* context = new Context();
        context->script = static_cast<TclScript*>(object);
        context->header = request.GetHeader();
        stringbuffer_initialise(context->path);
        stringbuffer_initialise(context->argv);
        stringbuffer_initialise(context->params);
        stringbuffer_set(context->path, string_make(path));
        const char* text = nullptr;
        if (request.GetString(TCL_FIELD_Argv, text))
            stringbuffer_set(context->argv, string_make(text));
        if (request.GetString(TCL_FIELD_Params, text))
            stringbuffer_set(context->params, string_make(text));
        m_queue.push_back(context);
        return;
    }
    const bool registering = strcmp(word, "Register") == 0;
    if (!registering && strcmp(word, "Unregister") != 0)
        return;
    void* object = nullptr;
    if (!read_object(request, TCL_FIELD_Command, object))
        return;
    TclCommand* command = static_cast<TclCommand*>(object);
    bool ok = registering ? m_interpreter.Register(*command) : m_interpreter.Unregister(*command);
    Notify(request.GetHeader(), ok, word, nullptr);
}

void TclProcessor::Notify(const MessageHeader& request, bool success, const char* word,
                          const char* text) {
    MessageEncoder* encoder = GetEncoder();
    if (encoder == nullptr || !encoder->Begin() || !encoder->AddField(TCL_FIELD_Word, word) ||
        !encoder->AddField(TCL_FIELD_Success, success) ||
        (text != nullptr && !encoder->AddField(TCL_FIELD_Text, text)))
        return;
    Message response = encoder->End();
    SendResponse(response, request);
}

} // namespace velk
