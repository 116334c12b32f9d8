/* SPDX-License-Identifier: BSD-2-Clause */
// Text style: the displayed pieces as they are; errors on standard error.
#include "diag.h"
#include "style.h"

namespace xo {

namespace {

void display(Handle &h, const Piece &p)
{
    h.out.append(p.text);
}

void end_line(Handle &h)
{
    h.out.push_back('\n');
}

// Colors are escape sequences for the terminal.
void colors(Handle &h, const Colors &from, const Colors &to)
{
    h.out += color_escape(from, to);
}

void message(Handle &h, const std::string &msg)
{
    h.out.append(msg);
}

void error(Handle &h, const std::string &msg)
{
    write_stderr(h, msg);
}

} // namespace

const StyleOps text_style = {
    nothing, nothing_frame, nothing_closed, nothing_leaf, display, nothing, colors, end_line, nothing,
    error, /* error_element */ false, message, /* instance_close_counts */ false,
    /* displays */ true, /* encodes */ false, Counted::SHOWN,
    /* xpath_keys */ false, /* percent_text */ false, /* attributes */ false, nullptr, /* empty_value */ "",
};

} // namespace xo
