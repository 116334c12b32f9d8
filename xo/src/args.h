// --libxo command-line options.
#ifndef XO_ARGS_H
#define XO_ARGS_H

#include "handle.h"

namespace xo {

// xo_parse_args: takes the --libxo options out of argv; returns the new
// argc, or -1 when an option is wrong.
int parse_args(Handle &h, int argc, char **argv);

} // namespace xo

#endif
