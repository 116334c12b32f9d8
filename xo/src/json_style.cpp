/* SPDX-License-Identifier: BSD-2-Clause */
// JSON style: an object around the document (unless no-top), members
// separated as libxo separates them.
#include "escape.h"
#include "style.h"

namespace xo {

namespace {

// Markers are not written: they take no indent.
size_t depth(const Handle &h)
{
    size_t d = has(h, XOF_NO_TOP) ? 0 : 1;
    for (const Frame &f : h.stack)
        d += f.kind != Frame::MARKER;
    return d;
}

void write_version(Handle &h)
{
    h.version_pending = false;
    if (has(h, XOF_PRETTY)) {
        h.out.push_back('\n');
        indent(h, 1);
    }
    h.out.append("\"__version\": \"");
    escape_json(h.out, h.version);
    h.out.push_back('"');
    h.root.first = false;
    h.root.after_version = true;
}

// Starts the next member or array element at the current level.
// What libxo returns for an open leaves out the document's start, the
// version and the separator after it, and counts one byte more after a
// separator in pretty output.
void begin_item(Handle &h, bool opener)
{
    bool fresh = !h.top_open;
    size_t start = h.out.size();
    if (fresh) {
        h.top_open = true;
        if (!has(h, XOF_NO_TOP))
            h.out.push_back('{');
        if (h.version_pending)
            write_version(h);
    }
    Level &lv = current_level(h);
    bool pretty = has(h, XOF_PRETTY);
    if (lv.after_version) {
        h.out.append(", ");
        lv.after_version = false;
    }
    h.count_adjust -= static_cast<ssize_t>(h.out.size() - start);
    if (!lv.first && h.out.size() == start) {
        h.out.append(pretty || !opener ? "," : ", ");
        h.count_adjust += pretty;
    }
    lv.first = false;
    if (pretty) {
        if (!(fresh && has(h, XOF_NO_TOP)))
            h.out.push_back('\n');
        else
            h.count_adjust++; // libxo counts the newline it leaves out
        indent(h, depth(h));
    }
}

void quoted_name(Handle &h, std::string_view name)
{
    h.out.push_back('"');
    escape_json(h.out, field_name(h, name));
    h.out.push_back('"');
}

void version(Handle &h)
{
    // The first member of the outer object, once there is one; without
    // that object there is nowhere for it to go.
    h.version_pending = !has(h, XOF_NO_TOP);
}

// Inside an array, members have no names.
bool in_array(const Handle &h)
{
    for (size_t i = h.stack.size(); i > 0; i--)
        if (h.stack[i - 1].kind != Frame::MARKER)
            return !h.stack[i - 1].json_object;
    return false;
}

void open(Handle &h, Frame &f)
{
    bool element = in_array(h);
    bool array = f.kind == Frame::LIST || f.kind == Frame::LEAF_LIST;
    begin_item(h, true);
    f.json_object = !array;
    if (element) {
        h.out.push_back(array ? '[' : '{');
        return;
    }
    quoted_name(h, f.name);
    h.out.append(array ? ": [" : ": {");
}

void close(Handle &h, const Frame &f)
{
    if (has(h, XOF_PRETTY)) {
        // libxo leaves a blank line in an empty object, not in an array.
        if (f.json_object && f.level.first) {
            h.out.push_back('\n');
            h.count_adjust--; // not counted by libxo
        }
        h.out.push_back('\n');
        indent(h, depth(h));
    }
    h.out.push_back(f.json_object ? '}' : ']');
}

void leaf(Handle &h, const Leaf &v)
{
    begin_item(h, false);
    if (!in_array(h)) {
        quoted_name(h, v.name);
        h.out.append(has(h, XOF_PRETTY) ? ": " : ":");
    }
    if (v.quoted)
        h.out.push_back('"');
    escape_json(h.out, v.value);
    if (v.quoted)
        h.out.push_back('"');
}

void finish(Handle &h)
{
    if (has(h, XOF_NO_TOP))
        ;
    else if (!h.top_open)
        h.out.append("{ }\n");
    else
        h.out.append(has(h, XOF_PRETTY) ? "\n}\n" : "}\n");
    h.top_open = false;
    h.root = Level{};
}

void error(Handle &h, const std::string &)
{
    // A version not yet written is dropped; the error object follows an
    // interrupted array as a member of the enclosing object.
    h.version_pending = false;
}

} // namespace

const StyleOps json_style = {
    version, open, close, leaf, nothing_piece, nothing, nothing_colors, nothing, finish,
    error, /* error_element */ true, nothing_error, /* instance_close_counts */ true,
    /* displays */ false, /* encodes */ true, Counted::ENCODED,
    /* xpath_keys */ false, /* percent_text */ false, /* attributes */ false, nullptr, /* empty_value */ "true",
};

} // namespace xo
