/* SPDX-License-Identifier: BSD-2-Clause */
// UTF-8 decoding and display widths.
#ifndef XO_UTF8_H
#define XO_UTF8_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace xo {

// Decodes one code point at s[i]; returns its length in bytes, or 0 when
// the bytes there are not a valid (shortest form, non-surrogate) sequence.
size_t utf8_decode(std::string_view s, size_t i, uint32_t &cp);

// Display columns of one code point, as libxo counts them: 0 for
// controls and combining marks, 2 for East Asian wide characters (not
// emoji), 1 otherwise.
int codepoint_columns(uint32_t cp);

// Display columns of a string; bytes that are not valid UTF-8 count one
// column each.
size_t string_columns(std::string_view s);

// The longest prefix of s of at most max bytes that does not end inside
// a character.
size_t cut_bytes(std::string_view s, size_t max);

// The longest prefix of s that takes at most max display columns and
// does not end inside a character.
size_t cut_columns(std::string_view s, size_t max);

// Appends a code point as UTF-8 (U+FFFD for one that is not valid).
void append_utf8(std::string &out, uint32_t cp);

} // namespace xo

#endif
