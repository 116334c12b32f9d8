/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The processes that could not be examined, counted by cause, and the
 * warnings that name the causes after the report.
 */
#ifndef STALEWATCH_UNEXAMINED_H
#define STALEWATCH_UNEXAMINED_H

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
 * Says, after the report, how many processes t counts that were left out
 * of it (what: "not examined"), and why, naming the first few, if any.
 */
void warn_tally(const struct pid_tally *t, const char *what, const char *why);

/* Which query failed. */
#define QUERY_PATH	0	/* the executable's path */
#define QUERY_MAP	1	/* the memory map */

/*
 * Counts kp's process as not examined when its query failed with err
 * for a cause worth naming: a refusal (EACCES, EPERM), a program being
 * started (EBUSY), a memory map that could not be read whole (ENOMEM).
 * Other failures (a process that has gone) are not counted.
 */
void unexamined_note(struct procstat *ps, const struct kinfo_proc *kp,
    int query, int err);

/*
 * Warns, after the report, how many processes were not examined for
 * each cause, and which processes the system hides from the caller.
 */
void unexamined_warn(struct procstat *ps);

#endif
