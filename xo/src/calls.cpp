/* SPDX-License-Identifier: BSD-2-Clause */
// What the C entry points do, apart from guarding against exceptions.
#include "calls.h"

#include <cstring>

#include "diag.h"
#include "emit.h"
#include "escape.h"
#include "frames.h"
#include "style.h"

namespace xo {

void set_version(Handle &h, const char *version)
{
    // libxo takes no version that would need quoting.
    if (!version || std::strchr(version, '"'))
        return;
    h.version = version;
    start_output(h);
    style_of(h).version(h);
    after_call(h, false);
}

void warn_call(Handle &h, int code, const char *fmt, va_list ap)
{
    user_warning(h, fmt, ap, code >= 0 ? &code : nullptr);
}

void error_call(Handle &h, const char *fmt, va_list ap, bool need_newline)
{
    std::string msg = vformat(fmt, ap);
    if (need_newline && (msg.empty() || msg.back() != '\n'))
        msg.push_back('\n');
    start_output(h);
    const StyleOps &style = style_of(h);
    style.error(h, msg);
    if (style.error_element)
        error_element(h, msg);
    after_call(h, false);
}

void message_call(Handle &h, int code, const char *fmt, va_list ap)
{
    std::string msg = vformat(fmt, ap);
    if (code > 0)
        msg += std::string(": ") + std::strerror(code);
    if (msg.empty() || msg.back() != '\n')
        msg.push_back('\n');
    start_output(h);
    size_t before = h.out.size();
    style_of(h).message(h, msg);
    // Written at once; JSON, which has no messages, writes nothing.
    if (h.out.size() != before)
        write_pending(h);
}

namespace {

// The text that an xo_emit format shows, as text style writes it.
std::string text_of(Handle &h, const char *fmt, va_list ap)
{
    Handle text;
    text.flags = h.flags & ~(XOF_COLUMNS | XOF_FLUSH | XOF_FLUSH_LINE | XOF_WARN);
    va_list cp;
    va_copy(cp, ap);
    emit(text, fmt, &cp);
    va_end(cp);
    return text.out;
}

ssize_t emit_str(Handle &h, const char *fmt, const char *value)
{
    return emit_args(h, fmt, value);
}

} // namespace

void emit_warn_call(Handle &h, bool as_warning, int code, const char *fmt, va_list ap)
{
    if (!fmt)
        return;
    const StyleOps &style = style_of(h);
    const char *error = code > 0 ? std::strerror(code) : nullptr;
    // XML, JSON: the message, then the values of its fields.
    if (style.encodes) {
        std::string msg = text_of(h, fmt, ap);
        open_frame(h, Frame::MARKER, "xo_emit_warn_hcv");
        open_frame(h, Frame::CONTAINER, as_warning ? "__warning" : "__error");
        if (!program_name().empty())
            emit_str(h, "{:program}", program_name().c_str());
        emit_str(h, "{:message}", msg.c_str());
        va_list cp;
        va_copy(cp, ap);
        emit(h, fmt, &cp);
        va_end(cp);
        if (error)
            emit_str(h, "{:error}", error);
        close_frame(h, Frame::MARKER, "xo_emit_warn_hcv");
    } else if (&style == &text_style) {
        // A line of the output itself.
        std::string line = diag_prefix(h) + text_of(h, fmt, ap);
        if (error)
            line += std::string(": ") + error;
        if (line.back() != '\n')
            line.push_back('\n');
        start_output(h);
        h.out += line;
    } else {
        // HTML: a line of its own.
        if (!program_name().empty())
            emit_str(h, "{wc:program}", program_name().c_str());
        va_list cp;
        va_copy(cp, ap);
        emit(h, fmt, &cp);
        va_end(cp);
        if (error)
            emit_str(h, ": {:error}", error);
        if (h.line_open)
            emit(h, "\n", nullptr);
    }
    write_pending(h); // written at once, as libxo does
}

ssize_t attr_call(Handle &h, const char *name, const char *fmt, va_list ap)
{
    if (!name || !fmt || !style_of(h).attributes)
        return 0;
    std::string value = vformat(fmt, ap);
    std::string attr = " " + std::string(name) + "=\"";
    escape_xml(attr, value, true);
    attr.push_back('"');
    h.attrs += attr;
    return static_cast<ssize_t>(attr.size()) + 1; // libxo counts a NUL too
}

} // namespace xo
