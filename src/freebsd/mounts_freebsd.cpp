/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: the mount table from getmntinfo(3), which with MNT_NOWAIT
 * gives what the kernel holds without asking any file system.
 *
 * nullfs mounts, of which jails are mostly built: a file seen through
 * one has the device of the mount itself (nullfs's getattr and stat put
 * the first word of the mount's fsid in st_dev), while its pages, and so
 * a memory map, are those of the file below (the lower vnode's object).
 * The mount table gives both without a lookup, so no mount is touched
 * and no link in a jail is followed.
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
	 * The files of FUSE, of the network file systems and of nullfs
	 * carry their mount's first file system id as their device,
	 * converted as the kernel converts it.
	 */
	for (i = 0; i < n; i++)
		fn(ctx, mounts[i].f_mntonname, mounts[i].f_fstypename,
		    mounts[i].f_mntfromname,
		    (uint64_t)(dev_t)mounts[i].f_fsid.val[0]);
	return (0);
}
