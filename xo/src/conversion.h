/* SPDX-License-Identifier: BSD-2-Clause */
// One printf conversion specification of a field format, and the reader
// that takes it apart and formats it.
#ifndef XO_CONVERSION_H
#define XO_CONVERSION_H

#include <string>
#include <string_view>

#include "printf.h"

namespace xo {

// Widths beyond this are refused: a format must not make the layer pad
// without end.  Precisions only ever cut, so any precision is taken.
constexpr long max_width = 1000000;
constexpr long max_precision = 0x7fffffff;

struct Conv {
    bool minus = false, plus = false, space = false, zero = false, alt = false;
    long width = -1;
    long prec = -1;
    bool bare_dot = false; // a '.' without digits
    bool prec_columns = false; // "..N": a string's precision counts columns
    bool star = false;     // the width came from an argument
    enum Len { NONE, HH, H, L, LL, J, Z, T, LD } len = NONE;
    char conv = 0;
};

// Walks one format: reads each conversion (conversion.cpp) and writes it
// with the arguments it takes (printf.cpp).
struct Parser {
    std::string_view fmt;
    ArgPool &pool;
    size_t i = 0;    // position in fmt
    size_t argi = 0; // next argument of the field
    bool strings = false;
    std::string error;
    const char *null_text; // what a null string argument writes

    bool fail(std::string msg)
    {
        error = std::move(msg);
        return false;
    }
    bool mismatch() { return fail("arguments do not match between the formats of a field"); }

    const Arg *next(Arg::Kind kind) { return pool.get(argi++, kind); }

    // Reads one conversion specification; i is just past its '%', which
    // is at start.
    bool parse(Conv &sp, size_t start);
    // Writes it; integer tells whether it wrote a JSON-number integer.
    bool convert(std::string &out, const Conv &sp, std::string_view whole, bool &integer);

private:
    void parse_flags(Conv &sp);
    bool parse_width(Conv &sp);
    bool parse_precision(Conv &sp);
    void parse_length(Conv &sp);
    bool convert_integer(std::string &out, const Conv &sp, bool &integer);
    bool convert_char(std::string &out, const Conv &sp);
    bool convert_string(std::string &out, const Conv &sp);
    bool convert_wide(std::string &out, const Conv &sp);
    bool convert_pointer(std::string &out, const Conv &sp);
    bool convert_real(std::string &out, const Conv &sp);
};

} // namespace xo

#endif
