/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The few BSD interfaces that other C libraries lack; the platform
 * backend provides them there.
 */
#ifndef STALEWATCH_COMPAT_H
#define STALEWATCH_COMPAT_H

#include <stdlib.h>

#if !defined(__FreeBSD__) && !defined(__APPLE__) && !defined(__NetBSD__) && \
    !defined(__OpenBSD__) && !defined(__DragonFly__)
/* The name the program was invoked by, without its directory. */
const char *getprogname(void);
#endif

#endif
