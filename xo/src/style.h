/* SPDX-License-Identifier: BSD-2-Clause */
// What each output style writes: one table of operations per style, and
// the one place that picks the table for a handle.
#ifndef XO_STYLE_H
#define XO_STYLE_H

#include <string>
#include <string_view>

#include "handle.h"

namespace xo {

// One value of the encoding styles.
struct Leaf {
    std::string_view name;
    std::string_view value;
    bool quoted; // JSON: written as a string
    bool key;    // a 'k' field
};

// One piece of displayed text (text and HTML styles).
struct Piece {
    const char *cls;       // HTML class: "data", "label", "padding", ...
    std::string_view text;
    std::string_view tag;  // field name of a value, empty otherwise
    bool key;
    std::string_view number = {}; // a humanized value's number
};

// What xo_emit's column count (XOF_COLUMNS) adds up in a style, as
// libxo counts it: the text shown, or the values encoded.
enum class Counted : unsigned char { SHOWN, ENCODED };

struct StyleOps {
    void (*version)(Handle &);           // xo_set_version
    void (*open)(Handle &, Frame &);     // a frame about to be pushed
    void (*close)(Handle &, const Frame &); // a frame just popped
    void (*leaf)(Handle &, const Leaf &);
    void (*display)(Handle &, const Piece &);
    void (*begin_line)(Handle &);        // a line starts here if none has
    void (*colors)(Handle &, const Colors &from, const Colors &to); // XOF_COLOR
    void (*end_line)(Handle &);
    void (*finish)(Handle &);            // the document's end
    // xo_error; then, with error_element, the "error" element follows.
    void (*error)(Handle &, const std::string &msg);
    bool error_element;
    void (*message)(Handle &, const std::string &msg); // xo_message
    bool instance_close_counts; // xo_close_instance returns what it wrote
    bool displays;      // fields are shown (text, HTML)
    bool encodes;       // values are encoded (XML, JSON)
    Counted counts;     // what the column count adds up
    bool xpath_keys;    // with XOF_XPATH, key values select the instance
    bool percent_text;  // "%%" of literal text is written as one '%'
    bool attributes;    // xo_attr is written (XML)
    // With XOF_UNITS, units are this attribute of their value, or shown
    // when it is null.
    const char *units_attribute;
    const char *empty_value; // a value with empty formats ("{:name/}")
};

extern const StyleOps text_style;
extern const StyleOps xml_style;
extern const StyleOps json_style;
extern const StyleOps html_style;

const StyleOps &style_of(const Handle &h);

// Shared by the styles that do nothing for some operations.
void nothing(Handle &);
void nothing_frame(Handle &, Frame &);
void nothing_closed(Handle &, const Frame &);
void nothing_leaf(Handle &, const Leaf &);
void nothing_piece(Handle &, const Piece &);
void nothing_error(Handle &, const std::string &);
void nothing_colors(Handle &, const Colors &, const Colors &);

} // namespace xo

#endif
