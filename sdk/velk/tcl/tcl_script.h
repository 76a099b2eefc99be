// The script host: a script file with its state and "active" flag (TclScript), the base
// of commands scripts can call (TclCommand), one Tcl interpreter whose output goes to the
// log (TclInterpreter), the requests other threads send to the host (TclMessageBuilder)
// and the host's processor on the "TCL" thread (TclProcessor).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "velk/core/log.h"
#include "velk/core/mutex.h"
#include "velk/core/stringbuffer.h"

namespace velk {

// The script host's log module, "TCL".
extern log_module_t log_tcl;

// Prepares the Tcl library once per process (the system encoding among others). Call it
// from main with argv[0]; the host calls it with null when nobody did.
void tcl_library_initialise(const char* argv0);

// One script file. The controller (or runner) owns it; the "TCL" thread reads it by
// address. Observers refresh when (id, version) differs from what they saw.
class TclScript {
  public:
    enum State : int {
        Empty = 0,
        Loaded = 1,
        Queued = 2,
        Running = 3,
        Stopping = 4, // never stored: Running with active cleared
        Finished = 5,
    };

    TclScript();
    ~TclScript();
    TclScript(const TclScript&) = delete;
    TclScript& operator=(const TclScript&) = delete;

    // Sets the path and the state Loaded. Owner's thread; an execution request carries
    // its own copy of the path, so the "TCL" thread never reads this one.
    bool Load(const string_t& path);
    bool SetActive(bool active);
    void SetState(State state);
    void Release();

    bool IsActive() const { return active.load(); }
    State GetState() const { return State(state.load()); }
    const char* GetPath() const { return path.view.text; }

    const int32_t id;
    std::atomic<int32_t> version{1};
    std::atomic<bool> active{true};
    std::atomic<int> state{Empty};
    stringbuffer_t path;
};

// A command that scripts can call. Subclasses do the work in Process.
class TclCommand {
  public:
    explicit TclCommand(const char* name);
    virtual ~TclCommand();
    TclCommand(const TclCommand&) = delete;
    TclCommand& operator=(const TclCommand&) = delete;

    // argv[0] is the command's name, argv[1] the first word after it. False makes the
    // Tcl command fail (a Tcl error without a result).
    virtual bool Process(std::string& result, int argc, const char** argv) = 0;

    const char* GetName() const { return name.view.text; }
    bool IsRegistered() const { return token.load() != nullptr; }
    void Release();

    stringbuffer_t name;
    std::atomic<void*> token{nullptr};  // the Tcl command handle while registered
    TclScript* currentScript = nullptr; // set while the command runs
};

} // namespace velk
