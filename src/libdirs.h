/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The files of the runtime linker's library directories, known by their
 * identity (device and inode), for confirming that a mapping without a
 * name is really of a file that is gone.
 */
#ifndef STALEWATCH_LIBDIRS_H
#define STALEWATCH_LIBDIRS_H

#include <stdint.h>

#include "procinfo.h"

/*
 * Whether a file of that device and inode is in one of the directories
 * that proc_library_dirs() names.  The directories are read once, the
 * first time this is asked.
 */
bool library_present(struct procstat *ps, uint64_t fsid, uint64_t fileid);

#endif
