/* SPDX-License-Identifier: BSD-2-Clause */
// XML style: containers and instances are elements, lists are not.
#include <cctype>

#include "escape.h"
#include "style.h"

namespace xo {

namespace {

size_t depth(const Handle &h)
{
    size_t d = 0;
    for (const Frame &f : h.stack)
        d += f.element;
    return d;
}

void start_line(Handle &h)
{
    if (has(h, XOF_PRETTY))
        indent(h, depth(h));
}

void end_line(Handle &h)
{
    if (has(h, XOF_PRETTY))
        h.out.push_back('\n');
}

// An element's name: one that cannot start an XML name gets an
// underscore before it, as libxo writes it.
std::string tag_of(const Handle &h, std::string_view name)
{
    std::string tag = field_name(h, name);
    if (!tag.empty() && !std::isalpha(static_cast<unsigned char>(tag[0])) && tag[0] != '_')
        tag.insert(tag.begin(), '_');
    return tag;
}

// Attributes set with xo_attr go on the next element.
void pending_attributes(Handle &h)
{
    h.out.append(h.attrs);
    h.attrs.clear();
}

void version(Handle &h)
{
    // An attribute of the next element, whatever its depth.
    h.version_pending = true;
}

void version_attribute(Handle &h)
{
    if (!h.version_pending)
        return;
    h.version_pending = false;
    h.out.append(" version=\"");
    escape_xml(h.out, h.version, true);
    h.out.push_back('"');
}

void open(Handle &h, Frame &f)
{
    if (f.kind != Frame::CONTAINER && f.kind != Frame::INSTANCE)
        return;
    f.element = true;
    start_line(h);
    h.out.push_back('<');
    h.out.append(tag_of(h, f.name));
    version_attribute(h);
    pending_attributes(h);
    h.out.push_back('>');
    end_line(h);
}

void close(Handle &h, const Frame &f)
{
    if (!f.element)
        return;
    start_line(h);
    h.out.append("</");
    h.out.append(tag_of(h, f.name));
    h.out.push_back('>');
    end_line(h);
}

void leaf(Handle &h, const Leaf &v)
{
    start_line(h);
    std::string tag = tag_of(h, v.name);
    h.out.push_back('<');
    h.out.append(tag);
    h.units_at = h.out.size();
    version_attribute(h);
    pending_attributes(h);
    if (v.key && has(h, XOF_KEYS))
        h.out.append(" key=\"key\"");
    h.out.push_back('>');
    escape_xml(h.out, v.value, false);
    h.out.append("</");
    h.out.append(tag);
    h.out.push_back('>');
    end_line(h);
}

void message(Handle &h, const std::string &msg)
{
    // libxo indents a message one level, at any depth.
    if (has(h, XOF_PRETTY))
        indent(h, 1);
    h.out.append("<message>");
    escape_xml(h.out, msg, false);
    h.out.append("</message>");
    end_line(h);
}

} // namespace

const StyleOps xml_style = {
    version, open, close, leaf, nothing_piece, nothing, nothing_colors, nothing, nothing,
    nothing_error, /* error_element */ true, message, /* instance_close_counts */ true,
    /* displays */ false, /* encodes */ true, Counted::ENCODED,
    /* xpath_keys */ false, /* percent_text */ false, /* attributes */ true, "units", /* empty_value */ "",
};

} // namespace xo
