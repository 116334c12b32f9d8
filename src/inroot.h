/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Looking up paths below a root folder, the host's or a jail's, as a
 * process whose root it is would see them: symbolic links are followed,
 * an absolute one from the root, and ".." never leads above the root.
 * Each step opens one name in one folder without following a link, so no
 * link planted below the root leads out of it.
 */
#ifndef STALEWATCH_INROOT_H
#define STALEWATCH_INROOT_H

#include <sys/stat.h>

/* The most links one lookup follows, as the kernel's own limit. */
#define INROOT_LINKS_MAX	32

/*
 * Opens the root folder at path, an absolute path with no symbolic link
 * in it, as the kernel gives a jail's ("" or "/": the host's root).  A
 * directory descriptor, or -1 with errno set.
 */
int root_open(const char *path);

/*
 * Opens path (absolute or relative, both from the root) below the root
 * folder rootfd with flags (O_RDONLY, O_DIRECTORY and the like; a
 * descriptor closed on exec).  A descriptor, or -1 with errno set
 * (ELOOP past INROOT_LINKS_MAX links).
 */
int inroot_open(int rootfd, const char *path, int flags);

/* The status of path below rootfd, links followed as inroot_open does. */
int inroot_stat(int rootfd, const char *path, struct stat *st);

#endif
