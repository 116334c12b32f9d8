/* SPDX-License-Identifier: BSD-2-Clause */
// The state of an output handle: style, flags, the open containers, lists
// and instances, and the output not yet written.
#ifndef XO_HANDLE_H
#define XO_HANDLE_H

#include <libxo/xo.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "colors.h"

namespace xo {

// libxo's flag for its own debugging output; accepted, no effect here.
constexpr xo_xof_flags_t flag_debug = XOF_DEBUG;

// Where the next member of a JSON object or array goes.
struct Level {
    bool first = true;          // nothing written inside yet
    bool after_version = false; // the last member was __version
    bool saw_value = false;     // a value field that is not a key was written
};

struct Frame {
    // A marker is written nothing for: closes do not reach past it.  A
    // leaf list holds the values of an 'l' field.
    enum Kind : unsigned char { CONTAINER, LIST, INSTANCE, MARKER, LEAF_LIST };
    Kind kind;
    std::string name;
    Level level;
    bool json_object = true; // JSON: written as an object (not an array)
    bool element = false;    // XML: written as an element
    std::string predicate;   // HTML xpath: the key fields of an instance
    bool dtrt = false;       // opened by an _d call: closes without a name
};

// Where a handle's output goes: a FILE, or the functions of xo_set_writer.
struct Writer {
    FILE *fp = stdout;
    void *opaque = nullptr;
    xo_write_func_t write = nullptr;
    xo_close_func_t close = nullptr;
    xo_flush_func_t flush = nullptr;
};

struct Handle {
    xo_style_t style = XO_STYLE_TEXT;
    xo_xof_flags_t flags = 0;
    unsigned indent_width = 2;

    std::string out;          // output not yet written to stdout
    std::vector<Frame> stack; // open containers, lists and instances
    Level root;               // the outermost level
    bool top_open = false;    // JSON: the outermost "{" is written
    bool line_open = false;   // HTML: a line div is open
    bool finished = false;    // xo_finish ran, nothing written since
    int write_error = 0;      // errno of the first failed write, kept
    bool version_pending = false; // XML: attribute for the next top element
    std::string version;

    // What an open or close returns is what it wrote, corrected by this:
    // libxo counts some of its bytes differently.
    ssize_t count_adjust = 0;
    size_t columns_carried = 0; // xo_emit_field's columns add up

    std::string program;      // name used in diagnostics, if any
    std::string prefix;       // "program: ", built when the name is set

    Writer writer;
    std::vector<xo_info_t> info; // xo_set_info
    std::string attrs;        // XML: attributes for the next element
    size_t units_at = 0;      // XML, HTML: where the last value's units go
    std::map<std::string, std::string, std::less<>> names; // map options
    std::string leading_xpath; // HTML xpath: put before every path
    Colors colors;            // what color fields set (with XOF_COLOR)
};

Handle &default_handle();

// xo_no_setlocale: the default handle leaves the locale alone.
void skip_setlocale();

inline bool has(const Handle &h, xo_xof_flags_t f)
{
    return (h.flags & f) != 0;
}

// The level that the next member or element goes into (markers are not
// levels of the document).
inline Level &current_level(Handle &h)
{
    for (size_t i = h.stack.size(); i > 0; i--)
        if (h.stack[i - 1].kind != Frame::MARKER)
            return h.stack[i - 1].level;
    return h.root;
}

inline bool in_list(const Handle &h)
{
    return !h.stack.empty() && h.stack.back().kind == Frame::LIST;
}

void indent(Handle &h, size_t levels);

// Anything written after xo_finish starts a new document.
inline void start_output(Handle &h)
{
    h.finished = false;
}

// Writes the pending output; returns its size, or -1 when it failed.
ssize_t write_pending(Handle &h);

// Writes the pending output when the flush flags ask for it.
void after_call(Handle &h, bool saw_newline);

// A name as it appears in the encoding styles: renamed by the map
// options, dashes made underscores when asked (JSON).
std::string field_name(const Handle &h, std::string_view name);

// Releases what the handle holds: its writer, and the FILE with
// XOF_CLOSE_FP.
void close_output(Handle &h);

} // namespace xo

#endif
