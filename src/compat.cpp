/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The BSD interfaces that other C libraries lack.
 */
#include <errno.h>

#include "compat.h"

#if !defined(__FreeBSD__) && !defined(__APPLE__) && !defined(__NetBSD__) && \
    !defined(__OpenBSD__) && !defined(__DragonFly__)
const char *
getprogname(void)
{
	/* glibc and musl keep the invocation name for us. */
	return (program_invocation_short_name);
}
#endif
