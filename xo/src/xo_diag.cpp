/* SPDX-License-Identifier: BSD-2-Clause */
// The C interface, part three: errors, warnings, messages and syslog.
#include <libxo/xo.h>

#include "boundary.h"
#include "calls.h"
#include "diag.h"

using xo::guarded;
using xo::handle;

namespace {

// The document so far goes out before the program ends.
[[noreturn]] void end_program(int eval)
{
    xo_finish();
    exit(eval);
}

} // namespace

extern "C" {

void xo_error_hv(xo_handle_t *xop, const char *fmt, va_list vap)
{
    xo_errorn_hv(xop, 0, fmt, vap);
}

void xo_error_h(xo_handle_t *xop, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    xo_errorn_hv(xop, 0, fmt, ap);
    va_end(ap);
}

void xo_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    xo_errorn_hv(NULL, 0, fmt, ap);
    va_end(ap);
}

void xo_errorn_hv(xo_handle_t *xop, int need_newline, const char *fmt, va_list vap)
{
    va_list ap;
    va_copy(ap, vap);
    guarded([&] { xo::error_call(handle(xop), fmt, ap, need_newline != 0); });
    va_end(ap);
}

void xo_errorn_h(xo_handle_t *xop, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    xo_errorn_hv(xop, 1, fmt, ap);
    va_end(ap);
}

void xo_errorn(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    xo_errorn_hv(NULL, 1, fmt, ap);
    va_end(ap);
}

void xo_warn_hcv(xo_handle_t *xop, int code, int check_warn, const char *fmt, va_list vap)
{
    va_list ap;
    va_copy(ap, vap);
    guarded([&] {
        xo::Handle &h = handle(xop);
        if (!check_warn || xo::has(h, XOF_WARN))
            xo::warn_call(h, code, fmt, ap);
    });
    va_end(ap);
}

#define XO_WARN_BODY(xop, code, last)     \
    va_list ap;                           \
    va_start(ap, last);                   \
    xo_warn_hcv(xop, code, 0, fmt, ap);   \
    va_end(ap)

void xo_warn_hc(xo_handle_t *xop, int code, const char *fmt, ...)
{
    XO_WARN_BODY(xop, code, fmt);
}

void xo_warn_c(int code, const char *fmt, ...)
{
    XO_WARN_BODY(NULL, code, fmt);
}

void xo_warn(const char *fmt, ...)
{
    int code = errno;
    XO_WARN_BODY(NULL, code, fmt);
}

void xo_warnx(const char *fmt, ...)
{
    XO_WARN_BODY(NULL, -1, fmt);
}

void xo_err(int eval, const char *fmt, ...)
{
    int code = errno;
    XO_WARN_BODY(NULL, code, fmt);
    end_program(eval);
}

void xo_errx(int eval, const char *fmt, ...)
{
    XO_WARN_BODY(NULL, -1, fmt);
    end_program(eval);
}

void xo_errc(int eval, int code, const char *fmt, ...)
{
    XO_WARN_BODY(NULL, code, fmt);
    end_program(eval);
}

void xo_message_hcv(xo_handle_t *xop, int code, const char *fmt, va_list vap)
{
    va_list ap;
    va_copy(ap, vap);
    guarded([&] { xo::message_call(handle(xop), code, fmt, ap); });
    va_end(ap);
}

#define XO_MESSAGE_BODY(xop, code)         \
    va_list ap;                            \
    va_start(ap, fmt);                     \
    xo_message_hcv(xop, code, fmt, ap);    \
    va_end(ap)

void xo_message_hc(xo_handle_t *xop, int code, const char *fmt, ...)
{
    XO_MESSAGE_BODY(xop, code);
}

void xo_message_c(int code, const char *fmt, ...)
{
    XO_MESSAGE_BODY(NULL, code);
}

void xo_message_e(const char *fmt, ...)
{
    int code = errno;
    XO_MESSAGE_BODY(NULL, code);
}

void xo_message(const char *fmt, ...)
{
    XO_MESSAGE_BODY(NULL, 0);
}

void xo_emit_warn_hcv(xo_handle_t *xop, int as_warning, int code, const char *fmt, va_list vap)
{
    va_list ap;
    va_copy(ap, vap);
    guarded([&] { xo::emit_warn_call(handle(xop), as_warning != 0, code, fmt, ap); });
    va_end(ap);
}

#define XO_EMIT_WARN_BODY(xop, as_warning, code) \
    va_list ap;                                  \
    va_start(ap, fmt);                           \
    xo_emit_warn_hcv(xop, as_warning, code, fmt, ap); \
    va_end(ap)

void xo_emit_warn_hc(xo_handle_t *xop, int code, const char *fmt, ...)
{
    XO_EMIT_WARN_BODY(xop, 1, code);
}

void xo_emit_warn_c(int code, const char *fmt, ...)
{
    XO_EMIT_WARN_BODY(NULL, 1, code);
}

void xo_emit_warn(const char *fmt, ...)
{
    int code = errno;
    XO_EMIT_WARN_BODY(NULL, 1, code);
}

void xo_emit_warnx(const char *fmt, ...)
{
    XO_EMIT_WARN_BODY(NULL, 1, -1);
}

void xo_emit_err(int eval, const char *fmt, ...)
{
    int code = errno;
    XO_EMIT_WARN_BODY(NULL, 0, code);
    end_program(eval);
}

void xo_emit_errx(int eval, const char *fmt, ...)
{
    XO_EMIT_WARN_BODY(NULL, 0, -1);
    end_program(eval);
}

void xo_emit_errc(int eval, int code, const char *fmt, ...)
{
    XO_EMIT_WARN_BODY(NULL, 0, code);
    end_program(eval);
}

void xo_emit_err_v(int eval, int code, const char *fmt, va_list vap)
{
    xo_emit_warn_hcv(NULL, 0, code, fmt, vap);
    end_program(eval);
}

// Syslog is not part of the layer: each call says so (with XOF_WARN) and
// sends nothing.
void xo_open_log(const char *, int, int)
{
    guarded([&] { xo::unsupported(xo::default_handle(), "xo_open_log"); });
}

void xo_close_log(void)
{
    guarded([&] { xo::unsupported(xo::default_handle(), "xo_close_log"); });
}

int xo_set_logmask(int)
{
    return guarded([&] { return xo::unsupported(xo::default_handle(), "xo_set_logmask"); }, -1);
}

void xo_set_unit_test_mode(int)
{
    guarded([&] { xo::unsupported(xo::default_handle(), "xo_set_unit_test_mode"); });
}

void xo_syslog(int, const char *, const char *, ...)
{
    guarded([&] { xo::unsupported(xo::default_handle(), "xo_syslog"); });
}

void xo_vsyslog(int, const char *, const char *, va_list)
{
    guarded([&] { xo::unsupported(xo::default_handle(), "xo_vsyslog"); });
}

void xo_set_syslog_handler(xo_syslog_open_t, xo_syslog_send_t, xo_syslog_close_t)
{
    guarded([&] { xo::unsupported(xo::default_handle(), "xo_set_syslog_handler"); });
}

void xo_set_syslog_enterprise_id(unsigned short)
{
    guarded([&] { xo::unsupported(xo::default_handle(), "xo_set_syslog_enterprise_id"); });
}

} // extern "C"
