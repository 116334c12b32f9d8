/*
 * Bundled libxo-compatible output library: the subset of libxo's C
 * interface that stalewatch uses.  Usable from C and from C++, with or
 * without an enclosing extern "C" block.
 */
#ifndef XO_H
#define XO_H

#include <stdarg.h>
#include <stdio.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct xo_handle_s xo_handle_t;
typedef unsigned long long xo_xof_flags_t;
typedef unsigned xo_style_t;
typedef ssize_t xo_ssize_t;

#define XOF_BIT(n) ((xo_xof_flags_t)1 << (n))

#define XOF_CLOSE_FP XOF_BIT(0)
#define XOF_PRETTY XOF_BIT(1)
#define XOF_LOG_SYSLOG XOF_BIT(2)
#define XOF_WARN XOF_BIT(4)
#define XOF_XPATH XOF_BIT(5)
#define XOF_INFO XOF_BIT(6)
#define XOF_WARN_XML XOF_BIT(7)
#define XOF_NO_ENV XOF_BIT(8)
#define XOF_NO_VA_ARG XOF_BIT(9)
#define XOF_DTRT XOF_BIT(10)
#define XOF_KEYS XOF_BIT(11)
#define XOF_IGNORE_CLOSE XOF_BIT(12)
#define XOF_NOT_FIRST XOF_BIT(13)
#define XOF_NO_LOCALE XOF_BIT(14)
#define XOF_NO_TOP XOF_BIT(16)
#define XOF_UNITS XOF_BIT(18)
#define XOF_UNDERSCORES XOF_BIT(20)
#define XOF_COLUMNS XOF_BIT(21)
#define XOF_FLUSH XOF_BIT(22)
#define XOF_FLUSH_LINE XOF_BIT(23)
#define XOF_NO_CLOSE XOF_BIT(24)
#define XOF_COLOR_ALLOWED XOF_BIT(25)
#define XOF_COLOR XOF_BIT(26)
#define XOF_NO_HUMANIZE XOF_BIT(27)
#define XOF_LOG_GETTEXT XOF_BIT(28)
#define XOF_UTF8 XOF_BIT(29)
#define XOF_RETAIN_ALL XOF_BIT(30)
#define XOF_RETAIN_NONE XOF_BIT(31)

#define XO_STYLE_TEXT 0
#define XO_STYLE_XML 1
#define XO_STYLE_JSON 2
#define XO_STYLE_HTML 3

#if defined(__GNUC__) || defined(__clang__)
#define XO_PRINTFLIKE(f, a) __attribute__((format(printf, f, a)))
#define XO_NORETURN __attribute__((noreturn))
#else
#define XO_PRINTFLIKE(f, a)
#define XO_NORETURN
#endif

void xo_set_flags(xo_handle_t *xop, xo_xof_flags_t flags);
void xo_clear_flags(xo_handle_t *xop, xo_xof_flags_t flags);
void xo_set_style(xo_handle_t *xop, xo_style_t style);
xo_style_t xo_get_style(xo_handle_t *xop);
int xo_parse_args(int argc, char **argv);
void xo_set_program(const char *name);
void xo_set_version(const char *version);

xo_ssize_t xo_emit(const char *fmt, ...);
xo_ssize_t xo_emit_hv(xo_handle_t *xop, const char *fmt, va_list vap);

xo_ssize_t xo_open_container(const char *name);
xo_ssize_t xo_close_container(const char *name);
xo_ssize_t xo_open_list(const char *name);
xo_ssize_t xo_close_list(const char *name);
xo_ssize_t xo_open_instance(const char *name);
xo_ssize_t xo_close_instance(const char *name);

xo_ssize_t xo_flush(void);
xo_ssize_t xo_finish(void);

void xo_warn(const char *fmt, ...) XO_PRINTFLIKE(1, 2);
void xo_warnx(const char *fmt, ...) XO_PRINTFLIKE(1, 2);
void xo_err(int eval, const char *fmt, ...) XO_PRINTFLIKE(2, 3) XO_NORETURN;
void xo_errx(int eval, const char *fmt, ...) XO_PRINTFLIKE(2, 3) XO_NORETURN;
void xo_error(const char *fmt, ...) XO_PRINTFLIKE(1, 2);

#ifdef __cplusplus
}
#endif

#endif /* XO_H */
