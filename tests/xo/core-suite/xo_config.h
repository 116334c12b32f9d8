/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Stand-in for the xo_config.h that libxo's configure writes, for building
 * libxo's tests/core programs against the bundled layer.  It configures
 * nothing: the programs then use the C library's wcwidth.
 */
#ifndef XO_CORE_SUITE_CONFIG_H
#define XO_CORE_SUITE_CONFIG_H
#endif
