// Containers, lists and instances: their nesting, and xo_finish.
#include "frames.h"

#include "diag.h"
#include "style.h"

namespace xo {

namespace {

const char *kind_name(Frame::Kind k)
{
    switch (k) {
    case Frame::CONTAINER: return "container";
    case Frame::LIST: return "list";
    default: return "instance";
    }
}

} // namespace

void push_frame(Handle &h, Frame::Kind kind, const char *name)
{
    Frame f;
    f.kind = kind;
    f.name = name;
    style_of(h).open(h, f);
    h.stack.push_back(std::move(f));
}

void pop_frame(Handle &h)
{
    Frame f = std::move(h.stack.back());
    h.stack.pop_back();
    style_of(h).close(h, f);
}

ssize_t open_frame(Handle &h, Frame::Kind kind, const char *name)
{
    if (!name || !*name) {
        libxo_warning(h, std::string("xo_open_") + kind_name(kind) + " without a name");
        return -1;
    }
    start_output(h);
    // As libxo does: a list cannot hold a list, so the outer one ends;
    // an instance outside a list gets a list of its own name.
    if (kind == Frame::LIST && in_list(h))
        pop_frame(h);
    if (kind == Frame::INSTANCE && !in_list(h))
        push_frame(h, Frame::LIST, name);
    size_t before = h.out.size();
    h.count_adjust = 0;
    push_frame(h, kind, name);
    ssize_t n = static_cast<ssize_t>(h.out.size() - before) + h.count_adjust;
    after_call(h, false);
    return n;
}

ssize_t close_frame(Handle &h, Frame::Kind kind, const char *name)
{
    bool any = !name || !*name;
    size_t i = h.stack.size();
    while (i > 0 && !(h.stack[i - 1].kind == kind && (any || h.stack[i - 1].name == name)))
        i--;
    std::string shown = any ? "" : name;
    if (i == 0) {
        if (h.stack.empty() && kind == Frame::CONTAINER)
            libxo_warning(h, "close with empty stack: '" + shown + "'");
        else if (h.stack.empty() && kind == Frame::INSTANCE)
            libxo_warning(h, "xo_close_instance ignored when called from initial state ('" + shown + "')");
        else
            libxo_warning(h, std::string("xo_close_") + kind_name(kind) + " can't find match for '" + shown + "'");
        return 0;
    }
    start_output(h);
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

void error_element(Handle &h, const std::string &msg)
{
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
