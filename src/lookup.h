/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Files that processes name, looked up by their paths: never on a file
 * system that may never answer (mounts.h), and never through a symbolic
 * link, which could lead there whatever the path says.  The files left
 * unexamined for that are named in a warning after the report.
 */
#ifndef STALEWATCH_LOOKUP_H
#define STALEWATCH_LOOKUP_H

#include <sys/stat.h>
#include <stdint.h>

#include "procinfo.h"

/* Closes fd, keeping errno as it was. */
void close_keep_errno(int fd);

/* What lookup_stat() answers. */
#define LOOKUP_DONE	0	/* *st holds the file's attributes */
#define LOOKUP_FAILED	(-1)	/* no file there, errno says why */
#define LOOKUP_SKIPPED	1	/* not looked up: it could wait forever */

/* How many distinct files not examined are remembered, and named. */
#define LOOKUP_NOTED_MAX	32
#define LOOKUP_NAMED		3

/*
 * stat(2) of path, an absolute path as the tool sees the file system,
 * for a file of device dev (0: not known), with no symbolic link
 * followed on the way nor at its end: a kernel gives a file's own path,
 * and a link in it here means that the path is not that file's here.
 * LOOKUP_SKIPPED when lookup_may_hang() says that the lookup could wait
 * on a file system that may never answer; path is noted then.
 */
int lookup_stat(struct procstat *ps, const char *path, uint64_t dev,
    struct stat *st);

/*
 * Notes a file (its path, NUL-terminated) that was left unexamined
 * because it may lie on a file system that never answers.
 */
void lookup_note(const char *path);

/* Warns, after the report, of the files noted, naming the first few. */
void lookup_warn(void);

#endif
