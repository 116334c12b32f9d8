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
};

struct StyleOps {
    void (*version)(Handle &);           // xo_set_version
    void (*open)(Handle &, Frame &);     // a frame about to be pushed
    void (*close)(Handle &, const Frame &); // a frame just popped
    void (*leaf)(Handle &, const Leaf &);
    void (*display)(Handle &, const Piece &);
    void (*end_line)(Handle &);
    void (*finish)(Handle &);            // the document's end
    void (*error)(Handle &, const std::string &msg); // xo_error
    bool instance_close_counts; // xo_close_instance returns what it wrote
};

extern const StyleOps text_style;
extern const StyleOps xml_style;
extern const StyleOps json_style;
extern const StyleOps html_style;

const StyleOps &style_of(const Handle &h);

// Whether the style writes encoded values (XML, JSON).
inline bool encodes(const Handle &h)
{
    return h.style == XO_STYLE_XML || h.style == XO_STYLE_JSON;
}

// xo_error in the encoding styles: an "error" object holding the message.
// As libxo does, it ends the list it interrupts.
void error_element(Handle &h, const std::string &msg);

// Shared by the styles that do nothing for some operations.
void nothing(Handle &);
void nothing_frame(Handle &, Frame &);
void nothing_closed(Handle &, const Frame &);
void nothing_leaf(Handle &, const Leaf &);
void nothing_piece(Handle &, const Piece &);

} // namespace xo

#endif
