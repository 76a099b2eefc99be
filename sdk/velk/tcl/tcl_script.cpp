// Scripts and script commands.
#include "velk/tcl/tcl_script.h"

#include <mutex>
#include <tcl.h>

#include "velk/core/version.h"

namespace velk {

log_module_t log_tcl = {0, "TCL"};

void tcl_library_initialise(const char* argv0) {
    static std::once_flag once;
    std::call_once(once, [argv0] { Tcl_FindExecutable(argv0); });
}

TclScript::TclScript() : id(version_object_id<version_id_allocator_t>()) {
    stringbuffer_initialise(path);
}

TclScript::~TclScript() { Release(); }

bool TclScript::Load(const string_t& file) {
    state = Loaded;
    ++version;
    return stringbuffer_set(path, file);
}

bool TclScript::SetActive(bool on) {
    active = on;
    ++version;
    return on;
}

void TclScript::SetState(State next) {
    state = next;
    ++version;
}

void TclScript::Release() { stringbuffer_release(path); }

TclCommand::TclCommand(const char* command_name) {
    stringbuffer_initialise(name);
    if (command_name != nullptr && command_name[0] != 0)
        stringbuffer_set(name, string_make(command_name));
}

TclCommand::~TclCommand() { Release(); }

void TclCommand::Release() { stringbuffer_release(name); }

} // namespace velk
