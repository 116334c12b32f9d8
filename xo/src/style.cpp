/* SPDX-License-Identifier: BSD-2-Clause */
// The choice of a style's operations.
#include "style.h"

namespace xo {

void nothing(Handle &) {}
void nothing_frame(Handle &, Frame &) {}
void nothing_closed(Handle &, const Frame &) {}
void nothing_leaf(Handle &, const Leaf &) {}
void nothing_piece(Handle &, const Piece &) {}
void nothing_error(Handle &, const std::string &) {}
void nothing_colors(Handle &, const Colors &, const Colors &) {}

const StyleOps &style_of(const Handle &h)
{
    switch (h.style) {
    case XO_STYLE_XML: return xml_style;
    case XO_STYLE_JSON: return json_style;
    case XO_STYLE_HTML: return html_style;
    default: return text_style;
    }
}

} // namespace xo
