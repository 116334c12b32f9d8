// The C interface.  Every entry point catches everything: no exception
// (allocation failure included) leaves the library.
#include "xo_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

using xo::Frame;
using xo::Handle;

namespace {

Handle &handle(xo_handle_t *)
{
    // Only the default handle exists.
    return xo::default_handle();
}

std::string prefix(Handle &h)
{
    const std::string &p = xo::program_name(h);
    return p.empty() ? std::string() : p + ": ";
}

void warn_common(bool with_errno, const char *fmt, va_list ap)
{
    int saved = errno;
    try {
        Handle &h = xo::default_handle();
        std::string line = prefix(h);
        std::string msg = xo::vformat(fmt, ap);
        if (!msg.empty() && msg.back() == '\n')
            msg.pop_back();
        line += msg;
        if (with_errno) {
            if (fmt)
                line += ": ";
            line += std::strerror(saved);
        }
        line.push_back('\n');
        xo::write_stderr(h, line);
    } catch (...) {
    }
    errno = saved;
}

void finish_quietly()
{
    try {
        xo::finish(xo::default_handle());
    } catch (...) {
    }
}

void error_element(Handle &h, const std::string &msg)
{
    if (h.style == XO_STYLE_HTML) {
        bool pretty = xo::has(h, XOF_PRETTY);
        std::string text = msg;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        xo::html_close_line(h);
        xo::html_open_line(h);
        if (pretty)
            xo::indent(h, 1);
        h.out.append("<div class=\"error\">");
        xo::escape_html(h.out, text, false);
        h.out.append("</div>");
        if (pretty)
            h.out.push_back('\n');
        xo::html_close_line(h);
        return;
    }
    // In JSON an object cannot sit directly in an array: inside a list the
    // error becomes an instance of its own.
    bool wrap = h.style == XO_STYLE_JSON && !h.stack.empty() && h.stack.back().kind == Frame::LIST;
    std::string list = wrap ? h.stack.back().name : std::string();
    if (wrap)
        xo::open_frame(h, Frame::INSTANCE, list.c_str());
    xo::open_frame(h, Frame::CONTAINER, "error");
    xo::write_leaf(h, "message", msg, true, false);
    xo::close_frame(h, Frame::CONTAINER, "error");
    if (wrap)
        xo::close_frame(h, Frame::INSTANCE, list.c_str());
}

} // namespace

extern "C" {

void xo_set_flags(xo_handle_t *xop, xo_xof_flags_t flags)
{
    try {
        handle(xop).flags |= flags;
    } catch (...) {
    }
}

void xo_clear_flags(xo_handle_t *xop, xo_xof_flags_t flags)
{
    try {
        handle(xop).flags &= ~flags;
    } catch (...) {
    }
}

void xo_set_style(xo_handle_t *xop, xo_style_t style)
{
    try {
        if (style <= XO_STYLE_HTML)
            handle(xop).style = style;
    } catch (...) {
    }
}

xo_style_t xo_get_style(xo_handle_t *xop)
{
    try {
        return handle(xop).style;
    } catch (...) {
        return XO_STYLE_TEXT;
    }
}

int xo_parse_args(int argc, char **argv)
{
    try {
        return xo::parse_args(xo::default_handle(), argc, argv);
    } catch (...) {
        return -1;
    }
}

void xo_set_program(const char *name)
{
    try {
        Handle &h = xo::default_handle();
        h.program = name ? name : "";
        h.program_set = true;
    } catch (...) {
    }
}

void xo_set_version(const char *version)
{
    try {
        Handle &h = xo::default_handle();
        h.version = version ? version : "";
        if (h.style == XO_STYLE_XML) {
            h.version_pending = true;
        } else if (h.style == XO_STYLE_JSON) {
            xo::start_output(h);
            xo::json_begin_item(h, false);
            h.out.append("\"__version\": \"");
            xo::escape_json(h.out, h.version);
            h.out.push_back('"');
            (h.stack.empty() ? h.root : h.stack.back().level).after_version = true;
            xo::after_call(h, false);
        }
    } catch (...) {
    }
}

xo_ssize_t xo_emit(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    xo_ssize_t n;
    try {
        n = xo::emit(xo::default_handle(), fmt, &ap);
    } catch (...) {
        n = -1;
    }
    va_end(ap);
    return n;
}

xo_ssize_t xo_emit_hv(xo_handle_t *xop, const char *fmt, va_list vap)
{
    if (!fmt)
        return xo_emit(fmt);
    va_list ap;
    va_copy(ap, vap);
    xo_ssize_t n;
    try {
        n = xo::emit(handle(xop), fmt, &ap);
    } catch (...) {
        n = -1;
    }
    va_end(ap);
    return n;
}

#define XO_FRAME_CALL(fn, op, kind)                                  \
    xo_ssize_t fn(const char *name)                                  \
    {                                                                \
        try {                                                        \
            return xo::op(xo::default_handle(), Frame::kind, name);  \
        } catch (...) {                                              \
            return -1;                                               \
        }                                                            \
    }

XO_FRAME_CALL(xo_open_container, open_frame, CONTAINER)
XO_FRAME_CALL(xo_close_container, close_frame, CONTAINER)
XO_FRAME_CALL(xo_open_list, open_frame, LIST)
XO_FRAME_CALL(xo_close_list, close_frame, LIST)
XO_FRAME_CALL(xo_open_instance, open_frame, INSTANCE)
XO_FRAME_CALL(xo_close_instance, close_frame, INSTANCE)

xo_ssize_t xo_flush(void)
{
    try {
        return xo::write_pending(xo::default_handle());
    } catch (...) {
        return -1;
    }
}

xo_ssize_t xo_finish(void)
{
    try {
        return xo::finish(xo::default_handle());
    } catch (...) {
        return -1;
    }
}

void xo_warn(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    warn_common(true, fmt, ap);
    va_end(ap);
}

void xo_warnx(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    warn_common(false, fmt, ap);
    va_end(ap);
}

void xo_err(int eval, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    warn_common(true, fmt, ap);
    va_end(ap);
    finish_quietly();
    exit(eval);
}

void xo_errx(int eval, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    warn_common(false, fmt, ap);
    va_end(ap);
    finish_quietly();
    exit(eval);
}

void xo_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int saved = errno;
    try {
        Handle &h = xo::default_handle();
        std::string msg = xo::vformat(fmt, ap);
        if (h.style == XO_STYLE_TEXT) {
            xo::write_stderr(h, msg);
        } else {
            xo::start_output(h);
            error_element(h, msg);
            xo::after_call(h, false);
        }
    } catch (...) {
    }
    errno = saved;
    va_end(ap);
}

} // extern "C"
