/* SPDX-License-Identifier: BSD-2-Clause */
// What the C entry points do, apart from guarding against exceptions.
#ifndef XO_CALLS_H
#define XO_CALLS_H

#include <cstdarg>

#include "handle.h"

namespace xo {

void set_version(Handle &h, const char *version);
// xo_warn and friends: "program: message", with ": " and the text of
// error code when code >= 0.
void warn_call(Handle &h, int code, const char *fmt, va_list ap);
// xo_error: on standard error in text style, an error element otherwise;
// with need_newline the message ends with a newline.
void error_call(Handle &h, const char *fmt, va_list ap, bool need_newline = false);
// xo_message: a line of the output (none in JSON), with the text of
// error code when code > 0.
void message_call(Handle &h, int code, const char *fmt, va_list ap);
// xo_emit_warn and friends: a warning or error made from an xo_emit
// format: on standard error in text style, a "__warning" or "__error"
// element in XML and JSON, a line in HTML.
void emit_warn_call(Handle &h, bool as_warning, int code, const char *fmt, va_list ap);
// xo_attr: an attribute of the next XML element; returns its length
// (plus one, as libxo returns it), 0 in the other styles.
ssize_t attr_call(Handle &h, const char *name, const char *fmt, va_list ap);

} // namespace xo

#endif
