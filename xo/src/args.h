/* SPDX-License-Identifier: BSD-2-Clause */
// --libxo command-line options.
#ifndef XO_ARGS_H
#define XO_ARGS_H

#include "handle.h"

namespace xo {

// xo_parse_args: takes the --libxo options out of argv; returns the new
// argc, or -1 when an option is wrong.
int parse_args(Handle &h, int argc, char **argv);

// xo_set_options: the options of one --libxo argument; 0, or -1 when one
// is wrong.
int set_options(Handle &h, const char *input);

// Sets the style named text, xml, json or html; false for another name.
bool set_style_name(Handle &h, const char *name);

} // namespace xo

#endif
