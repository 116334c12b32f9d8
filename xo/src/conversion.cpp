/* SPDX-License-Identifier: BSD-2-Clause */
// Reading printf conversion specifications, and the arguments they take.
//
// Arguments go through an ArgPool so that a field's display format and its
// encoding format read the same arguments, and so that a format never reads
// an argument as a type other than the one it was fetched as.
#include "conversion.h"

#include <cstddef>
#include <cstring>

namespace xo {

namespace {

// Kinds that share a representation class: all integers are one class
// (values convert); pointers, doubles and long doubles are one each.
bool compatible(Arg::Kind a, Arg::Kind b)
{
    auto cls = [](Arg::Kind k) { return k == Arg::PTR ? 1 : k == Arg::DOUBLE ? 2 : k == Arg::LDOUBLE ? 3 : 0; };
    return cls(a) == cls(b);
}

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

} // namespace

const Arg *ArgPool::get(size_t idx, Arg::Kind kind)
{
    idx += base_;
    if (idx < args_.size())
        return compatible(args_[idx].kind, kind) ? &args_[idx] : nullptr;
    if (idx != args_.size() || !ap_)
        return nullptr;
    Arg a{kind, 0, nullptr, 0};
    switch (kind) {
    case Arg::INT: a.bits = static_cast<unsigned>(va_arg(*ap_, int)); break;
    case Arg::LONG: a.bits = static_cast<unsigned long>(va_arg(*ap_, long)); break;
    case Arg::LLONG: a.bits = static_cast<unsigned long long>(va_arg(*ap_, long long)); break;
    case Arg::INTMAX: a.bits = static_cast<uintmax_t>(va_arg(*ap_, intmax_t)); break;
    case Arg::SIZE: a.bits = va_arg(*ap_, size_t); break;
    case Arg::PTRDIFF: a.bits = static_cast<uint64_t>(va_arg(*ap_, ptrdiff_t)); break;
    case Arg::PTR: a.ptr = va_arg(*ap_, const void *); break;
    case Arg::DOUBLE: a.real = va_arg(*ap_, double); break;
    case Arg::LDOUBLE: a.real = va_arg(*ap_, long double); break;
    }
    args_.push_back(a);
    return &args_.back();
}

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
    // libxo's "..N": the precision of a string in display columns.
    if (i < fmt.size() && fmt[i] == '.') {
        sp.prec_columns = true;
        i++;
    }
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
    case 'L': sp.len = Conv::LD; i++; break;
    default: break;
    }
}

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

} // namespace xo
