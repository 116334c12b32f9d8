/* SPDX-License-Identifier: BSD-2-Clause */
// Field descriptors: "{roles-and-modifiers:name/display-format/encoding-format}".
#ifndef XO_FIELD_H
#define XO_FIELD_H

#include <string>
#include <string_view>
#include <vector>

#include "handle.h"

namespace xo {

enum Modifier : unsigned {
    M_KEY = 1u << 0,       // k
    M_WS = 1u << 1,        // w: a space after the field
    M_ENC = 1u << 2,       // e: encoding styles only
    M_DISP = 1u << 3,      // d: display styles only
    M_QUOTE = 1u << 4,     // q
    M_NOQUOTE = 1u << 5,   // n
    M_COLON = 1u << 6,     // c: a colon after the field
    M_TRIM = 1u << 7,      // t: trim blanks off the encoded value
    M_ARG = 1u << 8,       // a: the name is an argument
    M_LEAF_LIST = 1u << 9, // l: one of a list of values
    M_HUMANIZE = 1u << 10, // h
    M_GETTEXT = 1u << 11,  // g: no translation without gettext, as in libxo
    M_PLURAL = 1u << 12,   // p: "one,many" by the last value
    M_HN_SPACE = 1u << 13,   // hn-space: a blank before the unit
    M_HN_DECIMAL = 1u << 14, // hn-decimal: one decimal below 10
    M_HN_1000 = 1u << 15,    // hn-1000: units of 1000, not 1024
};

struct Field {
    // T V L D P N U E W C G, and [ ] for the start and end of an anchor.
    char role = 'V';
    unsigned mods = 0;
    std::string name;     // the content: a value's name, or the text
    std::string text_fmt; // display format
    std::string enc_fmt;  // encoding format
    bool formats = false; // a slash after the content: formats given
    size_t end = 0;       // where the format goes on after the field
};

enum class FieldError { NONE, UNKNOWN_MODIFIER, MISSING_CONTENT };

// Parses the text between the braces.  A backslash takes the next
// character as it is: the content of the roles other than values and the
// formats lose the backslash, a value's name keeps it (as in libxo).
FieldError parse_field(std::string_view desc, Field &f);

// "{rolmod:contents/fmt/efmt}" for xo_emit_field; null parts are left out.
std::string field_descriptor(const char *rolmod, const char *contents, const char *fmt, const char *efmt);

// Parses every descriptor of a format into fields, in order, before
// anything is written: libxo writes nothing of a format that has a bad
// one.  Warns and returns false at the first bad one.
bool parse_format(Handle &h, std::string_view fmt, std::vector<Field> &fields);

// Where the descriptor that starts after the '{' at fmt[open] ends (its
// '}'), or npos.
size_t field_end(std::string_view fmt, size_t open);

} // namespace xo

#endif
