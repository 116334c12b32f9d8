/* SPDX-License-Identifier: BSD-2-Clause */
// The escapers of the encoding styles.
#include "escape.h"

#include <cstdio>

#include "utf8.h"

namespace xo {

namespace {

const char replacement[] = "\xEF\xBF\xBD";

// Copies s to out, runs of bytes as they are, with the replacement that
// ascii(c, buf) gives for an ASCII byte (nullptr: keep it) and U+FFFD for
// bytes that are not valid UTF-8.
template <typename Ascii>
void escape_with(std::string &out, std::string_view s, Ascii ascii)
{
    size_t run = 0; // start of the pending run of bytes copied as they are
    char buf[8];
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        const char *rep = nullptr;
        size_t len = 1;
        if (c >= 0x80) {
            uint32_t cp;
            len = utf8_decode(s, i, cp);
            if (len == 0) {
                rep = replacement;
                len = 1;
            }
        } else {
            rep = ascii(c, buf);
        }
        if (rep) {
            out.append(s.data() + run, i - run);
            out.append(rep);
            run = i + len;
        }
        i += len;
    }
    out.append(s.data() + run, s.size() - run);
}

// XML and HTML escape alike; XML 1.0 cannot hold most C0 control
// characters at all, not even as references, so those are replaced.
void escape_markup(std::string &out, std::string_view s, bool attribute,
                   bool xml)
{
    escape_with(out, s, [&](unsigned char c, char *) -> const char * {
        switch (c) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return attribute ? "&quot;" : nullptr;
        case '\t': case '\n': case '\r': return nullptr;
        }
        return xml && c < 0x20 ? replacement : nullptr;
    });
}

} // namespace

void escape_xml(std::string &out, std::string_view s, bool attribute)
{
    escape_markup(out, s, attribute, true);
}

void escape_html(std::string &out, std::string_view s, bool attribute)
{
    escape_markup(out, s, attribute, false);
}

void escape_json(std::string &out, std::string_view s)
{
    escape_with(out, s, [](unsigned char c, char *buf) -> const char * {
        switch (c) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\b': return "\\b";
        case '\f': return "\\f";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        }
        if (c >= 0x20)
            return nullptr;
        snprintf(buf, 8, "\\u%04x", c);
        return buf;
    });
}

} // namespace xo
