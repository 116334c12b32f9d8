/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: the settings that decide what the caller may examine.
 */
#include <sys/types.h>
#include <sys/sysctl.h>
#include <unistd.h>

#include "procinfo.h"

/* The value of an integer sysctl, or fallback where there is none. */
static int
sysctl_value(const char *name, int fallback)
{
	size_t len;
	int value;

	len = sizeof(value);
	if (sysctlbyname(name, &value, &len, NULL, 0) == -1 ||
	    len != sizeof(value))
		return (fallback);
	return (value);
}

void
proc_limits(struct procstat *ps, struct proc_limits *limits)
{
	char jid[16];

	(void)ps;
	limits->superuser = geteuid() == 0;
	limits->securelevel = sysctl_value("kern.securelevel", -1);
	limits->debug_unprivileged =
	    sysctl_value("security.bsd.unprivileged_proc_debug", 1) != 0;
	limits->see_jail_proc =
	    sysctl_value("security.bsd.see_jail_proc", 1) != 0;
	/* The first jail below the caller's, if there is one. */
	jid[0] = '\0';
	limits->jails_below = jail_getv(0, "lastjid", "0", "jid", jid,
	    (char *)NULL) > 0;
}
