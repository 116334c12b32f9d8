/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * libxo's header has no C++ guards of its own; include it through here.
 */
#ifndef STALEWATCH_XO_C_H
#define STALEWATCH_XO_C_H

extern "C" {
#include <libxo/xo.h>
}

#endif
