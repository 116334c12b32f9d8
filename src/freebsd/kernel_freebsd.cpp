/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: the running kernel's version is kern.osrelease; loader.conf
 * names the installed one.  A jail runs the host's kernel, whose files
 * it does not see.
 */
#include <sys/types.h>
#include <sys/sysctl.h>
#include <string.h>

#include "kernel.h"

void
kernel_running(struct kernel_running *kr)
{
	size_t len;
	int jailed;

	memset(kr, 0, sizeof(*kr));
	kr->method = KERNEL_BY_LOADER;
	kr->root = "";
	len = sizeof(kr->release) - 1;
	if (sysctlbyname("kern.osrelease", kr->release, &len, NULL, 0) == -1)
		kr->release[0] = '\0';
	kr->release[sizeof(kr->release) - 1] = '\0';
	len = sizeof(jailed);
	if (sysctlbyname("security.jail.jailed", &jailed, &len, NULL, 0) == 0 &&
	    jailed != 0)
		kr->unknowable = "a jail runs the host's kernel";
}
