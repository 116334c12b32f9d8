/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Processes not examined.  A refusal is named by the setting that made
 * it where one did, as FreeBSD decides whether the caller may read a
 * memory map (p_candebug): with security.bsd.unprivileged_proc_debug at
 * 0 no user but the superuser may read any, not even its own; and not
 * even the superuser may read init's (process 1) while kern.securelevel
 * is above 0.
 */
#include <errno.h>
#include <stdio.h>

#include "unexamined.h"
#include "xo_c.h"

#define CAUSE_DENIED		0	/* permission denied */
#define CAUSE_SECURELEVEL	1	/* init, at a raised securelevel */
#define CAUSE_DEBUG		2	/* unprivileged_proc_debug at 0 */
#define CAUSE_BUSY		3	/* starting a program */
#define CAUSE_NOMEM		4	/* the map grew past the room for it,
					   or memory ran out */
#define CAUSES			5

static struct pid_tally counts[CAUSES];
static struct proc_limits limits;
static bool have_limits;

static const struct proc_limits *
get_limits(struct procstat *ps)
{
	if (!have_limits) {
		proc_limits(ps, &limits);
		have_limits = true;
	}
	return (&limits);
}

/* Why the query was refused. */
static int
refusal(struct procstat *ps, const struct kinfo_proc *kp, int query,
    int err)
{
	const struct proc_limits *l;

	if (query != QUERY_MAP || err != EPERM)
		return (CAUSE_DENIED);
	l = get_limits(ps);
	if (!l->superuser && !l->debug_unprivileged)
		return (CAUSE_DEBUG);
	if (l->superuser && kp->ki_pid == 1 && l->securelevel > 0)
		return (CAUSE_SECURELEVEL);
	return (CAUSE_DENIED);
}

void
unexamined_note(struct procstat *ps, const struct kinfo_proc *kp, int query,
    int err)
{
	switch (err) {
	case EACCES:
	case EPERM:
		tally_pid(&counts[refusal(ps, kp, query, err)], kp->ki_pid);
		break;
	case EBUSY:
		tally_pid(&counts[CAUSE_BUSY], kp->ki_pid);
		break;
	case ENOMEM:
		if (query == QUERY_MAP)
			tally_pid(&counts[CAUSE_NOMEM], kp->ki_pid);
		break;
	}
}

void
tally_pid(struct pid_tally *t, pid_t pid)
{
	if (t->count < TALLY_PIDS_KEPT)
		t->pids[t->count] = pid;
	t->count++;
}

void
warn_tally(const struct pid_tally *t, const char *what, const char *why)
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

/* Says how many processes were not examined, and why, if any were. */
static void
warn_count(const struct pid_tally *t, const char *why)
{
	warn_tally(t, "not examined", why);
}

void
unexamined_warn(struct procstat *ps)
{
	const struct proc_limits *l;
	const char *hidden;
	char level[48];

	warn_count(&counts[CAUSE_DENIED], "permission denied");
	if (counts[CAUSE_SECURELEVEL].count > 0) {
		snprintf(level, sizeof(level), "kern.securelevel is %d",
		    get_limits(ps)->securelevel);
		warn_count(&counts[CAUSE_SECURELEVEL], level);
	}
	warn_count(&counts[CAUSE_DEBUG],
	    "security.bsd.unprivileged_proc_debug is 0");
	warn_count(&counts[CAUSE_BUSY], "starting a program");
	warn_count(&counts[CAUSE_NOMEM], "no room for the memory map");
	hidden = proc_hidden(ps);
	if (hidden != NULL)
		xo_warnx("other users' processes not examined: %s", hidden);
	l = get_limits(ps);
	if (!l->superuser && !l->see_jail_proc && l->jails_below)
		xo_warnx("processes in jails not examined: "
		    "security.bsd.see_jail_proc is 0");
}
