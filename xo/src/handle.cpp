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

} // namespace

Handle &default_handle()
{
    static Handle h;
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(flush_at_exit);
        // As libxo does, take the character set from the environment, so
        // that the caller learns it (MB_CUR_MAX) whether or not it asked.
        std::setlocale(LC_CTYPE, "");
    }
    return h;
}

void indent(Handle &h, size_t levels)
{
    h.out.append(levels * h.indent_width, ' ');
}

ssize_t write_pending(Handle &h)
{
    size_t n = h.out.size();
    if (n > 0) {
        errno = 0;
        size_t w = fwrite(h.out.data(), 1, n, stdout);
        h.out.clear();
        if ((fflush(stdout) != 0 || w != n) && h.write_error == 0)
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
    std::string s(name);
    // libxo turns dashes into underscores in JSON only.
    if (h.style == XO_STYLE_JSON && has(h, XOF_UNDERSCORES))
        for (char &c : s)
            if (c == '-')
                c = '_';
    return s;
}

} // namespace xo
