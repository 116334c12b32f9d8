/* SPDX-License-Identifier: BSD-2-Clause */
// Containers, lists and instances: their nesting, and xo_finish.
#ifndef XO_FRAMES_H
#define XO_FRAMES_H

#include <string>
#include <string_view>

#include "handle.h"

namespace xo {

// Writes the start of a frame and makes it the innermost.
void push_frame(Handle &h, Frame::Kind kind, const char *name);
// Writes the end of the innermost frame and removes it.
void pop_frame(Handle &h);

// xo_open_* and xo_close_* (markers too): return the bytes written, or
// -1.  A frame opened with dtrt may be closed without its name.
ssize_t open_frame(Handle &h, Frame::Kind kind, const char *name, bool dtrt = false);
ssize_t close_frame(Handle &h, Frame::Kind kind, const char *name);

// The leaf list that an 'l' field's value goes into, opened if needed;
// leaving it closes it.
void enter_leaf_list(Handle &h, std::string_view name);
void leave_leaf_list(Handle &h);

// Whether a name can be an XML element name as it is; warns if not (the
// XML style then puts an underscore before it).
bool xml_name_ok(Handle &h, std::string_view name);

// xo_error in the encoding styles: an "error" object holding the message.
// As libxo does, it ends the list it interrupts.
void error_element(Handle &h, const std::string &msg);

// xo_finish: closes what is open, ends the document, writes it out.
ssize_t finish(Handle &h);

} // namespace xo

#endif
