/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The walk over the process list and the selection by operands.
 */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "check.h"
#include "kernel.h"
#include "layers.h"
#include "libdirs.h"
#include "lookup.h"
#include "mounts.h"
#include "pidfile.h"
#include "procinfo.h"
#include "report.h"
#include "service.h"
#include "settings.h"
#include "unexamined.h"
#include "walk.h"
#include "xo_c.h"

#define STR(n)		#n
#define XSTR(n)		STR(n)

static char **operands;
static int noperands;

/* The rows whose list of files that are gone was cut. */
static unsigned int rows_cut;

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
 * The files that are gone of the process checked, where the rows list
 * them: in the encoded styles, whose fields are not shown as text.  NULL
 * in the text and HTML styles, where the check stops at the first.
 */
static struct gone_files *
files_wanted(void)
{
	static struct gone_files gone;
	xo_style_t style;

	style = xo_get_style(NULL);
	return (style != XO_STYLE_TEXT && style != XO_STYLE_HTML ? &gone :
	    NULL);
}

/* Says, after the report, which rows do not list all their files. */
static void
warn_cut(void)
{
	if (rows_cut > 0)
		xo_warnx("%u process%s list%s only the first %d files that "
		    "are gone", rows_cut, rows_cut == 1 ? "" : "es",
		    rows_cut == 1 ? "s" : "", GONE_FILES_MAX);
}

/*
 * Says, after the report, which processes it may leave out: those the
 * service table could not hold, those that could not be examined, and
 * those whose libraries could not all be looked for; and which rows do
 * not list all their files.
 */
static void
warn_unexamined(struct procstat *ps)
{
	warn_cut();
	if (settings.services) {
		service_warn();
		warn_tally(&pidfile_roots_left_out, "not looked up in "
		    "pidfiles", "at most " XSTR(PIDFILE_ROOT_MAX) " roots are "
		    "read");
		pidfile_warn();
	}
	unexamined_warn(ps);
	libdirs_warn();
	layers_warn();
	lookup_warn();
	mounts_warn();
}

int
walk_processes(int argc, char **argv, int first)
{
	struct procstat *ps;
	struct kinfo_proc *procs;
	struct gone_files *gone;
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
	procs = proc_list(ps, &count);
	if (procs == NULL) {
		xo_warn("procstat_getprocs()");
		xo_finish();
		procstat_close(ps);
		return (1);
	}

	if (settings.kernel)
		report_before_list = kernel_report;
	report_begin();
	gone = files_wanted();
	selected = false;
	for (i = 0; i < count; i++) {
		if (noperands != 0 && !matches_operands(&procs[i]))
			continue;
		selected = true;
		why = check_process(ps, &procs[i], text, sizeof(text), gone);
		if (why == WHY_NONE)
			continue;
		/* It may have started a program the operands do not name. */
		if (noperands != 0 && !matches_operands(&procs[i]))
			continue;
		/* A row of its own, or one more process of its service's. */
		if (settings.services)
			service_note(ps, &procs[i], why, procs, count, gone);
		else {
			report_process(&procs[i], why, text,
			    gone != NULL ? gone->file : NULL,
			    gone != NULL ? gone->n : 0);
			rows_cut += gone != NULL && gone->cut;
		}
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
