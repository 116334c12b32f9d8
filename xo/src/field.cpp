/* SPDX-License-Identifier: BSD-2-Clause */
// Field descriptors.
#include "field.h"

#include "diag.h"

namespace xo {

namespace {

bool apply_letter(char c, Field &f)
{
    switch (c) {
    case 'T': case 'V': case 'L': case 'D': case 'P': case 'N':
    case 'U': case 'E': case 'W': case 'C': case 'G': case '[': case ']':
        f.role = c;
        return true;
    case 'k': f.mods |= M_KEY; return true;
    case 'w': f.mods |= M_WS; return true;
    case 'e': f.mods |= M_ENC; return true;
    case 'd': f.mods |= M_DISP; return true;
    case 'q': f.mods |= M_QUOTE; return true;
    case 'n': f.mods |= M_NOQUOTE; return true;
    case 'c': f.mods |= M_COLON; return true;
    case 't': f.mods |= M_TRIM; return true;
    case 'a': f.mods |= M_ARG; return true;
    case 'l': f.mods |= M_LEAF_LIST; return true;
    case 'h': f.mods |= M_HUMANIZE; return true;
    case 'g': f.mods |= M_GETTEXT; return true;
    case 'p': f.mods |= M_PLURAL; return true;
    default: return false;
    }
}

// The long form: ",title", ",key,white", ...
bool apply_word(std::string_view w, Field &f)
{
    static const struct {
        const char *word;
        char letter;
    } words[] = {
        {"color", 'C'}, {"decoration", 'D'}, {"error", 'E'}, {"label", 'L'}, {"note", 'N'},
        {"padding", 'P'}, {"title", 'T'}, {"units", 'U'}, {"value", 'V'}, {"warning", 'W'},
        {"start-anchor", '['}, {"stop-anchor", ']'}, {"argument", 'a'}, {"colon", 'c'},
        {"display", 'd'}, {"encoding", 'e'}, {"gettext", 'g'}, {"humanize", 'h'}, {"hn", 'h'},
        {"key", 'k'},
        {"leaf-list", 'l'}, {"no-quotes", 'n'}, {"plural", 'p'}, {"quotes", 'q'}, {"trim", 't'},
        {"white", 'w'},
    };
    for (const auto &x : words)
        if (w == x.word)
            return apply_letter(x.letter, f);
    // The options of humanize imply it.
    unsigned hn = 0;
    if (w == "hn-space")
        hn = M_HN_SPACE;
    else if (w == "hn-decimal")
        hn = M_HN_DECIMAL;
    else if (w == "hn-1000")
        hn = M_HN_1000;
    if (hn)
        f.mods |= hn | M_HUMANIZE;
    return hn != 0;
}

bool apply_modifiers(std::string_view mods, Field &f)
{
    size_t comma = mods.find(',');
    for (char c : mods.substr(0, comma))
        if (!apply_letter(c, f))
            return false;
    while (comma != std::string_view::npos) {
        mods.remove_prefix(comma + 1);
        comma = mods.find(',');
        if (!apply_word(mods.substr(0, comma), f))
            return false;
    }
    return true;
}

// The next '/' that no backslash escapes, or npos.
size_t find_slash(std::string_view s, size_t from = 0)
{
    for (size_t i = from; i < s.size(); i++) {
        if (s[i] == '\\')
            i++;
        else if (s[i] == '/')
            return i;
    }
    return std::string_view::npos;
}

std::string unescape(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size())
            i++;
        out.push_back(s[i]);
    }
    return out;
}

} // namespace

FieldError parse_field(std::string_view desc, Field &f)
{
    // Roles and modifiers run up to the colon, or up to the formats when
    // there is no colon; with neither the field has no content.
    size_t sep = desc.find_first_of(":/");
    if (sep == std::string_view::npos)
        return FieldError::MISSING_CONTENT;
    if (!apply_modifiers(desc.substr(0, sep), f))
        return FieldError::UNKNOWN_MODIFIER;
    std::string_view content = desc.substr(desc[sep] == ':' ? sep + 1 : sep);
    size_t s1 = find_slash(content);
    std::string_view name = content.substr(0, s1);
    f.name = f.role == 'V' ? std::string(name) : unescape(name);
    if (s1 == std::string_view::npos)
        return FieldError::NONE;
    f.formats = true;
    size_t s2 = find_slash(content, s1 + 1);
    f.text_fmt = unescape(content.substr(s1 + 1, s2 == std::string_view::npos ? s2 : s2 - s1 - 1));
    if (s2 != std::string_view::npos)
        f.enc_fmt = unescape(content.substr(s2 + 1));
    return FieldError::NONE;
}

size_t field_end(std::string_view fmt, size_t open)
{
    for (size_t i = open + 1; i < fmt.size(); i++) {
        if (fmt[i] == '\\')
            i++;
        else if (fmt[i] == '}')
            return i;
    }
    return std::string_view::npos;
}

bool parse_format(Handle &h, std::string_view fmt, std::vector<Field> &fields)
{
    fields.clear();
    for (size_t i = 0; i < fmt.size(); i++) {
        if (fmt[i] != '{')
            continue;
        if (i + 1 < fmt.size() && fmt[i + 1] == '{') {
            i++;
            continue;
        }
        size_t close = field_end(fmt, i);
        if (close == std::string_view::npos) {
            libxo_warning(h, "missing closing '}': " + std::string(fmt));
            return false;
        }
        Field f;
        switch (parse_field(fmt.substr(i + 1, close - i - 1), f)) {
        case FieldError::UNKNOWN_MODIFIER:
            libxo_warning(h, "field descriptor uses unknown modifier: '" + std::string(fmt) + "'");
            return false;
        case FieldError::MISSING_CONTENT:
            libxo_warning(h, "missing content (':'): '" + std::string(fmt) + "'");
            return false;
        case FieldError::NONE:
            break;
        }
        f.end = close + 1;
        fields.push_back(std::move(f));
        i = close;
    }
    return true;
}

std::string field_descriptor(const char *rolmod, const char *contents, const char *fmt, const char *efmt)
{
    std::string d = "{";
    d += rolmod ? rolmod : "";
    d += ":";
    d += contents ? contents : "";
    if (fmt || efmt) {
        d += "/";
        d += fmt ? fmt : "%s";
    }
    if (efmt) {
        d += "/";
        d += efmt;
    }
    return d + "}";
}

} // namespace xo
