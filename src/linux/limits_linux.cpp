/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the answers to what FreeBSD's settings and mounts tell.  No
 * setting here limits the memory maps that a user may read of its own
 * processes in the way FreeBSD's do (a refusal is named as such), there
 * are no jails, and a bind mount keeps the device of the files it shows;
 * besides, files are never looked up by identity here (the kernel names
 * every mapped file that still has a name: proc_library_dirs is NULL).
 */
#include <unistd.h>

#include "backend.h"

void
proc_mount_layers(struct procstat *ps, mount_layer_fn fn, void *ctx)
{
	(void)ps;
	(void)fn;
	(void)ctx;
}

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
