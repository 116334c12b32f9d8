// Diagnostics: warnings and errors on stderr, error elements in the
// encoding styles.
#include "xo_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace xo {

const std::string &program_name(Handle &h)
{
    if (!h.program_set) {
        h.program = program_invocation_short_name ? program_invocation_short_name : "";
        h.program_set = true;
    }
    return h.program;
}

std::string vformat(const char *fmt, va_list ap)
{
    if (!fmt)
        return std::string();
    char small[256];
    va_list cp;
    va_copy(cp, ap);
    int n = vsnprintf(small, sizeof small, fmt, cp);
    va_end(cp);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string s(static_cast<size_t>(n) + 1, '\0');
    va_copy(cp, ap);
    vsnprintf(&s[0], s.size(), fmt, cp);
    va_end(cp);
    s.resize(static_cast<size_t>(n));
    return s;
}

void write_stderr(Handle &h, const std::string &text)
{
    // What was produced before the diagnostic goes out before it.
    write_pending(h);
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
}

void libxo_warning(Handle &h, const std::string &msg)
{
    if (!has(h, XOF_WARN))
        return;
    std::string line;
    const std::string &prog = program_name(h);
    if (!prog.empty())
        line = prog + ": ";
    line += "libxo: " + msg + "\n";
    write_stderr(h, line);
}

} // namespace xo
