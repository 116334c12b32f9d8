/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * File systems that may never answer: FUSE, whose server is any program
 * that mounted one, and the network file systems, whose server may be
 * gone.  A lookup of a path there (stat, open) can block without bound,
 * so nothing that a process names is looked up there.
 */
#ifndef STALEWATCH_MOUNTS_H
#define STALEWATCH_MOUNTS_H

#include <stdint.h>

#include "procinfo.h"

/* The most such file systems remembered; past that, all may hang. */
#define HANGING_MOUNTS_MAX	256

/* Whether a file system of that type's name may never answer. */
bool fstype_may_hang(const char *fstype);

/*
 * Whether a lookup of path (absolute, as the tool sees it; NULL: none),
 * or of a file of device dev (0: none), could wait on a file system that
 * may never answer: dev is such a file system's, or path lies on or
 * below where one is mounted.  The mount table is read the first time
 * this is asked; when it cannot be read, or holds more such file systems
 * than are remembered, every lookup could.
 */
bool lookup_may_hang(struct procstat *ps, const char *path, uint64_t dev);

/* Warns, after the report, when the mount table could not be trusted. */
void mounts_warn(void);

#endif
