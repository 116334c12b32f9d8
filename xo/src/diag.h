/* SPDX-License-Identifier: BSD-2-Clause */
// Diagnostics: the program's name, warnings and errors.
#ifndef XO_DIAG_H
#define XO_DIAG_H

#include <cstdarg>
#include <string>

#include "handle.h"

namespace xo {

// Sets the name that diagnostics start with.
void set_program(Handle &h, const char *name);

// "program: ", or nothing when the name is empty.  The name is the
// default handle's, for every handle.
const std::string &diag_prefix(Handle &h);
const std::string &program_name();

// A diagnostic of the library itself (bad formats, wrong closes), shown
// when the warn flag is set.
void libxo_warning(Handle &h, const std::string &msg);

// xo_warn, xo_warnx, xo_err, xo_errx: "program: message[: error]".
void user_warning(Handle &h, const char *fmt, va_list ap, const int *error);

// A call or feature that the layer does not have: warns (with XOF_WARN)
// "<what> is not supported"; returns -1, for the call to fail with.
int unsupported(Handle &h, const std::string &what);

void write_stderr(Handle &h, const std::string &text);

std::string vformat(const char *fmt, va_list ap);

} // namespace xo

#endif
