#ifndef STALEWATCH_CHECK_H
#define STALEWATCH_CHECK_H

#include "procinfo.h"

/* Reports kp if it runs code from a file that can no longer be named. */
void check_process(struct procstat *ps, struct kinfo_proc *kp);

#endif
