// The C interface: each entry point hands over to the library and makes
// sure that no exception (allocation failure included) leaves it, and
// that errno is as the caller left it.
#include <libxo/xo.h>

#include <cerrno>
#include <cstdlib>

#include "args.h"
#include "calls.h"
#include "diag.h"
#include "emit.h"
#include "frames.h"

using xo::Frame;
using xo::Handle;

namespace {

// Only the default handle exists.
Handle &handle(xo_handle_t *)
{
    return xo::default_handle();
}

// Runs f; returns what it returns, or fallback when it throws.
template <typename F, typename R>
R guarded(F f, R fallback)
{
    int saved = errno;
    R r;
    try {
        r = f();
    } catch (...) {
        r = fallback;
    }
    errno = saved;
    return r;
}

// The same for a call that writes: a failed write leaves its errno.
template <typename F>
xo_ssize_t guarded_write(F f)
{
    int error = 0;
    xo_ssize_t r = guarded(
        [&] {
            xo_ssize_t n = f();
            error = errno;
            return n;
        },
        xo_ssize_t{-1});
    if (r < 0 && error != 0)
        errno = error;
    return r;
}

template <typename F>
void guarded(F f)
{
    guarded([&] { f(); return 0; }, 0);
}

} // namespace

extern "C" {

void xo_set_flags(xo_handle_t *xop, xo_xof_flags_t flags)
{
    guarded([&] { handle(xop).flags |= flags; });
}

void xo_clear_flags(xo_handle_t *xop, xo_xof_flags_t flags)
{
    guarded([&] { handle(xop).flags &= ~flags; });
}

void xo_set_style(xo_handle_t *xop, xo_style_t style)
{
    guarded([&] {
        if (style <= XO_STYLE_HTML)
            handle(xop).style = style;
    });
}

xo_style_t xo_get_style(xo_handle_t *xop)
{
    return guarded([&] { return handle(xop).style; }, xo_style_t{XO_STYLE_TEXT});
}

int xo_parse_args(int argc, char **argv)
{
    return guarded([&] { return xo::parse_args(xo::default_handle(), argc, argv); }, -1);
}

void xo_set_program(const char *name)
{
    guarded([&] { xo::set_program(xo::default_handle(), name); });
}

void xo_set_version(const char *version)
{
    guarded([&] { xo::set_version(xo::default_handle(), version); });
}

xo_ssize_t xo_emit_hv(xo_handle_t *xop, const char *fmt, va_list vap)
{
    va_list ap;
    va_copy(ap, vap);
    xo_ssize_t n = guarded([&] { return xo::emit(handle(xop), fmt, &ap); }, xo_ssize_t{-1});
    va_end(ap);
    return n;
}

xo_ssize_t xo_emit(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    xo_ssize_t n = xo_emit_hv(NULL, fmt, ap);
    va_end(ap);
    return n;
}

#define XO_FRAME_CALL(fn, op, kind)                                                              \
    xo_ssize_t fn(const char *name)                                                              \
    {                                                                                            \
        return guarded([&] { return xo::op(xo::default_handle(), Frame::kind, name); }, xo_ssize_t{-1}); \
    }

XO_FRAME_CALL(xo_open_container, open_frame, CONTAINER)
XO_FRAME_CALL(xo_close_container, close_frame, CONTAINER)
XO_FRAME_CALL(xo_open_list, open_frame, LIST)
XO_FRAME_CALL(xo_close_list, close_frame, LIST)
XO_FRAME_CALL(xo_open_instance, open_frame, INSTANCE)
XO_FRAME_CALL(xo_close_instance, close_frame, INSTANCE)

xo_ssize_t xo_flush(void)
{
    return guarded_write([] { return xo::write_pending(xo::default_handle()); });
}

xo_ssize_t xo_finish(void)
{
    return guarded_write([] { return xo::finish(xo::default_handle()); });
}

void xo_warn(const char *fmt, ...)
{
    int error = errno;
    va_list ap;
    va_start(ap, fmt);
    guarded([&] { xo::warn_call(fmt, ap, &error); });
    va_end(ap);
}

void xo_warnx(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    guarded([&] { xo::warn_call(fmt, ap, nullptr); });
    va_end(ap);
}

void xo_err(int eval, const char *fmt, ...)
{
    int error = errno;
    va_list ap;
    va_start(ap, fmt);
    guarded([&] { xo::warn_call(fmt, ap, &error); });
    va_end(ap);
    xo_finish();
    exit(eval);
}

void xo_errx(int eval, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    guarded([&] { xo::warn_call(fmt, ap, nullptr); });
    va_end(ap);
    xo_finish();
    exit(eval);
}

void xo_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    guarded([&] { xo::error_call(xo::default_handle(), fmt, ap); });
    va_end(ap);
}

} // extern "C"
