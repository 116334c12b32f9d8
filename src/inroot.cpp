/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Lookups below a root folder.  The kernel's own confinement
 * (O_RESOLVE_BENEATH) refuses an absolute link, which a jail's files may
 * hold and its processes follow from their root; so the walk is done
 * here, one name at a time: a link is read and its text walked in its
 * place, from the root when it is absolute, and ".." is taken back
 * along the names walked, never above the root.  Where the kernel can
 * be told to stay below the folder of each step (FreeBSD 13 and later),
 * it is told as well.
 */
#include <sys/stat.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "inroot.h"
#include "lookup.h"

#ifdef O_RESOLVE_BENEATH
#define STEP_OPEN	(O_NOFOLLOW | O_CLOEXEC | O_RESOLVE_BENEATH)
#define STEP_STAT	(AT_SYMLINK_NOFOLLOW | AT_RESOLVE_BENEATH)
#else
#define STEP_OPEN	(O_NOFOLLOW | O_CLOEXEC)
#define STEP_STAT	AT_SYMLINK_NOFOLLOW
#endif

#define DIR_OPEN	(O_RDONLY | O_DIRECTORY | STEP_OPEN)

/*
 * Opens the folder done (names without links, "/" between them) from
 * the root folder rootfd.
 */
static int
open_along(int rootfd, const char *done)
{
	char name[NAME_MAX + 1];
	const char *p;
	size_t len;
	int fd, next;

	fd = openat(rootfd, ".", DIR_OPEN);
	for (p = done; fd != -1 && *p != '\0'; p += len) {
		while (*p == '/')
			p++;
		len = strcspn(p, "/");
		if (len == 0)
			break;
		memcpy(name, p, len);
		name[len] = '\0';
		next = openat(fd, name, DIR_OPEN);
		close_keep_errno(fd);
		fd = next;
	}
	return (fd);
}

/*
 * Puts the text of the link name of folder dirfd in place of the names
 * walked so far: path becomes the link's text, then "/" and rest.
 */
static int
splice_link(int dirfd, const char *name, const char *rest, char *path,
    size_t size)
{
	char text[PATH_MAX], joined[PATH_MAX];
	ssize_t n;
	int len;

	n = readlinkat(dirfd, name, text, sizeof(text));
	if (n <= 0 || (size_t)n >= sizeof(text)) {
		errno = n == -1 ? errno : n == 0 ? ENOENT : ENAMETOOLONG;
		return (-1);
	}
	text[n] = '\0';
	len = snprintf(joined, sizeof(joined), "%s%s%s", text,
	    *rest != '\0' ? "/" : "", rest);
	if (len < 0 || (size_t)len >= size || (size_t)len >= sizeof(joined)) {
		errno = ENAMETOOLONG;
		return (-1);
	}
	memcpy(path, joined, (size_t)len + 1);
	return (0);
}

/*
 * Walks path below rootfd up to its last name, which is no link: the
 * folder that holds it into *dirfd (for the caller to close), the name
 * into name ("." when path names the root itself).  0, or -1 with errno.
 */
static int
walk(int rootfd, const char *path, int *dirfd, char *name)
{
	char todo[PATH_MAX], done[PATH_MAX];
	const char *p, *rest;
	size_t len, donelen;
	struct stat st;
	int cur, next, links;

	if (strlen(path) >= sizeof(todo)) {
		errno = ENAMETOOLONG;
		return (-1);
	}
	memcpy(todo, path, strlen(path) + 1);
	done[0] = '\0';
	donelen = 0;
	links = 0;
	if ((cur = openat(rootfd, ".", DIR_OPEN)) == -1)
		return (-1);
	for (p = todo;; p = rest) {
		while (*p == '/')
			p++;
		len = strcspn(p, "/");
		for (rest = p + len; *rest == '/'; rest++)
			continue;
		if (len == 0) {
			memcpy(name, ".", 2);
			break;
		}
		if (len > NAME_MAX) {
			errno = ENAMETOOLONG;
			goto fail;
		}
		memmove(name, p, len);
		name[len] = '\0';
		if (strcmp(name, ".") == 0)
			continue;
		if (strcmp(name, "..") == 0) {
			/* Back along the names walked; the root is its own. */
			while (donelen > 0 && done[donelen - 1] != '/')
				donelen--;
			if (donelen > 0)
				donelen--;
			done[donelen] = '\0';
			close(cur);
			if ((cur = open_along(rootfd, done)) == -1)
				return (-1);
			if (*rest == '\0') {
				memcpy(name, ".", 2);
				break;
			}
			continue;
		}
		if (fstatat(cur, name, &st, STEP_STAT) == -1)
			goto fail;
		if (S_ISLNK(st.st_mode)) {
			if (++links > INROOT_LINKS_MAX) {
				errno = ELOOP;
				goto fail;
			}
			if (splice_link(cur, name, rest, todo,
			    sizeof(todo)) == -1)
				goto fail;
			if (todo[0] == '/') {
				close(cur);
				donelen = 0;
				done[0] = '\0';
				if ((cur = openat(rootfd, ".", DIR_OPEN)) == -1)
					return (-1);
			}
			rest = todo;
			continue;
		}
		if (*rest == '\0')
			break;
		if (donelen + 1 + len >= sizeof(done)) {
			errno = ENAMETOOLONG;
			goto fail;
		}
		if ((next = openat(cur, name, DIR_OPEN)) == -1)
			goto fail;
		close(cur);
		cur = next;
		done[donelen++] = '/';
		memcpy(done + donelen, name, len + 1);
		donelen += len;
	}
	*dirfd = cur;
	return (0);
fail:
	close_keep_errno(cur);
	return (-1);
}

int
root_open(const char *path)
{
	char name[NAME_MAX + 1];
	const char *p;
	size_t len;
	int fd, next;

	if (path[0] != '\0' && path[0] != '/') {
		errno = EINVAL;
		return (-1);
	}
	fd = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	for (p = path; fd != -1; p += len) {
		while (*p == '/')
			p++;
		if ((len = strcspn(p, "/")) == 0)
			break;
		if (len > NAME_MAX ||
		    (len <= 2 && strncmp(p, "..", len) == 0)) {
			close(fd);
			errno = len > NAME_MAX ? ENAMETOOLONG : EINVAL;
			return (-1);
		}
		memcpy(name, p, len);
		name[len] = '\0';
		next = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW |
		    O_CLOEXEC);
		close_keep_errno(fd);
		fd = next;
	}
	return (fd);
}

int
inroot_open(int rootfd, const char *path, int flags)
{
	char name[NAME_MAX + 1];
	int dirfd, fd;

	if (walk(rootfd, path, &dirfd, name) == -1)
		return (-1);
	fd = openat(dirfd, name, flags | STEP_OPEN);
	close_keep_errno(dirfd);
	return (fd);
}

int
inroot_stat(int rootfd, const char *path, struct stat *st)
{
	char name[NAME_MAX + 1];
	int dirfd, rc;

	if (walk(rootfd, path, &dirfd, name) == -1)
		return (-1);
	rc = fstatat(dirfd, name, st, STEP_STAT);
	close_keep_errno(dirfd);
	return (rc);
}
