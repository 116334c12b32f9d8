/*
 * The few BSD interfaces that other C libraries spell differently.
 */
#ifndef STALEWATCH_COMPAT_H
#define STALEWATCH_COMPAT_H

#include <stdlib.h>

#if !defined(__FreeBSD__) && !defined(__APPLE__) && !defined(__NetBSD__) && \
    !defined(__OpenBSD__) && !defined(__DragonFly__)
#include <errno.h>

static inline const char *
getprogname(void)
{
	return (program_invocation_short_name);
}
#endif

#endif
