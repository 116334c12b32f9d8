// xo_emit.
#ifndef XO_EMIT_H
#define XO_EMIT_H

#include <cstdarg>

#include "handle.h"

namespace xo {

// Writes the fields and text of fmt in the handle's style; returns the
// columns written when XOF_COLUMNS is set, 0 otherwise, -1 on an error.
ssize_t emit(Handle &h, const char *fmt, va_list *ap);

} // namespace xo

#endif
