// What the C entry points do, apart from guarding against exceptions.
#ifndef XO_CALLS_H
#define XO_CALLS_H

#include <cstdarg>

#include "handle.h"

namespace xo {

void set_version(Handle &h, const char *version);
// xo_warn and friends; error is the errno text to add, if any.
void warn_call(const char *fmt, va_list ap, const int *error);
// xo_error: on standard error in text style, an error element otherwise.
void error_call(Handle &h, const char *fmt, va_list ap);

} // namespace xo

#endif
