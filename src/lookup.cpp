/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Lookups of the files that processes name, and the files left
 * unexamined, kept in a fixed table.
 */
#include <sys/stat.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "lookup.h"
#include "mounts.h"
#include "text.h"
#include "xo_c.h"

#ifndef O_PATH
#define O_PATH		0	/* then the folders are opened for reading */
#endif

#define NOTED_SIZE	1024	/* a longer path is kept cut */
#define NAMED_SIZE	(4 * (NOTED_SIZE - 1) + 1)

static char noted[LOOKUP_NOTED_MAX][NOTED_SIZE];
static unsigned int nnoted;
static bool overflow;		/* more were noted than remembered */

void
close_keep_errno(int fd)
{
	int saved = errno;

	close(fd);
	errno = saved;
}

/*
 * The attributes of the file at path, reached from / one folder at a
 * time, none of them a symbolic link, nor "." or "..", which no path
 * that a kernel gives has; the last component is not followed either.
 */
static int
stat_unlinked_path(const char *path, struct stat *st)
{
	char name[NAME_MAX + 1];
	const char *p, *end;
	size_t len;
	int dirfd, fd, rc;

	if (path[0] != '/') {
		errno = ENOENT;
		return (-1);
	}
	dirfd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
	if (dirfd == -1)
		return (-1);
	for (p = path;;) {
		while (*p == '/')
			p++;
		if (*p == '\0') {
			rc = fstat(dirfd, st);
			break;
		}
		end = strchr(p, '/');
		len = end != NULL ? (size_t)(end - p) : strlen(p);
		if (len > NAME_MAX) {
			close(dirfd);
			errno = ENAMETOOLONG;
			return (-1);
		}
		memcpy(name, p, len);
		name[len] = '\0';
		if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
			close(dirfd);
			errno = ENOENT;
			return (-1);
		}
		for (p += len; *p == '/'; p++)
			;
		if (*p == '\0') {
			rc = fstatat(dirfd, name, st, AT_SYMLINK_NOFOLLOW);
			break;
		}
		/* A link, or anything but a folder, ends the lookup here. */
		fd = openat(dirfd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW |
		    O_CLOEXEC);
		close_keep_errno(dirfd);
		if (fd == -1)
			return (-1);
		dirfd = fd;
	}
	close_keep_errno(dirfd);
	return (rc);
}

int
lookup_stat(struct procstat *ps, const char *path, uint64_t dev,
    struct stat *st)
{
	if (lookup_may_hang(ps, path, dev)) {
		lookup_note(path);
		return (LOOKUP_SKIPPED);
	}
	return (stat_unlinked_path(path, st) == 0 ? LOOKUP_DONE :
	    LOOKUP_FAILED);
}

void
lookup_note(const char *path)
{
	unsigned int i;

	for (i = 0; i < nnoted; i++)
		if (strncmp(noted[i], path, NOTED_SIZE - 1) == 0)
			return;
	if (nnoted == LOOKUP_NOTED_MAX) {
		overflow = true;
		return;
	}
	snprintf(noted[nnoted++], NOTED_SIZE, "%s", path);
}

void
lookup_warn(void)
{
	static char named[NAMED_SIZE], list[LOOKUP_NAMED * (NAMED_SIZE + 2) +
	    8];
	unsigned int i;
	size_t len;

	if (nnoted == 0)
		return;
	/* Standard error has the text style, whatever the report's. */
	for (i = 0, len = 0; i < nnoted && i < LOOKUP_NAMED; i++) {
		safe_text(noted[i], NOTED_SIZE - 1, !locale_is_utf8(), named,
		    sizeof(named));
		len += (size_t)snprintf(list + len, sizeof(list) - len, "%s%s",
		    i > 0 ? ", " : "", named);
	}
	if (nnoted > LOOKUP_NAMED || overflow)
		snprintf(list + len, sizeof(list) - len, ", ...");
	xo_warnx("%s%u file%s not examined: on a file system that may "
	    "never answer (%s)", overflow ? "more than " : "", nnoted,
	    nnoted == 1 && !overflow ? "" : "s", list);
}
