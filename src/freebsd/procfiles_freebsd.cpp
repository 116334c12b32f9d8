/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: the executable of a process as a file, and whether the process
 * has the tool's root, from the files that libprocstat lists for it (its
 * text vnode and its root directory).
 */
#include <sys/types.h>
#include <sys/stat.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "procinfo.h"

/*
 * The identity of the vnode that kp's process uses as uflag (one of the
 * PS_FST_UFLAG_*), and its name into buf (size bytes; empty for none)
 * when buf is given.  0, or -1 with errno set.
 */
static int
used_vnode(struct procstat *ps, struct kinfo_proc *kp, int uflag,
    uint64_t *dev, uint64_t *ino, char *buf, size_t size)
{
	char errbuf[_POSIX2_LINE_MAX];
	struct filestat_list *files;
	struct filestat *fst;
	struct vnstat vn;
	int rc;

	files = procstat_getfiles(ps, kp, 0);
	if (files == NULL)
		return (-1);
	rc = -1;
	errno = ENOENT;
	STAILQ_FOREACH(fst, files, next) {
		if ((fst->fs_uflags & uflag) == 0 ||
		    fst->fs_type != PS_FST_TYPE_VNODE)
			continue;
		if (procstat_get_vnode_info(ps, fst, &vn, errbuf) != 0)
			break;
		*dev = vn.vn_fsid;
		*ino = vn.vn_fileid;
		if (buf != NULL)
			snprintf(buf, size, "%s",
			    fst->fs_path != NULL ? fst->fs_path : "");
		rc = 0;
		break;
	}
	procstat_freefiles(ps, files);
	return (rc);
}

int
proc_exe_file(struct procstat *ps, struct kinfo_proc *kp, uint64_t *dev,
    uint64_t *ino, char *buf, size_t size)
{
	if (size > 0)
		buf[0] = '\0';
	/* The name cache forgot the file as it went: no name is left. */
	return (used_vnode(ps, kp, PS_FST_UFLAG_TEXT, dev, ino, buf, size));
}

bool
proc_shares_root(struct procstat *ps, struct kinfo_proc *kp)
{
	uint64_t dev, ino;
	struct stat mine;

	if (used_vnode(ps, kp, PS_FST_UFLAG_RDIR, &dev, &ino, NULL, 0) == -1 ||
	    stat("/", &mine) == -1)
		return (false);
	return (dev == (uint64_t)mine.st_dev && ino == (uint64_t)mine.st_ino);
}
