// Field descriptors.
#include "field.h"

#include "diag.h"

namespace xo {

namespace {

bool apply_modifier(char c, Field &f)
{
    switch (c) {
    case 'T': case 'V': case 'L': case 'D': case 'P':
    case 'N': case 'U': case 'E': case 'W': case 'C': case 'G':
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
    case 'l': case 'h': case 'g': case 'p': f.mods |= M_OTHER; return true;
    default: return false;
    }
}

} // namespace

FieldError parse_field(std::string_view desc, Field &f)
{
    // Roles and modifiers run up to the colon, or up to the formats when
    // there is no colon; with neither the field has no content.
    size_t sep = desc.find_first_of(":/");
    if (sep == std::string_view::npos)
        return FieldError::MISSING_CONTENT;
    for (char c : desc.substr(0, sep))
        if (!apply_modifier(c, f))
            return FieldError::UNKNOWN_MODIFIER;
    std::string_view content = desc.substr(desc[sep] == ':' ? sep + 1 : sep);
    size_t s1 = content.find('/');
    f.name = content.substr(0, s1);
    if (s1 == std::string_view::npos)
        return FieldError::NONE;
    f.formats = true;
    std::string_view formats = content.substr(s1 + 1);
    size_t s2 = formats.find('/');
    f.text_fmt = formats.substr(0, s2);
    if (s2 != std::string_view::npos)
        f.enc_fmt = formats.substr(s2 + 1);
    return FieldError::NONE;
}

// Parses every descriptor before anything is written (libxo writes
// nothing of a format that has a bad one) into fields.
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
        size_t close = fmt.find('}', i + 1);
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
        fields.push_back(f);
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
