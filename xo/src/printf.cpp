// The printf conversions that field formats may use.
//
// Arguments go through an ArgPool so that a field's display format and its
// encoding format read the same arguments, and so that a format never reads
// an argument as a type other than the one it was fetched as.
#include "printf.h"

#include <cstring>

#include "utf8.h"

namespace xo {

namespace {

// Kinds that share a representation class: all integers are one class
// (values convert), pointers another.
bool compatible(Arg::Kind a, Arg::Kind b)
{
    return (a == Arg::PTR) == (b == Arg::PTR);
}

// Widths beyond this are refused: a format must not make the layer pad
// without end.  Precisions only ever cut, so any precision is taken.
constexpr long max_width = 1000000;
constexpr long max_precision = 0x7fffffff;

struct Conv {
    bool minus = false, plus = false, space = false, zero = false, alt = false;
    long width = -1;
    long prec = -1;
    bool bare_dot = false; // a '.' without digits
    bool star = false; // the width came from an argument
    enum Len { NONE, HH, H, L, LL, J, Z, T } len = NONE;
    char conv = 0;
};

void pad(std::string &out, size_t n, char c)
{
    out.append(n, c);
}

void put_int(std::string &out, const Conv &sp, uint64_t mag, bool neg)
{
    char digits[32];
    size_t nd = 0;
    unsigned base = 10;
    const char *dig = "0123456789abcdef";
    if (sp.conv == 'o')
        base = 8;
    else if (sp.conv == 'x' || sp.conv == 'X' || sp.conv == 'p')
        base = 16;
    if (sp.conv == 'X')
        dig = "0123456789ABCDEF";
    for (uint64_t v = mag; v != 0; v /= base)
        digits[nd++] = dig[v % base];
    // digits[] holds them in reverse order.

    size_t ndigits = nd;
    if (sp.prec < 0 && mag == 0)
        ndigits = 1; // a lone "0"
    size_t zeros = 0;
    if (sp.prec >= 0 && static_cast<size_t>(sp.prec) > ndigits)
        zeros = static_cast<size_t>(sp.prec) - ndigits;

    char prefix[3];
    size_t np = 0;
    bool is_signed = sp.conv == 'd' || sp.conv == 'i';
    if (is_signed) {
        if (neg)
            prefix[np++] = '-';
        else if (sp.plus)
            prefix[np++] = '+';
        else if (sp.space)
            prefix[np++] = ' ';
    }
    // "#o": the first digit is a 0.
    if (sp.conv == 'o' && sp.alt && zeros == 0 && !(mag == 0 && ndigits == 1))
        zeros = 1;
    if (((sp.conv == 'x' || sp.conv == 'X') && sp.alt && mag != 0) || sp.conv == 'p') {
        prefix[np++] = '0';
        prefix[np++] = sp.conv == 'X' ? 'X' : 'x';
    }

    size_t total = np + zeros + ndigits;
    size_t fill = 0;
    if (sp.width > 0 && static_cast<size_t>(sp.width) > total)
        fill = static_cast<size_t>(sp.width) - total;

    if (fill && !sp.minus && !(sp.zero && sp.prec < 0))
        pad(out, fill, ' ');
    out.append(prefix, np);
    if (fill && !sp.minus && sp.zero && sp.prec < 0)
        pad(out, fill, '0');
    pad(out, zeros, '0');
    if (nd == 0) {
        if (ndigits)
            out.push_back('0');
    } else {
        while (nd)
            out.push_back(digits[--nd]);
    }
    if (fill && sp.minus)
        pad(out, fill, ' ');
}

// Appends s cut to the precision (in bytes, never inside a character)
// and padded to the width (in display columns).
void put_string(std::string &out, const Conv &sp, std::string_view s)
{
    size_t cut = sp.prec >= 0 ? cut_bytes(s, static_cast<size_t>(sp.prec)) : s.size();
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

} // namespace

const Arg *ArgPool::get(size_t idx, Arg::Kind kind)
{
    idx += base_;
    if (idx < args_.size())
        return compatible(args_[idx].kind, kind) ? &args_[idx] : nullptr;
    if (idx != args_.size() || !ap_)
        return nullptr;
    Arg a{kind, 0, nullptr};
    switch (kind) {
    case Arg::INT: a.bits = static_cast<unsigned>(va_arg(*ap_, int)); break;
    case Arg::LONG: a.bits = static_cast<unsigned long>(va_arg(*ap_, long)); break;
    case Arg::LLONG: a.bits = static_cast<unsigned long long>(va_arg(*ap_, long long)); break;
    case Arg::INTMAX: a.bits = static_cast<uintmax_t>(va_arg(*ap_, intmax_t)); break;
    case Arg::SIZE: a.bits = va_arg(*ap_, size_t); break;
    case Arg::PTRDIFF: a.bits = static_cast<uint64_t>(va_arg(*ap_, ptrdiff_t)); break;
    case Arg::PTR: a.ptr = va_arg(*ap_, const void *); break;
    }
    args_.push_back(a);
    return &args_.back();
}

namespace {

// Reads a run of digits at fmt[i], saturating at limit + 1.
long read_number(std::string_view fmt, size_t &i, long limit, bool &got)
{
    long v = 0;
    got = false;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        if (v <= limit)
            v = v * 10 + (fmt[i] - '0');
        got = true;
        i++;
    }
    return v;
}

struct Parser {
    std::string_view fmt;
    ArgPool &pool;
    size_t i = 0;    // position in fmt
    size_t argi = 0; // next argument of the field
    bool strings = false;
    std::string error;

    bool fail(std::string msg)
    {
        error = std::move(msg);
        return false;
    }
    bool mismatch() { return fail("arguments do not match between the formats of a field"); }

    const Arg *next(Arg::Kind kind) { return pool.get(argi++, kind); }

    void parse_flags(Conv &sp);
    bool parse_width(Conv &sp);
    bool parse_precision(Conv &sp);
    void parse_length(Conv &sp);
    bool parse(Conv &sp, size_t start);
    bool convert(std::string &out, const Conv &sp, std::string_view whole, bool &integer);
};

void Parser::parse_flags(Conv &sp)
{
    for (; i < fmt.size(); i++) {
        switch (fmt[i]) {
        case '-': sp.minus = true; break;
        case '+': sp.plus = true; break;
        case ' ': sp.space = true; break;
        case '0': sp.zero = true; break;
        case '#': sp.alt = true; break;
        case '\'': break; // digit grouping: accepted, not applied
        default: return;
        }
    }
}

bool Parser::parse_width(Conv &sp)
{
    if (i < fmt.size() && fmt[i] == '*') {
        i++;
        const Arg *a = next(Arg::INT);
        if (!a)
            return mismatch();
        int w = static_cast<int>(static_cast<uint32_t>(a->bits));
        sp.star = true;
        if (w < 0) {
            sp.minus = true;
            sp.width = w == INT32_MIN ? max_width + 1 : -static_cast<long>(w);
        } else {
            sp.width = w;
        }
        return true;
    }
    bool got;
    long w = read_number(fmt, i, max_width, got);
    if (got)
        sp.width = w;
    return true;
}

bool Parser::parse_precision(Conv &sp)
{
    if (i >= fmt.size() || fmt[i] != '.')
        return true;
    i++;
    if (i < fmt.size() && fmt[i] == '*') {
        i++;
        const Arg *a = next(Arg::INT);
        if (!a)
            return mismatch();
        int p = static_cast<int>(static_cast<uint32_t>(a->bits));
        sp.prec = p < 0 ? -1 : p;
        return true;
    }
    bool got;
    long p = read_number(fmt, i, max_precision, got);
    sp.bare_dot = !got;
    sp.prec = !got ? -1 : p > max_precision ? max_precision : p;
    return true;
}

void Parser::parse_length(Conv &sp)
{
    if (i >= fmt.size())
        return;
    auto doubled = [&](Conv::Len one, Conv::Len two) {
        i++;
        if (i < fmt.size() && fmt[i] == fmt[i - 1]) {
            i++;
            sp.len = two;
        } else {
            sp.len = one;
        }
    };
    switch (fmt[i]) {
    case 'h': doubled(Conv::H, Conv::HH); break;
    case 'l': doubled(Conv::L, Conv::LL); break;
    case 'q': sp.len = Conv::LL; i++; break;
    case 'j': sp.len = Conv::J; i++; break;
    case 'z': sp.len = Conv::Z; i++; break;
    case 't': sp.len = Conv::T; i++; break;
    default: break;
    }
}

// Reads one conversion specification; i is just past its '%'.
bool Parser::parse(Conv &sp, size_t start)
{
    parse_flags(sp);
    if (!parse_width(sp) || !parse_precision(sp))
        return false;
    parse_length(sp);
    if (i >= fmt.size())
        return fail("incomplete conversion '" + std::string(fmt.substr(start)) + "'");
    sp.conv = fmt[i++];
    // A dot without digits is precision 0 for an integer, as in C; libxo
    // ignores it for anything else.
    if (sp.bare_dot && std::strchr("diuxXo", sp.conv))
        sp.prec = 0;
    return true;
}

bool Parser::convert(std::string &out, const Conv &sp, std::string_view whole, bool &integer)
{
    integer = false;
    switch (sp.conv) {
    case 'd':
    case 'i': {
        const Arg *a = next(int_kind(sp.len));
        if (!a)
            return mismatch();
        int64_t v = as_signed(*a, sp.len);
        uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        put_int(out, sp, mag, v < 0);
        integer = true;
        return true;
    }
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
        const Arg *a = next(int_kind(sp.len));
        if (!a)
            return mismatch();
        put_int(out, sp, as_unsigned(*a, sp.len), false);
        // libxo quotes hexadecimal, and octal with its leading zero.
        integer = sp.conv == 'u' || (sp.conv == 'o' && !sp.alt);
        return true;
    }
    case 'c': {
        if (sp.len != Conv::NONE)
            break;
        const Arg *a = next(Arg::INT);
        if (!a)
            return mismatch();
        char ch = static_cast<char>(static_cast<unsigned char>(a->bits));
        Conv whole_char = sp;
        whole_char.prec = -1;
        put_string(out, whole_char, std::string_view(&ch, 1));
        return true;
    }
    case 's': {
        if (sp.len != Conv::NONE)
            break;
        const Arg *a = next(Arg::PTR);
        if (!a)
            return mismatch();
        const char *s = static_cast<const char *>(a->ptr);
        strings = true;
        put_string(out, sp, s ? std::string_view(s) : std::string_view("(null)"));
        return true;
    }
    case 'p': {
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
    default:
        break;
    }
    return fail("unsupported conversion '" + std::string(whole) + "'");
}

// Only digits right after the '%' are dropped: a zero flag written there,
// and the width when they are all of it.
void drop_leading_width(Conv &sp, std::string_view fmt, size_t pct)
{
    if (pct + 1 >= fmt.size() || fmt[pct + 1] < '0' || fmt[pct + 1] > '9')
        return;
    sp.zero = false;
    if (!sp.star && !sp.minus && !sp.plus && !sp.space && !sp.alt)
        sp.width = -1;
}

} // namespace

FormatResult format_printf(std::string &out, std::string_view fmt, ArgPool &pool, Widths widths)
{
    FormatResult res;
    Parser p{fmt, pool, 0, 0, false, {}};
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
