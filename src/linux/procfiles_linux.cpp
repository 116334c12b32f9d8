/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the executable of a process as a file, and whether the process
 * has the tool's root, from /proc/PID/exe and /proc/PID/root.
 *
 * Both links lead into file systems that may never answer (a FUSE
 * server, an NFS server that is gone); their identity is read with
 * AT_STATX_DONT_SYNC, from what the kernel holds, asking no server.
 */
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "backend.h"

/* The device and inode of the file a link of the process leads to. */
static int
link_identity(struct procstat *ps, const char *name, uint64_t *dev,
    uint64_t *ino)
{
	struct statx stx;

	if (statx(ps->filedir, name, AT_STATX_DONT_SYNC, STATX_INO,
	    &stx) == -1)
		return (gone_if_missing());
	*dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
	*ino = stx.stx_ino;
	return (0);
}

int
proc_exe_file(struct procstat *ps, struct kinfo_proc *kp, uint64_t *dev,
    uint64_t *ino, char *buf, size_t size)
{
	char link[LINK_MAX_LEN];
	ssize_t n;
	size_t len;

	if (size > 0)
		buf[0] = '\0';
	if (select_process(ps, kp) == -1 ||
	    link_identity(ps, "exe", dev, ino) == -1)
		return (-1);
	/* The link holds the name as it is, nothing escaped. */
	n = readlinkat(ps->filedir, "exe", link, sizeof(link));
	if (n <= 0 || (size_t)n == sizeof(link) || link[0] != '/')
		return (0);
	len = (size_t)n;
	if (has_deleted_suffix(link, len))
		len -= sizeof(DELETED_SUFFIX) - 1;
	if (len < size) {
		memcpy(buf, link, len);
		buf[len] = '\0';
	}
	return (0);
}

bool
proc_shares_root(struct procstat *ps, struct kinfo_proc *kp)
{
	uint64_t dev, ino;
	struct stat mine;

	if (select_process(ps, kp) == -1 ||
	    link_identity(ps, "root", &dev, &ino) == -1 ||
	    stat("/", &mine) == -1)
		return (false);
	return (dev == (uint64_t)mine.st_dev && ino == (uint64_t)mine.st_ino);
}
