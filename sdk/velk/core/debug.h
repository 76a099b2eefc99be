// Small diagnostics: the assertion hook and debug printing.
#pragma once

namespace velk {

typedef void (*debug_assert_handler_t)(const char* text, void* context);

// Calls the assertion handler with the text when the condition is false.
void debug_assert(bool condition, const char* text);
// Installs an assertion handler; a null function restores the default and clears the
// context.
void debug_assert_set_handler(debug_assert_handler_t handler, void* context);
// Prints the text to standard output, flushes and breaks into an attached debugger.
void debug_assert_default_handler(const char* text, void* context);
// Prints to standard output and flushes.
void debug_print(const char* text);
// Stops in an attached debugger; does nothing when none is attached.
void debug_break();
// True when a debugger (tracer) is attached to the process.
bool is_debugger_attached();

} // namespace velk
