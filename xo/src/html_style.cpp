/* SPDX-License-Identifier: BSD-2-Clause */
// HTML style: one div per displayed piece, one line div per output line.
#include "escape.h"
#include "style.h"

namespace xo {

namespace {

void newline_if_pretty(Handle &h)
{
    if (has(h, XOF_PRETTY))
        h.out.push_back('\n');
}

void open_line(Handle &h)
{
    if (h.line_open)
        return;
    h.line_open = true;
    h.out.append("<div class=\"line\">");
    newline_if_pretty(h);
}

void close_line(Handle &h)
{
    if (!h.line_open)
        return;
    h.line_open = false;
    h.out.append("</div>");
    newline_if_pretty(h);
}

// "/top/row[key='1']/name": where a value sits in the document.
void xpath(Handle &h, std::string_view name, bool key)
{
    h.out.append(" data-xpath=\"");
    std::string path = h.leading_xpath;
    for (size_t i = 0; i < h.stack.size(); i++) {
        const Frame &f = h.stack[i];
        // libxo names markers in the path too.
        if (f.kind == Frame::LIST || f.kind == Frame::LEAF_LIST)
            continue;
        // A key's own path has no predicate of its instance yet.
        bool own = key && i + 1 == h.stack.size();
        path += "/" + field_name(h, f.name) + (own ? std::string() : f.predicate);
    }
    path += "/";
    path += field_name(h, name);
    escape_html(h.out, path, true);
    h.out.push_back('"');
}

// XOF_INFO: the type and help text that xo_set_info gave for a name.
void info(Handle &h, std::string_view name)
{
    // A binary search, as libxo makes it: in the order the caller gave,
    // which it expects sorted.
    const xo_info_t *i = nullptr;
    for (size_t lo = 0, hi = h.info.size(); lo < hi && !i;) {
        size_t mid = (lo + hi) / 2;
        int cmp = name.compare(h.info[mid].xi_name);
        if (cmp < 0)
            hi = mid;
        else if (cmp > 0)
            lo = mid + 1;
        else
            i = &h.info[mid];
    }
    if (!i)
        return;
    if (i->xi_type && *i->xi_type) {
        h.out.append(" data-type=\"");
        escape_html(h.out, i->xi_type, true);
        h.out.push_back('"');
    }
    if (i->xi_help && *i->xi_help) {
        h.out.append(" data-help=\"");
        escape_html(h.out, i->xi_help, true);
        h.out.push_back('"');
    }
}

void div(Handle &h, const Piece &p)
{
    open_line(h);
    if (has(h, XOF_PRETTY))
        indent(h, 1);
    h.out.append("<div class=\"");
    h.out.append(p.cls);
    // Colors are classes of what they color.
    if (h.colors != Colors{})
        h.out.append(color_classes(h.colors));
    h.out.push_back('"');
    if (!p.tag.empty()) {
        h.out.append(" data-tag=\"");
        escape_html(h.out, field_name(h, p.tag), true);
        h.out.push_back('"');
        h.units_at = h.out.size();
        if (has(h, XOF_XPATH))
            xpath(h, p.tag, p.key);
        if (!p.number.empty()) {
            h.out.append(" data-number=\"");
            escape_html(h.out, p.number, true);
            h.out.push_back('"');
        }
        if (has(h, XOF_INFO))
            info(h, p.tag);
    }
    if (p.key && has(h, XOF_KEYS))
        h.out.append(" data-key=\"key\"");
    h.out.push_back('>');
    escape_html(h.out, p.text, false);
    h.out.append("</div>");
    newline_if_pretty(h);
}

void end_line(Handle &h)
{
    open_line(h);
    close_line(h);
}

void message(Handle &h, const std::string &msg)
{
    // The message ends the line it is written on.
    div(h, Piece{"message", msg, {}, false});
    close_line(h);
}

void error(Handle &h, const std::string &msg)
{
    // The error ends the line it is written on.
    div(h, Piece{"error", msg, {}, false});
    close_line(h);
    // libxo writes what it has at once.
    write_pending(h);
}

} // namespace

const StyleOps html_style = {
    nothing, nothing_frame, nothing_closed, nothing_leaf, div, open_line, nothing_colors, end_line, close_line,
    error, /* error_element */ false, message, /* instance_close_counts */ false,
    /* displays */ true, /* encodes */ false, Counted::SHOWN,
    /* xpath_keys */ true, /* percent_text */ true, /* attributes */ false, "data-units", /* empty_value */ "",
};

} // namespace xo
