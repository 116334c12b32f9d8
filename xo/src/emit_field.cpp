/* SPDX-License-Identifier: BSD-2-Clause */
// xo_emit's fields: what each shows and encodes, in each style.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "emitter.h"
#include "escape.h"
#include "frames.h"
#include "humanize.h"

namespace xo {

namespace {

void trim(std::string &s)
{
    size_t b = s.find_first_not_of(" \t\n\r\f\v");
    if (b == std::string::npos) {
        s.clear();
        return;
    }
    s.erase(s.find_last_not_of(" \t\n\r\f\v") + 1);
    s.erase(0, b);
}

// A JSON number, possibly surrounded by blanks (as padding leaves it).
bool json_number(std::string_view s)
{
    size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ')
        i++;
    while (n > i && s[n - 1] == ' ')
        n--;
    auto digits = [&](bool lead_zero_ok) {
        size_t start = i;
        while (i < n && s[i] >= '0' && s[i] <= '9')
            i++;
        return i > start && (lead_zero_ok || s[start] != '0' || i == start + 1);
    };
    if (i < n && s[i] == '-')
        i++;
    if (!digits(false))
        return false;
    if (i < n && s[i] == '.') {
        i++;
        if (!digits(true))
            return false;
    }
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        i++;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            i++;
        if (!digits(true))
            return false;
    }
    return i == n;
}

const char *html_class(char role)
{
    switch (role) {
    case 'T': return "title";
    case 'L': return "label";
    case 'D': return "decoration";
    case 'P': return "padding";
    case 'N': return "note";
    case 'U': return "units";
    case 'E': return "error";
    case 'W': return "warning";
    default: return "data";
    }
}

// "one,many": the first unless the last value shown is other than 1.
std::string plural_form(const std::string &forms, const std::string &last)
{
    size_t comma = forms.find(',');
    if (comma == std::string::npos)
        return forms;
    size_t b = last.find_first_not_of(' ');
    bool one = b != std::string::npos && last.compare(b, std::string::npos, "1") == 0;
    return one ? forms.substr(0, comma) : forms.substr(comma + 1);
}

} // namespace

// The field's name: its content, or the argument the 'a' modifier takes.
std::string_view Emitter::name_of(Field &f, std::string &storage)
{
    if (!(f.mods & M_ARG))
        return f.name;
    const Arg *a = pool_.get(0, Arg::PTR);
    const char *s = a ? static_cast<const char *>(a->ptr) : nullptr;
    storage = s ? s : "";
    pool_.rebase();
    return storage;
}

// What a field shows: a value's display format applied to its
// arguments, or the text of the other roles, formatted if asked.  An
// explicitly empty display format ("{:name//%d}") shows nothing.
bool Emitter::display_text(const Field &f, std::string_view content, std::string &disp)
{
    if (f.role != 'V' && !content.empty()) {
        if (f.text_fmt.empty()) {
            // libxo reads the text as a format without arguments: "%%"
            // is one percent sign.
            disp.assign(content);
            for (size_t p = disp.find("%%"); p != std::string::npos; p = disp.find("%%", p + 1))
                disp.erase(p, 1);
            return true;
        }
        std::string text(content);
        ArgPool fixed(text.c_str());
        return format(disp, f.text_fmt, fixed);
    }
    std::string_view fmt = !f.text_fmt.empty() ? f.text_fmt : f.enc_fmt;
    if ((f.role != 'V' && fmt.empty()) || (f.role == 'V' && f.formats && f.text_fmt.empty()))
        return true;
    return format(disp, fmt.empty() ? std::string_view("%s") : fmt, pool_);
}

// The encoded value: the encoding format, or else the display format
// without its widths.  With 'n', a null string is JSON's null.
bool Emitter::encoding_text(const Field &f, std::string &enc, FormatResult &kind)
{
    const char *null_text = (f.mods & M_NOQUOTE) ? "null" : nullptr;
    FormatResult r = !f.enc_fmt.empty()    ? format_printf(enc, f.enc_fmt, pool_, Widths::APPLY, null_text)
                     : !f.text_fmt.empty() ? format_printf(enc, f.text_fmt, pool_, Widths::DROP, null_text)
                                           : format_printf(enc, "%s", pool_, Widths::APPLY, null_text);
    if (!r.ok)
        warn(r.error);
    kind = r;
    return r.ok;
}

// libxo expects the keys of an instance before its other values; a
// display-only value counts as one, a display-only key is not checked.
void Emitter::check_key_order(const Field &f, std::string_view name)
{
    Level &lv = current_level(h_);
    if (!(f.mods & M_KEY))
        lv.saw_value = true;
    else if (lv.saw_value && !(f.mods & M_DISP))
        libxo_warning(h_, "key field emitted after normal value field: '" + std::string(name) + "'");
}

// A value goes into the leaf list of its name ('l'); any other value
// ends an open leaf list, and cannot sit directly in a list: as libxo
// does, it ends that too.
void Emitter::place_value(const Field &f, std::string_view name)
{
    if (f.mods & M_LEAF_LIST) {
        enter_leaf_list(h_, name);
        return;
    }
    leave_leaf_list(h_);
    if (in_list(h_))
        pop_frame(h_);
}

void Emitter::show_field(const Field &f, std::string_view name, std::string_view disp, bool enc_only,
                         std::string_view number)
{
    // Units and notes take their blank before them.
    bool units = f.role == 'U' || f.role == 'N';
    bool colon = (f.mods & M_COLON) != 0;
    if (colon && units) {
        libxo_warning(h_, "colon modifier on 'N' or 'U' field ignored: '" + std::string(fmt_) + "'");
        colon = false;
    }
    if ((f.mods & M_WS) && units)
        show("padding", " ");
    // An encoding-only value shows nothing, but its colon and blank; a
    // label, title, ... without text or format shows nothing at all.
    bool no_text = f.role != 'V' && disp.empty() && !f.formats && !(f.mods & M_ARG);
    if (!enc_only && !no_text)
        show(html_class(f.role), disp, f.role == 'V' ? name : std::string_view(), (f.mods & M_KEY) != 0,
             true, number);
    // libxo counts the bytes of a title's own text, not its columns.
    if (f.role == 'T' && !f.name.empty() && style_.counts == Counted::SHOWN)
        columns_ += disp.size() - string_columns(disp);
    if (colon)
        show("decoration", ":");
    if ((f.mods & M_WS) && !units)
        show("padding", " ");
}

void Emitter::encode_field(const Field &f, std::string_view name, std::string &enc, const FormatResult &kind)
{
    if (name.empty()) {
        warn("missing field name");
        return;
    }
    // libxo counts a trimmed string with its blanks, anything else without.
    if (kind.strings)
        count(Counted::ENCODED, enc);
    if (f.mods & M_TRIM)
        trim(enc);
    if (!kind.strings)
        count(Counted::ENCODED, enc);
    bool quoted = (f.mods & M_QUOTE) || (!(f.mods & M_NOQUOTE) && !(kind.numeric && json_number(enc)));
    style_.leaf(h_, Leaf{name, enc, quoted, (f.mods & M_KEY) != 0});
    value_written_ = true;
}

// HTML's xpath: the keys of an instance select it.
void Emitter::add_predicate(std::string_view name, std::string_view enc)
{
    if (h_.stack.empty())
        return;
    columns_ += string_columns(enc); // formatted for the path, so counted
    h_.stack.back().predicate +=
        "[" + field_name(h_, name) + (has(h_, XOF_PRETTY) ? " = '" : "='") + std::string(enc) + "']";
}

// Warnings and errors are objects of their own in the encoding styles.
void Emitter::encode_message(const Field &f, std::string_view text)
{
    count(Counted::ENCODED, text);
    push_frame(h_, Frame::CONTAINER, f.role == 'W' ? "__warning" : "__error");
    style_.leaf(h_, Leaf{"message", text, true, false});
    pop_frame(h_);
}

// XOF_UNITS: units become an attribute of the value before them.
void Emitter::encode_units(std::string_view units)
{
    std::string attr = std::string(" ") + style_.units_attribute + "=\"";
    escape_xml(attr, units, true);
    attr.push_back('"');
    h_.out.insert(h_.units_at, attr);
}

bool Emitter::text_field(Field &f, std::string_view content)
{
    std::string &disp = scratch_.display;
    disp.clear();
    if (f.role == 'C')
        return color_field(f, content);
    if (!display_text(f, content, disp))
        return false;
    if (f.role == 'G') {
        // Not shown; libxo counts what the format makes.
        columns_ += string_columns(disp);
        return true;
    }
    if (f.mods & M_PLURAL)
        disp = plural_form(disp, last_value_);
    if (style_.encodes && (f.role == 'W' || f.role == 'E')) {
        encode_message(f, disp);
        return true;
    }
    if (f.role == 'U' && style_.units_attribute && has(h_, XOF_UNITS) && value_written_ && !disp.empty()) {
        // Its blank stays, where the units would have been.
        if ((f.mods & M_WS))
            show("padding", " ");
        encode_units(disp);
        return true;
    }
    show_field(f, {}, disp, false);
    return true;
}

// Colors change the display state (with XOF_COLOR, in the styles that
// show fields); libxo counts what a color's format makes, in any style.
bool Emitter::color_field(const Field &f, std::string_view content)
{
    std::string spec(content);
    if (!f.text_fmt.empty()) {
        spec.clear();
        if (!format(spec, f.text_fmt, pool_))
            return false;
        columns_ += string_columns(spec);
    }
    if (!has(h_, XOF_COLOR) || !style_.displays)
        return true;
    Colors next = h_.colors;
    parse_colors(h_, spec, next);
    style_.colors(h_, h_.colors, next);
    next.effects &= ~static_cast<unsigned>(Colors::RESET);
    h_.colors = next;
    return true;
}

// 'h': a number shown with a unit prefix where fields are shown; HTML
// keeps the number too.
bool Emitter::humanized(const Field &f, std::string &disp, std::string &number)
{
    if (!(f.mods & M_HUMANIZE) || !style_.displays || has(h_, XOF_NO_HUMANIZE) || disp.empty())
        return false;
    char *end;
    errno = 0;
    unsigned long long v = std::strtoull(disp.c_str(), &end, 0);
    if (end == disp.c_str() || errno != 0)
        return false;
    number = disp;
    disp = humanize(v, HumanizeOptions{(f.mods & M_HN_SPACE) != 0, (f.mods & M_HN_DECIMAL) != 0,
                                       (f.mods & M_HN_1000) != 0});
    humanized_ += string_columns(disp);
    return true;
}

bool Emitter::value_field(Field &f, std::string_view name)
{
    const bool no_format = f.text_fmt.empty() && f.enc_fmt.empty();
    if (name.empty() && no_format) {
        warn("missing field name");
        return true;
    }
    if (!name.empty())
        xml_name_ok(h_, field_name(h_, name));
    place_value(f, name);
    check_key_order(f, name);

    // The display format takes the arguments first, then the encoding
    // format reads the same ones again.  A value with empty formats
    // ("{:name/}") takes none: it is there or not.
    const bool enc_only = (f.mods & M_ENC) != 0;
    const bool bare = f.formats && no_format;
    const bool xpath_key = (f.mods & M_KEY) && style_.xpath_keys && has(h_, XOF_XPATH);
    const bool encoded = !(f.mods & M_DISP) && (style_.encodes || xpath_key);
    std::string &disp = scratch_.display;
    std::string &enc = scratch_.encoding;
    disp.clear();
    enc.clear();
    FormatResult kind;
    if (!enc_only && !display_text(f, name, disp))
        return false;
    // Arguments that nothing shown took are taken all the same.
    bool unread = enc_only || (f.formats && f.text_fmt.empty());
    if (!bare && (encoded || unread) && !encoding_text(f, enc, kind))
        return false;
    last_value_ = enc_only ? enc : disp;
    std::string number;
    humanized(f, disp, number);
    show_field(f, name, disp, enc_only, number);
    if (style_.displays && !enc_only)
        value_written_ = true;
    if (encoded && style_.encodes && bare) {
        count(Counted::ENCODED, style_.empty_value);
        style_.leaf(h_, Leaf{name, style_.empty_value, false, (f.mods & M_KEY) != 0});
        value_written_ = true;
    } else if (encoded && style_.encodes) {
        encode_field(f, name, enc, kind);
    } else if (encoded) {
        add_predicate(name, enc);
    }
    return true;
}

bool Emitter::field(Field &f)
{
    pool_.next_field();
    std::string name_storage;
    std::string_view name = name_of(f, name_storage);
    switch (f.role) {
    case '[': return start_anchor(f);
    case ']': return end_anchor(f);
    case 'V': return value_field(f, name);
    default: return text_field(f, name);
    }
}

} // namespace xo
