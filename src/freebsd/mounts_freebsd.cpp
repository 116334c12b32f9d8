/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: the mount table from getmntinfo(3), which with MNT_NOWAIT
 * gives what the kernel holds without asking any file system.
 */
#include <sys/param.h>
#include <sys/ucred.h>
#include <sys/mount.h>
#include <errno.h>

#include "procinfo.h"

int
proc_mounts(struct procstat *ps, mount_fn fn, void *ctx)
{
	struct statfs *mounts;
	int i, n;

	(void)ps;
	n = getmntinfo(&mounts, MNT_NOWAIT);
	if (n == 0)
		return (-1);
	/*
	 * The files of FUSE and of the network file systems carry their
	 * mount's first file system id as their device.
	 */
	for (i = 0; i < n; i++)
		fn(ctx, mounts[i].f_mntonname, mounts[i].f_fstypename,
		    (uint64_t)(uint32_t)mounts[i].f_fsid.val[0]);
	return (0);
}
