/*
 * The walk over the process list and the selection by operands.
 */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "check.h"
#include "compat.h"
#include "procinfo.h"
#include "settings.h"
#include "walk.h"
#include "xo_c.h"

static char **operands;
static int noperands;

void
usage(void)
{
	xo_error("usage: %s [--libxo] [-bHw] [-j jail] [-u [user]] "
	    "[proc ...]\n", getprogname());
	xo_finish();
	exit(1);
}

/*
 * A number selects a process id, a negative number a process group; any
 * other operand is compared with the command name.  0 is a usage error.
 */
static bool
matches_operands(const struct kinfo_proc *kp)
{
	int32_t v;
	int i;

	for (i = 0; i < noperands; i++) {
		if (parse_number(operands[i], &v)) {
			if (v == 0)
				usage();
			if (v > 0 ? kp->ki_pid == v :
			    (int64_t)kp->ki_pgid == -(int64_t)v)
				return (true);
		} else if (strcmp(operands[i], kp->ki_comm) == 0)
			return (true);
	}
	return (false);
}

int
walk_processes(int argc, char **argv, int first)
{
	struct procstat *ps;
	struct kinfo_proc *procs;
	unsigned int count, i;
	bool selected, written;
	int saved;

	operands = argv + first;
	noperands = argc - first;

	ps = procstat_open_sysctl();
	if (ps == NULL)
		xo_errx(1, "procstat_open()");
	procs = procstat_getprocs(ps, KERN_PROC_PROC, 0, &count);
	if (procs == NULL) {
		xo_warn("procstat_getprocs()");
		xo_finish();
		procstat_close(ps);
		return (1);
	}

	xo_set_version("2");
	xo_open_container("stalewatch");
	xo_open_list("process");
	selected = false;
	for (i = 0; i < count; i++) {
		if (noperands == 0 || matches_operands(&procs[i])) {
			check_process(ps, &procs[i]);
			selected = true;
		}
	}
	xo_close_list("process");
	xo_close_container("stalewatch");

	procstat_freeprocs(ps, procs);
	/* A report that did not reach its reader is no all-clear. */
	errno = 0;
	written = xo_finish() >= 0;
	written = fflush(stdout) == 0 && written && !ferror(stdout);
	saved = errno != 0 ? errno : EIO;
	procstat_close(ps);
	if (!written) {
		errno = saved;
		xo_warn("stdout");
		return (1);
	}
	if (check_denied > 0)
		xo_warnx("%u process%s not examined: permission denied",
		    check_denied, check_denied == 1 ? "" : "es");
	return (selected ? 0 : 1);
}
