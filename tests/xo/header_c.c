/* SPDX-License-Identifier: BSD-2-Clause */
/* The header from C: libxo's constants, and a call that must link. */
#include <libxo/xo.h>

_Static_assert(XOF_PRETTY == 0x2, "XOF_PRETTY");
_Static_assert(XOF_WARN == 0x10, "XOF_WARN");
_Static_assert(XOF_COLUMNS == 0x200000, "XOF_COLUMNS");
_Static_assert((XOF_WARN | XOF_COLUMNS) == 0x200010, "start-up flags");
_Static_assert(XO_STYLE_TEXT == 0 && XO_STYLE_XML == 1 &&
    XO_STYLE_JSON == 2 && XO_STYLE_HTML == 3, "styles");

xo_style_t
style_seen_from_c(void)
{
	return (xo_get_style(NULL));
}
