// The printf conversions that field formats may use.
//
// Arguments go through an ArgPool so that a field's display format and its
// encoding format read the same arguments, and so that a format never reads
// an argument as a type other than the one it was fetched as.
#include "xo_internal.h"

#include <cstring>

namespace xo {

namespace {

// Kinds that share a representation class: all integers are one class
// (values convert), pointers another.
bool compatible(Arg::Kind a, Arg::Kind b)
{
    return (a == Arg::PTR) == (b == Arg::PTR);
}

constexpr long max_width = 65536;

struct Conv {
    bool minus = false, plus = false, space = false, zero = false, alt = false;
    long width = -1;
    long prec = -1;
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

// Appends s padded/truncated to display columns.
void put_string(std::string &out, const Conv &sp, std::string_view s)
{
    size_t cut = s.size();
    size_t cols;
    bool ascii = true;
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        if (sp.prec >= 0 && static_cast<size_t>(sp.prec) < cut)
            cut = static_cast<size_t>(sp.prec);
        cols = cut;
    } else {
        cols = 0;
        size_t limit = sp.prec >= 0 ? static_cast<size_t>(sp.prec) : SIZE_MAX;
        size_t i = 0;
        while (i < s.size()) {
            uint32_t cp;
            size_t len = utf8_decode(s, i, cp);
            size_t w;
            if (len == 0) {
                len = 1;
                w = 1;
            } else {
                w = static_cast<size_t>(codepoint_columns(cp));
            }
            if (cols + w > limit)
                break;
            cols += w;
            i += len;
        }
        cut = i;
    }
    size_t fill = 0;
    if (sp.width > 0 && static_cast<size_t>(sp.width) > cols)
        fill = static_cast<size_t>(sp.width) - cols;
    if (fill && !sp.minus)
        pad(out, fill, ' ');
    out.append(s.data(), cut);
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

FormatResult format_printf(std::string &out, std::string_view fmt, ArgPool &pool)
{
    FormatResult res;
    size_t argi = 0;
    bool any_int = false, other = false;
    auto fail = [&](std::string msg) {
        res.ok = false;
        res.error = std::move(msg);
        return res;
    };
    auto mismatch = [&]() {
        return fail("arguments do not match between the formats of a field");
    };

    size_t i = 0;
    const size_t n = fmt.size();
    while (i < n) {
        size_t pct = fmt.find('%', i);
        if (pct == std::string_view::npos) {
            out.append(fmt.data() + i, n - i);
            other = true;
            break;
        }
        if (pct > i) {
            out.append(fmt.data() + i, pct - i);
            other = true;
        }
        size_t start = pct;
        i = pct + 1;
        if (i < n && fmt[i] == '%') {
            out.push_back('%');
            other = true;
            i++;
            continue;
        }
        Conv sp;
        for (; i < n; i++) {
            char c = fmt[i];
            if (c == '-')
                sp.minus = true;
            else if (c == '+')
                sp.plus = true;
            else if (c == ' ')
                sp.space = true;
            else if (c == '0')
                sp.zero = true;
            else if (c == '#')
                sp.alt = true;
            else if (c == '\'')
                ; // digit grouping: accepted, not applied
            else
                break;
        }
        if (i < n && fmt[i] == '*') {
            const Arg *a = pool.get(argi++, Arg::INT);
            if (!a)
                return mismatch();
            int w = static_cast<int>(static_cast<uint32_t>(a->bits));
            if (w < 0) {
                sp.minus = true;
                sp.width = w == INT32_MIN ? max_width + 1 : -static_cast<long>(w);
            } else {
                sp.width = w;
            }
            i++;
        } else {
            long w = 0;
            bool got = false;
            while (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
                if (w <= max_width)
                    w = w * 10 + (fmt[i] - '0');
                got = true;
                i++;
            }
            if (got)
                sp.width = w;
        }
        if (i < n && fmt[i] == '.') {
            i++;
            if (i < n && fmt[i] == '*') {
                const Arg *a = pool.get(argi++, Arg::INT);
                if (!a)
                    return mismatch();
                int p = static_cast<int>(static_cast<uint32_t>(a->bits));
                sp.prec = p < 0 ? -1 : p;
                i++;
            } else {
                long p = 0;
                while (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
                    if (p <= max_width)
                        p = p * 10 + (fmt[i] - '0');
                    i++;
                }
                sp.prec = p;
            }
        }
        if (i < n) {
            switch (fmt[i]) {
            case 'h':
                i++;
                if (i < n && fmt[i] == 'h') {
                    sp.len = Conv::HH;
                    i++;
                } else {
                    sp.len = Conv::H;
                }
                break;
            case 'l':
                i++;
                if (i < n && fmt[i] == 'l') {
                    sp.len = Conv::LL;
                    i++;
                } else {
                    sp.len = Conv::L;
                }
                break;
            case 'q': sp.len = Conv::LL; i++; break;
            case 'j': sp.len = Conv::J; i++; break;
            case 'z': sp.len = Conv::Z; i++; break;
            case 't': sp.len = Conv::T; i++; break;
            default: break;
            }
        }
        if (i >= n)
            return fail("incomplete conversion '" + std::string(fmt.substr(start)) + "'");
        sp.conv = fmt[i++];
        std::string_view whole = fmt.substr(start, i - start);
        if (sp.width > max_width || sp.prec > max_width)
            return fail("width or precision too large for '" + std::string(whole) + "'");
        switch (sp.conv) {
        case 'd':
        case 'i': {
            const Arg *a = pool.get(argi++, int_kind(sp.len));
            if (!a)
                return mismatch();
            int64_t v = as_signed(*a, sp.len);
            uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
            put_int(out, sp, mag, v < 0);
            any_int = true;
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            const Arg *a = pool.get(argi++, int_kind(sp.len));
            if (!a)
                return mismatch();
            put_int(out, sp, as_unsigned(*a, sp.len), false);
            any_int = true;
            break;
        }
        case 'c': {
            if (sp.len != Conv::NONE)
                return fail("unsupported conversion '" + std::string(whole) + "'");
            const Arg *a = pool.get(argi++, Arg::INT);
            if (!a)
                return mismatch();
            char ch = static_cast<char>(static_cast<unsigned char>(a->bits));
            Conv s2 = sp;
            s2.prec = -1;
            put_string(out, s2, std::string_view(&ch, 1));
            other = true;
            break;
        }
        case 's': {
            if (sp.len != Conv::NONE)
                return fail("unsupported conversion '" + std::string(whole) + "'");
            const Arg *a = pool.get(argi++, Arg::PTR);
            if (!a)
                return mismatch();
            const char *s = static_cast<const char *>(a->ptr);
            put_string(out, sp, s ? std::string_view(s) : std::string_view("(null)"));
            other = true;
            break;
        }
        case 'p': {
            const Arg *a = pool.get(argi++, Arg::PTR);
            if (!a)
                return mismatch();
            Conv s2 = sp;
            s2.zero = false;
            put_int(out, s2, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(a->ptr)), false);
            other = true;
            break;
        }
        default:
            return fail("unsupported conversion '" + std::string(whole) + "'");
        }
    }
    res.numeric = any_int && !other;
    return res;
}

} // namespace xo
