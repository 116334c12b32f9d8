/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The report by service (-s): the stale processes grouped by the service
 * they belong to, one row per service.
 */
#ifndef STALEWATCH_SERVICE_H
#define STALEWATCH_SERVICE_H

#include "procinfo.h"

/* The most services, and stale processes, that one report holds. */
#define SERVICE_TABLE_MAX	1024
#define SERVICE_PIDS_MAX	65536

/*
 * Starts a report by service over the process list procs (count
 * entries), which must stay valid until the last service_note().
 */
void service_begin(const struct kinfo_proc *procs, unsigned int count);

/*
 * Adds the stale process of kp, reported for why (WHY_*), to the row of
 * its service, found now through ps, which examined it: its unit,
 * session, container or machine, else its pidfile, else none.  When the
 * table is full the process is left out and counted.
 */
void service_note(struct procstat *ps, const struct kinfo_proc *kp,
    int why);

/* Writes the rows, sorted by name, into the open list of the document. */
void service_report(void);

/* Warns, after the document, of processes that the table could not hold. */
void service_warn(void);

#endif
