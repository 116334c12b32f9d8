/* SPDX-License-Identifier: BSD-2-Clause */
// Writing printf conversions: integers, characters, strings, pointers.
#include "printf.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "conversion.h"
#include "utf8.h"

namespace xo {

namespace {

void pad(std::string &out, size_t n, char c)
{
    out.append(n, c);
}

// The digits of mag in the conversion's base, most significant first;
// empty for 0.
std::string digits_of(const Conv &sp, uint64_t mag)
{
    unsigned base = sp.conv == 'o' ? 8 : (sp.conv == 'x' || sp.conv == 'X' || sp.conv == 'p') ? 16 : 10;
    const char *dig = sp.conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string d;
    for (uint64_t v = mag; v != 0; v /= base)
        d.insert(d.begin(), dig[v % base]);
    return d;
}

// The sign, and the "0x" of a hexadecimal number.
std::string int_prefix(const Conv &sp, uint64_t mag, bool neg)
{
    std::string prefix;
    if (sp.conv == 'd' || sp.conv == 'i') {
        if (neg)
            prefix = "-";
        else if (sp.plus)
            prefix = "+";
        else if (sp.space)
            prefix = " ";
    }
    if (((sp.conv == 'x' || sp.conv == 'X') && sp.alt && mag != 0) || sp.conv == 'p')
        prefix += sp.conv == 'X' ? "0X" : "0x";
    return prefix;
}

void put_int(std::string &out, const Conv &sp, uint64_t mag, bool neg)
{
    std::string digits = digits_of(sp, mag);
    if (digits.empty() && sp.prec < 0)
        digits = "0"; // a lone "0"
    size_t zeros = 0;
    if (sp.prec >= 0 && static_cast<size_t>(sp.prec) > digits.size())
        zeros = static_cast<size_t>(sp.prec) - digits.size();
    // "#o": the first digit is a 0.
    if (sp.conv == 'o' && sp.alt && zeros == 0 && !(mag == 0 && digits.size() == 1))
        zeros = 1;
    std::string prefix = int_prefix(sp, mag, neg);

    size_t total = prefix.size() + zeros + digits.size();
    size_t fill = 0;
    if (sp.width > 0 && static_cast<size_t>(sp.width) > total)
        fill = static_cast<size_t>(sp.width) - total;
    bool zero_fill = sp.zero && sp.prec < 0;

    if (fill && !sp.minus && !zero_fill)
        pad(out, fill, ' ');
    out.append(prefix);
    if (fill && !sp.minus && zero_fill)
        pad(out, fill, '0');
    pad(out, zeros, '0');
    out.append(digits);
    if (fill && sp.minus)
        pad(out, fill, ' ');
}

// Appends s cut to the precision (in bytes, never inside a character)
// and padded to the width (in display columns).
void put_string(std::string &out, const Conv &sp, std::string_view s)
{
    size_t cut = sp.prec < 0        ? s.size()
                 : sp.prec_columns ? cut_columns(s, static_cast<size_t>(sp.prec))
                                   : cut_bytes(s, static_cast<size_t>(sp.prec));
    std::string_view shown = s.substr(0, cut);
    size_t cols = string_columns(shown);
    size_t fill = 0;
    if (sp.width > 0 && static_cast<size_t>(sp.width) > cols)
        fill = static_cast<size_t>(sp.width) - cols;
    if (fill && !sp.minus)
        pad(out, fill, ' ');
    out.append(shown);
    if (fill && sp.minus)
        pad(out, fill, ' ');
}

Arg::Kind int_kind(Conv::Len len)
{
    switch (len) {
    case Conv::L: return Arg::LONG;
    case Conv::LL: return Arg::LLONG;
    case Conv::J: return Arg::INTMAX;
    case Conv::Z: return Arg::SIZE;
    case Conv::T: return Arg::PTRDIFF;
    default: return Arg::INT;
    }
}

// The signed value of an integer argument as the conversion sees it.
int64_t as_signed(const Arg &a, Conv::Len len)
{
    switch (len) {
    case Conv::HH: return static_cast<signed char>(a.bits);
    case Conv::H: return static_cast<short>(a.bits);
    case Conv::NONE: return static_cast<int>(static_cast<uint32_t>(a.bits));
    default:
        if (a.kind == Arg::INT)
            return static_cast<int>(static_cast<uint32_t>(a.bits));
        return static_cast<int64_t>(a.bits);
    }
}

uint64_t as_unsigned(const Arg &a, Conv::Len len)
{
    switch (len) {
    case Conv::HH: return static_cast<unsigned char>(a.bits);
    case Conv::H: return static_cast<unsigned short>(a.bits);
    case Conv::NONE: return static_cast<uint32_t>(a.bits);
    default:
        if (a.kind == Arg::INT)
            return static_cast<uint32_t>(a.bits);
        return a.bits;
    }
}

// Only digits right after the '%' are dropped: a zero flag written there,
// and the width when they are all of it.
void drop_leading_width(Conv &sp, std::string_view fmt, size_t pct)
{
    // A precision in columns is a display matter too.
    if (sp.prec_columns)
        sp.prec = -1;
    if (pct + 1 >= fmt.size() || fmt[pct + 1] < '0' || fmt[pct + 1] > '9')
        return;
    sp.zero = false;
    if (!sp.star && !sp.minus && !sp.plus && !sp.space && !sp.alt)
        sp.width = -1;
}

} // namespace

bool Parser::convert_integer(std::string &out, const Conv &sp, bool &integer)
{
    const Arg *a = next(int_kind(sp.len));
    if (!a)
        return mismatch();
    if (sp.conv == 'd' || sp.conv == 'i') {
        int64_t v = as_signed(*a, sp.len);
        uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        put_int(out, sp, mag, v < 0);
        integer = true;
        return true;
    }
    put_int(out, sp, as_unsigned(*a, sp.len), false);
    // libxo quotes hexadecimal, and octal with its leading zero.
    integer = sp.conv == 'u' || (sp.conv == 'o' && !sp.alt);
    return true;
}

bool Parser::convert_char(std::string &out, const Conv &sp)
{
    const Arg *a = next(Arg::INT);
    if (!a)
        return mismatch();
    char ch = static_cast<char>(static_cast<unsigned char>(a->bits));
    Conv whole_char = sp;
    whole_char.prec = -1;
    put_string(out, whole_char, std::string_view(&ch, 1));
    return true;
}

// %lc and %ls: wide characters (UTF-32, as wchar_t is on the systems the
// layer is for), written as UTF-8.
bool Parser::convert_wide(std::string &out, const Conv &sp)
{
    std::string text;
    if (sp.conv == 'c') {
        const Arg *a = next(Arg::INT);
        if (!a)
            return mismatch();
        append_utf8(text, static_cast<uint32_t>(a->bits));
        Conv whole_char = sp;
        whole_char.prec = -1;
        put_string(out, whole_char, text);
        return true;
    }
    const Arg *a = next(Arg::PTR);
    if (!a)
        return mismatch();
    strings = true;
    const wchar_t *w = static_cast<const wchar_t *>(a->ptr);
    if (!w) {
        put_string(out, sp, null_text);
        return true;
    }
    // The precision counts wide characters.
    for (long n = 0; *w && (sp.prec < 0 || n < sp.prec); w++, n++)
        append_utf8(text, static_cast<uint32_t>(*w));
    Conv whole = sp;
    whole.prec = -1;
    put_string(out, whole, text);
    return true;
}

bool Parser::convert_string(std::string &out, const Conv &sp)
{
    const Arg *a = next(Arg::PTR);
    if (!a)
        return mismatch();
    const char *s = static_cast<const char *>(a->ptr);
    strings = true;
    put_string(out, sp, s ? std::string_view(s) : std::string_view(null_text));
    return true;
}

bool Parser::convert_pointer(std::string &out, const Conv &sp)
{
    const Arg *a = next(Arg::PTR);
    if (!a)
        return mismatch();
    Conv no_zero = sp;
    no_zero.zero = false;
    if (!a->ptr) { // as the C library under libxo writes it
        no_zero.prec = -1;
        put_string(out, no_zero, "(nil)");
        return true;
    }
    put_int(out, no_zero, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(a->ptr)), false);
    return true;
}

// Floating point, as the C library writes it.
bool Parser::convert_real(std::string &out, const Conv &sp)
{
    const Arg *a = next(sp.len == Conv::LD ? Arg::LDOUBLE : Arg::DOUBLE);
    if (!a)
        return mismatch();
    std::string spec = "%";
    spec += sp.minus ? "-" : "";
    spec += sp.plus ? "+" : "";
    spec += sp.space ? " " : "";
    spec += sp.zero ? "0" : "";
    spec += sp.alt ? "#" : "";
    spec += sp.len == Conv::LD ? "*.*L" : "*.*";
    spec += sp.conv;
    int width = sp.width > 0 ? static_cast<int>(sp.width) : 0;
    int prec = sp.prec >= 0 ? static_cast<int>(sp.prec) : -1;
    // A double is formatted as a double: "%a" differs for long double.
    double d = static_cast<double>(a->real);
    int n = sp.len == Conv::LD ? snprintf(nullptr, 0, spec.c_str(), width, prec, a->real)
                               : snprintf(nullptr, 0, spec.c_str(), width, prec, d);
    if (n < 0)
        return fail("cannot format a floating point value");
    std::string buf(static_cast<size_t>(n) + 1, '\0');
    if (sp.len == Conv::LD)
        snprintf(&buf[0], buf.size(), spec.c_str(), width, prec, a->real);
    else
        snprintf(&buf[0], buf.size(), spec.c_str(), width, prec, d);
    buf.resize(static_cast<size_t>(n));
    out += buf;
    return true;
}

bool Parser::convert(std::string &out, const Conv &sp, std::string_view whole, bool &integer)
{
    integer = false;
    switch (sp.conv) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
        return convert_integer(out, sp, integer);
    case 'C': // glibc's and BSD's %lc and %ls
    case 'S': {
        Conv wide = sp;
        wide.conv = sp.conv == 'C' ? 'c' : 's';
        wide.len = Conv::L;
        return convert_wide(out, wide);
    }
    case 'c':
    case 's':
        if (sp.len == Conv::L)
            return convert_wide(out, sp);
        if (sp.len != Conv::NONE && sp.len != Conv::H)
            break;
        return sp.conv == 'c' ? convert_char(out, sp) : convert_string(out, sp);
    case 'p':
        return convert_pointer(out, sp);
    case 'm': { // the text of the caller's errno; takes no argument
        Conv text = sp;
        strings = true;
        put_string(out, text, std::strerror(pool.error_code));
        return true;
    }
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
        integer = true; // a number, unquoted in JSON when it is one
        return convert_real(out, sp);
    default:
        break;
    }
    return fail("unsupported conversion '" + std::string(whole) + "'");
}

FormatResult format_printf(std::string &out, std::string_view fmt, ArgPool &pool, Widths widths,
                           const char *null_text)
{
    FormatResult res;
    Parser p{fmt, pool, 0, 0, false, {}, null_text ? null_text : "(null)"};
    bool any_int = false, other = false;
    while (p.i < fmt.size()) {
        size_t pct = fmt.find('%', p.i);
        if (pct == std::string_view::npos)
            pct = fmt.size();
        if (pct > p.i) {
            out.append(fmt.data() + p.i, pct - p.i);
            other = true;
        }
        if (pct == fmt.size())
            break;
        p.i = pct + 1;
        if (p.i < fmt.size() && fmt[p.i] == '%') {
            out.push_back('%');
            other = true;
            p.i++;
            continue;
        }
        Conv sp;
        bool integer = false;
        bool parsed = p.parse(sp, pct);
        if (parsed && widths == Widths::DROP)
            drop_leading_width(sp, fmt, pct);
        if (parsed && sp.width > max_width)
            parsed = p.fail("width too large for '" + std::string(fmt.substr(pct, p.i - pct)) + "'");
        if (!parsed || !p.convert(out, sp, fmt.substr(pct, p.i - pct), integer)) {
            res.ok = false;
            res.error = std::move(p.error);
            return res;
        }
        any_int = any_int || integer;
        other = other || !integer;
    }
    res.numeric = any_int && !other;
    res.strings = p.strings;
    return res;
}

} // namespace xo
