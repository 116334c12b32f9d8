/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: nullfs mounts, of which jails are mostly built.  A file seen
 * through one has the device of the mount itself (nullfs's getattr and
 * stat put the first word of the mount's fsid in st_dev), while its
 * pages, and so a memory map, are those of the file below (the lower
 * vnode's object).  The mount table gives both without a lookup, so no
 * mount is touched and no link in a jail is followed.
 */
#include <sys/param.h>
#include <sys/mount.h>
#include <string.h>

#include "procinfo.h"

void
proc_mount_layers(struct procstat *ps, mount_layer_fn fn, void *ctx)
{
	struct statfs *mounts;
	dev_t upper;
	int n, i;

	(void)ps;
	n = getmntinfo(&mounts, MNT_NOWAIT);
	for (i = 0; i < n; i++) {
		if (strcmp(mounts[i].f_fstypename, "nullfs") != 0)
			continue;
		/* Converted as the kernel converts it. */
		upper = mounts[i].f_fsid.val[0];
		fn(ctx, (uint64_t)upper, mounts[i].f_mntfromname);
	}
}
