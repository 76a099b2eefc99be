// The Tcl interpreter of the script host.
#include "velk/tcl/tcl_interpreter.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <tcl.h>

namespace velk {

TclScript* TclInterpreter::m_script = nullptr;

namespace {

// The output channel: every block Tcl flushes (a line: the channel is line buffered)
// becomes one entry of the "TCL" log.
int MyTclCloseProc(void*, Tcl_Interp*) { return 0; }

int MyTclOutputProc(void*, const char* buf, int len, int* error) {
    *error = 0;
    if (len <= 0)
        return 0;
    int shown = len;
    if (buf[shown - 1] == '\n') // the entry ends the line itself
        --shown;
    if (log_begin(LEVEL_Info, log_tcl)) {
        std::string text(buf, size_t(shown));
        log_print("\n");
        log_print(text.c_str());
        log_end();
    }
    return len;
}

void MyTclWatchProc(void*, int) {}

int MyTclBlockModeProc(void*, int) { return 0; }

Tcl_ChannelType channel_type = {
    "fennick-log",         // typeName
    TCL_CHANNEL_VERSION_5, // version
    MyTclCloseProc,        // closeProc
    nullptr,               // inputProc
    MyTclOutputProc,       // outputProc
    nullptr,               // seekProc
    nullptr,               // setOptionProc
    nullptr,               // getOptionProc
    MyTclWatchProc,        // watchProc
    nullptr,               // getHandleProc
    nullptr,               // close2Proc
    MyTclBlockModeProc,    // blockModeProc
    nullptr,               // flushProc
    nullptr,               // handlerProc
    nullptr,               // wideSeekProc
    nullptr,               // threadActionProc
    nullptr,               // truncateProc
};

void MyFree(char* text) { free(text); }

int CmdProc(void* client_data, Tcl_Interp* interp, int argc, const char** argv) {
    TclCommand* command = static_cast<TclCommand*>(client_data);
    std::string call = "Processing TCL command:";
    for (int i = 0; i < argc; ++i) {
        call += ' ';
        call += argv[i];
    }
    log_writef(LEVEL_Info, log_tcl, "%s", call.c_str());
    TclScript* script = TclInterpreter::m_script;
    if (script != nullptr && !script->IsActive()) {
        log_writef(LEVEL_Info, log_tcl, "TCL script exiting due to Fennick state");
        return TCL_RETURN;
    }
    std::string result;
    command->currentScript = script;
    bool ok = command->Process(result, argc, argv);
    command->currentScript = nullptr;
    if (!ok) {
        log_writef(LEVEL_Error, log_tcl, "TCL command failed: %s", call.c_str());
        return TCL_ERROR;
    }
    char* copy = static_cast<char*>(malloc(result.size() + 1));
    if (copy != nullptr) {
        memcpy(copy, result.c_str(), result.size() + 1);
        Tcl_SetResult(interp, copy, MyFree);
    }
    log_writef(LEVEL_Info, log_tcl, "TCL command returned: %s", result.c_str());
    return TCL_OK;
}

void CmdDeleteProc(void* client_data) {
    static_cast<TclCommand*>(client_data)->token.store(nullptr);
}

} // namespace

TclInterpreter::TclInterpreter() = default;

TclInterpreter::~TclInterpreter() { Release(); }

bool TclInterpreter::Create() {
    tcl_library_initialise(nullptr);
    Tcl_Interp* interp = Tcl_CreateInterp();
    if (interp == nullptr) {
        log_writef(LEVEL_Error, log_tcl, "Failed to initialise TCL");
        return false;
    }
    if (Tcl_Init(interp) != TCL_OK)
        log_writef(LEVEL_Error, log_tcl, "Problem initializing TCL:\n%s",
                   Tcl_GetStringResult(interp));
    // A channel of our own in place of standard output; the process's own standard
    // output stays open.
    Tcl_Channel channel = Tcl_CreateChannel(&channel_type, "custom", nullptr, TCL_WRITABLE);
    if (channel != nullptr) {
        Tcl_RegisterChannel(interp, channel);
        Tcl_SetStdChannel(channel, TCL_STDOUT);
        Tcl_SetChannelOption(interp, channel, "-buffering", "line");
    }
    // "exit" ends the script, not the process: the program then shuts down in order.
    // Interpreters a script creates get the same "exit" through an alias.
    Tcl_CreateCommand(interp, "exit", &TclInterpreter::ExitProc, this, nullptr);
    static const char* const child_exit =
        "rename interp ::fennick_interp\n"
        "proc interp {args} {\n"
        "    set result [uplevel 1 [list ::fennick_interp {*}$args]]\n"
        "    if {[lindex $args 0] eq \"create\"} {\n"
        "        ::fennick_interp alias $result exit {} exit\n"
        "        ::fennick_interp alias $result interp {} interp\n"
        "    }\n"
        "    return $result\n"
        "}\n";
    if (Tcl_Eval(interp, child_exit) != TCL_OK)
        log_writef(LEVEL_Error, log_tcl, "Failed to prepare exit for child interpreters: %s",
                   Tcl_GetStringResult(interp));
    m_lock.Acquire();
    m_interp = interp;
    m_lock.Release();
    for (TclCommand* command : m_commands)
        command->token.store(
            Tcl_CreateCommand(m_interp, command->GetName(), CmdProc, command, CmdDeleteProc));
    return true;
}

void TclInterpreter::Destroy() {
    m_lock.Acquire();
    Tcl_Interp* interp = m_interp;
    m_interp = nullptr;
    m_lock.Release();
    if (interp != nullptr)
        Tcl_DeleteInterp(interp);
}

bool TclInterpreter::Initialise() {
    m_commands.clear();
    if (!Create())
        return false;
    log_writef(LEVEL_Info, log_tcl, "TCL initialised");
    return true;
}

void TclInterpreter::Release() {
    if (m_interp == nullptr)
        return;
    Destroy();
    m_commands.clear();
    log_writef(LEVEL_Info, log_tcl, "TCL released");
}

int TclInterpreter::ExitProc(void* self, Tcl_Interp* interp, int argc, const char** argv) {
    TclInterpreter* host = static_cast<TclInterpreter*>(self);
    int code = 0;
    if (argc > 2 || (argc == 2 && Tcl_GetInt(interp, argv[1], &code) != TCL_OK)) {
        Tcl_SetResult(interp, const_cast<char*>("usage: exit ?returnCode?"), TCL_STATIC);
        return TCL_ERROR;
    }
    host->m_exitCode = code;
    log_writef(LEVEL_Info, log_tcl, "TCL script asked to exit with status %d", code);
    host->Cancel(nullptr);
    return TCL_ERROR;
}

void TclInterpreter::Cancel(TclScript* script) {
    m_lock.Acquire();
    // Only an evaluation in progress: a cancel left on an idle interpreter would cut off
    // the next script.
    if (m_interp != nullptr && m_evaluating != nullptr &&
        (script == nullptr || script == m_evaluating)) {
        m_cancelled = true;
        Tcl_CancelEval(m_interp, nullptr, nullptr, TCL_CANCEL_UNWIND);
    }
    m_lock.Release();
}

bool TclInterpreter::Execute(TclScript& script, const char* path, const char* argv,
                             const char* params) {
    m_script = &script;
    m_exitCode = -1;
    m_cancelled = false;
    bool result = true;
    if (script.IsActive() && m_interp != nullptr) {
        script.SetState(TclScript::Running);
        log_writef(LEVEL_Info, log_tcl, "TCL script: %s", path);
        // From here on a stop cancels this evaluation; a stop that came just before is
        // seen by the check of the active flag that follows.
        m_lock.Acquire();
        m_evaluating = &script;
        m_lock.Release();
        int status = TCL_OK;
        if (script.IsActive()) {
            if (argv != nullptr) {
                log_writef(LEVEL_Info, log_tcl, "TCL argv: %s", argv);
                Tcl_SetVar(m_interp, "argv", argv, 0);
            }
            if (params != nullptr) {
                log_writef(LEVEL_Info, log_tcl, "TCL params:\n%s", params);
                if (Tcl_Eval(m_interp, params) != TCL_OK && !m_cancelled.load())
                    log_writef(LEVEL_Error, log_tcl, "Failed to set input parameters");
            }
            status = Tcl_EvalFile(m_interp, path);
        }
        m_lock.Acquire();
        m_evaluating = nullptr;
        m_lock.Release();
        if (m_cancelled.load() || !script.IsActive() || m_exitCode >= 0) {
            // Stopped (or "exit"): the run counts as completed. An interpreter whose
            // evaluation was cancelled cannot be used again: make a new one.
            log_writef(LEVEL_Info, log_tcl, "TCL script stopped: %s", path);
            log_writef(LEVEL_Info, log_tcl, "TCL script completed: %s", path);
            if (m_cancelled.load()) {
                Destroy();
                m_cancelled = false;
                if (!Create())
                    log_writef(LEVEL_Error, log_tcl, "Failed to initialise TCL");
            }
        } else if (status != TCL_OK) {
            const char* info = Tcl_GetVar(m_interp, "errorInfo", TCL_GLOBAL_ONLY);
            log_writef(LEVEL_Error, log_tcl, "TCL output:\n%s", info != nullptr ? info : "");
            log_writef(LEVEL_Error, log_tcl, "TCL script failed: %s", path);
            result = false;
        } else {
            log_writef(LEVEL_Info, log_tcl, "TCL output:\n%s", Tcl_GetStringResult(m_interp));
            log_writef(LEVEL_Info, log_tcl, "TCL script completed: %s", path);
        }
    } else {
        log_writef(LEVEL_Info, log_tcl, "TCL script completed: %s", path);
    }
    if (m_script != nullptr)
        m_script->SetState(TclScript::Finished);
    m_script = nullptr;
    return result;
}

bool TclInterpreter::Register(TclCommand& command) {
    void* token = m_interp != nullptr ? Tcl_CreateCommand(m_interp, command.GetName(), CmdProc,
                                                          &command, CmdDeleteProc)
                                      : nullptr;
    command.token.store(token);
    if (token != nullptr) {
        m_commands.push_back(&command);
        log_writef(LEVEL_Info, log_tcl, "Registered TCL command: %s", command.GetName());
    } else {
        log_writef(LEVEL_Info, log_tcl, "Failed to registered TCL command: %s", command.GetName());
    }
    return token != nullptr;
}

bool TclInterpreter::Unregister(TclCommand& command) {
    log_writef(LEVEL_Info, log_tcl, "Unregistered TCL command: %s", command.GetName());
    for (size_t i = 0; i < m_commands.size(); ++i)
        if (m_commands[i] == &command)
            m_commands.erase(m_commands.begin() + long(i--));
    if (m_interp != nullptr)
        Tcl_DeleteCommand(m_interp, command.GetName());
    command.token.store(nullptr);
    return true;
}

} // namespace velk
