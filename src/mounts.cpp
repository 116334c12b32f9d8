/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The mount table, read once, keeps the file systems that may never
 * answer: where each is mounted, and its device.
 */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "mounts.h"
#include "xo_c.h"

#define MOUNT_PATH_SIZE	1024

struct hanging_mount {
	char path[MOUNT_PATH_SIZE];
	uint64_t dev;
};

static struct hanging_mount hanging[HANGING_MOUNTS_MAX];
static unsigned int nhanging;
static bool table_read;
static bool all_may_hang;	/* the table could not be read, or held all */
static int table_errno;		/* why it could not be read, or 0 */
static bool assumed;		/* a lookup was left out for that */

bool
fstype_may_hang(const char *fstype)
{
	/* Linux's names and FreeBSD's ("fusefs", "nfs", "smbfs"). */
	static const char *const types[] = {
		"fuse", "fuseblk", "fusefs", "nfs", "nfs4", "cifs", "smb3",
		"smbfs", "9p", "ceph", "afs", "ncpfs", "coda", "glusterfs",
		"lustre",
	};
	size_t i;

	/* FUSE's own kinds: "fuse.sshfs" and the like. */
	if (strncmp(fstype, "fuse.", 5) == 0 ||
	    strncmp(fstype, "fuseblk.", 8) == 0)
		return (true);
	for (i = 0; i < sizeof(types) / sizeof(types[0]); i++)
		if (strcmp(fstype, types[i]) == 0)
			return (true);
	return (false);
}

static void
add_mount(void *ctx, const char *path, const char *fstype, const char *from,
    uint64_t dev)
{
	struct hanging_mount *m;

	(void)ctx;
	(void)from;
	if (!fstype_may_hang(fstype))
		return;
	if (nhanging == HANGING_MOUNTS_MAX ||
	    strlen(path) >= sizeof(m->path)) {
		all_may_hang = true;
		return;
	}
	m = &hanging[nhanging++];
	snprintf(m->path, sizeof(m->path), "%s", path);
	m->dev = dev;
}

/* Whether path is mount or lies below it. */
static bool
below(const char *path, const char *mount)
{
	size_t n = strlen(mount);

	if (n == 1 && mount[0] == '/')
		return (path[0] == '/');
	return (strncmp(path, mount, n) == 0 &&
	    (path[n] == '\0' || path[n] == '/'));
}

bool
lookup_may_hang(struct procstat *ps, const char *path, uint64_t dev)
{
	unsigned int i;

	if (!table_read) {
		table_read = true;
		if (proc_mounts(ps, add_mount, NULL) == -1) {
			table_errno = errno;
			all_may_hang = true;
		}
	}
	if (all_may_hang) {
		assumed = true;
		return (true);
	}
	for (i = 0; i < nhanging; i++) {
		if (dev != 0 && hanging[i].dev == dev)
			return (true);
		if (path != NULL && below(path, hanging[i].path))
			return (true);
	}
	return (false);
}

void
mounts_warn(void)
{
	if (!assumed)
		return;
	if (table_errno != 0) {
		errno = table_errno;
		xo_warn("files named by processes were not looked up: "
		    "the mount table cannot be read");
	} else
		xo_warnx("files named by processes were not looked up: more "
		    "than %d file systems that may never answer are mounted",
		    HANGING_MOUNTS_MAX);
}
