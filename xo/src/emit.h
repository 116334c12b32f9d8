/* SPDX-License-Identifier: BSD-2-Clause */
// xo_emit.
#ifndef XO_EMIT_H
#define XO_EMIT_H

#include <cstdarg>

#include "handle.h"

namespace xo {

// Writes the fields and text of fmt in the handle's style; returns the
// columns written when XOF_COLUMNS is set, otherwise those of humanized
// values (as libxo does, usually 0); -1 on an error.
// ap may be null for a format that takes no arguments.  With carry, the
// columns of the calls since the last one without carry are added in (as
// libxo counts xo_emit_field calls).
ssize_t emit(Handle &h, const char *fmt, va_list *ap, bool carry = false);

// The same with the arguments given here.
ssize_t emit_args(Handle &h, const char *fmt, ...);

} // namespace xo

#endif
