/* SPDX-License-Identifier: BSD-2-Clause */
// The printf conversions that field formats may use.
#ifndef XO_PRINTF_H
#define XO_PRINTF_H

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xo {

// One argument taken from the caller's va_list, remembered so that the
// display and the encoding format of a field can both use it.
struct Arg {
    enum Kind : uint8_t { INT, LONG, LLONG, INTMAX, SIZE, PTRDIFF, PTR, DOUBLE, LDOUBLE };
    Kind kind;
    uint64_t bits; // integers, as the unsigned image of the fetched type
    const void *ptr;
    long double real; // floating point
};

class ArgPool {
public:
    // Arguments come from *ap; storage is reused from call to call.
    ArgPool(va_list *ap, std::vector<Arg> &storage) : ap_(ap), args_(storage) { args_.clear(); }
    // A pool holding just one string argument and no va_list.
    explicit ArgPool(const char *s) : ap_(nullptr), own_{Arg{Arg::PTR, 0, s, 0}}, args_(own_) {}
    ArgPool(const ArgPool &) = delete;
    ArgPool &operator=(const ArgPool &) = delete;
    // Returns the argument at position idx of the current field, fetching
    // it from the va_list when it has not been fetched yet.  Returns null
    // when the requested kind cannot be the one already fetched there, or
    // when there is no such argument.
    const Arg *get(size_t idx, Arg::Kind kind);
    // Starts a new field: already fetched arguments are forgotten.
    void next_field()
    {
        args_.clear();
        base_ = 0;
    }
    // Positions used by the formats start after the arguments fetched so
    // far (the 'a' modifier takes one before the formats).
    void rebase() { base_ = args_.size(); }
    // errno as the caller left it, for %m.
    int error_code = 0;

private:
    va_list *ap_;
    std::vector<Arg> own_;
    std::vector<Arg> &args_;
    size_t base_ = 0;
};

struct FormatResult {
    bool ok = true;
    bool numeric = false; // decimal or octal integers and nothing else
    bool strings = false; // a %s conversion
    std::string error;    // what went wrong when !ok
};

// Formats printf-style fmt (d i u x X o c s p m, f F e E g G a A, %%,
// flags, width, precision, '*', hh h l ll j z t q L; %hs and %hc are %s
// and %c, as in a UTF-8 locale) into out, taking arguments from pool
// starting at position 0.  A string's precision counts bytes and never
// splits a character; its width counts display columns.  With
// Widths::DROP the digits right after the '%' (a zero flag, and a width
// written there) are read but not applied, as libxo does when a field's
// display format also serves as its encoding format.
enum class Widths { APPLY, DROP };
// A null string argument is written as null_text, "(null)" when that
// is null.
FormatResult format_printf(std::string &out, std::string_view fmt, ArgPool &pool,
                           Widths widths = Widths::APPLY, const char *null_text = nullptr);

} // namespace xo

#endif
