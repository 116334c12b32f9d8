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

/*
 * Reports kp if it runs code from a file that can no longer be named.
 * Kernel processes, and those that -j or -u leave out, are not examined.
 */
void check_process(struct procstat *ps, struct kinfo_proc *kp);

#endif
