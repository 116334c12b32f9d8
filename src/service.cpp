/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The report by service: a fixed table of services, each with the stale
 * processes that belong to it, and its rows.  A process's service is
 * looked up once, when it is found stale, through the handle that
 * examined it.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pidfile.h"
#include "report.h"
#include "service.h"
#include "service_files.h"
#include "xo_c.h"

#define STR(n)		#n
#define XSTR(n)		STR(n)

#define NAME_SIZE	256

struct service {
	char name[NAME_SIZE];	/* as the text shows it */
	size_t unit;		/* where a user's unit's own name begins */
	int kind;		/* SERVICE_* */
	int jid;
	const char *root;	/* where it runs: "/", a root's path, NULL */
	bool has_uid;		/* a user's unit, of the manager of uid */
	uid_t uid;
	unsigned int why;	/* 1 << WHY_* for each reason seen */
	unsigned int procs;
};

struct member {
	pid_t pid;
	unsigned int service;	/* its index in the table */
};

static struct service table[SERVICE_TABLE_MAX];
static unsigned int nservices;
static struct member members[SERVICE_PIDS_MAX];
static unsigned int nmembers;
struct pid_tally service_left_out;

/* The order of the rows: rank[i] is the place of table[i]. */
static unsigned int rank[SERVICE_TABLE_MAX];
/* The processes' ids in the order of the rows. */
static pid_t row_pids[SERVICE_PIDS_MAX];

static const char *const kind_names[] = {
	"none", "unit", "session", "container", "machine", "rc", "user_unit",
};

/* Two roots as the rows compare them; NULL is a root not known. */
static int
compare_roots(const char *a, const char *b)
{
	if (a == NULL || b == NULL)
		return (a == b ? 0 : a == NULL ? -1 : 1);
	return (strcmp(a, b));
}

/* The index of the service in the table, added if new; -1 when full. */
static int
table_slot(const char *name, int kind, int jid, const char *root)
{
	struct service *s;
	unsigned int i;

	for (i = 0; i < nservices; i++)
		if (table[i].kind == kind && table[i].jid == jid &&
		    strcmp(table[i].name, name) == 0 &&
		    compare_roots(table[i].root, root) == 0)
			return ((int)i);
	if (nservices == SERVICE_TABLE_MAX)
		return (-1);
	s = &table[nservices];
	memset(s, 0, sizeof(*s));
	snprintf(s->name, sizeof(s->name), "%s", name);
	s->kind = kind;
	s->jid = jid;
	s->root = root;
	return ((int)nservices++);
}

/*
 * The manager of a user's unit, named "user@UID.service/UNIT": its uid,
 * and where the unit's own name begins; false when the name is not so.
 */
static bool
user_manager(const char *name, uid_t *uid, size_t *unit)
{
	const char *p;
	uintmax_t v;

	if (strncmp(name, "user@", strlen("user@")) != 0)
		return (false);
	v = 0;
	for (p = name + strlen("user@"); *p >= '0' && *p <= '9'; p++)
		if ((v = v * 10 + (uintmax_t)(*p - '0')) > UINT32_MAX)
			return (false);
	if (p == name + strlen("user@") ||
	    strncmp(p, ".service/", strlen(".service/")) != 0 ||
	    p[strlen(".service/")] == '\0')
		return (false);
	*uid = (uid_t)v;
	*unit = (size_t)(p + strlen(".service/") - name);
	return (true);
}

void
service_note(struct procstat *ps, const struct kinfo_proc *kp, int why,
    const struct kinfo_proc *procs, unsigned int count,
    const struct gone_files *gone)
{
	char name[NAME_SIZE], session[NAME_SIZE];
	const char *root;
	size_t unit = 0;
	uid_t uid = 0;
	int kind, i;

	if (nmembers == SERVICE_PIDS_MAX) {
		tally_pid(&service_left_out, kp->ki_pid);
		return;
	}
	/* What the system's service manager runs, it restarts. */
	root = "/";
	session[0] = '\0';
	kind = proc_service(ps, kp, name, sizeof(name));
	/*
	 * A login session is where a daemon may have been started by hand,
	 * not what restarts it: its pidfile comes first.
	 */
	if (kind == SERVICE_SESSION) {
		snprintf(session, sizeof(session), "%s", name);
		kind = SERVICE_NONE;
	}
	if (kind == SERVICE_NONE)
		kind = pidfile_service(ps, kp, procs, count, name,
		    sizeof(name), &root);
	if (kind == SERVICE_NONE && session[0] != '\0') {
		kind = SERVICE_SESSION;
		snprintf(name, sizeof(name), "%s", session);
		root = "/";
	}
	if (kind == SERVICE_USER_UNIT && !user_manager(name, &uid, &unit))
		kind = SERVICE_UNIT;
	if (kind == SERVICE_NONE || name[0] == '\0') {
		kind = SERVICE_NONE;
		snprintf(name, sizeof(name), "-");
	}
	i = table_slot(name, kind, kp->ki_jid, root);
	if (i == -1) {
		tally_pid(&service_left_out, kp->ki_pid);
		return;
	}
	if (kind == SERVICE_USER_UNIT) {
		table[i].has_uid = true;
		table[i].uid = uid;
		table[i].unit = unit;
	}
	table[i].why |= 1u << why;
	table[i].procs++;
	members[nmembers].pid = kp->ki_pid;
	members[nmembers].service = (unsigned int)i;
	nmembers++;
	service_files_note((unsigned int)i, gone);
}

void
service_warn(void)
{
	warn_tally(&service_left_out, "not reported", "the report holds at "
	    "most " XSTR(SERVICE_TABLE_MAX) " services and "
	    XSTR(SERVICE_PIDS_MAX) " processes");
	service_files_warn();
}

/* Rows by name, then jail, then root, then kind. */
static int
compare_services(const void *a, const void *b)
{
	const struct service *x = &table[*(const unsigned int *)a];
	const struct service *y = &table[*(const unsigned int *)b];
	int c;

	c = strcmp(x->name, y->name);
	if (c != 0)
		return (c);
	if (x->jid != y->jid)
		return (x->jid < y->jid ? -1 : 1);
	c = compare_roots(x->root, y->root);
	if (c != 0)
		return (c);
	return (x->kind - y->kind);
}

/* Processes by the place of their row, then by id. */
static int
compare_members(const void *a, const void *b)
{
	const struct member *x = (const struct member *)a;
	const struct member *y = (const struct member *)b;

	if (rank[x->service] != rank[y->service])
		return (rank[x->service] < rank[y->service] ? -1 : 1);
	if (x->pid != y->pid)
		return (x->pid < y->pid ? -1 : 1);
	return (0);
}

/* Sorts the rows and their processes; the rows' order into order. */
static void
sort_rows(unsigned int *order)
{
	unsigned int i;

	for (i = 0; i < nservices; i++)
		order[i] = i;
	qsort(order, nservices, sizeof(order[0]), compare_services);
	for (i = 0; i < nservices; i++)
		rank[order[i]] = i;
	qsort(members, nmembers, sizeof(members[0]), compare_members);
}

void
service_report(void)
{
	static struct service_row rows[SERVICE_TABLE_MAX];
	unsigned int order[SERVICE_TABLE_MAX];
	const struct service *s;
	unsigned int i, next;
	struct service_row *r;

	sort_rows(order);
	next = 0;
	for (i = 0; i < nservices; i++) {
		r = &rows[i];
		s = &table[order[i]];
		memset(r, 0, sizeof(*r));
		r->name = s->name;
		r->unit = s->name + s->unit;
		r->kind = kind_names[s->kind];
		r->jid = s->jid;
		r->root = s->root;
		r->has_uid = s->has_uid;
		r->uid = s->uid;
		r->procs = s->procs;
		r->why = s->why;
		r->pids = &row_pids[next];
		for (; next < nmembers && members[next].service == order[i];
		    next++)
			row_pids[next] = members[next].pid;
		r->npids = (unsigned int)(&row_pids[next] - r->pids);
		r->files = service_files_of(order[i], &r->nfiles);
	}
	report_services(rows, nservices);
}
