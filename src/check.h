/* SPDX-License-Identifier: BSD-2-Clause */
#ifndef STALEWATCH_CHECK_H
#define STALEWATCH_CHECK_H

#include "procinfo.h"

/*
 * Reports kp if it runs code from a file that can no longer be named.
 * Kernel processes, and those that -j or -u leave out, are not examined;
 * those whose queries fail are counted (unexamined.h).
 */
void check_process(struct procstat *ps, struct kinfo_proc *kp);

#endif
