// The default handle, buffered output and the nesting of containers,
// lists and instances in each style.
#include "xo_internal.h"

#include <cstdio>
#include <cstdlib>

namespace xo {

namespace {

void flush_at_exit()
{
    try {
        write_pending(default_handle());
    } catch (...) {
    }
}

const char *kind_name(Frame::Kind k)
{
    switch (k) {
    case Frame::CONTAINER: return "container";
    case Frame::LIST: return "list";
    default: return "instance";
    }
}

// Removes the innermost frame and writes its end.
void pop_frame(Handle &h)
{
    Frame f = std::move(h.stack.back());
    h.stack.pop_back();
    bool pretty = has(h, XOF_PRETTY);
    if (h.style == XO_STYLE_JSON) {
        if (pretty) {
            h.out.push_back('\n');
            indent(h, json_depth(h));
        }
        h.out.push_back(f.json_object ? '}' : ']');
    } else if (h.style == XO_STYLE_XML && f.element) {
        if (pretty)
            indent(h, xml_depth(h));
        h.out.append("</");
        h.out.append(field_name(h, f.name));
        h.out.push_back('>');
        if (pretty)
            h.out.push_back('\n');
    }
}

} // namespace

Handle &default_handle()
{
    static Handle h;
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(flush_at_exit);
    }
    return h;
}

bool has(const Handle &h, xo_xof_flags_t f)
{
    return (h.flags & f) != 0;
}

void indent(Handle &h, size_t levels)
{
    h.out.append(levels * h.indent_width, ' ');
}

void start_output(Handle &h)
{
    // Anything written after xo_finish starts a new document.
    h.finished = false;
}

ssize_t write_pending(Handle &h)
{
    if (h.out.empty())
        return 0;
    size_t n = h.out.size();
    size_t w = fwrite(h.out.data(), 1, n, stdout);
    h.out.clear();
    if (fflush(stdout) != 0 || w != n)
        return -1;
    return static_cast<ssize_t>(n);
}

void after_call(Handle &h, bool saw_newline)
{
    if (has(h, XOF_FLUSH) || (saw_newline && has(h, XOF_FLUSH_LINE)) || h.out.size() >= 65536)
        write_pending(h);
}

size_t json_depth(const Handle &h)
{
    return h.stack.size() + (has(h, XOF_NO_TOP) ? 0 : 1);
}

size_t xml_depth(const Handle &h)
{
    size_t d = 0;
    for (const Frame &f : h.stack)
        d += f.element;
    return d;
}

void json_begin_document(Handle &h)
{
    if (!h.top_open) {
        h.top_open = true;
        if (!has(h, XOF_NO_TOP))
            h.out.push_back('{');
    }
}

void json_begin_item(Handle &h, bool opener)
{
    bool fresh = !h.top_open;
    json_begin_document(h);
    Level &lv = h.stack.empty() ? h.root : h.stack.back().level;
    bool pretty = has(h, XOF_PRETTY);
    if (lv.after_version) {
        h.out.append(", ");
        lv.after_version = false;
    } else if (!lv.first) {
        h.out.append(pretty || !opener ? "," : ", ");
    }
    lv.first = false;
    if (pretty) {
        if (!(fresh && has(h, XOF_NO_TOP)))
            h.out.push_back('\n');
        indent(h, json_depth(h));
    }
}

void html_open_line(Handle &h)
{
    if (h.line_open)
        return;
    h.line_open = true;
    h.out.append("<div class=\"line\">");
    if (has(h, XOF_PRETTY))
        h.out.push_back('\n');
}

void html_close_line(Handle &h)
{
    if (!h.line_open)
        return;
    h.line_open = false;
    h.out.append("</div>");
    if (has(h, XOF_PRETTY))
        h.out.push_back('\n');
}

ssize_t open_frame(Handle &h, Frame::Kind kind, const char *name)
{
    if (!name || !*name) {
        libxo_warning(h, std::string("open of a ") + kind_name(kind) + " without a name");
        return -1;
    }
    start_output(h);
    size_t before = h.out.size();
    Frame f{kind, false, true, name, Level{}};
    bool in_list = !h.stack.empty() && h.stack.back().kind == Frame::LIST;
    bool pretty = has(h, XOF_PRETTY);
    if (h.style == XO_STYLE_JSON) {
        json_begin_item(h, true);
        if (kind == Frame::INSTANCE && in_list) {
            h.out.push_back('{');
        } else {
            // An instance outside a list is written as a member object.
            h.out.push_back('"');
            escape_json(h.out, field_name(h, f.name));
            h.out.append(kind == Frame::LIST ? "\": [" : "\": {");
            f.json_object = kind != Frame::LIST;
        }
    } else if (h.style == XO_STYLE_XML && kind != Frame::LIST) {
        f.element = true;
        size_t depth = xml_depth(h);
        if (pretty)
            indent(h, depth);
        h.out.push_back('<');
        h.out.append(field_name(h, f.name));
        if (depth == 0 && h.version_pending) {
            h.version_pending = false;
            h.out.append(" version=\"");
            escape_xml(h.out, h.version, true);
            h.out.push_back('"');
        }
        h.out.push_back('>');
        if (pretty)
            h.out.push_back('\n');
    }
    h.stack.push_back(std::move(f));
    ssize_t n = static_cast<ssize_t>(h.out.size() - before);
    after_call(h, false);
    return n;
}

ssize_t close_frame(Handle &h, Frame::Kind kind, const char *name)
{
    bool any = !name || !*name;
    size_t i = h.stack.size();
    while (i > 0) {
        const Frame &f = h.stack[i - 1];
        if (f.kind == kind && (any || f.name == name))
            break;
        i--;
    }
    if (i == 0) {
        libxo_warning(h, std::string("close of ") + kind_name(kind) + " '" + (any ? "" : name) +
                             "' that is not open");
        return -1;
    }
    start_output(h);
    size_t before = h.out.size();
    while (h.stack.size() > i) {
        const Frame &inner = h.stack.back();
        libxo_warning(h, std::string("close of ") + kind_name(kind) + " '" + h.stack[i - 1].name +
                             "' also closes " + kind_name(inner.kind) + " '" + inner.name + "'");
        pop_frame(h);
    }
    pop_frame(h);
    ssize_t n = static_cast<ssize_t>(h.out.size() - before);
    after_call(h, false);
    return n;
}

ssize_t finish(Handle &h)
{
    if (!h.finished) {
        while (!h.stack.empty())
            pop_frame(h);
        switch (h.style) {
        case XO_STYLE_JSON:
            if (h.top_open) {
                if (!has(h, XOF_NO_TOP))
                    h.out.append(has(h, XOF_PRETTY) ? "\n}\n" : "}\n");
                else
                    h.out.push_back('\n');
            } else if (!has(h, XOF_NO_TOP)) {
                h.out.append("{ }\n");
            }
            break;
        case XO_STYLE_HTML:
            html_close_line(h);
            break;
        default:
            break;
        }
        h.top_open = false;
        h.root = Level{};
        h.finished = true;
    }
    return write_pending(h);
}

} // namespace xo
