// Containers, lists and instances: their nesting, and xo_finish.
#ifndef XO_FRAMES_H
#define XO_FRAMES_H

#include "handle.h"

namespace xo {

// Writes the start of a frame and makes it the innermost.
void push_frame(Handle &h, Frame::Kind kind, const char *name);
// Writes the end of the innermost frame and removes it.
void pop_frame(Handle &h);

// xo_open_* and xo_close_*: return the bytes written, or -1.
ssize_t open_frame(Handle &h, Frame::Kind kind, const char *name);
ssize_t close_frame(Handle &h, Frame::Kind kind, const char *name);

// xo_error in the encoding styles: an "error" object holding the message.
// As libxo does, it ends the list it interrupts.
void error_element(Handle &h, const std::string &msg);

// xo_finish: closes what is open, ends the document, writes it out.
ssize_t finish(Handle &h);

} // namespace xo

#endif
