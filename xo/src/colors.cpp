/* SPDX-License-Identifier: BSD-2-Clause */
// Colors and effects, as libxo writes them.
#include "colors.h"

#include "diag.h"

namespace xo {

namespace {

const char *const color_names[] = {"default", "black", "red", "green", "yellow", "blue", "magenta", "cyan",
                                   "white"};
const char *const effect_names[] = {"reset", "normal", "bold", "underline", "inverse"};
const char *const effect_codes[] = {"0", "0", "1", "4", "7"};

int color_index(std::string_view name)
{
    for (int i = 0; i < 9; i++)
        if (name == color_names[i])
            return i;
    return -1;
}

unsigned effect_bit(std::string_view name)
{
    for (unsigned i = 0; i < 5; i++)
        if (name == effect_names[i])
            return 1u << i;
    return 0;
}

bool apply_word(std::string_view w, Colors &c)
{
    int idx;
    if (w.substr(0, 3) == "fg-" && (idx = color_index(w.substr(3))) >= 0) {
        c.fg = static_cast<unsigned>(idx);
    } else if (w.substr(0, 3) == "bg-" && (idx = color_index(w.substr(3))) >= 0) {
        c.bg = static_cast<unsigned>(idx);
    } else if (w.substr(0, 3) == "no-" && effect_bit(w.substr(3)) > Colors::NORMAL) {
        c.effects &= ~effect_bit(w.substr(3));
    } else if (w == "reset") {
        c = Colors{};
        c.effects = Colors::RESET;
    } else if (w == "normal") {
        c.effects = 0;
    } else if (effect_bit(w) > Colors::NORMAL) {
        c.effects |= effect_bit(w);
    } else {
        return false;
    }
    return true;
}

} // namespace

void parse_colors(Handle &h, std::string_view spec, Colors &state)
{
    if (spec.empty()) {
        apply_word("reset", state);
        return;
    }
    while (!spec.empty()) {
        size_t comma = spec.find(',');
        std::string_view w = spec.substr(0, comma);
        while (!w.empty() && (w.front() == ' ' || w.front() == '\t'))
            w.remove_prefix(1);
        while (!w.empty() && (w.back() == ' ' || w.back() == '\t'))
            w.remove_suffix(1);
        if (!w.empty() && !apply_word(w, state))
            libxo_warning(h, "unknown color/effect string detected: '" + std::string(w) + "'");
        if (comma == std::string_view::npos)
            break;
        spec.remove_prefix(comma + 1);
    }
}

// When an effect goes away, the terminal is reset and what stays is
// turned on again.
std::string color_escape(const Colors &from, const Colors &to)
{
    Colors old = from;
    Colors now = to;
    if (old.effects != (now.effects & old.effects)) {
        now.effects |= Colors::RESET;
        old.effects = 0;
    }
    std::string codes;
    for (unsigned i = 0, bit = 1; i < 5; i++, bit <<= 1) {
        if ((now.effects & bit) == (old.effects & bit))
            continue;
        codes += std::string(";") + effect_codes[i];
        if (bit == Colors::RESET)
            old = Colors{};
    }
    if (now.fg != old.fg)
        codes += ";3" + std::to_string(now.fg ? now.fg - 1 : 9);
    if (now.bg != old.bg)
        codes += ";4" + std::to_string(now.bg ? now.bg - 1 : 9);
    if (codes.empty())
        return codes;
    codes[0] = '[';
    return "\033" + codes + "m";
}

std::string color_classes(const Colors &c)
{
    std::string s;
    for (unsigned i = 2, bit = Colors::BOLD; i < 5; i++, bit <<= 1)
        if (c.effects & bit)
            s += std::string(" effect-") + effect_names[i];
    const char *fg = c.fg ? color_names[c.fg] : nullptr;
    const char *bg = c.bg ? color_names[c.bg] : nullptr;
    if (c.effects & Colors::INVERSE) {
        std::swap(fg, bg);
        fg = fg ? fg : "inverse";
        bg = bg ? bg : "inverse";
    }
    if (fg)
        s += std::string(" color-fg-") + fg;
    if (bg)
        s += std::string(" color-bg-") + bg;
    return s;
}

} // namespace xo
