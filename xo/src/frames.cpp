/* SPDX-License-Identifier: BSD-2-Clause */
// Containers, lists, instances, markers and leaf lists: their nesting,
// and xo_finish.
#include "frames.h"

#include <cctype>

#include "diag.h"
#include "style.h"

namespace xo {

namespace {

const char *kind_name(Frame::Kind k)
{
    switch (k) {
    case Frame::CONTAINER: return "container";
    case Frame::LIST: return "list";
    case Frame::MARKER: return "marker";
    case Frame::LEAF_LIST: return "leaf_list";
    default: return "instance";
    }
}

bool top_is(const Handle &h, Frame::Kind kind)
{
    return !h.stack.empty() && h.stack.back().kind == kind;
}

// What a new frame of this kind ends first, as libxo does: a list cannot
// hold a list or a container, an instance ends the instance it would sit
// in directly (whatever its name: it joins that list), and nothing nests
// in a leaf list.
void make_room(Handle &h, Frame::Kind kind, const char *name)
{
    if (top_is(h, Frame::LEAF_LIST))
        pop_frame(h);
    if ((kind == Frame::LIST || kind == Frame::CONTAINER) && in_list(h))
        pop_frame(h);
    if (kind == Frame::INSTANCE && top_is(h, Frame::INSTANCE))
        pop_frame(h);
    // An instance outside a list gets a list of its own name.
    if (kind == Frame::INSTANCE && !in_list(h))
        push_frame(h, Frame::LIST, name);
}

bool matches(const Frame &f, Frame::Kind kind, const char *name)
{
    return f.kind == kind && (!name || !*name || f.name == name);
}

void warn_unmatched(Handle &h, Frame::Kind kind, const std::string &shown)
{
    if (h.stack.empty() && kind == Frame::CONTAINER)
        libxo_warning(h, "close with empty stack: '" + shown + "'");
    else if (h.stack.empty() && kind == Frame::INSTANCE)
        libxo_warning(h, "xo_close_instance ignored when called from initial state ('" + shown + "')");
    else if (kind == Frame::MARKER)
        libxo_warning(h, "xo_marker can't find match for '" + shown + "'");
    else
        libxo_warning(h, std::string("xo_close_") + kind_name(kind) + " can't find match for '" + shown + "'");
}

} // namespace

bool xml_name_ok(Handle &h, std::string_view name)
{
    if (name.empty() || std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')
        return true;
    libxo_warning(h, "invalid XML tag name: '" + std::string(name) + "'");
    return false;
}

void push_frame(Handle &h, Frame::Kind kind, const char *name)
{
    Frame f;
    f.kind = kind;
    f.name = name;
    if (kind != Frame::MARKER)
        style_of(h).open(h, f);
    h.stack.push_back(std::move(f));
}

void pop_frame(Handle &h)
{
    Frame f = std::move(h.stack.back());
    h.stack.pop_back();
    if (f.kind != Frame::MARKER)
        style_of(h).close(h, f);
}

ssize_t open_frame(Handle &h, Frame::Kind kind, const char *name, bool dtrt)
{
    if (!name || !*name) {
        libxo_warning(h, std::string("xo_open_") + kind_name(kind) + " without a name");
        return -1;
    }
    start_output(h);
    make_room(h, kind, name);
    if (kind == Frame::CONTAINER || kind == Frame::INSTANCE)
        xml_name_ok(h, field_name(h, name));
    size_t before = h.out.size();
    h.count_adjust = 0;
    push_frame(h, kind, name);
    h.stack.back().dtrt = dtrt;
    ssize_t n = static_cast<ssize_t>(h.out.size() - before) + h.count_adjust;
    after_call(h, false);
    return n;
}

ssize_t close_frame(Handle &h, Frame::Kind kind, const char *name)
{
    // The search does not reach past a marker (but for a marker's close).
    size_t i = h.stack.size();
    while (i > 0 && !matches(h.stack[i - 1], kind, name) &&
           !(kind != Frame::MARKER && h.stack[i - 1].kind == Frame::MARKER))
        i--;
    std::string shown = name ? name : "";
    if (i > 0 && !matches(h.stack[i - 1], kind, name)) {
        libxo_warning(h, std::string("close (xo_close_") + kind_name(kind) + ") fails at marker '" +
                             h.stack[i - 1].name + "'; not found '" + shown + "'");
        return 0;
    }
    if (i == 0) {
        warn_unmatched(h, kind, shown);
        return 0;
    }
    start_output(h);
    if (kind == Frame::CONTAINER || kind == Frame::INSTANCE)
        xml_name_ok(h, field_name(h, h.stack[i - 1].name));
    size_t before = h.out.size();
    h.count_adjust = 0;
    // What is still open inside is closed with it.
    while (h.stack.size() >= i)
        pop_frame(h);
    ssize_t n = kind == Frame::INSTANCE && style_of(h).instance_close_counts
                    ? static_cast<ssize_t>(h.out.size() - before) + h.count_adjust
                    : 0; // what libxo returns
    after_call(h, false);
    return n;
}

void enter_leaf_list(Handle &h, std::string_view name)
{
    if (top_is(h, Frame::LEAF_LIST) && h.stack.back().name == name)
        return;
    // The values of a list of their own name are its members.
    if (in_list(h) && h.stack.back().name == name)
        return;
    if (top_is(h, Frame::LEAF_LIST) || in_list(h))
        pop_frame(h);
    push_frame(h, Frame::LEAF_LIST, std::string(name).c_str());
}

void leave_leaf_list(Handle &h)
{
    if (top_is(h, Frame::LEAF_LIST))
        pop_frame(h);
}

void error_element(Handle &h, const std::string &msg)
{
    leave_leaf_list(h);
    if (in_list(h))
        pop_frame(h);
    push_frame(h, Frame::CONTAINER, "error");
    style_of(h).leaf(h, Leaf{"message", msg, true, false});
    pop_frame(h);
}

ssize_t finish(Handle &h)
{
    if (!h.finished) {
        while (!h.stack.empty())
            pop_frame(h);
        style_of(h).finish(h);
        h.root = Level{};
        h.finished = true;
    }
    return write_pending(h);
}

} // namespace xo
