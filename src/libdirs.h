/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The files of the runtime linker's library folders, known by their
 * identity (device and inode), for confirming that a mapping without a
 * name is really of a file that is gone.  A process is compared with the
 * files below its own root: a jailed one with its jail's.
 */
#ifndef STALEWATCH_LIBDIRS_H
#define STALEWATCH_LIBDIRS_H

#include <stdint.h>

#include "procinfo.h"

/* How many files are remembered, of every root together. */
#define LIBFILES_MAX	131072
/* How many roots (the host's and jails') are read. */
#define LIBROOTS_MAX	64
/* How many folders are read, and how deep below a tree's top. */
#define LIBFOLDERS_MAX	65536
#define LIBDEPTH_MAX	32
/* The longest folder list of a hints file that is read. */
#define HINTS_LIST_MAX	16384

/* A file's identity, its device the lowest below any mount over it. */
struct file_id {
	uint64_t dev;
	uint64_t ino;
};

/*
 * Whether a file of that device and inode (as a memory map gives them)
 * is in one of the folders that proc_library_dirs() names, below the
 * root of kp's jail.  The folders of a root are read once, the first
 * time this is asked for one of its processes.
 */
bool library_present(struct procstat *ps, const struct kinfo_proc *kp,
    uint64_t fsid, uint64_t fileid);

/*
 * The identity of kp's executable, at path as the path query gave it:
 * looked up below the root of kp's jail when it lies there.  0, or -1.
 */
int executable_identity(struct procstat *ps, const struct kinfo_proc *kp,
    const char *path, struct file_id *id);

/* Warns, after the report, when not every library folder was read. */
void libdirs_warn(void);

#endif
