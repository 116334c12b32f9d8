/* SPDX-License-Identifier: BSD-2-Clause */
#ifndef STALEWATCH_CHECK_H
#define STALEWATCH_CHECK_H

#include "procinfo.h"

/*
 * The number of processes that could not be examined for lack of
 * permission (their executable's path or their memory map was refused).
 */
extern unsigned int check_denied;

/*
 * The number of processes whose memory map could not be read because they
 * were starting a program.
 */
extern unsigned int check_busy;

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
 * and those that -j or -u leave out, are not examined.  A process that
 * has started another program since it was listed is judged as that
 * program, whose name then replaces ki_comm in kp; one that keeps
 * starting programs while it is examined gets WHY_NONE.
 */
int check_process(struct procstat *ps, struct kinfo_proc *kp, char *text,
    size_t size);

#endif
