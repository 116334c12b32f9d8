// Field descriptors: "{roles-and-modifiers:name/display-format/encoding-format}".
#ifndef XO_FIELD_H
#define XO_FIELD_H

#include <string>
#include <string_view>
#include <vector>

#include "handle.h"

namespace xo {

enum Modifier : unsigned {
    M_KEY = 1u << 0,     // k
    M_WS = 1u << 1,      // w: a space after the field
    M_ENC = 1u << 2,     // e: encoding styles only
    M_DISP = 1u << 3,    // d: display styles only
    M_QUOTE = 1u << 4,   // q
    M_NOQUOTE = 1u << 5, // n
    M_COLON = 1u << 6,   // c: a colon after the field
    M_TRIM = 1u << 7,    // t: trim blanks off the encoded value
    M_ARG = 1u << 8,     // a: the name is an argument
    M_OTHER = 1u << 9,   // l h g p: accepted, no effect here
};

struct Field {
    char role = 'V'; // T V L D P N U E W C G
    unsigned mods = 0;
    std::string_view name;     // the content: a value's name, or the text
    std::string_view text_fmt; // display format
    std::string_view enc_fmt;  // encoding format
    bool formats = false;      // a slash after the content: formats given
};

enum class FieldError { NONE, UNKNOWN_MODIFIER, MISSING_CONTENT };

// Parses the text between the braces.
FieldError parse_field(std::string_view desc, Field &f);

// "{rolmod:contents/fmt/efmt}" for xo_emit_field; null parts are left out.
std::string field_descriptor(const char *rolmod, const char *contents, const char *fmt, const char *efmt);

// Parses every descriptor of a format into fields, in order, before
// anything is written: libxo writes nothing of a format that has a bad
// one.  Warns and returns false at the first bad one.
bool parse_format(Handle &h, std::string_view fmt, std::vector<Field> &fields);

} // namespace xo

#endif
