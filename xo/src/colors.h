/* SPDX-License-Identifier: BSD-2-Clause */
// Colors and effects ({C:...} fields, with XOF_COLOR).
#ifndef XO_COLORS_H
#define XO_COLORS_H

#include <string>
#include <string_view>

namespace xo {

struct Handle;

// The display state that color fields set: colors 0 (default) or 1-8
// (black ... white), effects as bits.
struct Colors {
    enum Effect : unsigned { RESET = 1, NORMAL = 2, BOLD = 4, UNDERLINE = 8, INVERSE = 16 };
    unsigned fg = 0;
    unsigned bg = 0;
    unsigned effects = 0;
    bool operator!=(const Colors &o) const { return fg != o.fg || bg != o.bg || effects != o.effects; }
};

// Applies "fg-red,bg-blue,bold,no-underline,..." (empty: reset) to
// state; warns of a word that means nothing.
void parse_colors(Handle &h, std::string_view spec, Colors &state);

// The terminal's escape sequence from one state to the next, as libxo
// writes it (empty when nothing changes).
std::string color_escape(const Colors &from, const Colors &to);

// The HTML classes of a state: " effect-bold color-fg-red ...".
std::string color_classes(const Colors &c);

} // namespace xo

#endif
