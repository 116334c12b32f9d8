/* SPDX-License-Identifier: BSD-2-Clause */
#ifndef STALEWATCH_CHECK_H
#define STALEWATCH_CHECK_H

#include "procinfo.h"

/* A number of processes, and the ids of the first few of them. */
#define TALLY_PIDS_KEPT	3

struct pid_tally {
	unsigned int count;
	pid_t pids[TALLY_PIDS_KEPT];
};

/* Counts the process pid in t, keeping its id if it is one of the first. */
void tally_pid(struct pid_tally *t, pid_t pid);

/*
 * The processes that could not be examined for lack of permission (their
 * executable's path or their memory map was refused).
 */
extern struct pid_tally check_denied;

/*
 * The processes whose memory map could not be read because they were
 * starting a program.
 */
extern struct pid_tally check_busy;

/* The verdict on a process. */
#define WHY_NONE	(-1)	/* nothing stale found, or not examined */
#define WHY_BIN		0	/* the executable itself is gone */
#define WHY_SO		1	/* another executable mapping is gone */

/* The size of the text that goes with a verdict. */
#define CHECK_TEXT_SIZE	1024

/*
 * Whether kp runs code from a file that can no longer be named: WHY_BIN,
 * with its first argument in text, or WHY_SO, with its executable's path
 * in text (size bytes, NUL-terminated); else WHY_NONE.  Kernel processes,
 * and those that -j or -u leave out, are not examined.
 */
int check_process(struct procstat *ps, struct kinfo_proc *kp, char *text,
    size_t size);

#endif
