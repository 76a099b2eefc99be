// The streaming JSON writer. It writes into a temporary file beside the target and
// renames it over the target only once everything is written and on disk.
#include "velk/core/json.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include "velk/core/file.h"
#include "velk/core/filename.h"
#include "velk/core/log.h"

namespace velk {
namespace {

locale_t c_locale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

void write_text(json_writer_t& writer, const char* text, size_t length) {
    if (writer.file == nullptr || length == 0)
        return;
    if (fwrite(text, 1, length, writer.file) != length)
        writer.failed = true;
}

void write_text(json_writer_t& writer, const char* text) { write_text(writer, text, strlen(text)); }

void write_spaces(json_writer_t& writer, int count) {
    static const char spaces[] = "                                                                ";
    while (count > 0) {
        int chunk = count < 64 ? count : 64;
        write_text(writer, spaces, size_t(chunk));
        count -= chunk;
    }
}

void begin_block(json_writer_t& writer, json_block_t* parent, json_block_t& block, const char* name,
                 bool multi_line, char opening, char closing) {
    block.writer = &writer;
    block.parent = parent;
    block.indent = parent != nullptr ? parent->indent + 2 : 2;
    block.multi_line = multi_line;
    block.first = true;
    block.opening = opening;
    block.closing = closing;
    if (parent != nullptr)
        json_write_member(*parent, parent->opening == '{' ? name : nullptr);
    char text[2] = {opening, 0};
    write_text(writer, text);
}

void end_block(json_block_t& block) {
    json_writer_t& writer = *block.writer;
    if (block.multi_line) {
        write_text(writer, "\n");
        write_spaces(writer, block.parent != nullptr ? block.parent->indent : 0);
    } else {
        write_text(writer, " ");
    }
    char text[2] = {block.closing, 0};
    write_text(writer, text);
}

void discard(json_writer_t& writer) {
    if (writer.file != nullptr)
        fclose(writer.file);
    writer.file = nullptr;
    if (writer.temporary.view.length > 0)
        unlink(writer.temporary.view.text);
    stringbuffer_release(writer.temporary);
    stringbuffer_release(writer.target);
    writer.failed = false;
}

} // namespace

void json_clear(json_writer_t& writer) {
    writer.file = nullptr;
    stringbuffer_initialise(writer.target);
    stringbuffer_initialise(writer.temporary);
    writer.failed = false;
}

bool json_open(json_writer_t& writer, const filename_t& file) {
    if (writer.file != nullptr || file.full_name.view.length == 0)
        return false;
    const string_t target = file.full_name.view;
    bool ok = stringbuffer_set(writer.target, target) &&
              stringbuffer_format(writer.temporary, "%s/.%.*s.XXXXXX", file.path.path.view.text,
                                  int(FILE_TemporaryNameMax), file.name.view.text);
    int fd = ok ? mkstemp(writer.temporary.buffer) : -1;
    if (fd < 0) {
        log_writef(LEVEL_Error, LOG_General, "Failed to write '%s': %s", target.text,
                   strerror(errno));
        stringbuffer_release(writer.temporary);
        stringbuffer_release(writer.target);
        return false;
    }
    struct stat info;
    fchmod(fd, stat(target.text, &info) == 0 ? (info.st_mode & 07777) : 0644);
    writer.file = fdopen(fd, "w");
    if (writer.file == nullptr) {
        close(fd);
        discard(writer);
        return false;
    }
    writer.failed = false;
    return true;
}

bool json_is_open(const json_writer_t& writer) { return writer.file != nullptr; }

bool json_close(json_writer_t& writer) {
    if (writer.file == nullptr)
        return false;
    bool ok = !writer.failed && fflush(writer.file) == 0 && !ferror(writer.file) &&
              fsync(fileno(writer.file)) == 0;
    int error = errno;
    ok = (fclose(writer.file) == 0) && ok;
    writer.file = nullptr;
    if (ok && rename(writer.temporary.view.text, writer.target.view.text) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        log_writef(LEVEL_Error, LOG_General, "Failed to write '%s': %s", writer.target.view.text,
                   error != 0 ? strerror(error) : "write error");
        discard(writer);
        return false;
    }
    stringbuffer_release(writer.temporary); // renamed: nothing to remove
    stringbuffer_release(writer.target);
    writer.failed = false;
    return true;
}

void json_abandon(json_writer_t& writer) { discard(writer); }

void json_write(json_writer_t& writer, const char* format, ...) {
    if (writer.file == nullptr)
        return;
    locale_t previous = uselocale(c_locale());
    va_list args;
    va_start(args, format);
    if (vfprintf(writer.file, format, args) < 0)
        writer.failed = true;
    va_end(args);
    uselocale(previous);
}

void json_begin_object(json_writer_t& writer, json_block_t* parent, json_block_t& block,
                       const char* name, bool multi_line) {
    begin_block(writer, parent, block, name, multi_line, '{', '}');
}

void json_begin_array(json_writer_t& writer, json_block_t* parent, json_block_t& block,
                      const char* name, bool multi_line) {
    begin_block(writer, parent, block, name, multi_line, '[', ']');
}

void json_end_object(json_block_t& block) { end_block(block); }

void json_end_array(json_block_t& block) { end_block(block); }

void json_write_member(json_block_t& block, const char* name) {
    json_writer_t& writer = *block.writer;
    if (block.multi_line) {
        write_text(writer, block.first ? "\n" : ",\n");
        write_spaces(writer, block.indent);
    } else {
        write_text(writer, block.first ? " " : ", ");
    }
    block.first = false;
    if (name != nullptr && name[0] != 0)
        json_write(writer, "\"%s\": ", name);
}

void json_add_int(json_block_t& block, const char* name, int32_t value) {
    json_write_member(block, name);
    json_write(*block.writer, "%d", value);
}

void json_add_uint(json_block_t& block, const char* name, uint32_t value) {
    json_write_member(block, name);
    json_write(*block.writer, "%u", value);
}

void json_add_ull(json_block_t& block, const char* name, uint64_t value) {
    json_write_member(block, name);
    json_write(*block.writer, "%llu", static_cast<unsigned long long>(value));
}

void json_add_float(json_block_t& block, const char* name, float value) {
    json_write_member(block, name);
    if (!std::isfinite(value)) {
        write_text(*block.writer, "null");
        return;
    }
    char text[64];
    auto result =
        std::to_chars(text, text + sizeof(text), double(value), std::chars_format::fixed, 6);
    write_text(*block.writer, text, size_t(result.ptr - text));
}

void json_add_bool(json_block_t& block, const char* name, bool value) {
    json_write_member(block, name);
    write_text(*block.writer, value ? "true" : "false");
}

void json_add_string(json_block_t& block, const char* name, string_t value) {
    json_write_member(block, name);
    json_writer_t& writer = *block.writer;
    write_text(writer, "\"");
    // The reader ends a string at a quote unless a backslash keeps it: give a bare quote
    // its backslash, and pair an unpaired final backslash, so the string cannot end early.
    const char* text = value.text;
    uint32_t length = value.length;
    uint32_t start = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (text[i] == '\\') {
            if (i + 1 < length) {
                ++i; // kept with the character it escapes
                continue;
            }
            write_text(writer, text + start, length - start);
            write_text(writer, "\\");
            start = length;
        } else if (text[i] == '"') {
            write_text(writer, text + start, i - start);
            write_text(writer, "\\\"");
            start = i + 1;
        }
    }
    write_text(writer, text + start, length - start);
    write_text(writer, "\"");
}

void json_add_null(json_block_t& block, const char* name) {
    json_write_member(block, name);
    write_text(*block.writer, "null");
}

} // namespace velk
