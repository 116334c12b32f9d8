/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The walk over the process list and the selection by operands.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "check.h"
#include "mounts.h"
#include "pidfile.h"
#include "procinfo.h"
#include "report.h"
#include "service.h"
#include "settings.h"
#include "walk.h"
#include "xo_c.h"

#define STR(n)		#n
#define XSTR(n)		STR(n)

static char **operands;
static int noperands;

/*
 * A number is a process id, a negative number a process group: one that
 * no id can have is a usage error, found before anything is listed.
 */
static void
check_operands(void)
{
	intmax_t v;
	int i;

	for (i = 0; i < noperands; i++)
		if (parse_bounded(operands[i], -INT32_MAX, INT32_MAX, &v) == -1) {
			xo_warnx("%s: no process or process group has that id",
			    operands[i]);
			usage();
		}
}

/*
 * A number selects a process id, a negative number a process group; any
 * other operand is compared with the command name.  0 is a usage error,
 * found when the walk reaches it.
 */
static bool
matches_operands(const struct kinfo_proc *kp)
{
	intmax_t v;
	int i;

	for (i = 0; i < noperands; i++) {
		if (parse_bounded(operands[i], -INT32_MAX, INT32_MAX, &v) == 1) {
			if (v == 0)
				usage();
			if (v > 0 ? kp->ki_pid == v : kp->ki_pgid == -v)
				return (true);
		} else if (strcmp(operands[i], kp->ki_comm) == 0)
			return (true);
	}
	return (false);
}

/*
 * Says how many processes were left out of the report (what: "not
 * examined"), and why, naming the first few, if any were.
 */
static void
warn_count(const struct pid_tally *t, const char *what, const char *why)
{
	char ids[TALLY_PIDS_KEPT * 16 + 32];
	unsigned int kept, i;
	size_t n;

	if (t->count == 0)
		return;
	kept = t->count < TALLY_PIDS_KEPT ? t->count : TALLY_PIDS_KEPT;
	n = 0;
	for (i = 0; i < kept; i++)
		n += (size_t)snprintf(ids + n, sizeof(ids) - n, "%s%d",
		    i == 0 ? "" : i + 1 == kept && kept == t->count ? " and " :
		    ", ", (int)t->pids[i]);
	if (t->count > kept)
		snprintf(ids + n, sizeof(ids) - n, " and %u more",
		    t->count - kept);
	xo_warnx("%u process%s %s: %s (pid%s %s)", t->count,
	    t->count == 1 ? "" : "es", what, why, t->count == 1 ? "" : "s",
	    ids);
}

/* Says, after the report, which processes could not be examined. */
static void
warn_unexamined(struct procstat *ps)
{
	const char *hidden;

	warn_count(&check_denied, "not examined", "permission denied");
	if (settings.services) {
		warn_count(&service_left_out, "not reported", "the report "
		    "holds at most " XSTR(SERVICE_TABLE_MAX) " services and "
		    XSTR(SERVICE_PIDS_MAX) " processes");
		warn_count(&pidfile_roots_left_out, "not looked up in "
		    "pidfiles", "at most " XSTR(PIDFILE_ROOT_MAX) " roots are "
		    "read");
		pidfile_warn();
	}
	warn_count(&check_busy, "not examined", "starting a program");
	mounts_warn();
	hidden = proc_hidden(ps);
	if (hidden != NULL)
		xo_warnx("other users' processes not examined: %s", hidden);
}

int
walk_processes(int argc, char **argv, int first)
{
	struct procstat *ps;
	struct kinfo_proc *procs;
	char text[CHECK_TEXT_SIZE];
	unsigned int count, i;
	bool selected;
	int status, why;

	operands = argv + first;
	noperands = argc - first;
	check_operands();

	ps = procstat_open_sysctl();
	if (ps == NULL) {
		if (proc_open_error(errno) != NULL)
			xo_errx(1, "%s", proc_open_error(errno));
		xo_err(1, "procstat_open()");
	}
	procs = procstat_getprocs(ps, KERN_PROC_PROC, 0, &count);
	if (procs == NULL) {
		xo_warn("procstat_getprocs()");
		xo_finish();
		procstat_close(ps);
		return (1);
	}

	report_begin();
	selected = false;
	for (i = 0; i < count; i++) {
		if (noperands != 0 && !matches_operands(&procs[i]))
			continue;
		selected = true;
		why = check_process(ps, &procs[i], text, sizeof(text));
		if (why == WHY_NONE)
			continue;
		/* A row of its own, or one more process of its service's. */
		if (settings.services)
			service_note(ps, &procs[i], why, procs, count);
		else
			report_process(&procs[i], why, text);
	}
	if (settings.services)
		service_report();
	procstat_freeprocs(ps, procs);
	status = selected ? 0 : 1;
	if (report_end() == -1)
		status = 1;
	else
		warn_unexamined(ps);
	procstat_close(ps);
	return (status);
}
