/* SPDX-License-Identifier: BSD-2-Clause */
// The default handle and its output buffer.
#include "handle.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace xo {

namespace {

void flush_at_exit()
{
    try {
        write_pending(default_handle());
    } catch (...) {
    }
}

bool no_setlocale = false;

} // namespace

void skip_setlocale()
{
    no_setlocale = true;
}

Handle &default_handle()
{
    static Handle h;
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(flush_at_exit);
        // As libxo does, take the character set from the environment, so
        // that the caller learns it (MB_CUR_MAX) whether or not it asked.
        if (!no_setlocale)
            std::setlocale(LC_CTYPE, "");
    }
    return h;
}

void indent(Handle &h, size_t levels)
{
    h.out.append(levels * h.indent_width, ' ');
}

namespace {

// Writes data; returns false when it could not all be written.
bool write_out(Writer &w, const std::string &data)
{
    if (w.write) {
        // The write function takes a C string: the layer never writes a
        // NUL byte, so nothing is cut.
        if (w.write(w.opaque, data.c_str()) < 0)
            return false;
        return !w.flush || w.flush(w.opaque) == 0;
    }
    size_t n = fwrite(data.data(), 1, data.size(), w.fp);
    return fflush(w.fp) == 0 && n == data.size();
}

} // namespace

ssize_t write_pending(Handle &h)
{
    size_t n = h.out.size();
    if (n > 0) {
        errno = 0;
        bool ok = write_out(h.writer, h.out);
        h.out.clear();
        if (!ok && h.write_error == 0)
            h.write_error = errno != 0 ? errno : EIO;
    }
    // Output lost to an earlier write is reported until the end.
    if (h.write_error != 0) {
        errno = h.write_error;
        return -1;
    }
    return static_cast<ssize_t>(n);
}

void after_call(Handle &h, bool saw_newline)
{
    // libxo writes its buffer out once a call leaves more than this in it.
    constexpr size_t buffer_limit = 8192 - 512;
    if (has(h, XOF_FLUSH) || (saw_newline && has(h, XOF_FLUSH_LINE)) || h.out.size() > buffer_limit)
        write_pending(h);
}

std::string field_name(const Handle &h, std::string_view name)
{
    auto renamed = h.names.find(name);
    std::string s(renamed == h.names.end() ? name : std::string_view(renamed->second));
    // libxo turns dashes into underscores in JSON only.
    if (h.style == XO_STYLE_JSON && has(h, XOF_UNDERSCORES))
        for (char &c : s)
            if (c == '-')
                c = '_';
    return s;
}

} // namespace xo

namespace xo {

void close_output(Handle &h)
{
    if (h.writer.write) {
        if (h.writer.close)
            h.writer.close(h.writer.opaque);
    } else if (has(h, XOF_CLOSE_FP) && h.writer.fp) {
        fclose(h.writer.fp);
    }
    h.writer = Writer{};
}

} // namespace xo
