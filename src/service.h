/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The report by service (-s): the stale processes grouped by the service
 * they belong to, one row per service.
 */
#ifndef STALEWATCH_SERVICE_H
#define STALEWATCH_SERVICE_H

#include "check.h"
#include "procinfo.h"
#include "unexamined.h"

/* The most services, and stale processes, that one report holds. */
#define SERVICE_TABLE_MAX	1024
#define SERVICE_PIDS_MAX	65536

/*
 * Adds the stale process of kp, found stale for why (WHY_*), to the row
 * of its service, found now through ps, which examined it: its unit (of
 * the system's manager or of a user's), container or machine, else the
 * pidfile of it or of one of its ancestors in procs, the process list
 * (count entries), else its login session, else none.  When the table is
 * full the process is left out and counted in service_left_out.  Its
 * files that are gone (gone; NULL: none listed) join those of the
 * service.
 */
void service_note(struct procstat *ps, const struct kinfo_proc *kp, int why,
    const struct kinfo_proc *procs, unsigned int count,
    const struct gone_files *gone);

/* Has the rows, sorted by name, written into the open list of the report. */
void service_report(void);

/* The processes that the table could not hold. */
extern struct pid_tally service_left_out;

/*
 * Warns, after the document, of processes that the table could not hold,
 * and of services whose list of files was cut.
 */
void service_warn(void);

#endif
