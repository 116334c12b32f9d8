/* SPDX-License-Identifier: BSD-2-Clause */
// The 'h' modifier: numbers written with a unit prefix ("57K"), as libxo
// writes them through BSD's humanize_number(3).
#ifndef XO_HUMANIZE_H
#define XO_HUMANIZE_H

#include <cstdint>
#include <string>

namespace xo {

struct HumanizeOptions {
    bool space = false;   // "57 K"
    bool decimal = false; // "1.2G" below 10
    bool by_1000 = false; // k, M, G of 1000
};

std::string humanize(uint64_t value, const HumanizeOptions &o);

} // namespace xo

#endif
