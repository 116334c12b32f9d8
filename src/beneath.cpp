/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Files below a root, one name at a time.  Each step opens a single name
 * relative to a folder already opened below the root, with O_NOFOLLOW;
 * where the kernel can also refuse any way out of that folder, it is
 * asked to (openat2(2) with RESOLVE_BENEATH on Linux, O_RESOLVE_BENEATH
 * on FreeBSD).  The name is looked at first (fstatat without following
 * it) and the file opened must be the one looked at.
 */
#include <sys/stat.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include "beneath.h"
#include "mounts.h"

/* What says that a file is not a regular one. */
#ifdef EFTYPE
#define NOT_REGULAR	EFTYPE
#else
#define NOT_REGULAR	EINVAL
#endif

/* The longest path of a file below a root, as the tool sees it. */
#define TOOL_PATH_SIZE	4096

#if defined(__linux__) && defined(SYS_openat2)
#ifndef RESOLVE_NO_MAGICLINKS
#define RESOLVE_NO_MAGICLINKS	0x02
#endif
#ifndef RESOLVE_NO_SYMLINKS
#define RESOLVE_NO_SYMLINKS	0x04
#endif
#ifndef RESOLVE_BENEATH
#define RESOLVE_BENEATH		0x08
#endif

/* openat2(2)'s argument, as the kernel's <linux/openat2.h> has it. */
struct resolve_how {
	uint64_t flags;
	uint64_t mode;
	uint64_t resolve;
};
#endif

bool
below_trusted(const struct below_root *r, const struct stat *st)
{
	return ((st->st_uid == 0 || st->st_uid == r->owner) &&
	    (st->st_mode & (S_IWGRP | S_IWOTH)) == 0);
}

/* Opens one name of the folder dirfd, never leaving it. */
static int
open_step(int dirfd, const char *name, int flags)
{
#if defined(__linux__) && defined(SYS_openat2)
	static bool unavailable;
	struct resolve_how how;
	long fd;

	if (!unavailable) {
		memset(&how, 0, sizeof(how));
		how.flags = (uint64_t)(flags | O_NOFOLLOW | O_CLOEXEC);
		how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS |
		    RESOLVE_NO_SYMLINKS;
		fd = syscall(SYS_openat2, dirfd, name, &how, sizeof(how));
		/* Older kernels, and filters that forbid it (EPERM). */
		if (fd != -1 || (errno != ENOSYS && errno != EPERM))
			return ((int)fd);
		unavailable = true;
	}
#endif
#ifdef O_RESOLVE_BENEATH
	flags |= O_RESOLVE_BENEATH;
#endif
	return (openat(dirfd, name, flags | O_NOFOLLOW | O_CLOEXEC));
}

/* Whether name names a file of a folder: not empty, no '/', not . or .. */
static bool
plain_name(const char *name)
{
	return (name[0] != '\0' && strchr(name, '/') == NULL &&
	    strcmp(name, ".") != 0 && strcmp(name, "..") != 0);
}

int
below_open_at(const struct below_root *r, int dirfd, const char *dirpath,
    const char *name, bool dir, bool trusted, struct stat *st)
{
	char path[TOOL_PATH_SIZE];
	struct stat opened;
	int fd;

	if (!plain_name(name)) {
		errno = EINVAL;
		return (-1);
	}
	if ((size_t)snprintf(path, sizeof(path), "%s%s%s/%s", r->prefix,
	    dirpath[0] != '\0' ? "/" : "", dirpath, name) >= sizeof(path)) {
		errno = ENAMETOOLONG;
		return (-1);
	}
	if (lookup_may_hang(r->ps, path, 0)) {
		errno = EAGAIN;
		return (-1);
	}
	if (fstatat(dirfd, name, st, AT_SYMLINK_NOFOLLOW) == -1)
		return (-1);
	if (S_ISLNK(st->st_mode)) {
		errno = ELOOP;
		return (-1);
	}
	if (dir ? !S_ISDIR(st->st_mode) : !S_ISREG(st->st_mode)) {
		errno = dir ? ENOTDIR : NOT_REGULAR;
		return (-1);
	}
	if (trusted && !below_trusted(r, st)) {
		errno = EPERM;
		return (-1);
	}
	fd = open_step(dirfd, name, O_RDONLY | O_NOCTTY |
	    (dir ? O_DIRECTORY : O_NONBLOCK));
	if (fd == -1)
		return (-1);
	/* Not the file looked at: it was replaced in between. */
	if (fstat(fd, &opened) == -1 || opened.st_dev != st->st_dev ||
	    opened.st_ino != st->st_ino) {
		close(fd);
		errno = EAGAIN;
		return (-1);
	}
	*st = opened;
	return (fd);
}

int
below_open_dir(const struct below_root *r, const char *path, bool trusted,
    char *link, size_t size)
{
	char done[TOOL_PATH_SIZE], name[TOOL_PATH_SIZE];
	const char *p, *slash;
	struct stat st;
	size_t len;
	ssize_t n;
	int fd, next, saved;

	if (strlen(path) >= sizeof(done)) {
		errno = ENAMETOOLONG;
		return (-1);
	}
	fd = r->fd;
	for (p = path; *p != '\0'; p = slash != NULL ? slash + 1 : p + len) {
		/* The folders opened so far, and the next name. */
		len = p > path ? (size_t)(p - path - 1) : 0;
		memcpy(done, path, len);
		done[len] = '\0';
		slash = strchr(p, '/');
		len = slash != NULL ? (size_t)(slash - p) : strlen(p);
		memcpy(name, p, len);
		name[len] = '\0';
		next = below_open_at(r, fd, done, name, true, trusted, &st);
		if (next == -1) {
			saved = errno;
			/* What the last name links to, when asked. */
			if (saved == ELOOP && link != NULL && slash == NULL &&
			    (n = readlinkat(fd, name, link, size)) > 0 &&
			    (size_t)n < size)
				link[n] = '\0';
			else if (link != NULL && size > 0)
				link[0] = '\0';
			if (fd != r->fd)
				close(fd);
			errno = saved;
			return (-1);
		}
		if (fd != r->fd)
			close(fd);
		fd = next;
	}
	/* The root itself: a descriptor of its own. */
	return (fd == r->fd ? fcntl(r->fd, F_DUPFD_CLOEXEC, 0) : fd);
}
