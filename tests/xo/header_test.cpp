/* SPDX-License-Identifier: BSD-2-Clause */
// The header from C++: the bundled one needs no extern "C" around it
// (libxo's own does, so this is only checked against the bundled layer).
#ifndef XO_TEST_SYSTEM_LIBXO
#include <libxo/xo.h>
#else
extern "C" {
#include <libxo/xo.h>
}
#endif

#include <gtest/gtest.h>

extern "C" xo_style_t style_seen_from_c(void);

static_assert(XOF_WARN == 0x10 && XOF_COLUMNS == 0x200000 &&
    XOF_PRETTY == 0x2, "libxo's flag values");

TEST(Header, UsableFromCAndCxx)
{
	// Nothing has set a style: both sides see the default, text.
	EXPECT_EQ(style_seen_from_c(), (xo_style_t)XO_STYLE_TEXT);
	EXPECT_EQ(xo_get_style(NULL), (xo_style_t)XO_STYLE_TEXT);
}
