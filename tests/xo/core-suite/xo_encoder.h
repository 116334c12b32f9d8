/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Stand-in for libxo's xo_encoder.h, for building libxo's tests/core
 * programs against the bundled layer: they include it for libxo's private
 * string helper only.  The layer has no encoder plugins.
 */
#ifndef XO_CORE_SUITE_ENCODER_H
#define XO_CORE_SUITE_ENCODER_H

#include <string.h>

#include "xo.h"

/* Whether two strings are equal. */
static inline int
xo_streq(const char *one, const char *two)
{
    return strcmp(one, two) == 0;
}

#endif
