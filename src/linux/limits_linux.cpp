/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the answers to what FreeBSD's settings tell.  No setting here
 * limits the memory maps that a user may read of its own processes in
 * the way FreeBSD's do (a refusal is named as such), and there are no
 * jails.  (A bind mount keeps the device of the files it shows, and no
 * mount is a nullfs one.)  Besides, files are never looked up by identity here (the kernel names
 * every mapped file that still has a name: proc_library_dirs is NULL).
 */
#include <unistd.h>

#include "backend.h"

void
proc_limits(struct procstat *ps, struct proc_limits *limits)
{
	(void)ps;
	limits->superuser = geteuid() == 0;
	limits->securelevel = -1;
	limits->debug_unprivileged = true;
	limits->see_jail_proc = true;
	limits->jails_below = false;
}
