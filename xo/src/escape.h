/* SPDX-License-Identifier: BSD-2-Clause */
// The escaping of values in the encoding styles.
#ifndef XO_ESCAPE_H
#define XO_ESCAPE_H

#include <string>
#include <string_view>

namespace xo {

// Append s to out with the given escaping.  Invalid UTF-8 becomes U+FFFD
// in all of them.
void escape_xml(std::string &out, std::string_view s, bool attribute);
void escape_html(std::string &out, std::string_view s, bool attribute);
void escape_json(std::string &out, std::string_view s);

} // namespace xo

#endif
