/* SPDX-License-Identifier: BSD-2-Clause */
// The state of one xo_emit call, shared by emit.cpp (literal text,
// anchors, the walk through the format) and emit_field.cpp (fields).
#ifndef XO_EMITTER_H
#define XO_EMITTER_H

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#include "diag.h"
#include "field.h"
#include "handle.h"
#include "printf.h"
#include "style.h"
#include "utf8.h"

namespace xo {

// Buffers reused from call to call.
struct Scratch {
    std::string display;
    std::string encoding;
    std::vector<Arg> args;
    std::vector<Field> fields; // the format's fields, in order
};

Scratch &scratch();

class Emitter {
public:
    Emitter(Handle &h, std::string_view fmt, va_list *ap, int error_code)
        : h_(h), style_(style_of(h)), fmt_(fmt), scratch_(scratch()), pool_(ap, scratch_.args)
    {
        pool_.error_code = error_code;
    }
    bool run();
    size_t columns() const { return columns_; }
    // libxo returns the columns of humanized values even without
    // XOF_COLUMNS.
    size_t humanized_columns() const { return humanized_; }
    bool saw_newline() const { return newline_; }

private:
    Handle &h_;
    const StyleOps &style_;
    std::string_view fmt_;
    Scratch &scratch_;
    ArgPool pool_;
    size_t next_field_ = 0;  // index in scratch_.fields
    std::string text_;       // literal text not yet written
    int escaped_braces_ = 0; // "{{" seen, its "}}" not yet
    size_t columns_ = 0;     // what xo_emit returns with XOF_COLUMNS
    size_t shown_ = 0;       // display columns written, for anchors
    size_t humanized_ = 0;   // columns of humanized values
    bool newline_ = false;
    std::string last_value_; // the last value shown, for plurals
    bool value_written_ = false; // a value that units can go on

    // An anchor ("{[:width}...{]:}") open: where it started.
    struct Anchor {
        bool open = false;
        size_t at = 0;      // in h_.out
        size_t shown = 0;   // shown_ at the start
        long width = 0;     // from the start descriptor, 0 when none
    } anchor_;

    void warn(const std::string &what) { libxo_warning(h_, what + " in '" + std::string(fmt_) + "'"); }
    bool format(std::string &out, std::string_view fmt, ArgPool &pool, const char *null_text = nullptr);
    void count(Counted what, std::string_view text)
    {
        if (style_.counts == what)
            columns_ += string_columns(text);
    }
    void show(const char *cls, std::string_view text, std::string_view tag = {}, bool key = false,
              bool even_empty = false, std::string_view number = {});
    void flush_text();
    void end_line();
    bool start_anchor(const Field &f);
    bool end_anchor(const Field &f);
    bool anchor_width(const Field &f, long &width);

    // emit_field.cpp
    bool field(Field &f);
    bool text_field(Field &f, std::string_view name);
    bool color_field(const Field &f, std::string_view content);
    bool value_field(Field &f, std::string_view name);
    std::string_view name_of(Field &f, std::string &storage);
    bool display_text(const Field &f, std::string_view content, std::string &disp);
    bool encoding_text(const Field &f, std::string &enc, FormatResult &kind);
    void check_key_order(const Field &f, std::string_view name);
    void place_value(const Field &f, std::string_view name);
    void show_field(const Field &f, std::string_view name, std::string_view disp, bool enc_only,
                    std::string_view number = {});
    bool humanized(const Field &f, std::string &disp, std::string &number);
    void encode_field(const Field &f, std::string_view name, std::string &enc, const FormatResult &kind);
    void add_predicate(std::string_view name, std::string_view enc);
    void encode_message(const Field &f, std::string_view text);
    void encode_units(std::string_view units);
};

} // namespace xo

#endif
