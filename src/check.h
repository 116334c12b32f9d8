/* SPDX-License-Identifier: BSD-2-Clause */
#ifndef STALEWATCH_CHECK_H
#define STALEWATCH_CHECK_H

#include <stdint.h>

#include "procinfo.h"

/* The verdict on a process. */
#define WHY_NONE	(-1)	/* nothing stale found, or not examined */
#define WHY_BIN		0	/* the executable itself is gone */
#define WHY_SO		1	/* another executable mapping is gone */

/* The size of the text that goes with a verdict. */
#define CHECK_TEXT_SIZE	1024

/* The most files that are gone listed for one process, and their paths' room. */
#define GONE_FILES_MAX	16
#define GONE_PATH_SIZE	1024

/* What has a gone file's path now. */
#define GONE_UNKNOWN	0	/* no path, or it could not be looked up */
#define GONE_DELETED	1	/* no file */
#define GONE_REPLACED	2	/* another file: the upgrade case */

/* An executable file mapping of a process that is gone. */
struct gone_file {
	const char *path;	/* the name the kernel last gave it, NULL for
				   none; cut between characters to at most
				   GONE_PATH_SIZE - 1 bytes */
	uint64_t dev;		/* its identity: device */
	uint64_t ino;		/* and inode */
	int state;		/* GONE_* */
};

/*
 * The files that are gone of one process, in the order of its memory map
 * (for a process whose executable is gone, the executable first), each
 * once.  The caller owns it; the check fills it.
 */
struct gone_files {
	struct gone_file file[GONE_FILES_MAX];
	unsigned int n;
	bool cut;		/* more were gone than are listed */
	int same_root;		/* the check's own: whether the process has
				   the tool's root, -1 not asked yet */
	char paths[GONE_FILES_MAX][GONE_PATH_SIZE];
};

/*
 * Whether kp runs code from a file that can no longer be named: WHY_BIN,
 * with its first argument in text, or WHY_SO, with its executable's path
 * in text (size bytes, NUL-terminated); else WHY_NONE.  Kernel processes,
 * and those that -j or -u leave out, are not examined; those whose
 * queries fail are counted (unexamined.h).  With gone (else NULL), a
 * verdict also lists there the files that are gone, and the map is read
 * to its end for them; without, its reading stops at the first.  A
 * process that has started another program since it was listed is
 * judged as that program, whose name then replaces ki_comm in kp; one
 * that keeps starting programs while it is examined gets WHY_NONE, and
 * is counted as not examined, as one starting a program.
 */
int check_process(struct procstat *ps, struct kinfo_proc *kp, char *text,
    size_t size, struct gone_files *gone);

#endif
