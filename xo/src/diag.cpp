/* SPDX-License-Identifier: BSD-2-Clause */
// Diagnostics: the program's name, warnings and errors.
#include "diag.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "escape.h"

namespace xo {

namespace {

// warn-xml: a warning as an XML element in the document.
bool warning_as_xml(Handle &h, const std::string &line)
{
    if (!has(h, XOF_WARN_XML) || (h.style != XO_STYLE_TEXT && h.style != XO_STYLE_XML))
        return false;
    start_output(h);
    h.out.append("<error><message>");
    escape_xml(h.out, line, false);
    h.out.append("</message></error>\n");
    return true;
}

void warning_line(Handle &h, const std::string &line)
{
    if (!warning_as_xml(h, line))
        write_stderr(h, line + "\n");
}

} // namespace

void set_program(Handle &h, const char *name)
{
    h.program = name ? name : "";
    h.prefix = h.program.empty() ? std::string() : h.program + ": ";
}

const std::string &diag_prefix(Handle &)
{
    // Until xo_parse_args or xo_set_program names the program,
    // diagnostics go out without a name, as in libxo.
    return default_handle().prefix;
}

const std::string &program_name()
{
    return default_handle().program;
}

void libxo_warning(Handle &h, const std::string &msg)
{
    if (has(h, XOF_WARN))
        warning_line(h, diag_prefix(h) + msg);
}

void user_warning(Handle &h, const char *fmt, va_list ap, const int *error)
{
    // Like libxo: no format, no warning; a newline of the message's own
    // stays (and makes an empty line).
    if (!fmt)
        return;
    std::string line = diag_prefix(h) + vformat(fmt, ap);
    if (error)
        line += std::string(": ") + std::strerror(*error);
    warning_line(h, line);
}

int unsupported(Handle &h, const std::string &what)
{
    libxo_warning(h, what + " is not supported");
    return -1;
}

void write_stderr(Handle &, const std::string &text)
{
    // Like libxo, the document waits in its buffer: a diagnostic does not
    // push it out first.
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
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

} // namespace xo
