// Assertion hook and debug printing.
#include "velk/core/debug.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velk {
namespace {

debug_assert_handler_t assert_handler = debug_assert_default_handler;
void* assert_context = nullptr;

} // namespace

void debug_assert(bool condition, const char* text) {
    if (!condition)
        assert_handler(text, assert_context);
}

void debug_assert_set_handler(debug_assert_handler_t handler, void* context) {
    if (handler == nullptr) {
        assert_handler = debug_assert_default_handler;
        assert_context = nullptr;
    } else {
        assert_handler = handler;
        assert_context = context;
    }
}

void debug_assert_default_handler(const char* text, void* context) {
    (void)context;
    fputs(text, stdout);
    fputs("\n", stdout);
    fflush(stdout);
    debug_break();
}

void debug_print(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

void debug_break() {
    // A trap without a debugger would end the process.
    if (is_debugger_attached())
        raise(SIGTRAP);
}

bool is_debugger_attached() {
    FILE* status = fopen("/proc/self/status", "r");
    if (status == nullptr)
        return false;
    char line[256];
    bool attached = false;
    while (fgets(line, sizeof(line), status) != nullptr) {
        if (strncmp(line, "TracerPid:", 10) == 0) {
            attached = atoi(line + 10) != 0;
            break;
        }
    }
    fclose(status);
    return attached;
}

} // namespace velk
