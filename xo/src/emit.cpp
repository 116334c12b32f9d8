/* SPDX-License-Identifier: BSD-2-Clause */
// xo_emit: the walk through a format, its literal text and anchors; the
// fields themselves are in emit_field.cpp.
#include "emit.h"

#include <cerrno>
#include <cstdlib>

#include "emitter.h"

namespace xo {

Scratch &scratch()
{
    static Scratch s;
    return s;
}

bool Emitter::format(std::string &out, std::string_view fmt, ArgPool &pool, const char *null_text)
{
    FormatResult r = format_printf(out, fmt, pool, Widths::APPLY, null_text);
    if (!r.ok)
        warn(r.error);
    return r.ok;
}

// One displayed piece: counted, and written in the display styles.
void Emitter::show(const char *cls, std::string_view text, std::string_view tag, bool key, bool even_empty,
                   std::string_view number)
{
    if (text.empty() && !even_empty)
        return;
    count(Counted::SHOWN, text);
    if (style_.displays)
        shown_ += string_columns(text);
    style_.display(h_, Piece{cls, text, tag, key, number});
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

// An anchor's width: its content, or what its format makes of its
// arguments; 0 when it has neither.
bool Emitter::anchor_width(const Field &f, long &width)
{
    std::string text = f.name;
    if (!f.text_fmt.empty()) {
        text.clear();
        if (!format(text, f.text_fmt, pool_))
            return false;
    }
    width = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

bool Emitter::start_anchor(const Field &f)
{
    long width = 0;
    if (!anchor_width(f, width))
        return false;
    style_.begin_line(h_);
    anchor_ = Anchor{true, h_.out.size(), shown_, width};
    return true;
}

// The text since the start of the anchor is padded to its width: blanks
// before it, or after it for a negative width.
bool Emitter::end_anchor(const Field &f)
{
    long width = 0;
    if (!anchor_width(f, width))
        return false;
    if (!anchor_.open) {
        warn("anchor end without a start");
        return true;
    }
    anchor_.open = false;
    if (width == 0)
        width = anchor_.width;
    size_t want = static_cast<size_t>(width < 0 ? -width : width);
    size_t used = shown_ - anchor_.shown;
    if (!style_.displays || want <= used || want > 1000000 || anchor_.at > h_.out.size())
        return true;
    std::string blanks(want - used, ' ');
    if (width < 0) {
        show("padding", blanks);
        return true;
    }
    std::string after = h_.out.substr(anchor_.at);
    h_.out.resize(anchor_.at);
    show("padding", blanks);
    h_.out += after;
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
            // "{{...}}" is text in braces, a piece of its own.
            flush_text();
            text_.push_back('{');
            escaped_braces_++;
            i += 2;
        } else if (c == '{') {
            flush_text();
            Field &f = scratch_.fields[next_field_++];
            if (!field(f))
                return false;
            i = f.end;
        } else if (c == '}' && i + 1 < n && fmt_[i + 1] == '}' && escaped_braces_ > 0) {
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

ssize_t emit(Handle &h, const char *fmt, va_list *ap, bool carry)
{
    if (!carry)
        h.columns_carried = 0;
    if (!fmt)
        return 0;
    int error_code = errno; // for %m
    start_output(h);
    Emitter e(h, fmt, ap, error_code);
    bool ok = e.run();
    after_call(h, e.saw_newline());
    if (!ok)
        return -1;
    h.columns_carried += e.columns();
    return static_cast<ssize_t>(has(h, XOF_COLUMNS) ? h.columns_carried : e.humanized_columns());
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
