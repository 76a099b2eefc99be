// One Tcl interpreter, on the "TCL" thread, with its standard output in the log.
#pragma once

#include <atomic>
#include <vector>

#include "velk/core/mutex.h"
#include "velk/tcl/tcl_script.h"

struct Tcl_Interp;

namespace velk {

class TclInterpreter {
  public:
    TclInterpreter();
    ~TclInterpreter();
    TclInterpreter(const TclInterpreter&) = delete;
    TclInterpreter& operator=(const TclInterpreter&) = delete;

    // Creates the interpreter; false (logged) when Tcl cannot. "TCL" thread.
    bool Initialise();
    // Deletes the interpreter. "TCL" thread.
    void Release();
    // Runs the script file at `path` for `script`; argv and params may be null. True
    // when it completed, or was stopped. "TCL" thread.
    bool Execute(TclScript& script, const char* path, const char* argv, const char* params);
    bool Register(TclCommand& command);
    bool Unregister(TclCommand& command);

    // Stops the evaluation of `script` (any script when null) wherever it is (inside
    // procs, catch, loops); does nothing when that script is not being evaluated. Any
    // thread.
    void Cancel(TclScript* script);
    // The status a script asked for with "exit N" during the last Execute, or -1.
    int GetExitCode() const { return m_exitCode; }

    // The script being evaluated in the process, or null. "TCL" thread only.
    static TclScript* m_script;

  private:
    bool Create();
    void Destroy();
    static int ExitProc(void* self, Tcl_Interp* interp, int argc, const char** argv);

    Tcl_Interp* m_interp = nullptr;
    Mutex m_lock; // guards m_interp and m_evaluating against a Cancel from another thread
    TclScript* m_evaluating = nullptr; // the script whose evaluation a Cancel may stop
    std::atomic<bool> m_cancelled{false};
    int m_exitCode = -1;
    std::vector<TclCommand*> m_commands; // registered, to register again on a new interpreter
};

} // namespace velk
