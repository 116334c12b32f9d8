/* SPDX-License-Identifier: BSD-2-Clause */
// Humanized numbers.
#include "humanize.h"

namespace xo {

std::string humanize(uint64_t value, const HumanizeOptions &o)
{
    static const char *const prefixes_1024[] = {"", "K", "M", "G", "T", "P", "E"};
    static const char *const prefixes_1000[] = {"", "k", "M", "G", "T", "P", "E"};
    const uint64_t divisor = o.by_1000 ? 1000 : 1024;
    // The prefix is the largest unit that the value reaches; the number
    // is worked out in hundredths, each division rounding down, and
    // rounded at the end.
    unsigned scale = 0;
    unsigned __int128 hundredths = static_cast<unsigned __int128>(value) * 100;
    for (uint64_t q = value; q >= divisor && scale < 6; q /= divisor) {
        hundredths /= divisor;
        scale++;
    }
    const char *sep = o.space ? " " : "";
    const char *prefix = o.by_1000 ? prefixes_1000[scale] : prefixes_1024[scale];
    uint64_t h = static_cast<uint64_t>(hundredths);
    if (o.decimal && scale > 0 && h < 995) {
        uint64_t tenths = (h + 5) / 10;
        return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + sep + prefix;
    }
    return std::to_string((h + 50) / 100) + sep + prefix;
}

} // namespace xo
