// The process-wide log: modules with level bits, one replaceable output handler,
// and entries written whole under one lock.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace velk {

// Level bits; a module has any combination enabled.
enum log_level_t : unsigned {
    LEVEL_Info = 1,
    LEVEL_Debug = 2,
    LEVEL_Error = 4,
    LEVEL_Trace = 8,
    LEVEL_Warning = 16,
    LEVEL_Verbose = 32,
};

// One static object per subsystem. The index is assigned by log_register_module.
struct log_module_t {
    uint8_t index;
    const char* name;
};

extern log_module_t LOG_General;  // "General": the foundation library
extern log_module_t LOG_Message;  // "Message": the message bus
extern log_module_t LOG_Graphics; // "Graphics"
extern log_module_t LOG_Image;    // "Image"

// Receives every piece of text written to the log; called with the log lock held and
// must not log itself.
typedef void (*log_handler_t)(const char* text, void* user_data);

// Opens the log: lock, default handler, 2048-byte buffer, registers General and
// writes "Log opened: <platform> <compiler>". False (log stays closed) on failure.
bool log_open();
// Writes "Log closed" and closes the log; later writes are ignored.
void log_close();
bool log_is_open();

// Gives the module the index of a registered module of the same name, or the next
// free index with info, error and warning enabled.
void log_register_module(log_module_t& module);
// Sets or clears level bits of a module.
void log_enable(unsigned level, const log_module_t& module, bool on);
bool log_is_enabled(unsigned level, const log_module_t& module);

// Installs the output handler; a null function restores the default one.
void log_set_handler(log_handler_t handler, void* user_data);
// Prints the text to standard output and flushes.
void log_default_handler(const char* text, void* user_data);

// Writes one entry (header, text, newline) when the level is enabled for the module.
void log_writef(unsigned level, const log_module_t& module, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void log_writefv(unsigned level, const log_module_t& module, const char* format, va_list args);

// As log_writef, but gives up (false, nothing written) when the log lock cannot be had
// within the time: for callers that must not block on a thread that may hold it.
bool log_writef_bounded(uint64_t microseconds, unsigned level, const log_module_t& module,
                        const char* format, ...) __attribute__((format(printf, 4, 5)));

// Building an entry by hand: log_begin checks the level and that the log is open,
// takes the lock and writes the header (the thread cannot be cancelled until log_end,
// so it never leaves the lock held); on true, write the pieces with log_print,
// log_printf or the hex dump, then log_end writes the newline and releases the lock.
bool log_begin(unsigned level, const log_module_t& module);
void log_end();

// The pieces below are only called with the lock held (between log_begin and log_end).
void log_print_header(unsigned level, const log_module_t& module);
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_printfv(const char* format, va_list args);
void log_print(const char* text);
// Hex dump: "<count> bytes" then 16 bytes a line with offset, hex columns and text.
void log_print(const unsigned char* bytes, unsigned long count);

// The platform text of "Log opened", e.g. "linux x86_64 gcc".
const char* log_platform();

} // namespace velk
