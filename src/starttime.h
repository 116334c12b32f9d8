/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Whether a listed process is still there, where the kernel gives start
 * times as dates (FreeBSD's ki_start): it adds the boot time to the
 * moment since boot when the process started, and a step of the clock
 * moves the boot time, and with it every such date.  Counted from the
 * boot time they were made with, they do not move.
 */
#ifndef STALEWATCH_STARTTIME_H
#define STALEWATCH_STARTTIME_H

#include <sys/time.h>

/*
 * Whether a process listed with the start date listed, while the boot
 * time was boot_before and then boot_after (the same unless the clock
 * was stepped while the list was made), started at the same moment as
 * one whose start date is now, read while the boot time was now_boot.
 */
bool same_start(const struct timeval *listed,
    const struct timeval *boot_before, const struct timeval *boot_after,
    const struct timeval *now, const struct timeval *now_boot);

/* What the kernel says of a process of the listed id when asked again. */
struct sighting {
	int kill_errno;		/* why kill(pid, 0) failed; 0: it did not */
	int record_errno;	/* why its record could not be read; 0: it
				   was, and start is its start date */
	struct timeval start;
	const struct timeval *boot;	/* the boot time when the record was
					   read; NULL: not known */
};

/*
 * Whether the process listed with the start date listed, while the boot
 * time was listed_boot[0] and then listed_boot[1] (NULL: not known), is
 * the one seen now: 0, or -1 with errno ESRCH when it has gone.  Gone is
 * what kill or the record query says with ESRCH, and a start that is
 * another; a record the caller may not read (it may still signal the
 * process) says nothing.
 */
int still_listed(const struct timeval *listed,
    const struct timeval *listed_boot, const struct sighting *now);

#endif
