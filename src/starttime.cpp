/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Start dates compared as times since boot.
 */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

#include "starttime.h"

/* The microseconds from since to date. */
static int64_t
between(const struct timeval *since, const struct timeval *date)
{
	return (((int64_t)date->tv_sec - (int64_t)since->tv_sec) * 1000000 +
	    ((int64_t)date->tv_usec - (int64_t)since->tv_usec));
}

bool
same_start(const struct timeval *listed, const struct timeval *boot_before,
    const struct timeval *boot_after, const struct timeval *now,
    const struct timeval *now_boot)
{
	int64_t started = between(now_boot, now);

	return (between(boot_before, listed) == started ||
	    between(boot_after, listed) == started);
}

int
still_listed(const struct timeval *listed, const struct timeval *listed_boot,
    const struct sighting *now)
{
	if (now->kill_errno == ESRCH || now->record_errno == ESRCH) {
		errno = ESRCH;
		return (-1);
	}
	if (now->record_errno != 0)
		return (0);
	if (now->start.tv_sec == listed->tv_sec &&
	    now->start.tv_usec == listed->tv_usec)
		return (0);
	if (now->boot != NULL && listed_boot != NULL &&
	    same_start(listed, &listed_boot[0], &listed_boot[1], &now->start,
	    now->boot))
		return (0);
	errno = ESRCH;
	return (-1);
}
