// xo_emit: the format's literal text and fields, in each style.
#include "emit.h"

#include "diag.h"
#include "field.h"
#include "frames.h"
#include "printf.h"
#include "style.h"
#include "utf8.h"

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
    if (i < n && s[i] == '-')
        i++;
    if (i == n || s[i] < '0' || s[i] > '9')
        return false;
    if (s[i] == '0')
        return i + 1 == n;
    for (; i < n; i++)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
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

// Buffers reused from call to call.
struct Scratch {
    std::string display;
    std::string encoding;
    std::vector<Arg> args;
    std::vector<Field> fields; // the format's fields, in order
};

Scratch &scratch()
{
    static Scratch s;
    return s;
}

class Emitter {
public:
    Emitter(Handle &h, std::string_view fmt, va_list *ap)
        : h_(h), style_(style_of(h)), fmt_(fmt), scratch_(scratch()), pool_(ap, scratch_.args)
    {
    }
    bool run();
    size_t columns() const { return columns_; }
    bool saw_newline() const { return newline_; }

private:
    Handle &h_;
    const StyleOps &style_;
    std::string_view fmt_;
    Scratch &scratch_;
    ArgPool pool_;
    size_t next_field_ = 0; // index in scratch_.fields
    std::string text_; // literal text not yet written
    int escaped_braces_ = 0; // "{{" seen, its "}}" not yet
    size_t columns_ = 0;
    bool newline_ = false;

    void warn(const std::string &what) { libxo_warning(h_, what + " in '" + std::string(fmt_) + "'"); }
    bool format(std::string &out, std::string_view fmt, ArgPool &pool);
    void show(const char *cls, std::string_view text, std::string_view tag = {}, bool key = false,
              bool even_empty = false);
    void flush_text();
    void end_line();

    void count(Counted what, std::string_view text)
    {
        if (style_.counts == what)
            columns_ += string_columns(text);
    }
    bool field(Field &f);
    std::string_view name_of(Field &f, std::string &storage);
    bool display_text(const Field &f, std::string &disp);
    bool encoding_text(const Field &f, std::string &enc, FormatResult &kind);
    void check_key_order(const Field &f, std::string_view name);
    void show_field(const Field &f, std::string_view name, std::string_view disp, bool enc_only);
    void encode_field(const Field &f, std::string_view name, std::string &enc, const FormatResult &kind);
    void add_predicate(std::string_view name, std::string_view enc);
    void encode_message(const Field &f, std::string_view text);
};

bool Emitter::format(std::string &out, std::string_view fmt, ArgPool &pool)
{
    FormatResult r = format_printf(out, fmt, pool);
    if (!r.ok)
        warn(r.error);
    return r.ok;
}

// One displayed piece: counted, and written in the display styles.
void Emitter::show(const char *cls, std::string_view text, std::string_view tag, bool key, bool even_empty)
{
    if (text.empty() && !even_empty)
        return;
    count(Counted::SHOWN, text);
    style_.display(h_, Piece{cls, text, tag, key});
}

void Emitter::flush_text()
{
    if (style_.percent_text)
        for (size_t p = text_.find("%%"); p != std::string::npos; p = text_.find("%%", p + 1))
            text_.erase(p, 1);
    show("text", text_);
    text_.clear();
}

void Emitter::end_line()
{
    flush_text();
    newline_ = true;
    style_.end_line(h_);
}

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
bool Emitter::display_text(const Field &f, std::string &disp)
{
    if (f.role != 'V' && !f.name.empty()) {
        if (f.text_fmt.empty()) {
            disp.assign(f.name);
            return true;
        }
        std::string text(f.name);
        ArgPool fixed(text.c_str());
        return format(disp, f.text_fmt, fixed);
    }
    std::string_view fmt = !f.text_fmt.empty() ? f.text_fmt : f.enc_fmt;
    if ((f.role != 'V' && fmt.empty()) || (f.role == 'V' && f.formats && f.text_fmt.empty()))
        return true;
    return format(disp, fmt.empty() ? std::string_view("%s") : fmt, pool_);
}

// The encoded value: the encoding format, or else the display format
// without its widths.
bool Emitter::encoding_text(const Field &f, std::string &enc, FormatResult &kind)
{
    FormatResult r = !f.enc_fmt.empty()    ? format_printf(enc, f.enc_fmt, pool_)
                     : !f.text_fmt.empty() ? format_printf(enc, f.text_fmt, pool_, Widths::DROP)
                                           : format_printf(enc, "%s", pool_);
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

void Emitter::show_field(const Field &f, std::string_view name, std::string_view disp, bool enc_only)
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
    // An encoding-only value shows nothing, but its colon and blank.
    if (!enc_only)
        show(html_class(f.role), disp, f.role == 'V' ? name : std::string_view(), (f.mods & M_KEY) != 0,
             true);
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
}

// HTML's xpath: the keys of an instance select it.
void Emitter::add_predicate(std::string_view name, std::string_view enc)
{
    if (h_.stack.empty())
        return;
    columns_ += string_columns(enc); // formatted for the path, so counted
    h_.stack.back().predicate +=
        "[" + std::string(name) + (has(h_, XOF_PRETTY) ? " = '" : "='") + std::string(enc) + "']";
}

// Warnings and errors are objects of their own in the encoding styles.
void Emitter::encode_message(const Field &f, std::string_view text)
{
    count(Counted::ENCODED, text);
    push_frame(h_, Frame::CONTAINER, f.role == 'W' ? "__warning" : "__error");
    style_.leaf(h_, Leaf{"message", text, true, false});
    pop_frame(h_);
}

bool Emitter::field(Field &f)
{
    pool_.next_field();
    std::string name_storage;
    std::string_view name = name_of(f, name_storage);
    const bool value = f.role == 'V';
    const bool no_format = f.text_fmt.empty() && f.enc_fmt.empty();
    if (value && name.empty() && no_format) {
        warn("missing field name");
        return true;
    }
    if (f.role == 'G' || (f.role == 'C' && no_format))
        return true;
    // A value cannot sit directly in a list: as libxo does, it ends it.
    if (value && in_list(h_))
        pop_frame(h_);
    if (value)
        check_key_order(f, name);

    // The display format takes the arguments first, then the encoding
    // format reads the same ones again.
    const bool enc_only = value && (f.mods & M_ENC);
    const bool xpath_key = (f.mods & M_KEY) && style_.xpath_keys && has(h_, XOF_XPATH);
    const bool encoded = value && !(f.mods & M_DISP) && (style_.encodes || xpath_key);
    std::string &disp = scratch_.display;
    std::string &enc = scratch_.encoding;
    disp.clear();
    enc.clear();
    FormatResult kind;
    if (!enc_only && !display_text(f, disp))
        return false;
    // Arguments that nothing shown took are taken all the same.
    bool unread = enc_only || (value && f.formats && f.text_fmt.empty());
    if ((encoded || unread) && !encoding_text(f, enc, kind))
        return false;

    if (f.role == 'C') {
        // Colors are not shown, but libxo counts what their format makes.
        count(Counted::SHOWN, disp);
        return true;
    }
    if (style_.encodes && (f.role == 'W' || f.role == 'E')) {
        encode_message(f, disp);
        return true;
    }
    show_field(f, name, disp, enc_only);
    if (encoded && style_.encodes)
        encode_field(f, name, enc, kind);
    else if (encoded)
        add_predicate(name, enc);
    return true;
}

bool Emitter::run()
{
    if (!parse_format(h_, fmt_, scratch_.fields))
        return false;
    const size_t n = fmt_.size();
    size_t i = 0;
    while (i < n) {
        char c = fmt_[i];
        if (c == '{' && i + 1 < n && fmt_[i + 1] == '{') {
            text_.push_back('{');
            escaped_braces_++;
            i += 2;
        } else if (c == '{') {
            flush_text();
            size_t close = fmt_.find('}', i + 1);
            if (!field(scratch_.fields[next_field_++]))
                return false;
            i = close + 1;
        } else if (c == '}' && i + 1 < n && fmt_[i + 1] == '}' && escaped_braces_ > 0) {
            // "{{...}}" is text in braces, a piece of its own.
            text_.push_back('}');
            escaped_braces_--;
            i += 2;
            flush_text();
        } else if (c == '}') {
            text_.push_back('}');
            i++;
        } else if (c == '\n') {
            end_line();
            i++;
        } else {
            size_t next = fmt_.find_first_of("{}\n", i);
            if (next == std::string_view::npos)
                next = n;
            text_.append(fmt_.data() + i, next - i);
            i = next;
        }
    }
    flush_text();
    return true;
}

} // namespace

ssize_t emit(Handle &h, const char *fmt, va_list *ap)
{
    if (!fmt)
        return 0;
    start_output(h);
    Emitter e(h, fmt, ap);
    bool ok = e.run();
    after_call(h, e.saw_newline());
    if (!ok)
        return -1;
    return has(h, XOF_COLUMNS) ? static_cast<ssize_t>(e.columns()) : 0;
}

ssize_t emit_args(Handle &h, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    ssize_t n = emit(h, fmt, &ap);
    va_end(ap);
    return n;
}

} // namespace xo
