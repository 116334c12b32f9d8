/* SPDX-License-Identifier: BSD-2-Clause */
// Field renaming: the map and map-file options, xo_map_add and
// xo_map_add_file.
#ifndef XO_NAMES_H
#define XO_NAMES_H

#include <string_view>

#include "handle.h"

namespace xo {

// Names "from" as "to" in the encoded output; the last mapping of a name
// wins.
void add_name(Handle &h, std::string_view from, std::string_view to);

// "from=to:from=to": an empty entry ends the list; returns false (having
// added nothing more) at an entry without a name before its '='.
bool add_names(Handle &h, std::string_view list);

// A file of "from=to" lines, with blank lines and '#' comments; returns
// false when it cannot be read or is over a megabyte.
bool add_names_file(Handle &h, const char *path);

} // namespace xo

#endif
