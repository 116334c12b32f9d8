/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the running kernel is uname's release and build; its images
 * are /boot/vmlinuz-RELEASE, its modules in /lib/modules/RELEASE.
 */
#include <sys/utsname.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "kernel.h"

void
kernel_running(struct kernel_running *kr)
{
	struct utsname u;

	memset(kr, 0, sizeof(*kr));
	kr->method = KERNEL_BY_VMLINUZ;
	kr->root = "";
	if (uname(&u) == -1)
		return;
	snprintf(kr->release, sizeof(kr->release), "%s", u.release);
	snprintf(kr->build, sizeof(kr->build), "%s", u.version);
	/* A kernel built without modules has no /proc/modules. */
	kr->modular = access("/proc/modules", F_OK) == 0;
}
